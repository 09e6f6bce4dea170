#include "provider/values/datetimevalues.h"

namespace rz::provider {

namespace {

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

bool isValidDay(int year, int month, int day)
{
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(year, month);
}

bool isValidTimeOfDay(unsigned hour, unsigned minute, unsigned second)
{
    return hour < 24 && minute < 60 && second < 60;
}

} // namespace

bool isValidDate(const DBDATE &date)
{
    return isValidDay(date.year, date.month, date.day);
}

bool isValidTime(const DBTIME &time)
{
    return isValidTimeOfDay(time.hour, time.minute, time.second);
}

bool isValidTimestamp(const DBTIMESTAMP &timestamp)
{
    return isValidDay(timestamp.year, timestamp.month, timestamp.day)
        && isValidTimeOfDay(timestamp.hour, timestamp.minute, timestamp.second) && timestamp.fraction < 1000000000u;
}

// Howard Hinnant's days_from_civil, moved to year 1.
std::int32_t daysFromDate(int year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yoe = unsigned(year - era * 400);
    const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return std::int32_t(std::int64_t(era) * 146097 + std::int64_t(doe) - 719468 + 719162);
}

std::int64_t ticksFromTime(unsigned hour, unsigned minute, unsigned second, std::uint32_t nanoseconds)
{
    return (std::int64_t(hour) * 3600 + minute * 60 + second) * 10000000 + nanoseconds / 100;
}

} // namespace rz::provider
