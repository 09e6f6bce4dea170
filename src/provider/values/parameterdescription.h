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
// markers numbered). False with diagnostics pending when the server refuses.
bool describeParameters(const std::shared_ptr<ServerConnection> &connection, std::u16string_view sql,
                        std::vector<DescribedParameter> &out);

} // namespace rz::provider
