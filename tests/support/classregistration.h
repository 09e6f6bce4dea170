#pragma once
// A test's COM class under a program identifier for the lifetime of one
// object. Off Windows it goes into the platform's class registry; on Windows
// into COM itself: the class object with CoRegisterClassObject (this
// process only) and the program identifier under
// HKEY_CURRENT_USER\Software\Classes for CLSIDFromProgID. Either way a
// registration hides an earlier one of the same program identifier, which
// comes back when it ends; registrations end in reverse order.

#include "platform/sdk/oledb.h"

#include <functional>
#include <memory>
#include <string>

namespace rztest {

// Creates an object as IClassFactory::CreateInstance does.
using ClassFactoryFunction = std::function<HRESULT(IUnknown *outer, REFIID iid, void **object)>;

class ClassRegistration
{
public:
    ClassRegistration(const std::string &progId, REFCLSID clsid, ClassFactoryFunction factory);
    ~ClassRegistration();
    ClassRegistration(const ClassRegistration &) = delete;
    ClassRegistration &operator=(const ClassRegistration &) = delete;

private:
    // Puts back the program identifier's earlier class.
    void restore();

    struct Entry;
    std::unique_ptr<Entry> entry;
};

} // namespace rztest
