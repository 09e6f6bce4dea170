#pragma once
// The data source object: initialisation properties, the login (one ODBC
// connection) and the sessions made on it.

#include "platform/oledb.h"
#include "provider/connectionstring.h"

namespace rz::provider {

// *object receives the data source's interface iid.
HRESULT createDataSource(OdbcDriverKind kind, std::u16string driverValue, IUnknown *outer, REFIID iid, void **object);

} // namespace rz::provider
