#pragma once
// The TDS backend's column types: what a column's TYPE_INFO is in OLE DB
// terms (the same descriptions the ODBC backend gives) and in which of the
// token decoder's forms its values arrive in the row block.

#include "provider/values/parametervalues.h"
#include "provider/values/sqltypes.h"
#include "tds/rpcparameters.h"
#include "tds/tokens.h"

#include <vector>

namespace rz::provider {

SqlServerType typeOfTdsColumn(const rz::tds::TypeInfo &type);

// The values of one execution as sp_executesql parameters @P1, @P2, ...
// (ordinal order). False with a pending diagnostic for a value the TDS
// backend cannot send.
bool tdsParameters(const std::vector<ParameterValue> &values, rz::tds::RpcParameters &out);

} // namespace rz::provider
