// SQL Server literals for the values Qt's statement generators hand over.

#include "driver/rezuvedovdriver.h"

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
    switch (field.type()) {
    case QVariant::String:
        return nationalLiteral(value.toString(), trimStrings);
    case QVariant::Int:
    case QVariant::UInt: {
        if (value.type() == QVariant::Bool)
            return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
        const QString text = value.toString();
        return text.isEmpty() ? QStringLiteral("NULL") : text;
    }
    case QVariant::DateTime:
        // A time of day given as text is placed on the local date of the epoch.
        if (value.type() == QVariant::String && value.toTime().isValid()) {
            QDateTime dateTime = QDateTime::fromTime_t(0);
            dateTime.setTime(QTime::fromString(value.toString(), QStringLiteral("hh:mm:ss.zzz")));
            return QLatin1Char('\'') + dateTime.toString(Qt::ISODate) + QLatin1Char('\'');
        }
        break;
    case QVariant::ByteArray:
        // Byte arrays hold UTF-16 text in machine byte order.
        if (value.type() == QVariant::ByteArray) {
            const QByteArray bytes = value.toByteArray();
            const QString text = QString::fromUtf16(
                reinterpret_cast<const ushort *>(bytes.constData()), bytes.size() / 2);
            return nationalLiteral(text, trimStrings);
        }
        break;
    default:
        break;
    }
    return QSqlDriver::formatValue(field, trimStrings);
}
