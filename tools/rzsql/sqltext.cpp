#include "sqltext.h"

namespace rzsql {

namespace {

// Calls visit(index) for every character that is plain SQL (outside string
// literals, quoted or bracketed names and comments). Returns false when the
// text ends inside one of those.
template <typename Visit>
bool scanPlainText(const QString &sql, Visit visit)
{
    const int n = sql.size();
    int i = 0;
    while (i < n) {
        const QChar c = sql.at(i);
        const QChar next = i + 1 < n ? sql.at(i + 1) : QChar();
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('[')) {
            // A doubled closing character stands for itself inside the quotes.
            const QChar close = c == QLatin1Char('[') ? QLatin1Char(']') : c;
            ++i;
            for (;;) {
                if (i >= n)
                    return false;
                if (sql.at(i) == close) {
                    if (i + 1 < n && sql.at(i + 1) == close) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
        } else if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
            const int end = sql.indexOf(QLatin1Char('\n'), i);
            if (end < 0)
                return true; // a line comment ends with the text
            i = end + 1;
        } else if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            // T-SQL block comments nest.
            int depth = 1;
            i += 2;
            while (depth > 0) {
                if (i >= n)
                    return false;
                if (sql.at(i) == QLatin1Char('/') && i + 1 < n && sql.at(i + 1) == QLatin1Char('*')) {
                    ++depth;
                    i += 2;
                } else if (sql.at(i) == QLatin1Char('*') && i + 1 < n && sql.at(i + 1) == QLatin1Char('/')) {
                    --depth;
                    i += 2;
                } else {
                    ++i;
                }
            }
        } else {
            visit(i);
            ++i;
        }
    }
    return true;
}

} // namespace

int countPlaceholders(const QString &sql)
{
    int count = 0;
    scanPlainText(sql, [&](int i) {
        if (sql.at(i) == QLatin1Char('?'))
            ++count;
    });
    return count;
}

bool endsWithTerminator(const QString &sql)
{
    int lastPlain = -1;
    const bool closed = scanPlainText(sql, [&](int i) {
        if (!sql.at(i).isSpace())
            lastPlain = i;
    });
    if (!closed || lastPlain < 0 || sql.at(lastPlain) != QLatin1Char(';'))
        return false;
    // Anything but blanks after it (a trailing comment) means the line goes on.
    for (int i = lastPlain + 1; i < sql.size(); ++i)
        if (!sql.at(i).isSpace())
            return false;
    return true;
}

} // namespace rzsql
