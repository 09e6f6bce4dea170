// The provider as a Windows in-process COM server: its class factory, the
// unload check, and its registration under a program identifier of its own
// ("REZUVEDOV.TDS"; Microsoft's providers keep their names). It runs on the
// project's TDS client; the ODBC backend is not part of this DLL.

#include "platform/com/comobject.h"
#include "provider/objects/datasource.h"
#include "provider/tds/tdsconnection.h"

#include <olectl.h> // SELFREG_E_CLASS

#include <atomic>
#include <new>
#include <string>

namespace {

// {57DEAD4A-4824-4656-A6E5-7D6C6C4FE287}
constexpr CLSID kClsidRezuvedovTds = {0x57DEAD4A, 0x4824, 0x4656, {0xA6, 0xE5, 0x7D, 0x6C, 0x6C, 0x4F, 0xE2, 0x87}};
constexpr wchar_t kProgId[] = L"REZUVEDOV.TDS";
constexpr wchar_t kDescription[] = L"REZUVEDOV OLE DB Provider for SQL Server";
// OLEDB_SERVICES: every service component may wrap the provider; its own
// rowsets already give the client cursor, for systems that have no cursor service.
constexpr DWORD kOleDbServices = 0xFFFFFFFF;

std::atomic<long> serverLocks{0};

class ClassFactory final : public rz::ComObject<IClassFactory> {
public:
    HRESULT CreateInstance(IUnknown *outer, REFIID iid, void **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return rz::provider::createDataSource(rz::provider::makeTdsBackend(), nullptr, iid, object);
    }
    HRESULT LockServer(BOOL lock) override
    {
        if (lock)
            serverLocks.fetch_add(1);
        else
            serverLocks.fetch_sub(1);
        return S_OK;
    }
};

std::wstring guidText(REFGUID guid)
{
    wchar_t text[40] = {};
    return StringFromGUID2(guid, text, 40) > 0 ? std::wstring(text) : std::wstring();
}

std::wstring modulePath()
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&modulePath), &module))
        return {};
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, &path[0], DWORD(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// Writes HKEY_CLASSES_ROOT\key [name] = value (a string, or a DWORD when
// value is null).
HRESULT setValue(const std::wstring &key, const wchar_t *name, const std::wstring *value, DWORD number = 0)
{
    HKEY handle = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                              nullptr, &handle, nullptr);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    if (value)
        rc = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value->c_str()),
                            DWORD((value->size() + 1) * sizeof(wchar_t)));
    else
        rc = RegSetValueExW(handle, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&number), sizeof number);
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

HRESULT deleteTree(const std::wstring &key)
{
    const LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}

} // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID *object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (clsid != kClsidRezuvedovTds)
        return CLASS_E_CLASSNOTAVAILABLE;
    auto factory = rz::ComPtr<IClassFactory>::adopt(new (std::nothrow) ClassFactory);
    if (!factory)
        return E_OUTOFMEMORY;
    return factory->QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow()
{
    return rz::liveComObjects.load() == 0 && serverLocks.load() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    const std::wstring clsid = guidText(kClsidRezuvedovTds);
    const std::wstring path = modulePath();
    if (clsid.empty() || path.empty())
        return SELFREG_E_CLASS;
    const std::wstring classKey = L"CLSID\\" + clsid;
    const std::wstring progId = kProgId;
    const std::wstring description = kDescription;
    const std::wstring both = L"Both";
    HRESULT hr = S_OK;
    auto step = [&hr](HRESULT result) {
        if (SUCCEEDED(hr))
            hr = result;
    };
    step(setValue(progId, nullptr, &description));
    step(setValue(progId + L"\\CLSID", nullptr, &clsid));
    step(setValue(classKey, nullptr, &progId));
    step(setValue(classKey, L"OLEDB_SERVICES", nullptr, kOleDbServices));
    step(setValue(classKey + L"\\ProgID", nullptr, &progId));
    step(setValue(classKey + L"\\VersionIndependentProgID", nullptr, &progId));
    step(setValue(classKey + L"\\OLE DB Provider", nullptr, &description));
    step(setValue(classKey + L"\\InprocServer32", nullptr, &path));
    step(setValue(classKey + L"\\InprocServer32", L"ThreadingModel", &both));
    if (FAILED(hr)) {
        deleteTree(classKey);
        deleteTree(progId);
        return SELFREG_E_CLASS;
    }
    return S_OK;
}

STDAPI DllUnregisterServer()
{
    const std::wstring clsid = guidText(kClsidRezuvedovTds);
    if (clsid.empty())
        return SELFREG_E_CLASS;
    const HRESULT classRemoved = deleteTree(L"CLSID\\" + clsid);
    const HRESULT progIdRemoved = deleteTree(kProgId);
    return SUCCEEDED(classRemoved) && SUCCEEDED(progIdRemoved) ? S_OK : SELFREG_E_CLASS;
}
