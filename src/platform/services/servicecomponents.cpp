// The OLE DB service components (IDataInitialize): data sources from an
// initialisation string ("Provider=NAME;...") or from a provider's CLSID.
// Only the provider is taken from the string; the caller sets every other
// property on the data source itself.

#include "platform/com/builtinclasses.h"
#include "platform/com/comobject.h"
#include "platform/com/comruntime.h"

#include <new>
#include <string>

namespace rz {
namespace {

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

std::u16string trimmed(const std::u16string &text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

bool equalsIgnoringCase(const std::u16string &a, const char *b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char16_t x = a[i];
        char16_t y = static_cast<unsigned char>(b[i]);
        if (x >= u'A' && x <= u'Z')
            x = static_cast<char16_t>(x - u'A' + u'a');
        if (y >= u'A' && y <= u'Z')
            y = static_cast<char16_t>(y - u'A' + u'a');
        if (x != y)
            return false;
    }
    return i == a.size() && !b[i];
}

// The value of the "Provider" key of a "key=value;key=value" string, with
// surrounding blanks removed and one level of quotes or braces stripped.
// Returns false when the string names no provider.
bool providerOf(const std::u16string &initString, std::u16string *provider)
{
    std::size_t pos = 0;
    while (pos < initString.size()) {
        std::size_t end = initString.find(u';', pos);
        if (end == std::u16string::npos)
            end = initString.size();
        const std::u16string part = initString.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t equals = part.find(u'=');
        if (equals == std::u16string::npos)
            continue;
        if (!equalsIgnoringCase(trimmed(part.substr(0, equals)), "provider"))
            continue;
        std::u16string value = trimmed(part.substr(equals + 1));
        if (value.size() >= 2
            && ((value.front() == u'"' && value.back() == u'"')
                || (value.front() == u'\'' && value.back() == u'\'')
                || (value.front() == u'{' && value.back() == u'}')))
            value = trimmed(value.substr(1, value.size() - 2));
        *provider = value;
        return !value.empty();
    }
    return false;
}

class ServiceComponents final : public ComObject<IDataInitialize> {
public:
    HRESULT GetDataSource(IUnknown *pUnkOuter, DWORD dwClsCtx, LPCOLESTR pwszInitializationString,
                          REFIID riid, IUnknown **ppDataSource) override
    {
        if (!ppDataSource)
            return E_INVALIDARG;
        // An existing data source to be configured from the string is not supported here.
        if (*ppDataSource)
            return E_NOTIMPL;
        if (!pwszInitializationString)
            return E_INVALIDARG;
        std::u16string provider;
        if (!providerOf(pwszInitializationString, &provider))
            return REGDB_E_CLASSNOTREG; // no default provider to fall back on
        CLSID clsid;
        const HRESULT hr = CLSIDFromProgID(provider.c_str(), &clsid);
        if (FAILED(hr))
            return REGDB_E_CLASSNOTREG;
        return CreateDBInstance(clsid, pUnkOuter, dwClsCtx, nullptr, riid, ppDataSource);
    }

    HRESULT GetInitializationString(IUnknown *, BYTE, LPOLESTR *ppwszInitString) override
    {
        if (ppwszInitString)
            *ppwszInitString = nullptr;
        return E_NOTIMPL;
    }

    HRESULT CreateDBInstance(REFCLSID clsidProvider, IUnknown *pUnkOuter, DWORD dwClsCtx, LPOLESTR,
                             REFIID riid, IUnknown **ppDataSource) override
    {
        if (!ppDataSource)
            return E_INVALIDARG;
        *ppDataSource = nullptr;
        return CoCreateInstance(clsidProvider, pUnkOuter, dwClsCtx, riid,
                                reinterpret_cast<void **>(ppDataSource));
    }

    HRESULT CreateDBInstanceEx(REFCLSID, IUnknown *, DWORD, LPOLESTR, COSERVERINFO *, ULONG,
                               MULTI_QI *) override
    {
        return E_NOTIMPL;
    }

    HRESULT LoadStringFromStorage(LPCOLESTR, LPOLESTR *ppwszInitializationString) override
    {
        if (ppwszInitializationString)
            *ppwszInitializationString = nullptr;
        return E_NOTIMPL;
    }

    HRESULT WriteStringToStorage(LPCOLESTR, LPCOLESTR, DWORD) override { return E_NOTIMPL; }
};

} // namespace

HRESULT createServiceComponents(IUnknown *outer, REFIID iid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    auto *components = new (std::nothrow) ServiceComponents;
    if (!components)
        return E_OUTOFMEMORY;
    const HRESULT hr = components->QueryInterface(iid, object);
    components->Release();
    return hr;
}

} // namespace rz
