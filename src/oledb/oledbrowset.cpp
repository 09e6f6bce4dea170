#include "oledb/oledbrowset.h"

OLEDBRowset::~OLEDBRowset()
{
    rowsetChange.reset();
    rowset.reset();
}

HRESULT OLEDBRowset::releaseRows()
{
    if (currentRow == 0 || !rowset)
        return S_OK;
    const HROW row = currentRow;
    currentRow = 0;
    return rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
}

HRESULT OLEDBRowset::moveNext(LONG skip, bool forward)
{
    if (!rowset)
        return E_UNEXPECTED;
    accessor->freeRecordMemory(rowset.get());
    releaseRows();
    DBCOUNTITEM obtained = 0;
    HROW *handles = &currentRow;
    HRESULT hr = rowset->GetNextRows(DB_NULL_HCHAPTER, DBROWOFFSET(skip), forward ? 1 : -1,
                                     &obtained, &handles);
    if (hr != S_OK) {
        // No row is held after a move that did not fetch one cleanly.
        if (obtained > 0 && currentRow != 0)
            releaseRows();
        currentRow = 0;
        return hr;
    }
    hr = getData();
    if (FAILED(hr))
        releaseRows();
    return hr;
}

HRESULT OLEDBRowset::moveFirst()
{
    if (!rowset)
        return E_UNEXPECTED;
    accessor->freeRecordMemory(rowset.get());
    releaseRows();
    const HRESULT hr = rowset->RestartPosition(DB_NULL_HCHAPTER);
    if (FAILED(hr))
        return hr;
    return moveNext(0, true);
}

HRESULT OLEDBRowset::getData()
{
    if (!rowset)
        return E_UNEXPECTED;
    HRESULT hr = S_OK;
    for (ULONG i = 0; i < accessor->accessorCount; ++i) {
        if (!accessor->accessors[i].autoAccessor)
            continue;
        hr = rowset->GetData(currentRow, accessor->accessors[i].handle, accessor->buffer);
        if (FAILED(hr))
            return hr;
    }
    return hr;
}

void OLEDBRowset::closeRowset()
{
    if (!rowset)
        return;
    accessor->freeRecordMemory(rowset.get());
    releaseRows();
    rowset.reset();
    rowsetChange.reset();
}

void closeAccessorRowset(OLEDBAccessor &accessor, OLEDBRowset &rowset)
{
    if (!rowset.rowset)
        return;
    accessor.releaseAccessors(rowset.rowset.get());
    accessor.freeColumns();
    rowset.closeRowset();
}
