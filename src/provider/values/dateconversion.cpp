// Bound as dates and times: DBTIMESTAMP, DBDATE and DBTIME.

#include "provider/tds/tdsvalues.h"
#include "provider/values/conversionfamilies.h"

#include <cstdio>

namespace rz::provider::conversion {

void writeDateTime(const FetchedValue &v, DBTYPE target, Parts &p)
{
    const FetchForm form = v.type->form;
    switch (target) {
    case DBTYPE_DBTIMESTAMP: {
        DBTIMESTAMP t{};
        if (form == FetchForm::DateTimeParts) {
            const auto dt = valueAs<rz::tds::DateTimeValue>(v);
            t = timestampFromParts(dt.days, dt.ticks);
        } else if (form == FetchForm::DateDays) {
            const DBDATE d = dateFromDays(valueAs<std::int32_t>(v));
            t.year = d.year; t.month = d.month; t.day = d.day;
        } else if (form == FetchForm::Timestamp) {
            std::memcpy(&t, v.data, sizeof t);
        } else {
            DBDATE d;
            std::memcpy(&d, v.data, sizeof d);
            t.year = d.year; t.month = d.month; t.day = d.day;
        }
        store(p, t);
        return;
    }
    case DBTYPE_DBDATE: {
        DBDATE d{};
        if (form == FetchForm::DateDays)
            d = dateFromDays(valueAs<std::int32_t>(v));
        else if (form == FetchForm::DateTimeParts)
            d = dateFromDays(valueAs<rz::tds::DateTimeValue>(v).days);
        else
            std::memcpy(&d, v.data, sizeof d); // a timestamp starts with the same three fields
        store(p, d);
        return;
    }
    case DBTYPE_DBTIME: {
        DBTIME t{};
        if (form == FetchForm::TimeTicks) {
            t = timeFromTicks(valueAs<std::int64_t>(v));
        } else if (form == FetchForm::DateTimeParts) {
            t = timeFromTicks(valueAs<rz::tds::DateTimeValue>(v).ticks);
        } else if (form == FetchForm::Timestamp) {
            SQL_TIMESTAMP_STRUCT ts;
            std::memcpy(&ts, v.data, sizeof ts);
            t.hour = ts.hour; t.minute = ts.minute; t.second = ts.second;
        } else {
            unsigned h = 0, m = 0, s = 0;
            const std::string text(rawBytes(v));
            if (std::sscanf(text.c_str(), "%u:%u:%u", &h, &m, &s) != 3) {
                p.status = DBSTATUS_E_CANTCONVERTVALUE;
                return;
            }
            t.hour = USHORT(h); t.minute = USHORT(m); t.second = USHORT(s);
        }
        store(p, t);
        return;
    }
    default:
        p.status = DBSTATUS_E_CANTCONVERTVALUE;
        return;
    }
}

} // namespace rz::provider::conversion
