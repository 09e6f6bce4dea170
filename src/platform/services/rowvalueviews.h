#pragma once
// How the client cursor reads a forward-only rowset of this system's own
// provider without a row buffer in between: each value of a held row seen
// where the rowset keeps it, in the type a binding asks for. A rowset that
// offers it gives, value for value, what GetData would write with the same
// bindings; any other rowset is read through GetData.

#include "platform/sdk/interfaceids.h"

namespace rz {

struct RowValueView {
    DBSTATUS status = DBSTATUS_S_OK; // S_OK or S_ISNULL
    const void *data = nullptr;      // the value's bytes (text without its terminator)
    DBLENGTH length = 0;
    alignas(8) BYTE room[24];        // where a converted fixed-size value is put
};

struct IRowValueViews : public IUnknown {
    // The values of held row `row` for each binding of row accessor
    // `accessor` (only iOrdinal, wType, cbMaxLen, bPrecision and bScale
    // count), valid until the row is released or the next call. S_FALSE
    // when one of them can only be had through GetData (a conversion that
    // allocates, a failed conversion, text longer than cbMaxLen leaves room
    // for); then none is valid.
    virtual HRESULT GetValueViews(HROW row, HACCESSOR accessor, RowValueView views[]) = 0;
};

// {d148fa74-0566-47f9-8748-1734334112e9}
inline const IID IID_IRowValueViews = {0xd148fa74, 0x0566, 0x47f9, {0x87, 0x48, 0x17, 0x34, 0x33, 0x41, 0x12, 0xe9}};

RZ_INTERFACE_IDS(IRowValueViews, &IID_IRowValueViews)

} // namespace rz
