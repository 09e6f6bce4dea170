#pragma once
// The few Qt calls whose form differs between Qt 5 and Qt 6, each under one
// name that builds with both. Types are named by their QMetaType::Type id
// (QMetaType::Int, QMetaType::QString, ...): Qt 5's QVariant::Type uses the
// same numbers, and Qt 6 knows only those. A QVariant's id is userType() in
// both versions.

#include <QtCore/QByteArray>
#include <QtCore/QMetaType>
#include <QtCore/QString>
#include <QtCore/QVariant>
#include <QtCore/QtGlobal>
#include <QtSql/QSqlField>

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#define RZ_QT6 1
#endif

namespace rz {

// The type id of a field's values.
inline int typeId(const QSqlField &field)
{
#ifdef RZ_QT6
    return field.metaType().id();
#else
    return int(field.type());
#endif
}

// A field named `name` whose values have the type `typeId`.
inline QSqlField makeField(const QString &name, int typeId, const QString &tableName = QString())
{
#ifdef RZ_QT6
    return QSqlField(name, QMetaType(typeId), tableName);
#else
    return QSqlField(name, QVariant::Type(typeId), tableName);
#endif
}

// A null value of type `typeId`: isNull() is true and userType() is
// `typeId` in both versions.
inline QVariant nullValue(int typeId)
{
#ifdef RZ_QT6
    return QVariant(QMetaType(typeId));
#else
    return QVariant(QVariant::Type(typeId));
#endif
}

// A value holding `text` or `bytes` that is null exactly when they are, as
// Qt 5's QVariant made it; Qt 6 calls a QVariant holding a null string
// non-null.
inline QVariant textValue(const QString &text)
{
#ifdef RZ_QT6
    if (text.isNull())
        return nullValue(QMetaType::QString);
#endif
    return QVariant(text);
}

inline QVariant bytesValue(const QByteArray &bytes)
{
#ifdef RZ_QT6
    if (bytes.isNull())
        return nullValue(QMetaType::QByteArray);
#endif
    return QVariant(bytes);
}

// The name Qt gives the type `typeId` ("int", "QString", ...).
inline QString typeName(int typeId)
{
#ifdef RZ_QT6
    return QString::fromLatin1(QMetaType(typeId).name());
#else
    return QString::fromLatin1(QMetaType::typeName(typeId));
#endif
}

} // namespace rz
