#include "classregistration.h"

#ifdef _WIN32

#include "platform/com/comobject.h"

#include <optional>
#include <stdexcept>

namespace rztest {
namespace {

class FunctionClassFactory final : public rz::ComObject<IClassFactory>
{
public:
    explicit FunctionClassFactory(ClassFactoryFunction function) : create(std::move(function)) {}

    HRESULT CreateInstance(IUnknown *outer, REFIID iid, void **object) override
    {
        return create(outer, iid, object);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    ClassFactoryFunction create;
};

std::wstring widen(const std::string &ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

// The default value of <root>\<key>, if there is one.
std::optional<std::wstring> readClassId(HKEY root, const std::wstring &key)
{
    wchar_t value[64];
    DWORD size = sizeof value;
    if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(value);
}

bool writeClassId(HKEY root, const std::wstring &key, const std::wstring &clsid)
{
    return RegSetKeyValueW(root, key.c_str(), nullptr, REG_SZ, clsid.c_str(),
                           DWORD((clsid.size() + 1) * sizeof(wchar_t)))
        == ERROR_SUCCESS;
}

bool progIdNames(const std::wstring &progId, REFCLSID clsid)
{
    CLSID found = {};
    return SUCCEEDED(CLSIDFromProgID(progId.c_str(), &found)) && found == clsid;
}

} // namespace

struct ClassRegistration::Entry
{
    HKEY root = HKEY_CURRENT_USER;
    std::wstring progIdKey; // under root
    std::optional<std::wstring> hidden; // the class the program identifier named before
    DWORD cookie = 0;
};

ClassRegistration::ClassRegistration(const std::string &progId, REFCLSID clsid,
                                     ClassFactoryFunction factory)
    : entry(std::make_unique<Entry>())
{
    auto classObject = rz::ComPtr<IClassFactory>::adopt(new FunctionClassFactory(std::move(factory)));
    if (FAILED(CoRegisterClassObject(clsid, classObject.get(), CLSCTX_INPROC_SERVER,
                                     REGCLS_MULTIPLEUSE, &entry->cookie)))
        throw std::runtime_error("CoRegisterClassObject failed for " + progId);
    if (progId.empty())
        return;
    wchar_t text[40];
    StringFromGUID2(clsid, text, 40);
    // The user's classes, as a test without administrator rights must; Wine 8
    // does not merge those into HKEY_CLASSES_ROOT, where CLSIDFromProgID
    // reads, so there the program identifier goes into HKEY_CLASSES_ROOT.
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_CLASSES_ROOT}) {
        entry->root = root;
        entry->progIdKey = (root == HKEY_CURRENT_USER ? L"Software\\Classes\\" : L"") + widen(progId);
        entry->hidden = readClassId(root, entry->progIdKey + L"\\CLSID");
        if (writeClassId(root, entry->progIdKey + L"\\CLSID", text) && progIdNames(widen(progId), clsid))
            return;
        restore();
    }
    CoRevokeClassObject(entry->cookie);
    throw std::runtime_error("cannot register the program identifier " + progId);
}

void ClassRegistration::restore()
{
    if (entry->progIdKey.empty())
        return;
    if (entry->hidden)
        writeClassId(entry->root, entry->progIdKey + L"\\CLSID", *entry->hidden);
    else
        RegDeleteTreeW(entry->root, entry->progIdKey.c_str());
}

ClassRegistration::~ClassRegistration()
{
    restore();
    CoRevokeClassObject(entry->cookie);
}

} // namespace rztest

#else

#include "platform/com/classregistry.h"

namespace rztest {

struct ClassRegistration::Entry
{
    rz::RegistrationId id = 0;
};

ClassRegistration::ClassRegistration(const std::string &progId, REFCLSID clsid,
                                     ClassFactoryFunction factory)
    : entry(std::make_unique<Entry>())
{
    entry->id = rz::registerClass(progId, clsid, std::move(factory));
}

void ClassRegistration::restore() {}

ClassRegistration::~ClassRegistration()
{
    rz::unregisterClassById(entry->id);
}

} // namespace rztest

#endif
