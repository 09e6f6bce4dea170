#pragma once
// What the server says a statement's positional parameters are.

#include "provider/serverconnection.h"
#include "provider/values/sqltypes.h"

#include <string>
#include <string_view>
#include <vector>

namespace rz::provider {

struct DescribedParameter {
    std::u16string name; // "@P1", ...
    SqlServerType type;
};

// Asks the server (sp_describe_undeclared_parameters on the text with its
// markers numbered), within timeoutSeconds (0: no limit). A parameter is
// never guessed: when the server refuses, or leaves a marker out, the
// result is false with one diagnostic pending that names the first
// parameter not described, the statement, and the server's reason.
bool describeParameters(const std::shared_ptr<ServerConnection> &connection, std::u16string_view sql,
                        long timeoutSeconds, std::vector<DescribedParameter> &out);

} // namespace rz::provider
