// SQL Server literals for the values Qt's statement generators hand over.

#include "driver/rezuvedovdriver.h"
#include "qtcompat/qtcompat.h"

#include <QtCore/QDateTime>
#include <QtSql/QSqlField>

namespace {

// A national text literal: N'...' with trailing blanks optionally trimmed
// and single quotes doubled.
QString nationalLiteral(QString text, bool trimStrings)
{
    if (trimStrings) {
        int n = text.size();
        while (n > 0 && text.at(n - 1).isSpace())
            --n;
        text.truncate(n);
    }
    text.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1String("N'") + text + QLatin1Char('\'');
}

} // namespace

QString REzuVEDOVDriver::formatValue(const QSqlField &field, bool trimStrings) const
{
    const QVariant value = field.value();
    switch (rz::typeId(field)) {
    case QMetaType::QString:
        return nationalLiteral(value.toString(), trimStrings);
    case QMetaType::Int:
    case QMetaType::UInt: {
        if (value.userType() == QMetaType::Bool)
            return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
        const QString text = value.toString();
        return text.isEmpty() ? QStringLiteral("NULL") : text;
    }
    case QMetaType::QDateTime:
        // A time of day given as text is placed on the local date of the epoch.
        if (value.userType() == QMetaType::QString && value.toTime().isValid()) {
            QDateTime dateTime = QDateTime::fromSecsSinceEpoch(0);
            dateTime.setTime(QTime::fromString(value.toString(), QStringLiteral("hh:mm:ss.zzz")));
            return QLatin1Char('\'') + dateTime.toString(Qt::ISODate) + QLatin1Char('\'');
        }
        break;
    case QMetaType::QByteArray:
        // Byte arrays hold UTF-16 text in machine byte order.
        if (value.userType() == QMetaType::QByteArray) {
            const QByteArray bytes = value.toByteArray();
            const QString text = QString::fromUtf16(
                reinterpret_cast<const char16_t *>(bytes.constData()), bytes.size() / 2);
            return nationalLiteral(text, trimStrings);
        }
        break;
    default:
        break;
    }
    return QSqlDriver::formatValue(field, trimStrings);
}
