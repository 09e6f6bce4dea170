#include "platform/services/accessortable.h"

#include "platform/sdk/oledb.h"

#include <cstring>

namespace rz {

HRESULT AccessorTable::create(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[], DBLENGTH rowSize,
                              HACCESSOR *handle, DBBINDSTATUS statuses[], const BindingCheck &check)
{
    if (!handle)
        return E_INVALIDARG;
    *handle = DB_NULL_HACCESSOR;
    if (count && !bindings)
        return E_INVALIDARG;
    const DBACCESSORFLAGS known = DBACCESSOR_PASSBYREF | DBACCESSOR_ROWDATA | DBACCESSOR_PARAMETERDATA
        | DBACCESSOR_OPTIMIZED;
    if ((flags & ~known) || !(flags & (DBACCESSOR_ROWDATA | DBACCESSOR_PARAMETERDATA)))
        return DB_E_BADACCESSORFLAGS;
    if (flags & DBACCESSOR_PASSBYREF)
        return DB_E_BYREFACCESSORNOTSUPPORTED;
    if (count == 0 && !(flags & DBACCESSOR_PARAMETERDATA))
        return DB_E_NULLACCESSORNOTSUPPORTED;

    bool failed = false;
    for (DBCOUNTITEM i = 0; i < count; ++i) {
        const DBBINDING &b = bindings[i];
        DBBINDSTATUS status = DBBINDSTATUS_OK;
        if (!(b.dwPart & (DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS)) || (b.dwPart & ~DWORD(7)))
            status = DBBINDSTATUS_BADBINDINFO;
        else if (rowSize && (((b.dwPart & DBPART_VALUE) && b.obValue + (b.cbMaxLen ? b.cbMaxLen : 1) > rowSize)
                             || ((b.dwPart & DBPART_LENGTH) && b.obLength + sizeof(DBLENGTH) > rowSize)
                             || ((b.dwPart & DBPART_STATUS) && b.obStatus + sizeof(DBSTATUS) > rowSize)))
            status = DBBINDSTATUS_BADBINDINFO;
        else
            status = check(b);
        if (statuses)
            statuses[i] = status;
        failed = failed || status != DBBINDSTATUS_OK;
    }
    if (failed)
        return DB_E_ERRORSOCCURRED;

    Accessor a;
    a.flags = flags;
    a.rowSize = rowSize;
    a.bindings.assign(bindings, bindings + count);
    a.objects.resize(count);
    for (DBCOUNTITEM i = 0; i < count; ++i) {
        DBBINDING &b = a.bindings[i];
        if (b.pObject) {
            a.objects[i] = *b.pObject;
            b.pObject = &a.objects[i];
        }
        b.pTypeInfo = nullptr;
        b.pBindExt = nullptr;
    }
    const HACCESSOR h = next_++;
    accessors_.emplace(h, std::move(a));
    // The vector moved with its elements: repoint the bindings at the stored objects.
    Accessor &stored = accessors_[h];
    for (size_t i = 0; i < stored.bindings.size(); ++i)
        if (stored.bindings[i].pObject)
            stored.bindings[i].pObject = &stored.objects[i];
    *handle = h;
    return S_OK;
}

HRESULT AccessorTable::addRef(HACCESSOR handle, DBREFCOUNT *refCount)
{
    auto it = accessors_.find(handle);
    if (it == accessors_.end())
        return DB_E_BADACCESSORHANDLE;
    ++it->second.refCount;
    if (refCount)
        *refCount = it->second.refCount;
    return S_OK;
}

HRESULT AccessorTable::release(HACCESSOR handle, DBREFCOUNT *refCount)
{
    auto it = accessors_.find(handle);
    if (it == accessors_.end())
        return DB_E_BADACCESSORHANDLE;
    const DBREFCOUNT left = --it->second.refCount;
    if (left == 0)
        accessors_.erase(it);
    if (refCount)
        *refCount = left;
    return S_OK;
}

HRESULT AccessorTable::getBindings(HACCESSOR handle, DBACCESSORFLAGS *flags, DBCOUNTITEM *count,
                                   DBBINDING **bindings) const
{
    if (!flags || !count || !bindings)
        return E_INVALIDARG;
    *flags = DBACCESSOR_INVALID;
    *count = 0;
    *bindings = nullptr;
    const Accessor *a = find(handle);
    if (!a)
        return DB_E_BADACCESSORHANDLE;
    const size_t n = a->bindings.size();
    if (n == 0) {
        *flags = a->flags;
        return S_OK;
    }
    auto *out = static_cast<DBBINDING *>(CoTaskMemAlloc(n * sizeof(DBBINDING)));
    if (!out)
        return E_OUTOFMEMORY;
    for (size_t i = 0; i < n; ++i) {
        out[i] = a->bindings[i];
        if (!out[i].pObject)
            continue;
        out[i].pObject = static_cast<DBOBJECT *>(CoTaskMemAlloc(sizeof(DBOBJECT)));
        if (!out[i].pObject) {
            for (size_t j = 0; j < i; ++j)
                CoTaskMemFree(out[j].pObject);
            CoTaskMemFree(out);
            return E_OUTOFMEMORY;
        }
        *out[i].pObject = *a->bindings[i].pObject;
    }
    *flags = a->flags;
    *count = n;
    *bindings = out;
    return S_OK;
}

const Accessor *AccessorTable::find(HACCESSOR handle) const
{
    auto it = accessors_.find(handle);
    return it == accessors_.end() ? nullptr : &it->second;
}

} // namespace rz
