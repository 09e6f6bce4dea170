#pragma once
// Small COM objects the platform tests hand to the runtime: they count their
// references and report their destruction, so tests can check that the
// runtime releases exactly what it owns.

#include "platform/com/comobject.h"

namespace rz::test {

// Counts live objects of this kind; each test starts from zero.
class Tracked final : public ComObject<ISequentialStream> {
public:
    explicit Tracked(int *alive) : alive_(alive) { ++*alive_; }
    HRESULT Read(void *, ULONG, ULONG *read) override
    {
        if (read)
            *read = 0;
        return S_FALSE;
    }
    HRESULT Write(const void *, ULONG, ULONG *) override { return STG_E_ACCESSDENIED; }
    ULONG references()
    {
        AddRef();
        return Release();
    }

private:
    ~Tracked() override { --*alive_; }
    int *alive_;
};

} // namespace rz::test
