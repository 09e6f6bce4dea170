#include "oledb/oledbaccessor.h"

#include "oledb/oledberror.h"
#include "platform/com/comptr.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>
#include <utility>

BindingArray::BindingArray(DBORDINAL count)
    : bindings(count ? new (std::nothrow) DBBINDING[count]() : nullptr), count(count)
{
}

BindingArray::BindingArray(BindingArray &&other) noexcept
    : bindings(std::move(other.bindings)), count(std::exchange(other.count, 0))
{
}

BindingArray &BindingArray::operator=(BindingArray &&other) noexcept
{
    if (this != &other) {
        reset();
        bindings = std::move(other.bindings);
        count = std::exchange(other.count, 0);
    }
    return *this;
}

void BindingArray::reset() noexcept
{
    std::unique_ptr<DBBINDING[]> old = std::move(bindings);
    const DBORDINAL oldCount = std::exchange(count, 0);
    if (!old)
        return;
    for (DBORDINAL i = 0; i < oldCount; ++i)
        delete std::exchange(old[i].pObject, nullptr);
}

size_t typeAlignment(DBTYPE type)
{
    if (type & (DBTYPE_BYREF | DBTYPE_ARRAY | DBTYPE_VECTOR))
        return 8;
    switch (type) {
    case DBTYPE_I1: case DBTYPE_UI1: case DBTYPE_I8: case DBTYPE_UI8:
    case DBTYPE_BYTES: case DBTYPE_STR: case DBTYPE_NUMERIC:
        return 1;
    case DBTYPE_I2: case DBTYPE_BOOL: case DBTYPE_UI2: case DBTYPE_WSTR:
    case DBTYPE_DBDATE: case DBTYPE_DBTIME:
        return 2;
    case DBTYPE_I4: case DBTYPE_R4: case DBTYPE_ERROR: case DBTYPE_UI4:
    case DBTYPE_GUID: case DBTYPE_DBTIMESTAMP:
        return 4;
    default:
        return 8;
    }
}

OLEDBColumnParts columnPartsAt(DBBYTEOFFSET value, DBLENGTH size)
{
    OLEDBColumnParts parts;
    parts.value = value;
    parts.length = roundUp(value + size, 8);
    parts.status = roundUp(parts.length + sizeof(DBLENGTH), 4);
    parts.end = parts.status + sizeof(DBSTATUS);
    return parts;
}

OLEDBColumnParts columnParts(DBBYTEOFFSET runningOffset, DBTYPE type, DBLENGTH size)
{
    return columnPartsAt(roundUp(runningOffset, typeAlignment(type)), size);
}

void bindEntry(DBBINDING *binding, DBORDINAL ordinal, DBTYPE type, DBLENGTH maxLength,
               BYTE precision, BYTE scale, DBPARAMIO paramIO, DBBYTEOFFSET valueOffset,
               DBBYTEOFFSET lengthOffset, DBBYTEOFFSET statusOffset, DBOBJECT *object)
{
    if (!binding)
        throwHResult(E_FAIL);
    binding->iOrdinal = ordinal;
    binding->obValue = valueOffset;
    binding->obLength = lengthOffset;
    binding->obStatus = statusOffset;
    binding->pTypeInfo = nullptr;
    binding->pBindExt = nullptr;
    binding->pObject = object;
    binding->dwPart = DBPART_VALUE;
    if (lengthOffset != 0)
        binding->dwPart |= DBPART_LENGTH;
    if (statusOffset != 0)
        binding->dwPart |= DBPART_STATUS;
    binding->dwMemOwner = (type & DBTYPE_BYREF) ? DBMEMOWNER_PROVIDEROWNED : DBMEMOWNER_CLIENTOWNED;
    binding->eParamIO = paramIO;
    binding->cbMaxLen = maxLength;
    binding->dwFlags = 0;
    binding->wType = type;
    binding->bPrecision = precision;
    binding->bScale = scale;
}

