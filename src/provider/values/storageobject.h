#pragma once
// The storage object a long column value is handed out in: an
// ISequentialStream that reads the value's bytes once, front to back.

#include "platform/sdk/oledb.h"

#include <memory>
#include <string>

namespace rz::provider {

// *object receives the interface iid (IUnknown or ISequentialStream) with one reference.
HRESULT createStorageObject(std::shared_ptr<const std::string> bytes, REFIID iid, void **object);

} // namespace rz::provider
