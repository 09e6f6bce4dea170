#include "oledb/oledbrowset.h"

#include <utility>

OLEDBRowset::~OLEDBRowset()
{
    rowsetChange.reset();
    rowset.reset();
}

void OLEDBRowset::attachRowset(rz::ComPtr<IRowset> opened)
{
    rowset = std::move(opened);
    if (rowset)
        rowset.query(IID_IRowsetChange, rowsetChange);
}

HRESULT OLEDBRowset::releaseRows()
{
    if (currentRow == 0 || !rowset)
        return S_OK;
    const HROW row = std::exchange(currentRow, 0);
    return rowset->ReleaseRows(1, &row, nullptr, nullptr, nullptr);
}

HRESULT OLEDBRowset::fetchRow(LONG skip, bool forward)
{
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

HRESULT OLEDBRowset::moveNext(LONG skip, bool forward)
{
    if (!rowset)
        return E_UNEXPECTED;
    accessor->freeRecordMemory(rowset.get());
    releaseRows();
    return fetchRow(skip, forward);
}

HRESULT OLEDBRowset::moveFirst() { return restartAndFetch(0); }

HRESULT OLEDBRowset::moveLast() { return restartAndFetch(-1); }

HRESULT OLEDBRowset::restartAndFetch(LONG skip)
{
    if (!rowset)
        return E_UNEXPECTED;
    accessor->freeRecordMemory(rowset.get());
    releaseRows();
    const HRESULT hr = rowset->RestartPosition(DB_NULL_HCHAPTER);
    if (FAILED(hr))
        return hr;
    return fetchRow(skip, true);
}

int OLEDBRowset::countRowsByWalking()
{
    if (!rowset)
        return -1;
    accessor->freeRecordMemory(rowset.get());
    releaseRows();
    if (FAILED(rowset->RestartPosition(DB_NULL_HCHAPTER)))
        return -1;
    int rows = 0;
    for (;;) {
        DBCOUNTITEM obtained = 0;
        HROW *handles = &currentRow;
        const HRESULT hr = rowset->GetNextRows(DB_NULL_HCHAPTER, 0, 1, &obtained, &handles);
        if (obtained > 0)
            releaseRows();
        currentRow = 0;
        if (hr != S_OK)
            break;
        ++rows;
    }
    if (FAILED(rowset->RestartPosition(DB_NULL_HCHAPTER)))
        return -1;
    // A row that could not be read is released already.
    if (FAILED(fetchRow(-1, true)) || currentRow == 0)
        return -1;
    return rows;
}

HRESULT OLEDBRowset::getData()
{
    if (!rowset)
        return E_UNEXPECTED;
    HRESULT hr = S_OK;
    for (ULONG i = 0; i < accessor->accessorCount; ++i) {
        if (!accessor->accessors[i].autoAccessor)
            continue;
        hr = rowset->GetData(currentRow, accessor->accessors[i].handle, accessor->buffer.get());
        if (FAILED(hr))
            return hr;
    }
    return hr;
}

HRESULT OLEDBRowset::rowCount(DBCOUNTITEM *rows) const
{
    rz::ComPtr<IRowsetScroll> scroll;
    HRESULT hr = rowset.query(IID_IRowsetScroll, scroll);
    if (FAILED(hr))
        return hr;
    return scroll->GetApproximatePosition(DB_NULL_HCHAPTER, 0, nullptr, nullptr, rows);
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

HRESULT openTableRowset(OLEDBAccessor &accessor, OLEDBRowset &rowset, IOpenRowset *session,
                        const OLECHAR *name)
{
    if (!session)
        return E_FAIL;
    DBID tableId = {};
    tableId.eKind = DBKIND_NAME;
    tableId.uName.pwszName = const_cast<LPOLESTR>(name);
    rz::ComPtr<IRowset> opened;
    const HRESULT hr = session->OpenRowset(nullptr, &tableId, nullptr, IID_IRowset, 0, nullptr,
                                           opened.putUnknown());
    if (FAILED(hr))
        return hr;
    if (!opened)
        return E_FAIL;
    rowset.attachRowset(std::move(opened));
    return accessor.bindColumns(rowset.rowsetInterface());
}
