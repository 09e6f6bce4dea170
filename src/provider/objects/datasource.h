#pragma once
// The data source object: initialisation properties, the login (one
// connection of its backend) and the sessions made on it.

#include "platform/sdk/oledb.h"
#include "provider/serverconnection.h"

#include <memory>

namespace rz::provider {

// *object receives the data source's interface iid.
HRESULT createDataSource(std::shared_ptr<Backend> backend, IUnknown *outer, REFIID iid, void **object);

} // namespace rz::provider
