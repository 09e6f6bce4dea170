#include "provider/values/parametervalues.h"

#include "common/bytes.h"
#include "platform/com/comptr.h"
#include "platform/com/oletext.h"
#include "platform/services/exactnumber.h"
#include "provider/diagnostics/diagnostics.h"
#include "provider/values/datetimevalues.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace rz::provider {

namespace {

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
    p.type = DBTYPE_WSTR;
    p.isLong = isLong || utf16.size() / 2 > 4000;
    p.bytes = std::move(utf16);
}

void setBinary(ParameterValue &p, std::string bytes, bool isLong)
{
    p.type = DBTYPE_BYTES;
    p.isLong = isLong || bytes.size() > 8000;
    p.bytes = std::move(bytes);
}

template <class T>
void setFixed(ParameterValue &p, DBTYPE type, const T &value)
{
    p.type = type;
    p.bytes.assign(reinterpret_cast<const char *>(&value), sizeof value);
}

// A decimal goes with as many digits as it has, and at least one before
// its places.
void setNumeric(ParameterValue &p, const DB_NUMERIC &value)
{
    const int digits = rz::digitCount(rz::fromNumeric(value).magnitude);
    setFixed(p, DBTYPE_NUMERIC, value);
    p.precision = BYTE(std::clamp(std::max(digits, int(value.scale) + 1), 1, 38));
    p.scale = value.scale;
}