HRESULT createAccessor(DBBINDING *bindings, DBCOUNTITEM count, HACCESSOR *handle,
                       DBLENGTH rowSize, IAccessor *accessor)
{
    if (!bindings || !handle || !accessor)
        return E_FAIL;
    const DBACCESSORFLAGS flags =
        bindings[0].eParamIO != DBPARAMIO_NOTPARAM ? DBACCESSOR_PARAMETERDATA : DBACCESSOR_ROWDATA;
    const HRESULT hr = accessor->CreateAccessor(flags, count, bindings, rowSize, handle, nullptr);
    for (DBCOUNTITEM i = 0; i < count; ++i) {
        delete bindings[i].pObject;
        bindings[i].pObject = nullptr;
    }
    return hr;
}

HRESULT queryRowsetProperties(IUnknown *rowset, const DBPROPID *ids, LONG *results, ULONG count)
{
    if (!rowset || !results)
        return E_FAIL;
    rz::ComPtr<IRowsetInfo> info;
    HRESULT hr = rowset->QueryInterface(IID_IRowsetInfo, info.putVoid());
    for (ULONG i = 0; i < count; ++i)
        results[i] = 0;
    if (FAILED(hr))
        return hr;

    DBPROPIDSET idSet;
    idSet.rgPropertyIDs = const_cast<DBPROPID *>(ids);
    idSet.cPropertyIDs = count;
    idSet.guidPropertySet = DBPROPSET_ROWSET;
    ULONG setCount = 0;
    rz::TaskMem<DBPROPSET> sets;
    hr = info->GetProperties(1, &idSet, &setCount, sets.put());
    if (SUCCEEDED(hr) && sets && setCount > 0 && sets[0].rgProperties) {
        const ULONG n = std::min(count, sets[0].cProperties);
        for (ULONG i = 0; i < n; ++i)
            results[i] = sets[0].rgProperties[i].vValue.boolVal;
    }
    for (ULONG s = 0; sets && s < setCount; ++s) {
        rz::TaskMem<DBPROP> properties(std::exchange(sets[s].rgProperties, nullptr));
        for (ULONG p = 0; properties && p < sets[s].cProperties; ++p)
            VariantClear(&properties[p].vValue);
    }
    return hr;
}

OLEDBAccessor::~OLEDBAccessor()
{
    freeColumns();
    accessors.reset();
}

void OLEDBAccessor::freeColumns()
{
    columnInfo.reset();
    columnNames.reset();
    buffer.reset();
    bufferSize = 0;
    columnCount = 0;
}

HRESULT OLEDBAccessor::allocateAccessors(ULONG count)
{
    OLEDBAccessorEntry *table = new (std::nothrow) OLEDBAccessorEntry[count ? count : 1];
    if (!table)
        return E_OUTOFMEMORY;
    accessors.reset(table);
    accessorCount = count;
    return S_OK;
}

