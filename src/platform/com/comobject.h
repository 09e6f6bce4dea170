#pragma once
// A base for the project's own COM objects: a thread-safe reference count,
// QueryInterface over the interfaces the class lists (each with the
// interfaces it derives from), and deletion at the last Release.
//
//     class Stream final : public rz::ComObject<ISequentialStream> { ... };
//     rz::ComPtr<ISequentialStream> s = rz::ComPtr<ISequentialStream>::adopt(new Stream);
//
// A new object holds one reference, owned by whoever created it.

#include "platform/com/comptr.h"
#include "platform/sdk/interfaceids.h"

#include <atomic>

namespace rz {

// The objects of this module that are alive; an in-process server may be
// unloaded only while there are none.
inline std::atomic<long> liveComObjects{0};

template <class First, class... Rest>
class ComObject : public First, public Rest... {
public:
    ComObject() { liveComObjects.fetch_add(1, std::memory_order_relaxed); }
    ComObject(const ComObject &) = delete;
    ComObject &operator=(const ComObject &) = delete;

    HRESULT QueryInterface(REFIID iid, void **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        void *found = findInterface(iid);
        if (!found)
            found = queryOtherInterface(iid);
        if (!found)
            return E_NOINTERFACE;
        AddRef();
        *object = found;
        return S_OK;
    }
    ULONG AddRef() override { return refCount_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override
    {
        const ULONG left = refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0)
            delete this;
        return left;
    }

    // The object's identity: the same IUnknown pointer for every interface.
    IUnknown *identity() { return static_cast<IUnknown *>(static_cast<First *>(this)); }

protected:
    virtual ~ComObject() { liveComObjects.fetch_sub(1, std::memory_order_relaxed); }
    // For interfaces that are not base classes (tear-offs, contained objects).
    // The returned pointer is handed out after one AddRef on this object.
    virtual void *queryOtherInterface(REFIID) { return nullptr; }

private:
    void *findInterface(REFIID iid)
    {
        if (iid == IID_IUnknown)
            return identity();
        void *found = nullptr;
        (void)((InterfaceIds<First>::matches(iid) && (found = static_cast<First *>(this)))
               || ((InterfaceIds<Rest>::matches(iid) && (found = static_cast<Rest *>(this))) || ...));
        return found;
    }

    std::atomic<ULONG> refCount_{1};
};

} // namespace rz
