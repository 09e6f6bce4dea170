#pragma once
// Text between delimiters with the closing delimiter doubled inside: how
// T-SQL literals and bracketed names, and ODBC connection values, escape it.

#include <string>
#include <string_view>

namespace rz::provider {

inline std::u16string enclosed(std::u16string_view text, std::u16string_view open, char16_t close)
{
    std::u16string out(open);
    out.reserve(open.size() + text.size() + 2);
    for (char16_t c : text) {
        out += c;
        if (c == close)
            out += close;
    }
    out += close;
    return out;
}

} // namespace rz::provider
