#pragma once
// Positional "?" markers in T-SQL text, found the way the server's parser
// sees them: not inside string literals, quoted or bracketed names, or comments.

#include <string>
#include <string_view>

namespace rz::provider {

struct NumberedStatement {
    std::u16string text; // every marker replaced by @P1, @P2, ...
    int markerCount = 0;
};

NumberedStatement numberParameterMarkers(std::u16string_view sql);

} // namespace rz::provider
