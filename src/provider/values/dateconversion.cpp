// Bound as dates and times: DBTIMESTAMP, DBDATE and DBTIME.

#include "provider/values/recordforms.h"
#include "provider/values/conversionfamilies.h"

namespace rz::provider::conversion {

void writeDateTime(const FetchedValue &v, DBTYPE target, Parts &p)
{
    const FetchForm form = v.type->form;
    const bool parts = form == FetchForm::DateTimeParts;
    if (parts && target != DBTYPE_DBDATE && target != DBTYPE_DBTIME) {
        const auto dt = valueAs<rz::tds::DateTimeValue>(v);
        store(p, timestampFromParts(dt.days, dt.ticks));
    } else if ((parts || form == FetchForm::DateDays) && target != DBTYPE_DBTIME) {
        const DBDATE d = dateFromDays(parts ? valueAs<rz::tds::DateTimeValue>(v).days : valueAs<std::int32_t>(v));
        if (target == DBTYPE_DBDATE) {
            store(p, d);
        } else {
            DBTIMESTAMP t{};
            t.year = d.year; t.month = d.month; t.day = d.day;
            store(p, t);
        }
    } else if ((parts || form == FetchForm::TimeTicks) && target == DBTYPE_DBTIME) {
        store(p, timeFromTicks(parts ? valueAs<rz::tds::DateTimeValue>(v).ticks : valueAs<std::int64_t>(v)));
    } else {
        p.status = DBSTATUS_E_CANTCONVERTVALUE;
    }
}

} // namespace rz::provider::conversion
