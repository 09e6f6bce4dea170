#pragma once
// Owners of the two kinds of memory that cross the COM boundary: blocks of
// COM task memory (column tables, name buffers, property arrays a provider
// hands out) and BSTRs. Each frees what it holds exactly once, and is null
// before the old value is freed.

#include "platform/sdk/oledb.h"

#include <cstddef>
#include <utility>

namespace rz {

// A block of COM task memory, freed with CoTaskMemFree.
template <class T>
class TaskMem
{
public:
    TaskMem() noexcept = default;
    explicit TaskMem(T *p) noexcept : p_(p) {}
    TaskMem(TaskMem &&o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    TaskMem &operator=(TaskMem &&o) noexcept
    {
        reset(o.release());
        return *this;
    }
    TaskMem(const TaskMem &) = delete;
    TaskMem &operator=(const TaskMem &) = delete;
    ~TaskMem() { reset(); }

    void reset(T *p = nullptr) noexcept
    {
        if (T *old = std::exchange(p_, p))
            CoTaskMemFree(old);
    }
    // Gives up ownership without freeing.
    T *release() noexcept { return std::exchange(p_, nullptr); }
    // For out-parameters: frees the current block first.
    T **put() noexcept
    {
        reset();
        return &p_;
    }

    T *get() const noexcept { return p_; }
    T &operator[](std::size_t i) const noexcept { return p_[i]; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    T *p_ = nullptr;
};

// A BSTR, freed with SysFreeString.
class Bstr
{
public:
    Bstr() noexcept = default;
    // A copy of `text`; null when `text` is null or memory is short.
    explicit Bstr(const OLECHAR *text) : b_(text ? SysAllocString(text) : nullptr) {}
    Bstr(Bstr &&o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
    Bstr &operator=(Bstr &&o) noexcept
    {
        reset(o.release());
        return *this;
    }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    ~Bstr() { reset(); }

    void reset(BSTR b = nullptr) noexcept
    {
        if (BSTR old = std::exchange(b_, b))
            SysFreeString(old);
    }
    BSTR release() noexcept { return std::exchange(b_, nullptr); }
    BSTR *put() noexcept
    {
        reset();
        return &b_;
    }

    BSTR get() const noexcept { return b_; }
    UINT length() const noexcept { return b_ ? SysStringLen(b_) : 0; }
    explicit operator bool() const noexcept { return b_ != nullptr; }

private:
    BSTR b_ = nullptr;
};

} // namespace rz
