#pragma once
// The multiple-results object: walks the results of one execution.

#include "platform/com/comptr.h"
#include "provider/objects/rowset.h"
#include "provider/resultstream.h"

namespace rz::provider {

// The stream stands on the statement's first result, not yet handed out.
HRESULT createMultipleResults(std::shared_ptr<ResultStream> stream, rz::ComPtr<IUnknown> command,
                              const RowsetOptions &options, Reexecute reexecute, IUnknown **object);

} // namespace rz::provider