HRESULT OLEDBAccessor::bindColumns(IUnknown *rowset)
{
    beginColumnTypes();
    if (!rowset)
        return E_FAIL;

    rz::ComPtr<IAccessor> accessor;
    HRESULT hr = rowset->QueryInterface(IID_IAccessor, accessor.putVoid());
    if (FAILED(hr))
        return hr;

    if (!columnInfo) {
        rz::ComPtr<IColumnsInfo> info;
        hr = rowset->QueryInterface(IID_IColumnsInfo, info.putVoid());
        if (FAILED(hr))
            return hr;
        hr = info->GetColumnInfo(&columnCount, columnInfo.put(), columnNames.put());
        if (FAILED(hr)) {
            columnCount = 0;
            return hr;
        }
        lookupByOrdinal = false;
    } else {
        lookupByOrdinal = true;
    }

    if (columnCount > std::numeric_limits<size_t>::max() / sizeof(DBBINDING))
        return E_OUTOFMEMORY;
    BindingArray bindings(columnCount);
    if (bindings.failed())
        return E_OUTOFMEMORY;

    bool streamChosen = false;
    IID streamInterface = IID_ISequentialStream;
    DBBYTEOFFSET running = 0;
    for (DBORDINAL i = 0; i < columnCount; ++i) {
        OLEDBColumnBinding &column = columnInfo[i];
        noteColumnType(column.wType);

        DBTYPE type = column.wType;
        DBLENGTH size = column.ulColumnSize;
        DBOBJECT *object = nullptr;
        if (column.wType == DBTYPE_IUNKNOWN || column.ulColumnSize > maxBlobSize) {
            IID iid = IID_IUnknown;
            if (column.wType != DBTYPE_IUNKNOWN) {
                if (!streamChosen) {
                    const DBPROPID ids[2] = {DBPROP_ISequentialStream, DBPROP_IStream};
                    LONG supported[2] = {0, 0};
                    queryRowsetProperties(rowset, ids, supported, 2);
                    streamInterface = supported[0] ? IID_ISequentialStream
                                      : supported[1] ? IID_IStream : IID_ISequentialStream;
                    streamChosen = true;
                }
                iid = streamInterface;
            }
            object = new (std::nothrow) DBOBJECT{STGM_READ, iid};
            if (!object)
                return E_OUTOFMEMORY;
            type = DBTYPE_IUNKNOWN;
            size = sizeof(IUnknown *);
        } else if (type == DBTYPE_STR) {
            size = size + 1;
        } else if (type == DBTYPE_WSTR) {
            size = size * 2 + 2;
        }
        column.wType = type;
        column.ulColumnSize = size;

        const OLEDBColumnParts parts = columnParts(running, type, size);
        bindEntry(&bindings[i], column.iOrdinal, type, size, column.bPrecision,
                  column.bScale, DBPARAMIO_NOTPARAM, parts.value, parts.length, parts.status, object);
        column.pTypeInfo = reinterpret_cast<ITypeInfo *>(static_cast<uintptr_t>(parts.value));
        running = parts.end;
    }

    const bool newTable = !accessors;
    if (newTable) {
        hr = allocateAccessors(1);
        if (FAILED(hr))
            return hr;
        accessors[0].handle = 0;
        accessors[0].autoAccessor = true;
    }

    buffer.reset(new (std::nothrow) BYTE[running ? running : 1]());
    if (!buffer) {
        bufferSize = 0;
        if (newTable) {
            // It holds no handle yet: nothing may ever release one from it.
            accessors.reset();
            accessorCount = 0;
        }
        return E_OUTOFMEMORY;
    }
    bufferSize = running;

    if (columnCount == 0) {
        // Nothing to describe: the provider's own answer for an empty accessor.
        DBBINDING none = {};
        return accessor->CreateAccessor(DBACCESSOR_ROWDATA, 0, &none, running, &accessors[0].handle, nullptr);
    }
    return createAccessor(bindings.get(), columnCount, &accessors[0].handle, running, accessor.get());
}

OLEDBColumnBinding *OLEDBAccessor::findColumn(DBORDINAL ordinal, DBORDINAL *index) const
{
    if (!columnInfo || columnCount == 0)
        return nullptr;
    if (lookupByOrdinal) {
        for (DBORDINAL i = 0; i < columnCount; ++i) {
            if (columnInfo[i].iOrdinal == ordinal) {
                if (index)
                    *index = i;
                return &columnInfo[i];
            }
        }
        return nullptr;
    }
    const DBORDINAL first = columnInfo[0].iOrdinal;
    if (ordinal < first || ordinal - first >= columnCount)
        return nullptr;
    if (index)
        *index = ordinal - first;
    return &columnInfo[ordinal - first];
}

const OLEDBColumnBinding *OLEDBAccessor::findColumnNamed(const OLECHAR *name) const
{
    if (!name)
        return nullptr;
    const std::basic_string_view<OLECHAR> wanted(name);
    for (DBORDINAL i = 0; i < columnCount; ++i) {
        const OLEDBColumnBinding &column = columnInfo[i];
        if (column.pwszName && std::basic_string_view<OLECHAR>(column.pwszName) == wanted)
            return &column;
    }
    return nullptr;
}

const BYTE *OLEDBAccessor::valueOf(const OLEDBColumnBinding &column) const
{
    return buffer ? buffer.get() + columnValueOffset(column) : nullptr;
}

