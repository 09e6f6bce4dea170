#pragma once
// The forward-only rowset over one result of an executed statement.

#include "platform/com/comptr.h"
#include "provider/objects/rowsetproperties.h"
#include "provider/resultstream.h"

#include <functional>
#include <memory>

namespace rz::provider {

// Runs the statement again for RestartPosition: gives a stream standing on
// the result the rowset reads (same columns), or a failure with diagnostics pending.
using Reexecute = std::function<HRESULT(std::shared_ptr<ResultStream> &stream)>;

// The rowset for the stream's current result, handed out as iid: the
// provider's own forward-only rowset, or the client cursor read from it
// when the options ask for scrolling.
HRESULT openRowset(std::shared_ptr<ResultStream> stream, rz::ComPtr<IUnknown> creator, const RowsetOptions &options,
                   Reexecute reexecute, REFIID iid, IUnknown **rowset);

} // namespace rz::provider
