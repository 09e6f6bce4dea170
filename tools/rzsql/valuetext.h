#pragma once
// How a column value reads in rzsql's output: dates in ISO form with
// milliseconds, bytes as 0x..., bit as 1/0, floating point in its shortest
// exact form.

#include <QtCore/QVariant>

namespace rzsql {

// The text of a non-null value.
QString valueText(const QVariant &value);
// True for the types rzsql right-aligns in tables.
bool isNumericType(int typeId);

} // namespace rzsql
