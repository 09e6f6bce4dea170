#include "provider/sql/parametermarkers.h"

#include <string>

namespace rz::provider {

namespace {

// Copies a quoted section starting at text[i] (the opening quote) up to and
// including its closing quote; a doubled closing quote stays inside.
size_t copyQuoted(std::u16string_view text, size_t i, char16_t close, std::u16string &out)
{
    out += text[i++];
    while (i < text.size()) {
        const char16_t c = text[i++];
        out += c;
        if (c == close) {
            if (i < text.size() && text[i] == close) {
                out += text[i++];
                continue;
            }
            break;
        }
    }
    return i;
}

} // namespace

NumberedStatement numberParameterMarkers(std::u16string_view sql)
{
    NumberedStatement result;
    std::u16string &out = result.text;
    out.reserve(sql.size() + 16);
    size_t i = 0;
    while (i < sql.size()) {
        const char16_t c = sql[i];
        const char16_t next = i + 1 < sql.size() ? sql[i + 1] : u'\0';
        if (c == u'\'') {
            i = copyQuoted(sql, i, u'\'', out);
        } else if (c == u'"') {
            i = copyQuoted(sql, i, u'"', out);
        } else if (c == u'[') {
            i = copyQuoted(sql, i, u']', out);
        } else if (c == u'-' && next == u'-') {
            const size_t end = sql.find(u'\n', i);
            const size_t stop = end == std::u16string_view::npos ? sql.size() : end;
            out.append(sql.substr(i, stop - i));
            i = stop;
        } else if (c == u'/' && next == u'*') {
            // T-SQL block comments nest.
            int depth = 0;
            do {
                if (sql[i] == u'/' && i + 1 < sql.size() && sql[i + 1] == u'*') {
                    ++depth;
                    out += u"/*";
                    i += 2;
                } else if (sql[i] == u'*' && i + 1 < sql.size() && sql[i + 1] == u'/') {
                    --depth;
                    out += u"*/";
                    i += 2;
                } else {
                    out += sql[i++];
                }
            } while (depth > 0 && i < sql.size());
        } else if (c == u'?') {
            ++result.markerCount;
            out += u"@P";
            for (char ch : std::to_string(result.markerCount))
                out += char16_t(ch);
            ++i;
        } else {
            out += c;
            ++i;
        }
    }
    return result;
}

} // namespace rz::provider