void *OLEDBAccessor::columnValue(DBORDINAL ordinal) const
{
    const OLEDBColumnBinding *column = findColumn(ordinal);
    if (!column || !buffer)
        return nullptr;
    return buffer.get() + columnValueOffset(*column);
}

DBLENGTH *OLEDBAccessor::columnLength(DBORDINAL ordinal) const
{
    const OLEDBColumnBinding *column = findColumn(ordinal);
    if (!column || !buffer)
        return nullptr;
    return reinterpret_cast<DBLENGTH *>(
        buffer.get() + columnPartsAt(columnValueOffset(*column), column->ulColumnSize).length);
}

DBSTATUS *OLEDBAccessor::columnStatus(DBORDINAL ordinal) const
{
    const OLEDBColumnBinding *column = findColumn(ordinal);
    if (!column || !buffer)
        return nullptr;
    return reinterpret_cast<DBSTATUS *>(
        buffer.get() + columnPartsAt(columnValueOffset(*column), column->ulColumnSize).status);
}

void OLEDBAccessor::freeRecordMemory(IUnknown *rowset)
{
    if (!buffer || !columnInfo)
        return;
    for (DBORDINAL i = 0; i < columnCount; ++i) {
        const OLEDBColumnBinding &column = columnInfo[i];
        BYTE *value = buffer.get() + columnValueOffset(column);
        const DBTYPE type = column.wType;
        if (type == DBTYPE_IDISPATCH || type == DBTYPE_IUNKNOWN) {
            const OLEDBColumnParts parts = columnPartsAt(columnValueOffset(column), column.ulColumnSize);
            DBSTATUS status;
            std::memcpy(&status, buffer.get() + parts.status, sizeof status);
            IUnknown *object;
            std::memcpy(&object, value, sizeof object);
            if (status == DBSTATUS_S_OK && object) {
                IUnknown *none = nullptr;
                std::memcpy(value, &none, sizeof none);
                object->Release();
            }
        } else if (type & DBTYPE_ARRAY) {
            SAFEARRAY *array;
            std::memcpy(&array, value, sizeof array);
            if (array) {
                SAFEARRAY *none = nullptr;
                std::memcpy(value, &none, sizeof none);
                SafeArrayDestroy(array);
            }
        } else if (type == DBTYPE_BSTR) {
            BSTR text;
            std::memcpy(&text, value, sizeof text);
            BSTR none = nullptr;
            std::memcpy(value, &none, sizeof none);
            SysFreeString(text);
        } else if (type == DBTYPE_VARIANT) {
            VariantClear(reinterpret_cast<VARIANT *>(value));
        } else if (type == DBTYPE_HCHAPTER) {
            if (rowset) {
                rz::ComPtr<IChapteredRowset> chaptered;
                if (SUCCEEDED(rowset->QueryInterface(IID_IChapteredRowset, chaptered.putVoid()))) {
                    HCHAPTER chapter;
                    std::memcpy(&chapter, value, sizeof chapter);
                    chaptered->ReleaseChapter(chapter, nullptr);
                }
            }
        } else if (type & DBTYPE_VECTOR) {
            DBVECTOR vector;
            std::memcpy(&vector, value, sizeof vector);
            CoTaskMemFree(vector.ptr);
        }
    }
}

HRESULT OLEDBAccessor::releaseAccessors(IUnknown *rowset)
{
    freeRecordMemory(rowset);
    if (!rowset)
        return E_FAIL;
    if (accessorCount == 0)
        return S_OK;
    rz::ComPtr<IAccessor> accessor;
    const HRESULT hr = rowset->QueryInterface(IID_IAccessor, accessor.putVoid());
    if (SUCCEEDED(hr)) {
        if (!accessors)
            return E_FAIL;
        for (ULONG i = 0; i < accessorCount; ++i)
            accessor->ReleaseAccessor(accessors[i].handle, nullptr);
    }
    accessorCount = 0;
    accessors.reset();
    return hr;
}
