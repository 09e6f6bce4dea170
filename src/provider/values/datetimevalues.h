#pragma once
// Whether a consumer's date and time structures hold a value SQL Server can
// store. The ODBC driver sends whatever it is given (a year 0 or a month 13
// goes out as a garbage date), so the provider refuses such values itself.

#include "platform/sdk/oledb.h"

namespace rz::provider {

bool isValidDate(const DBDATE &date);
bool isValidTime(const DBTIME &time);
bool isValidTimestamp(const DBTIMESTAMP &timestamp);

} // namespace rz::provider
