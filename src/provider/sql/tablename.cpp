#include "provider/sql/tablename.h"
#include "provider/sql/quoting.h"

#include <vector>

namespace rz::provider {

std::u16string quotedTableName(std::u16string_view name)
{
    std::vector<std::u16string> parts(1);
    char16_t closing = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        if (closing) {
            parts.back() += c;
            if (c == closing) {
                if (i + 1 < name.size() && name[i + 1] == closing) {
                    parts.back() += name[++i];
                    continue;
                }
                closing = 0;
            }
        } else if (c == u'.') {
            parts.emplace_back();
        } else {
            if (c == u'[' && parts.back().empty()) closing = u']';
            else if (c == u'"' && parts.back().empty()) closing = u'"';
            parts.back() += c;
        }
    }
    if (closing || name.empty())
        return {};
    std::u16string out;
    for (size_t p = 0; p < parts.size(); ++p) {
        const std::u16string &part = parts[p];
        if (p)
            out += u'.';
        if (part.empty())
            continue; // "db..T": the default schema
        if (part.front() == u'[' || part.front() == u'"') {
            out += part;
            continue;
        }
        out += enclosed(part, u"[", u']');
    }
    return out;
}

} // namespace rz::provider