DB_NUMERIC numericFromCurrency(std::int64_t units)
{
    DB_NUMERIC n{};
    n.precision = 19;
    n.scale = 4;
    n.sign = units >= 0 ? 1 : 0;
    const std::uint64_t magnitude = units >= 0 ? std::uint64_t(units) : 0 - std::uint64_t(units);
    for (int i = 0; i < 8; ++i)
        n.val[i] = BYTE(magnitude >> (8 * i));
    return n;
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
        return isValidDate(rz::loadUnaligned<DBDATE>(value)) ? nullptr : "date";
    case DBTYPE_DBTIME:
        return isValidTime(rz::loadUnaligned<DBTIME>(value)) ? nullptr : "time";
    case DBTYPE_DBTIMESTAMP: {
        const auto ts = rz::loadUnaligned<DBTIMESTAMP>(value);
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
    p.state = status == DBSTATUS_S_DEFAULT ? ParameterValue::State::Default : ParameterValue::State::Null;
    p.type = DBTYPE_WSTR;
    if (!serverType)
        return;
    switch (serverType->dbType) {
    case DBTYPE_I4: case DBTYPE_I2: case DBTYPE_UI1: case DBTYPE_I8: case DBTYPE_BOOL: case DBTYPE_R4: case DBTYPE_R8:
    case DBTYPE_DBTIMESTAMP: case DBTYPE_DBDATE:
        p.type = serverType->dbType;
        break;
    case DBTYPE_NUMERIC: case DBTYPE_CY:
        p.type = DBTYPE_NUMERIC;
        p.precision = serverType->precision;
        p.scale = serverType->scale;
        break;
    case DBTYPE_BYTES:
        p.type = DBTYPE_BYTES;
        p.isLong = serverType->isLong;
        break;
    default:
        p.isLong = serverType->isLong;
        break;
    }
}

// Integers, floating point, currency and DB_NUMERIC; false for other types.
// Unsigned types go as the signed type that holds them, currency as a decimal.
bool readNumber(const BoundValue &v, ParameterValue &p)
{
    const BYTE *value = v.value;
    switch (v.type) {
    case DBTYPE_I1: setFixed(p, DBTYPE_I1, rz::loadUnaligned<std::int8_t>(value)); return true;
    case DBTYPE_I2: setFixed(p, DBTYPE_I2, rz::loadUnaligned<std::int16_t>(value)); return true;
    case DBTYPE_I4: setFixed(p, DBTYPE_I4, rz::loadUnaligned<std::int32_t>(value)); return true;
    case DBTYPE_I8: setFixed(p, DBTYPE_I8, rz::loadUnaligned<std::int64_t>(value)); return true;
    case DBTYPE_UI1: setFixed(p, DBTYPE_UI1, rz::loadUnaligned<std::uint8_t>(value)); return true;
    case DBTYPE_UI2: setFixed(p, DBTYPE_I4, std::int32_t(rz::loadUnaligned<std::uint16_t>(value))); return true;
    case DBTYPE_UI4: setFixed(p, DBTYPE_I8, std::int64_t(rz::loadUnaligned<std::uint32_t>(value))); return true;
    case DBTYPE_UI8: setFixed(p, DBTYPE_UI8, rz::loadUnaligned<std::uint64_t>(value)); return true;
    case DBTYPE_BOOL:
        setFixed(p, DBTYPE_BOOL, VARIANT_BOOL(rz::loadUnaligned<VARIANT_BOOL>(value) ? VARIANT_TRUE : VARIANT_FALSE));
        return true;
    case DBTYPE_R4: setFixed(p, DBTYPE_R4, rz::loadUnaligned<float>(value)); return true;
    case DBTYPE_R8: setFixed(p, DBTYPE_R8, rz::loadUnaligned<double>(value)); return true;
    case DBTYPE_CY: setNumeric(p, numericFromCurrency(rz::loadUnaligned<CY>(value).int64)); return true;
    case DBTYPE_NUMERIC: setNumeric(p, rz::loadUnaligned<DB_NUMERIC>(value)); return true;
    default:
        return false;
    }
}

// Dates, times, timestamps and GUIDs (already checked by dateTimeFault); false for other types.
bool readDateTimeOrGuid(const BoundValue &v, const SqlServerType *serverType, ParameterValue &p)
{
    switch (v.type) {
    case DBTYPE_DBTIMESTAMP:
        setFixed(p, DBTYPE_DBTIMESTAMP, rz::loadUnaligned<DBTIMESTAMP>(v.value));
        p.dateTime = serverType && serverType->threeHundredths;
        return true;
    case DBTYPE_DBDATE: setFixed(p, DBTYPE_DBDATE, rz::loadUnaligned<DBDATE>(v.value)); return true;
    case DBTYPE_DBTIME: setFixed(p, DBTYPE_DBTIME, rz::loadUnaligned<DBTIME>(v.value)); return true;
    case DBTYPE_GUID: setFixed(p, DBTYPE_GUID, rz::loadUnaligned<GUID>(v.value)); return true;
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
            while (units < maxUnits && rz::loadUnaligned<char16_t>(v.value + units * 2) != 0) ++units;
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
        const BSTR s = rz::loadUnaligned<BSTR>(v.value);
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
    auto *unknown = rz::loadUnaligned<IUnknown *>(v.value);
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
        p.output = (b.eParamIO & DBPARAMIO_OUTPUT) != 0;
        p.input = !p.output || (b.eParamIO & DBPARAMIO_INPUT) != 0;
        const SqlServerType *serverType = b.iOrdinal >= 1 && b.iOrdinal <= described.size() ? &described[b.iOrdinal - 1] : nullptr;
        const DBSTATUS status = (b.dwPart & DBPART_STATUS) ? rz::loadUnaligned<DBSTATUS>(data + b.obStatus) : DBSTATUS(DBSTATUS_S_OK);
        BoundValue v;
        v.hasLength = (b.dwPart & DBPART_LENGTH) != 0;
        v.length = v.hasLength ? rz::loadUnaligned<DBLENGTH>(data + b.obLength) : 0;
        v.type = DBTYPE(b.wType & ~DBTYPE_BYREF);
        v.value = data + b.obValue;
        if ((b.wType & DBTYPE_BYREF) && (b.dwPart & DBPART_VALUE))
            v.value = rz::loadUnaligned<const BYTE *>(v.value);
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
