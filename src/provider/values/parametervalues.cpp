#include "provider/values/parametervalues.h"

#include "platform/com/comptr.h"
#include "platform/com/oletext.h"
#include "provider/objects/diagnostics.h"
#include "provider/values/datetimevalues.h"
#include "provider/values/decimaltext.h"

#include <algorithm>
#include <cstring>

namespace rz::provider {

namespace {

template <class T>
T readAs(const BYTE *p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::string utf16Bytes(const char16_t *text, size_t units)
{
    return std::string(reinterpret_cast<const char *>(text), units * 2);
}

// The consumer's narrow text is Latin-1 (what it makes of a QString).
std::string latin1AsUtf16(const char *text, size_t length)
{
    std::string out(length * 2, '\0');
    for (size_t i = 0; i < length; ++i) {
        const char16_t c = static_cast<unsigned char>(text[i]);
        std::memcpy(&out[i * 2], &c, 2);
    }
    return out;
}

void setText(ParameterValue &p, std::string utf16, bool isLong)
{
    const size_t units = utf16.size() / 2;
    p.cType = SQL_C_WCHAR;
    p.sqlType = isLong || units > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
    p.columnSize = std::max<SQLULEN>(units, 1);
    p.indicator = SQLLEN(utf16.size());
    p.bytes = std::move(utf16);
}

void setBinary(ParameterValue &p, std::string bytes, bool isLong)
{
    p.cType = SQL_C_BINARY;
    p.sqlType = isLong || bytes.size() > 8000 ? SQL_LONGVARBINARY : SQL_VARBINARY;
    p.columnSize = std::max<SQLULEN>(bytes.size(), 1);
    p.indicator = SQLLEN(bytes.size());
    p.bytes = std::move(bytes);
}

template <class T>
void setFixed(ParameterValue &p, SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT digits, const T &value)
{
    p.cType = cType;
    p.sqlType = sqlType;
    p.columnSize = size;
    p.decimalDigits = digits;
    p.bytes.assign(reinterpret_cast<const char *>(&value), sizeof value);
    p.indicator = SQLLEN(sizeof value);
}

void setDecimalText(ParameterValue &p, const std::string &text, int scale)
{
    p.cType = SQL_C_CHAR;
    p.sqlType = SQL_DECIMAL;
    size_t digits = 0;
    for (char c : text)
        digits += (c >= '0' && c <= '9');
    p.columnSize = std::clamp<SQLULEN>(std::max<size_t>(digits, size_t(scale) + 1), 1, 38);
    p.decimalDigits = SQLSMALLINT(scale);
    p.bytes = text;
    p.indicator = SQLLEN(text.size());
}

// Reads the whole stream into memory: several parameters may share one
// stream, each owning the next `length` bytes of it.
bool readStream(ISequentialStream *stream, DBLENGTH length, std::string &out)
{
    out.clear();
    if (!stream)
        return true;
    out.resize(size_t(length));
    size_t done = 0;
    while (done < out.size()) {
        ULONG got = 0;
        const ULONG want = ULONG(std::min<size_t>(out.size() - done, 1u << 20));
        const HRESULT hr = stream->Read(&out[done], want, &got);
        if (FAILED(hr))
            return false;
        done += got;
        if (got == 0 || hr == S_FALSE)
            break;
    }
    out.resize(done);
    return true;
}

// What is wrong with a date or time value, or nullptr when it can be sent.
const char *dateTimeFault(DBTYPE type, const BYTE *value)
{
    switch (type) {
    case DBTYPE_DBDATE:
        return isValidDate(readAs<DBDATE>(value)) ? nullptr : "date";
    case DBTYPE_DBTIME:
        return isValidTime(readAs<DBTIME>(value)) ? nullptr : "time";
    case DBTYPE_DBTIMESTAMP: {
        const auto ts = readAs<DBTIMESTAMP>(value);
        if (isValidTimestamp(ts))
            return nullptr;
        return isValidDate(DBDATE{ts.year, ts.month, ts.day}) ? "time" : "date";
    }
    default:
        return nullptr;
    }
}

std::u16string ascii(const std::string &text)
{
    return std::u16string(text.begin(), text.end());
}

// What one binding gives: its value (nullptr when none) with the length part.
struct BoundValue {
    DBTYPE type;
    const BYTE *value;
    bool hasLength;
    DBLENGTH length;
    bool isLong; // the server's type for the parameter is a long one
};

// A NULL or DEFAULT travels as the server's type for the parameter, where known.
void describeNull(ParameterValue &p, const SqlServerType *serverType, DBSTATUS status)
{
    p.cType = SQL_C_WCHAR;
    p.sqlType = SQL_WVARCHAR;
    p.columnSize = 1;
    if (serverType) {
        p.cType = serverType->cType == SQL_C_GUID ? SQL_C_WCHAR : serverType->cType;
        switch (serverType->dbType) {
        case DBTYPE_I4: p.sqlType = SQL_INTEGER; break;
        case DBTYPE_I2: p.sqlType = SQL_SMALLINT; break;
        case DBTYPE_UI1: p.sqlType = SQL_TINYINT; break;
        case DBTYPE_I8: p.sqlType = SQL_BIGINT; break;
        case DBTYPE_BOOL: p.sqlType = SQL_BIT; break;
        case DBTYPE_R4: p.sqlType = SQL_REAL; break;
        case DBTYPE_R8: p.sqlType = SQL_FLOAT; break;
        case DBTYPE_BYTES: p.sqlType = serverType->isLong ? SQL_LONGVARBINARY : SQL_VARBINARY; break;
        case DBTYPE_DBTIMESTAMP: p.sqlType = SQL_TYPE_TIMESTAMP; p.columnSize = 27; p.decimalDigits = 7; break;
        case DBTYPE_DBDATE: p.sqlType = SQL_TYPE_DATE; p.columnSize = 10; break;
        case DBTYPE_NUMERIC: case DBTYPE_CY:
            p.sqlType = SQL_DECIMAL; p.columnSize = serverType->precision; p.decimalDigits = serverType->scale; break;
        default: p.cType = SQL_C_WCHAR; p.sqlType = serverType->isLong ? SQL_WLONGVARCHAR : SQL_WVARCHAR; break;
        }
    }
    p.indicator = status == DBSTATUS_S_DEFAULT ? SQL_DEFAULT_PARAM : SQL_NULL_DATA;
}

// Integers, floating point, currency and DB_NUMERIC; false for other types.
bool readNumber(const BoundValue &v, ParameterValue &p)
{
    const BYTE *value = v.value;
    switch (v.type) {
    case DBTYPE_I1: setFixed(p, SQL_C_STINYINT, SQL_SMALLINT, 5, 0, readAs<std::int8_t>(value)); return true;
    case DBTYPE_I2: setFixed(p, SQL_C_SSHORT, SQL_SMALLINT, 5, 0, readAs<std::int16_t>(value)); return true;
    case DBTYPE_I4: setFixed(p, SQL_C_SLONG, SQL_INTEGER, 10, 0, readAs<std::int32_t>(value)); return true;
    case DBTYPE_I8: setFixed(p, SQL_C_SBIGINT, SQL_BIGINT, 19, 0, readAs<std::int64_t>(value)); return true;
    case DBTYPE_UI1: setFixed(p, SQL_C_UTINYINT, SQL_TINYINT, 3, 0, readAs<std::uint8_t>(value)); return true;
    case DBTYPE_UI2: setFixed(p, SQL_C_SLONG, SQL_INTEGER, 10, 0, std::int32_t(readAs<std::uint16_t>(value))); return true;
    case DBTYPE_UI4: setFixed(p, SQL_C_SBIGINT, SQL_BIGINT, 19, 0, std::int64_t(readAs<std::uint32_t>(value))); return true;
    case DBTYPE_UI8: setFixed(p, SQL_C_UBIGINT, SQL_BIGINT, 19, 0, readAs<std::uint64_t>(value)); return true;
    case DBTYPE_BOOL: setFixed(p, SQL_C_BIT, SQL_BIT, 1, 0, static_cast<unsigned char>(readAs<VARIANT_BOOL>(value) ? 1 : 0)); return true;
    case DBTYPE_R4: setFixed(p, SQL_C_FLOAT, SQL_REAL, 7, 0, readAs<float>(value)); return true;
    case DBTYPE_R8: setFixed(p, SQL_C_DOUBLE, SQL_FLOAT, 15, 0, readAs<double>(value)); return true;
    case DBTYPE_CY: setDecimalText(p, textFromCurrency(readAs<CY>(value).int64), 4); return true;
    case DBTYPE_NUMERIC: {
        const DB_NUMERIC n = readAs<DB_NUMERIC>(value);
        setDecimalText(p, textFromNumeric(n), n.scale);
        return true;
    }
    default:
        return false;
    }
}

// Dates, times, timestamps and GUIDs (already checked by dateTimeFault); false for other types.
// A timestamp for a datetime parameter is marked as such (isDateTimeParameter).
bool readDateTimeOrGuid(const BoundValue &v, const SqlServerType *serverType, ParameterValue &p)
{
    switch (v.type) {
    case DBTYPE_DBTIMESTAMP:
        if (serverType && serverType->threeHundredths)
            setFixed(p, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, kDateTimeColumnSize, kDateTimeDigits, readAs<SQL_TIMESTAMP_STRUCT>(v.value));
        else
            setFixed(p, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 27, 7, readAs<SQL_TIMESTAMP_STRUCT>(v.value));
        return true;
    case DBTYPE_DBDATE: setFixed(p, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, readAs<SQL_DATE_STRUCT>(v.value)); return true;
    case DBTYPE_DBTIME: setFixed(p, SQL_C_TYPE_TIME, SQL_TYPE_TIME, 8, 0, readAs<SQL_TIME_STRUCT>(v.value)); return true;
    case DBTYPE_GUID: setFixed(p, SQL_C_GUID, SQL_GUID, 36, 0, readAs<SQLGUID>(v.value)); return true;
    default:
        return false;
    }
}

// Text (wide, narrow, BSTR) and bytes held in the consumer's buffer; false for other types.
bool readTextOrBytes(const BoundValue &v, const DBBINDING &b, ParameterValue &p)
{
    switch (v.type) {
    case DBTYPE_WSTR: {
        size_t units;
        if (v.hasLength) {
            units = size_t(v.length / 2);
        } else {
            const size_t maxUnits = size_t(b.cbMaxLen / 2);
            units = 0;
            while (units < maxUnits && readAs<char16_t>(v.value + units * 2) != 0) ++units;
        }
        setText(p, std::string(reinterpret_cast<const char *>(v.value), units * 2), v.isLong);
        return true;
    }
    case DBTYPE_STR: {
        const auto *text = reinterpret_cast<const char *>(v.value);
        const size_t n = v.hasLength ? size_t(v.length) : strnlen(text, size_t(b.cbMaxLen));
        setText(p, latin1AsUtf16(text, n), v.isLong);
        return true;
    }
    case DBTYPE_BSTR: {
        const BSTR s = readAs<BSTR>(v.value);
        setText(p, s ? utf16Bytes(rz::asUtf16(s), SysStringLen(s)) : std::string(), v.isLong);
        return true;
    }
    case DBTYPE_BYTES: {
        const size_t n = v.hasLength ? size_t(v.length) : size_t(b.cbMaxLen);
        setBinary(p, std::string(reinterpret_cast<const char *>(v.value), n), v.isLong);
        return true;
    }
    default:
        return false;
    }
}

// A long value the consumer gave as a storage object: read whole, sent as
// the server's type for the parameter (bytes when unknown).
HRESULT readLongValue(const BoundValue &v, const SqlServerType *serverType, ParameterValue &p)
{
    auto *unknown = readAs<IUnknown *>(v.value);
    ComPtr<ISequentialStream> stream;
    if (unknown && FAILED(unknown->QueryInterface(IID_ISequentialStream, stream.putVoid()))) {
        addPendingDiagnostic(u"HY000", u"A long parameter's object offers no ISequentialStream.");
        return DB_E_ERRORSOCCURRED;
    }
    std::string bytes;
    if (!readStream(stream.get(), v.hasLength ? v.length : 0, bytes)) {
        addPendingDiagnostic(u"HY000", u"A long parameter's stream could not be read.");
        return DB_E_ERRORSOCCURRED;
    }
    const DBTYPE dataType = serverType ? serverType->dbType : DBTYPE(DBTYPE_BYTES);
    if (dataType == DBTYPE_WSTR)
        setText(p, std::move(bytes), true);
    else if (dataType == DBTYPE_STR)
        setText(p, latin1AsUtf16(bytes.data(), bytes.size()), true);
    else
        setBinary(p, std::move(bytes), true);
    p.atExecution = !p.bytes.empty();
    return S_OK;
}

HRESULT invalidStatus()
{
    addPendingDiagnostic(u"07006", u"A parameter's status in the consumer's buffer is not valid.");
    return DB_E_ERRORSOCCURRED;
}

} // namespace

HRESULT readParameterValues(const std::vector<DBBINDING> &bindings, BYTE *data,
                            const std::vector<SqlServerType> &described, std::vector<ParameterValue> &out)
{
    out.clear();
    out.reserve(bindings.size());
    std::vector<const DBBINDING *> ordered;
    ordered.reserve(bindings.size());
    for (const auto &b : bindings)
        ordered.push_back(&b);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const DBBINDING *a, const DBBINDING *b) { return a->iOrdinal < b->iOrdinal; });
    bool refusedValues = false;
    for (const DBBINDING *bp : ordered) {
        const DBBINDING &b = *bp;
        ParameterValue p;
        p.ordinal = b.iOrdinal;
        p.inputOutput = (b.eParamIO & DBPARAMIO_OUTPUT) ? ((b.eParamIO & DBPARAMIO_INPUT) ? SQL_PARAM_INPUT_OUTPUT : SQL_PARAM_OUTPUT)
                                                         : SQL_PARAM_INPUT;
        const SqlServerType *serverType = b.iOrdinal >= 1 && b.iOrdinal <= described.size() ? &described[b.iOrdinal - 1] : nullptr;
        const DBSTATUS status = (b.dwPart & DBPART_STATUS) ? readAs<DBSTATUS>(data + b.obStatus) : DBSTATUS(DBSTATUS_S_OK);
        BoundValue v;
        v.hasLength = (b.dwPart & DBPART_LENGTH) != 0;
        v.length = v.hasLength ? readAs<DBLENGTH>(data + b.obLength) : 0;
        v.type = DBTYPE(b.wType & ~DBTYPE_BYREF);
        v.value = data + b.obValue;
        if ((b.wType & DBTYPE_BYREF) && (b.dwPart & DBPART_VALUE))
            v.value = readAs<const BYTE *>(v.value);
        v.isLong = serverType && serverType->isLong;

        if (status == DBSTATUS_S_ISNULL || status == DBSTATUS_S_DEFAULT || !(b.dwPart & DBPART_VALUE) || !v.value) {
            if (status != DBSTATUS_S_ISNULL && status != DBSTATUS_S_DEFAULT && status != DBSTATUS_S_OK)
                return invalidStatus();
            describeNull(p, serverType, status);
            out.push_back(std::move(p));
            continue;
        }
        // A value refused by an earlier execution comes back marked as such
        // when the consumer runs the same buffer again: it is refused for
        // the same reason, not for the mark.
        const char *fault = dateTimeFault(v.type, v.value);
        if (status != DBSTATUS_S_OK && !(status == DBSTATUS_E_CANTCONVERTVALUE && fault))
            return invalidStatus();
        // Every bad value is marked and reported before anything is sent.
        if (fault) {
            if (b.dwPart & DBPART_STATUS) {
                const DBSTATUS cantConvert = DBSTATUS_E_CANTCONVERTVALUE;
                std::memcpy(data + b.obStatus, &cantConvert, sizeof cantConvert);
            }
            addPendingDiagnostic(u"22008", ascii(std::string("Invalid ") + fault + " value for parameter "
                                                 + std::to_string(b.iOrdinal) + "."));
            refusedValues = true;
            continue;
        }

        if (v.type == DBTYPE_IUNKNOWN) {
            if (const HRESULT hr = readLongValue(v, serverType, p); FAILED(hr))
                return hr;
        } else if (!readNumber(v, p) && !readDateTimeOrGuid(v, serverType, p) && !readTextOrBytes(v, b, p)) {
            addPendingDiagnostic(u"07006", u"A parameter is bound with a type the provider cannot send.");
            return DB_E_ERRORSOCCURRED;
        }
        out.push_back(std::move(p));
    }
    if (refusedValues) {
        out.clear();
        return DB_E_ERRORSOCCURRED;
    }
    return S_OK;
}

} // namespace rz::provider
