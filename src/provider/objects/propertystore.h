#pragma once
// A set of OLE DB properties an object supports, with their values, and the
// SetProperties / GetProperties rules every property-bearing object follows
// (status per property, DB_S_ / DB_E_ERRORSOCCURRED).

#include "platform/sdk/oledb.h"

#include <vector>

namespace rz::provider {

class PropertyStore {
public:
    PropertyStore() = default;
    ~PropertyStore();
    PropertyStore(const PropertyStore &) = delete;
    PropertyStore &operator=(const PropertyStore &) = delete;

    // Declares a supported property with its type and default value (copied).
    void support(REFGUID set, DBPROPID id, VARTYPE type, const VARIANT &defaultValue);
    void supportBool(REFGUID set, DBPROPID id, bool value);
    void supportI4(REFGUID set, DBPROPID id, LONG value);
    void supportString(REFGUID set, DBPROPID id); // default: empty (VT_EMPTY)

    // Whether properties may be set at the moment (a data source freezes them once initialised).
    void setReadOnly(bool readOnly) { readOnly_ = readOnly; }

    // IDBProperties::SetProperties / ICommandProperties::SetProperties.
    // `accept` may refuse a value (BADVALUE) beyond the type check.
    HRESULT setProperties(ULONG setCount, DBPROPSET sets[]);
    // IDBProperties::GetProperties / IRowsetInfo::GetProperties.
    HRESULT getProperties(ULONG idSetCount, const DBPROPIDSET idSets[], ULONG *setCount, DBPROPSET **sets) const;

    const VARIANT *value(REFGUID set, DBPROPID id) const;
    bool boolValue(REFGUID set, DBPROPID id) const;
    LONG i4Value(REFGUID set, DBPROPID id, LONG fallback) const;
    const OLECHAR *stringValue(REFGUID set, DBPROPID id) const; // null when unset
    // Whether a value was given (as opposed to the default).
    bool isSet(REFGUID set, DBPROPID id) const;

private:
    struct Entry {
        GUID set;
        DBPROPID id;
        VARTYPE type;
        VARIANT value;
        VARIANT defaultValue;
        bool explicitlySet = false;
    };
    Entry *find(REFGUID set, DBPROPID id);
    const Entry *find(REFGUID set, DBPROPID id) const;

    std::vector<Entry> entries_;
    bool readOnly_ = false;
};

} // namespace rz::provider
