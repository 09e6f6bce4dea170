#pragma once
// Creating and initialising an OLE DB data source: the owning property-set
// container, the exception that carries an HRESULT, and the call sequence
// that turns a provider name and property sets into an initialised object.

#include "platform/comptr.h"
#include "platform/oledb.h"

#include <QtSql/QSqlError>

// Carries the HRESULT of a failure that the consumer layer does not report
// through return values (in practice: memory that could not be had).
class CAtlException
{
public:
    explicit CAtlException(HRESULT hr) noexcept : m_hr(hr) {}
    operator HRESULT() const noexcept { return m_hr; }

    HRESULT m_hr;
};

[[noreturn]] void throwHResult(HRESULT hr);

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

// Creates the data source of the provider registered as `progId`, sets the
// property sets (when given) and initialises it. *dataSource receives the
// object as soon as it exists, so the caller can read its error records.
HRESULT openDataSource(IDBInitialize **dataSource, const OLECHAR *progId,
                       DBPROPSET *sets, ULONG setCount);

// What one connection attempt gives back to open().
struct RealConnectResult
{
    QSqlError error;
    // Set whenever the provider object was created, even if it then failed.
    rz::ComPtr<IDBInitialize> dataSource;
    HRESULT hr = S_OK;
};
