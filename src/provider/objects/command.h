#pragma once
// The command object: text, preparation, rowset properties, parameter
// descriptions and accessors, and execution.

#include "platform/com/comptr.h"
#include "provider/serverconnection.h"

#include <memory>

namespace rz::provider {

HRESULT createCommand(rz::ComPtr<IUnknown> session, std::shared_ptr<ServerConnection> connection, REFIID iid,
                      IUnknown **command);

} // namespace rz::provider
