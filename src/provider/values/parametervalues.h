#pragma once
// One execution's parameter values, read from the consumer's buffer through
// a parameter accessor. Each is held as an OLE DB type and its bytes, in as
// few types as the server needs; each backend turns them into what its
// library sends (tds/tdstypes.h, odbc/odbctypes.h).

#include "platform/sdk/oledb.h"
#include "provider/values/sqltypes.h"

#include <string>
#include <vector>

namespace rz::provider {

struct ParameterValue {
    enum class State { Value, Null, Default };

    DBORDINAL ordinal = 0;
    bool input = true;
    bool output = false;
    State state = State::Value;
    // One of I1 I2 I4 I8 UI1 UI8 BOOL R4 R8 NUMERIC DBTIMESTAMP DBDATE DBTIME
    // GUID WSTR BYTES. A NULL or DEFAULT has the server's type for it.
    DBTYPE type = DBTYPE_WSTR;
    std::string bytes;           // the value as `type` holds it; WSTR: UTF-16 without terminator
    // NUMERIC: the digits the value needs (at least the scale's and one
    // more, at most 38) and its places; a NULL's are the server's.
    BYTE precision = 0;
    BYTE scale = 0;
    bool isLong = false;         // WSTR and BYTES: sent as a (max) type
    bool atExecution = false;    // a long value the consumer gave as a stream
    // A DBTIMESTAMP for a datetime parameter: it goes out as datetime (1/300 s),
    // not datetime2, or .007 would arrive as .0070000, which SQL Server does
    // not find equal to the stored .007.
    bool dateTime = false;

    bool isNull() const { return state != State::Value; }
};

// Reads every binding's value from `data`. `described` gives the server's
// types by ordinal - 1 (may be shorter or empty). On failure returns
// DB_E_ERRORSOCCURRED or E_FAIL with a pending diagnostic describing the bad
// value; a date or time that is no valid value also gets the status
// DBSTATUS_E_CANTCONVERTVALUE in `data` when its binding has a status part.
HRESULT readParameterValues(const std::vector<DBBINDING> &bindings, BYTE *data,
                            const std::vector<SqlServerType> &described, std::vector<ParameterValue> &out);

} // namespace rz::provider
