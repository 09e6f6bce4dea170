#include "bindvalues.h"

#include "qtcompat/qtcompat.h"

#include <QtCore/QDateTime>

namespace rzsql {

bool parseBindValue(const QString &text, QVariant &value, QString &problem)
{
    if (text.compare(QLatin1String("null"), Qt::CaseInsensitive) == 0) {
        value = rz::nullValue(QMetaType::QString); // a typed null binds to any column
        return true;
    }
    const int colon = text.indexOf(QLatin1Char(':'));
    const QString type = colon > 0 ? text.left(colon).toLower() : QString();
    const QString rest = text.mid(colon + 1);
    bool ok = true;
    if (type == QLatin1String("int")) {
        value = rest.trimmed().toLongLong(&ok);
    } else if (type == QLatin1String("float")) {
        value = rest.trimmed().toDouble(&ok);
    } else if (type == QLatin1String("str")) {
        value = rest;
    } else if (type == QLatin1String("bool")) {
        const QString b = rest.trimmed().toLower();
        ok = b == QLatin1String("1") || b == QLatin1String("0") || b == QLatin1String("true")
             || b == QLatin1String("false");
        value = b == QLatin1String("1") || b == QLatin1String("true");
    } else if (type == QLatin1String("date")) {
        const QDate d = QDate::fromString(rest.trimmed(), Qt::ISODate);
        ok = d.isValid();
        value = d;
    } else if (type == QLatin1String("time")) {
        const QTime t = QTime::fromString(rest.trimmed(), Qt::ISODateWithMs);
        ok = t.isValid();
        value = t;
    } else if (type == QLatin1String("datetime")) {
        const QDateTime dt = QDateTime::fromString(rest.trimmed(), Qt::ISODateWithMs);
        ok = dt.isValid();
        value = dt;
    } else if (type == QLatin1String("hex")) {
        QString hex = rest.trimmed();
        if (hex.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            hex = hex.mid(2);
        static const QString digits = QStringLiteral("0123456789abcdefABCDEF");
        ok = hex.size() % 2 == 0;
        for (const QChar c : hex)
            ok = ok && digits.contains(c);
        value = QByteArray::fromHex(hex.toLatin1());
    } else {
        value = text; // no known type: the text itself, colon and all
    }
    if (!ok)
        problem = QStringLiteral("cannot read \"%1\" as a %2 value").arg(rest, type);
    return ok;
}

bool splitWords(const QString &line, QStringList &words)
{
    words.clear();
    QString word;
    bool inWord = false;
    QChar quote;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (!quote.isNull()) {
            if (c == quote) {
                if (i + 1 < line.size() && line.at(i + 1) == quote) {
                    word += c;
                    ++i;
                } else {
                    quote = QChar();
                }
            } else {
                word += c;
            }
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
            inWord = true;
        } else if (c.isSpace()) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (!quote.isNull())
        return false;
    if (inWord)
        words << word;
    return true;
}

} // namespace rzsql
