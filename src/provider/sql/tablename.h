#pragma once
// A table name as OpenRowset receives it ("T", "dbo.T", "[my table]"),
// quoted part by part for use in SQL text.

#include <string>
#include <string_view>

namespace rz::provider {

// Splits at dots outside brackets and double quotes; parts already quoted
// stay as they are, the others are bracketed with "]" doubled. Empty when
// the name is empty or ends inside a quote.
std::u16string quotedTableName(std::u16string_view name);

} // namespace rz::provider
