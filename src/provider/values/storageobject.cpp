#include "provider/values/storageobject.h"

#include "platform/com/comobject.h"

#include <algorithm>
#include <cstring>

namespace rz::provider {

namespace {

class StorageObject final : public rz::ComObject<ISequentialStream, ISupportErrorInfo> {
public:
    explicit StorageObject(std::shared_ptr<const std::string> bytes) : bytes_(std::move(bytes)) {}

    HRESULT Read(void *data, ULONG size, ULONG *read) override
    {
        if (read)
            *read = 0;
        if (!data)
            return STG_E_INVALIDPOINTER;
        const size_t left = bytes_->size() - position_;
        const size_t n = std::min<size_t>(left, size);
        if (n)
            std::memcpy(data, bytes_->data() + position_, n);
        position_ += n;
        if (read)
            *read = ULONG(n);
        // A short read at the end of the value is still a success, as
        // with SQL Server's own provider; consumers stop at any other code.
        return S_OK;
    }

    HRESULT Write(const void *, ULONG, ULONG *written) override
    {
        if (written)
            *written = 0;
        return STG_E_ACCESSDENIED; // column values are read-only
    }

    HRESULT InterfaceSupportsErrorInfo(REFIID) override { return S_FALSE; }

private:
    std::shared_ptr<const std::string> bytes_;
    size_t position_ = 0;
};

} // namespace

HRESULT createStorageObject(std::shared_ptr<const std::string> bytes, REFIID iid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    auto stream = rz::ComPtr<ISequentialStream>::adopt(new (std::nothrow) StorageObject(std::move(bytes)));
    if (!stream)
        return E_OUTOFMEMORY;
    return stream->QueryInterface(iid, object);
}

} // namespace rz::provider
