#pragma once
// An owning COM interface pointer: holds exactly one reference, drops it on
// reset or destruction, and is null before the old value is released.

#include "platform/sdk/oledb.h"

#include <utility>

namespace rz {

template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes over a reference the caller already owns (no AddRef).
    static ComPtr adopt(T *p) noexcept { ComPtr c; c.p_ = p; return c; }
    // Adds a reference of its own.
    static ComPtr share(T *p) noexcept { if (p) p->AddRef(); return adopt(p); }

    ComPtr(const ComPtr &o) noexcept : p_(o.p_) { if (p_) p_->AddRef(); }
    ComPtr(ComPtr &&o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr &operator=(const ComPtr &o) noexcept { ComPtr(o).swap(*this); return *this; }
    ComPtr &operator=(ComPtr &&o) noexcept { ComPtr(std::move(o)).swap(*this); return *this; }
    ~ComPtr() { reset(); }

    void reset() noexcept
    {
        if (T *old = std::exchange(p_, nullptr))
            old->Release();
    }
    // Gives up ownership without releasing.
    T *detach() noexcept { return std::exchange(p_, nullptr); }
    void swap(ComPtr &o) noexcept { std::swap(p_, o.p_); }

    T *get() const noexcept { return p_; }
    T *operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // For out-parameters: releases the current value first.
    T **put() noexcept { reset(); return &p_; }
    IUnknown **putUnknown() noexcept { reset(); return reinterpret_cast<IUnknown **>(&p_); }
    void **putVoid() noexcept { reset(); return reinterpret_cast<void **>(&p_); }

    // QueryInterface into another owning pointer; the HRESULT of the call.
    template <class U>
    HRESULT query(REFIID iid, ComPtr<U> &out) const noexcept
    {
        if (!p_) { out.reset(); return E_NOINTERFACE; }
        return p_->QueryInterface(iid, out.putVoid());
    }

private:
    T *p_ = nullptr;
};

} // namespace rz
