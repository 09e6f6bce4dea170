#include "provider/objects/propertystore.h"
#include "platform/com/oletext.h"

#include <cstring>

namespace rz::provider {

namespace {

bool sameSet(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }

// Fills one DBPROP of a GetProperties answer.
void fillProp(DBPROP &out, DBPROPID id, const VARIANT *value, DBPROPSTATUS status)
{
    std::memset(&out, 0, sizeof out);
    out.dwPropertyID = id;
    out.dwOptions = DBPROPOPTIONS_REQUIRED;
    out.dwStatus = status;
    VariantInit(&out.vValue);
    if (value)
        VariantCopy(&out.vValue, const_cast<VARIANT *>(value)); // MinGW's VariantCopy lacks the SDK's const
}

// Frees a GetProperties answer whose building ran out of memory part-way:
// the sets filled so far, each value cleared, and the array itself.
HRESULT discardAnswer(DBPROPSET *out, size_t filledSets)
{
    for (size_t s = 0; s < filledSets; ++s) {
        if (!out[s].rgProperties)
            continue;
        for (ULONG i = 0; i < out[s].cProperties; ++i)
            VariantClear(&out[s].rgProperties[i].vValue);
        CoTaskMemFree(out[s].rgProperties);
    }
    CoTaskMemFree(out);
    return E_OUTOFMEMORY;
}

} // namespace

PropertyStore::~PropertyStore()
{
    for (auto &e : entries_) {
        VariantClear(&e.value);
        VariantClear(&e.defaultValue);
    }
}

void PropertyStore::support(REFGUID set, DBPROPID id, VARTYPE type, const VARIANT &defaultValue)
{
    Entry e;
    e.set = set;
    e.id = id;
    e.type = type;
    VariantInit(&e.value);
    VariantInit(&e.defaultValue);
    VariantCopy(&e.value, const_cast<VARIANT *>(&defaultValue));
    VariantCopy(&e.defaultValue, const_cast<VARIANT *>(&defaultValue));
    entries_.push_back(e);
}

void PropertyStore::supportBool(REFGUID set, DBPROPID id, bool value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    support(set, id, VT_BOOL, v);
}

void PropertyStore::supportI4(REFGUID set, DBPROPID id, LONG value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    support(set, id, VT_I4, v);
}

void PropertyStore::supportString(REFGUID set, DBPROPID id)
{
    VARIANT v;
    VariantInit(&v);
    support(set, id, VT_BSTR, v);
}

PropertyStore::Entry *PropertyStore::find(REFGUID set, DBPROPID id)
{
    for (auto &e : entries_)
        if (e.id == id && sameSet(e.set, set))
            return &e;
    return nullptr;
}

const PropertyStore::Entry *PropertyStore::find(REFGUID set, DBPROPID id) const
{
    return const_cast<PropertyStore *>(this)->find(set, id);
}

HRESULT PropertyStore::setProperties(ULONG setCount, DBPROPSET sets[])
{
    if (setCount && !sets)
        return E_INVALIDARG;
    for (ULONG s = 0; s < setCount; ++s)
        if (sets[s].cProperties && !sets[s].rgProperties)
            return E_INVALIDARG;
    ULONG total = 0, failed = 0;
    for (ULONG s = 0; s < setCount; ++s) {
        for (ULONG i = 0; i < sets[s].cProperties; ++i) {
            DBPROP &prop = sets[s].rgProperties[i];
            ++total;
            Entry *e = find(sets[s].guidPropertySet, prop.dwPropertyID);
            // Booleans arrive as VT_BOOL from most consumers and as VT_I2 -1/0 from some.
            const bool boolAsI2 = e && e->type == VT_BOOL && prop.vValue.vt == VT_I2;
            if (!e) {
                prop.dwStatus = DBPROPSTATUS_NOTSUPPORTED;
            } else if (prop.dwOptions != DBPROPOPTIONS_REQUIRED && prop.dwOptions != DBPROPOPTIONS_OPTIONAL) {
                prop.dwStatus = DBPROPSTATUS_BADOPTION;
            } else if (readOnly_) {
                prop.dwStatus = DBPROPSTATUS_NOTSETTABLE;
            } else if (prop.vValue.vt == VT_EMPTY) {
                VariantClear(&e->value);
                VariantCopy(&e->value, &e->defaultValue);
                e->explicitlySet = false;
                prop.dwStatus = DBPROPSTATUS_OK;
            } else if (prop.vValue.vt != e->type && !boolAsI2) {
                prop.dwStatus = DBPROPSTATUS_BADVALUE;
            } else {
                VariantClear(&e->value);
                if (boolAsI2) {
                    e->value.vt = VT_BOOL;
                    e->value.boolVal = prop.vValue.iVal ? VARIANT_TRUE : VARIANT_FALSE;
                } else {
                    VariantCopy(&e->value, &prop.vValue);
                }
                e->explicitlySet = true;
                prop.dwStatus = DBPROPSTATUS_OK;
            }
            if (prop.dwStatus != DBPROPSTATUS_OK) {
                ++failed;
                if (prop.dwStatus == DBPROPSTATUS_NOTSUPPORTED || prop.dwStatus == DBPROPSTATUS_BADVALUE) {
                    // An optional property that cannot be had is "not set"; unsupported stays unsupported.
                    if (prop.dwOptions == DBPROPOPTIONS_OPTIONAL && prop.dwStatus == DBPROPSTATUS_BADVALUE)
                        prop.dwStatus = DBPROPSTATUS_NOTSET;
                }
            }
        }
    }
    if (failed == 0)
        return S_OK;
    return failed == total ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
}

HRESULT PropertyStore::getProperties(ULONG idSetCount, const DBPROPIDSET idSets[], ULONG *setCount,
                                     DBPROPSET **sets) const
{
    if (!setCount || !sets)
        return E_INVALIDARG;
    *setCount = 0;
    *sets = nullptr;
    if (idSetCount && !idSets)
        return E_INVALIDARG;

    if (idSetCount == 0) {
        // Everything we support, grouped by property set.
        std::vector<GUID> groups;
        for (const auto &e : entries_) {
            bool known = false;
            for (const auto &g : groups)
                known = known || sameSet(g, e.set);
            if (!known)
                groups.push_back(e.set);
        }
        auto *out = static_cast<DBPROPSET *>(CoTaskMemAlloc(sizeof(DBPROPSET) * (groups.empty() ? 1 : groups.size())));
        if (!out)
            return E_OUTOFMEMORY;
        for (size_t g = 0; g < groups.size(); ++g) {
            ULONG n = 0;
            for (const auto &e : entries_)
                n += sameSet(e.set, groups[g]);
            out[g].guidPropertySet = groups[g];
            out[g].cProperties = n;
            out[g].rgProperties = static_cast<DBPROP *>(CoTaskMemAlloc(sizeof(DBPROP) * n));
            if (!out[g].rgProperties)
                return discardAnswer(out, g);
            ULONG k = 0;
            for (const auto &e : entries_)
                if (sameSet(e.set, groups[g]))
                    fillProp(out[g].rgProperties[k++], e.id, &e.value, DBPROPSTATUS_OK);
        }
        *setCount = ULONG(groups.size());
        *sets = out;
        return S_OK;
    }

    for (ULONG s = 0; s < idSetCount; ++s)
        if (idSets[s].cPropertyIDs && !idSets[s].rgPropertyIDs)
            return E_INVALIDARG;
    auto *out = static_cast<DBPROPSET *>(CoTaskMemAlloc(sizeof(DBPROPSET) * idSetCount));
    if (!out)
        return E_OUTOFMEMORY;
    ULONG total = 0, failed = 0;
    for (ULONG s = 0; s < idSetCount; ++s) {
        const DBPROPIDSET &ids = idSets[s];
        out[s].guidPropertySet = ids.guidPropertySet;
        std::vector<DBPROPID> wanted;
        if (ids.cPropertyIDs == 0) {
            for (const auto &e : entries_)
                if (sameSet(e.set, ids.guidPropertySet))
                    wanted.push_back(e.id);
        } else {
            wanted.assign(ids.rgPropertyIDs, ids.rgPropertyIDs + ids.cPropertyIDs);
        }
        out[s].cProperties = ULONG(wanted.size());
        out[s].rgProperties = wanted.empty() ? nullptr : static_cast<DBPROP *>(CoTaskMemAlloc(sizeof(DBPROP) * wanted.size()));
        if (!wanted.empty() && !out[s].rgProperties)
            return discardAnswer(out, s);
        for (size_t i = 0; i < wanted.size(); ++i) {
            const Entry *e = find(ids.guidPropertySet, wanted[i]);
            ++total;
            if (!e)
                ++failed;
            fillProp(out[s].rgProperties[i], wanted[i], e ? &e->value : nullptr,
                     e ? DBPROPSTATUS_OK : DBPROPSTATUS_NOTSUPPORTED);
        }
    }
    *setCount = idSetCount;
    *sets = out;
    if (failed == 0)
        return S_OK;
    return failed == total ? DB_E_ERRORSOCCURRED : DB_S_ERRORSOCCURRED;
}

const VARIANT *PropertyStore::value(REFGUID set, DBPROPID id) const
{
    const Entry *e = find(set, id);
    return e ? &e->value : nullptr;
}

bool PropertyStore::boolValue(REFGUID set, DBPROPID id) const
{
    const VARIANT *v = value(set, id);
    return v && v->vt == VT_BOOL && v->boolVal != VARIANT_FALSE;
}

LONG PropertyStore::i4Value(REFGUID set, DBPROPID id, LONG fallback) const
{
    const VARIANT *v = value(set, id);
    return v && v->vt == VT_I4 ? v->lVal : fallback;
}

const OLECHAR *PropertyStore::stringValue(REFGUID set, DBPROPID id) const
{
    const VARIANT *v = value(set, id);
    return v && v->vt == VT_BSTR ? (v->bstrVal ? v->bstrVal : rz::asOleStr(u"")) : nullptr;
}

bool PropertyStore::isSet(REFGUID set, DBPROPID id) const
{
    const Entry *e = find(set, id);
    return e && e->explicitlySet;
}

} // namespace rz::provider
