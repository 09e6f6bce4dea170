#pragma once
// Where the next part of a row or parameter buffer may start.

#include "platform/sdk/oledb.h"

namespace rz {

// `value` rounded up to the next multiple of `multiple`.
inline DBBYTEOFFSET roundUp(DBBYTEOFFSET value, DBBYTEOFFSET multiple)
{
    return (value + multiple - 1) / multiple * multiple;
}

} // namespace rz
