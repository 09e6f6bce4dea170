#pragma once
// The session object: one server connection, its commands, OpenRowset of a
// table and local transactions.

#include "platform/com/comptr.h"
#include "provider/serverconnection.h"

#include <atomic>
#include <memory>

namespace rz::provider {

// openSessions is counted up for the session's lifetime (the data source's
// Uninitialize refuses while sessions live).
HRESULT createSession(rz::ComPtr<IUnknown> dataSource, std::shared_ptr<ServerConnection> connection,
                      std::atomic<int> *openSessions, REFIID iid, IUnknown **session);

} // namespace rz::provider
