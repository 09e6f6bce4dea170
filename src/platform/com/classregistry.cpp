// The class registry: a list of registrations searched newest first, so a
// later registration hides an earlier one of the same name or CLSID until it
// is removed. It lives in a function-local static so that static initialisers
// of other libraries can register classes whatever the initialisation order.

#include "platform/com/classregistry.h"
#include "platform/com/faultinjection.h"

#include "platform/com/builtinclasses.h"
#include "platform/sdk/oledb.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace rz {
namespace {

char foldCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameProgId(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldCase(a[i]) != foldCase(b[i]))
            return false;
    return true;
}

struct Registration {
    RegistrationId id;
    std::string progId;
    CLSID clsid;
    ClassFactory factory;
};

class Registry {
public:
    Registry()
    {
        add({}, CLSID_MSDAINITIALIZE, createServiceComponents);
        builtInConversionId_ = add({}, CLSID_OLEDB_CONVERSIONLIBRARY, createDataConversionLibrary);
        noteConversionLibrary();
    }

    // Whether CLSID_OLEDB_CONVERSIONLIBRARY names the runtime's own library,
    // not hidden by another registration: then creating it needs no lookup.
    bool conversionLibraryIsBuiltIn() const { return conversionIsBuiltIn_.load(std::memory_order_acquire); }

    RegistrationId add(std::string_view progId, REFCLSID clsid, ClassFactory factory)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const RegistrationId id = ++lastId_;
        entries_.push_back({id, std::string(progId), clsid, std::move(factory)});
        noteConversionLibrary();
        return id;
    }

    template <class Match>
    bool removeNewest(Match match)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
            if (match(*it)) {
                entries_.erase(std::next(it).base());
                noteConversionLibrary();
                return true;
            }
        }
        return false;
    }

    bool findByProgId(std::string_view progId, CLSID *clsid)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
            if (!it->progId.empty() && sameProgId(it->progId, progId)) {
                *clsid = it->clsid;
                return true;
            }
        }
        return false;
    }

    ClassFactory findByClsid(REFCLSID clsid)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
            if (it->clsid == clsid)
                return it->factory;
        return {};
    }

private:
    // Called with the lock held after every change.
    void noteConversionLibrary()
    {
        bool builtIn = false;
        for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
            if (it->clsid == CLSID_OLEDB_CONVERSIONLIBRARY) {
                builtIn = it->id == builtInConversionId_;
                break;
            }
        }
        conversionIsBuiltIn_.store(builtIn, std::memory_order_release);
    }

    std::mutex mutex_;
    std::vector<Registration> entries_;
    RegistrationId lastId_ = 0;
    RegistrationId builtInConversionId_ = 0;
    std::atomic<bool> conversionIsBuiltIn_{false};
};

Registry &registry()
{
    static Registry instance;
    return instance;
}

} // namespace

RegistrationId registerClass(std::string_view progId, REFCLSID clsid, ClassFactory factory)
{
    return registry().add(progId, clsid, std::move(factory));
}

bool unregisterClassById(RegistrationId id)
{
    return registry().removeNewest([&](const Registration &r) { return r.id == id; });
}

bool findClass(std::string_view progId, CLSID *clsid)
{
    return registry().findByProgId(progId, clsid);
}

HRESULT createInstance(REFCLSID clsid, IUnknown *outer, REFIID iid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (allocationMustFail())
        return E_OUTOFMEMORY;
    Registry &classes = registry();
    if (clsid == CLSID_OLEDB_CONVERSIONLIBRARY && classes.conversionLibraryIsBuiltIn())
        return createDataConversionLibrary(outer, iid, object);
    // The factory runs outside the registry's lock: it may create other classes.
    const ClassFactory factory = classes.findByClsid(clsid);
    if (!factory)
        return REGDB_E_CLASSNOTREG;
    return factory(outer, iid, object);
}

ScopedClassRegistration::ScopedClassRegistration(std::string_view progId, REFCLSID clsid,
                                                 ClassFactory factory)
    : id_(registerClass(progId, clsid, std::move(factory)))
{
}

ScopedClassRegistration::~ScopedClassRegistration()
{
    unregisterClassById(id_);
}

} // namespace rz
