#pragma once
// Running one statement on a session's connection: the connection is made
// idle first, the statement gets its own ODBC handle, and the results come
// back as a stream standing on the first result.

#include "provider/parametervalues.h"
#include "provider/resultstream.h"

#include <memory>
#include <string>
#include <vector>

namespace rz::provider {

// On failure returns a failure HRESULT with the diagnostics pending.
HRESULT executeStatement(const std::shared_ptr<OdbcConnection> &connection, const std::u16string &text,
                         std::vector<ParameterValue> *parameters, long queryTimeoutSeconds,
                         std::shared_ptr<ResultStream> &stream);

} // namespace rz::provider
