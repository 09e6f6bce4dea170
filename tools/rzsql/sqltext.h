#pragma once
// What rzsql needs to know about the text of a T-SQL batch without parsing it:
// where string literals, comments and [bracketed] names are, so that a "?" or
// ";" inside them is not taken for a placeholder or a terminator.

#include <QtCore/QString>

namespace rzsql {

// The number of "?" placeholders outside literals, comments and brackets.
int countPlaceholders(const QString &sql);

// True when the text ends with ";" (trailing blanks aside) that is not inside
// a literal or comment, and no literal, comment or bracket is left open.
bool endsWithTerminator(const QString &sql);

} // namespace rzsql
