#pragma once
// The client cursor: a static, scrollable rowset held in memory. It reads
// every row of a provider's forward-only rowset (long values through their
// storage objects) and lets go of it, so the connection is free for the
// next statement; afterwards GetNextRows takes any offset and direction,
// RestartPosition costs nothing and IRowsetScroll::GetApproximatePosition
// gives the exact row count.
//
// Rows are stored compactly: one record per row in large shared blocks,
// fixed-size values inline, variable and long values as length + bytes.

#include "platform/sdk/oledb.h"

namespace rz {

// Reads all of `forwardOnly` and hands back the cursor's interface `riid`
// (IRowset, IRowsetLocate, IRowsetScroll, IRowsetInfo, IAccessor,
// IColumnsInfo, IRowsetChange or IUnknown) in *out. The cursor keeps no
// reference to `forwardOnly`; the caller still owns its own. On failure *out
// is null and the answer is the failing call's HRESULT (its error object, if
// any, stays on the thread).
HRESULT createClientCursor(IRowset *forwardOnly, REFIID riid, IUnknown **out);

} // namespace rz
