#pragma once
// Whether a consumer's date and time structures hold a value SQL Server can
// store. The ODBC driver sends whatever it is given (a year 0 or a month 13
// goes out as a garbage date), so the provider refuses such values itself.

#include "platform/sdk/oledb.h"

#include <cstdint>

namespace rz::provider {

bool isValidDate(const DBDATE &date);
bool isValidTime(const DBTIME &time);
bool isValidTimestamp(const DBTIMESTAMP &timestamp);

std::int32_t daysFromDate(int year, unsigned month, unsigned day);
std::int64_t ticksFromTime(unsigned hour, unsigned minute, unsigned second, std::uint32_t nanoseconds = 0);

} // namespace rz::provider
