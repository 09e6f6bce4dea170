#include "tds/rowlayout.h"

#include <algorithm>

namespace rz::tds {

RowLayout RowLayout::packed(const std::vector<ColumnInfo> &columns, size_t maxVariableBytes)
{
    RowLayout layout;
    size_t at = 0;
    auto align = [](size_t n) { return (n + 7) & ~size_t(7); };
    for (const ColumnInfo &column : columns) {
        ColumnBinding b;
        b.statusOffset = at;
        b.lengthOffset = at + 8;
        at += 16;
        if (column.type.isLong()) {
            b.valueCapacity = 0;
        } else if (column.type.isVariableLength()) {
            b.valueOffset = at;
            b.valueCapacity = std::min<size_t>(column.type.maxLength, maxVariableBytes);
        } else {
            b.valueOffset = at;
            b.valueCapacity = column.type.valueSize();
        }
        at = align(at + b.valueCapacity);
        layout.columns.push_back(b);
    }
    layout.rowSize = at;
    return layout;
}

} // namespace rz::tds
