#pragma once
// The class registry behind CoCreateInstance and CLSIDFromProgID.
// Program identifiers match case-insensitively. A registration hides any
// earlier one with the same program identifier or class identifier until it is
// unregistered, so a test can stand its own class in for a real one and put the
// real one back afterwards. Safe to call from static initialisers of any
// library and from any thread.

#include "platform/sdk/comtypes.h"

#include <functional>
#include <string_view>

namespace rz {

// Creates an object as IClassFactory::CreateInstance does: for (outer, iid,
// object) it returns S_OK with *object holding one reference, or an error
// (CLASS_E_NOAGGREGATION when outer is not null and aggregation is not
// supported, E_NOINTERFACE, E_OUTOFMEMORY...).
using ClassFactory = std::function<HRESULT(IUnknown *outer, REFIID iid, void **object)>;

using RegistrationId = unsigned long long;

// progId may be empty for a class reached only by its CLSID.
RegistrationId registerClass(std::string_view progId, REFCLSID clsid, ClassFactory factory);

// Removes exactly the registration registerClass returned, bringing back the
// one it hid. Returns false when there was none.
bool unregisterClassById(RegistrationId id);

// The same lookups CoCreateInstance and CLSIDFromProgID make.
bool findClass(std::string_view progId, CLSID *clsid);
HRESULT createInstance(REFCLSID clsid, IUnknown *outer, REFIID iid, void **object);

// Registers a class for the lifetime of a scope (tests).
class ScopedClassRegistration {
public:
    ScopedClassRegistration(std::string_view progId, REFCLSID clsid, ClassFactory factory);
    ~ScopedClassRegistration();
    ScopedClassRegistration(const ScopedClassRegistration &) = delete;
    ScopedClassRegistration &operator=(const ScopedClassRegistration &) = delete;

private:
    RegistrationId id_;
};

} // namespace rz
