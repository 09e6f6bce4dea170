#pragma once
// The classes the runtime itself provides, registered by the class registry
// when it first comes to life.

#include "platform/sdk/comtypes.h"

namespace rz {

// The OLE DB service components (IDataInitialize).
HRESULT createServiceComponents(IUnknown *outer, REFIID iid, void **object);
// The OLE DB data conversion library (IDataConvert).
HRESULT createDataConversionLibrary(IUnknown *outer, REFIID iid, void **object);

} // namespace rz
