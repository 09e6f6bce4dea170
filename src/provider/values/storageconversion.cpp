// Bound as DBTYPE_IUNKNOWN: long values, and text or bytes asked for as a
// stream, become storage objects over the value's bytes.

#include "provider/values/storageobject.h"
#include "provider/values/conversionfamilies.h"

namespace rz::provider::conversion {

void writeStorageObject(const FetchedValue &v, const DBBINDING &b, Parts &p)
{
    auto bytes = v.longValue ? v.longValue : std::make_shared<const std::string>(rawBytes(v));
    p.length = bytes->size();
    if (!p.value)
        return;
    IUnknown *object = nullptr;
    const IID &iid = b.pObject ? b.pObject->iid : IID_ISequentialStream;
    if (FAILED(createStorageObject(std::move(bytes), iid, reinterpret_cast<void **>(&object))))
        p.status = DBSTATUS_E_CANTCREATE;
    std::memcpy(p.value, &object, sizeof object);
}

} // namespace rz::provider::conversion
