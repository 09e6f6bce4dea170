#pragma once
// The ODBC call escape, "{call proc(?, ?)}" or "{? = call proc}", which SQL
// Server's own providers accept in command text, rewritten as the EXEC
// statement the server itself understands.

#include <string>
#include <string_view>

namespace rz::provider {

// "EXEC proc ?, ?" (or "EXEC ? = proc") for a text that is one call escape,
// blanks around it allowed; any other text comes back as it is.
std::u16string translateCallEscape(std::u16string_view sql);

} // namespace rz::provider
