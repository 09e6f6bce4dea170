#pragma once
// Property sets handed to a provider (initialisation and rowset properties):
// a DBPROPSET that owns its array and the values in it.

#include "platform/sdk/oledb.h"

// A DBPROPSET that owns its property array (COM task memory, grown one entry
// at a time) and clears every value when it goes. Being layout-identical to
// DBPROPSET, an array of these can be handed to SetProperties as it is.
class OLEDBPropertySet : public DBPROPSET
{
public:
    explicit OLEDBPropertySet(const GUID &setId) noexcept;
    ~OLEDBPropertySet();
    OLEDBPropertySet(const OLEDBPropertySet &) = delete;
    OLEDBPropertySet &operator=(const OLEDBPropertySet &) = delete;

    // Clears every value and leaves an empty array that is still allocated:
    // the provider then sees a set of the same id with no properties.
    void clear();
};

// Makes room for an entry at index cProperties with the given options, a null
// column id and an empty value. The caller fills id and value, then counts it.
// False, with the set unchanged, when the array cannot grow.
bool addProperty(OLEDBPropertySet &set, DWORD options);

// Adds a VT_BSTR property holding a copy of `value`; false (nothing counted)
// when `value` is null. Throws CAtlException(E_OUTOFMEMORY) when the string
// cannot be allocated.
bool addStringProperty(OLEDBPropertySet &set, DBPROPID id, const OLECHAR *value,
                       DWORD options = DBPROPOPTIONS_REQUIRED);

// Adds a required VT_I4 property, or a VT_I2 one when `type` says so; false
// when the array cannot grow.
bool addIntegerProperty(OLEDBPropertySet &set, DBPROPID id, LONG value, VARTYPE type = VT_I4);
