#pragma once
// The accessors created on one command or rowset: handles, reference counts
// and copies of the consumer's bindings (IAccessor's bookkeeping), for the
// provider's objects and the client cursor alike.

#include "platform/sdk/oledb.h"

#include <functional>
#include <map>
#include <vector>

namespace rz {

struct Accessor {
    DBACCESSORFLAGS flags = 0;
    std::vector<DBBINDING> bindings; // pObject points into objects
    std::vector<DBOBJECT> objects;   // one per binding (used when the binding had one)
    DBLENGTH rowSize = 0;
    DBREFCOUNT refCount = 1;
};

class AccessorTable {
public:
    // Checks a binding for the owner (column or parameter): DBBINDSTATUS_OK or a failure status.
    // Called after the checks every owner shares (parts, offsets inside rowSize).
    using BindingCheck = std::function<DBBINDSTATUS(const DBBINDING &)>;

    HRESULT create(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[], DBLENGTH rowSize,
                   HACCESSOR *handle, DBBINDSTATUS statuses[], const BindingCheck &check);
    HRESULT addRef(HACCESSOR handle, DBREFCOUNT *refCount);
    HRESULT release(HACCESSOR handle, DBREFCOUNT *refCount);
    // The bindings in task memory: the array and each binding's DBOBJECT
    // allocated apart, as the consumer frees each of them.
    HRESULT getBindings(HACCESSOR handle, DBACCESSORFLAGS *flags, DBCOUNTITEM *count, DBBINDING **bindings) const;
    const Accessor *find(HACCESSOR handle) const;

private:
    std::map<HACCESSOR, Accessor> accessors_;
    HACCESSOR next_ = 1;
};

} // namespace rz
