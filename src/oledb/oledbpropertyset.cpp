#include "oledb/oledbpropertyset.h"

#include "oledb/oledberror.h"

#include <cstring>
#include <utility>

static_assert(sizeof(OLEDBPropertySet) == sizeof(DBPROPSET),
              "property sets are passed to providers as DBPROPSET arrays");

OLEDBPropertySet::OLEDBPropertySet(const GUID &setId) noexcept
{
    rgProperties = nullptr;
    cProperties = 0;
    guidPropertySet = setId;
}

OLEDBPropertySet::~OLEDBPropertySet()
{
    for (ULONG i = 0; i < cProperties; ++i)
        VariantClear(&rgProperties[i].vValue);
    cProperties = 0;
    CoTaskMemFree(std::exchange(rgProperties, nullptr));
}

void OLEDBPropertySet::clear()
{
    for (ULONG i = 0; i < cProperties; ++i)
        VariantClear(&rgProperties[i].vValue);
    cProperties = 0;
    CoTaskMemFree(std::exchange(rgProperties, nullptr));
    rgProperties = static_cast<DBPROP *>(CoTaskMemAlloc(0));
}

bool addProperty(OLEDBPropertySet &set, DWORD options)
{
    if (set.cProperties == 0xFFFFFFFFu)
        return false;
    const unsigned long long bytes =
        (static_cast<unsigned long long>(set.cProperties) + 1) * sizeof(DBPROP);
    if (bytes > 0xFFFFFFFFull)
        return false;
    void *grown = CoTaskMemRealloc(set.rgProperties, static_cast<SIZE_T>(bytes));
    if (!grown)
        return false;
    set.rgProperties = static_cast<DBPROP *>(grown);

    DBPROP &prop = set.rgProperties[set.cProperties];
    std::memset(&prop, 0, sizeof prop);
    prop.dwOptions = options;
    prop.colid = DB_NULLID;
    VariantInit(&prop.vValue);
    prop.vValue.vt = VT_EMPTY;
    return true;
}

bool addStringProperty(OLEDBPropertySet &set, DBPROPID id, const OLECHAR *value, DWORD options)
{
    if (!addProperty(set, options))
        return false;
    DBPROP &prop = set.rgProperties[set.cProperties];
    prop.dwPropertyID = id;
    prop.vValue.vt = VT_BSTR;
    prop.vValue.bstrVal = value ? SysAllocString(value) : nullptr;
    if (!value)
        return false;
    if (!prop.vValue.bstrVal) {
        prop.vValue.vt = VT_EMPTY;
        throwHResult(E_OUTOFMEMORY);
    }
    ++set.cProperties;
    return true;
}

bool addIntegerProperty(OLEDBPropertySet &set, DBPROPID id, LONG value, VARTYPE type)
{
    if (!addProperty(set, DBPROPOPTIONS_REQUIRED))
        return false;
    DBPROP &prop = set.rgProperties[set.cProperties];
    prop.dwPropertyID = id;
    prop.vValue.vt = type;
    if (type == VT_I2)
        prop.vValue.iVal = SHORT(value);
    else
        prop.vValue.lVal = value;
    ++set.cProperties;
    return true;
}
