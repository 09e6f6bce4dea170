// Which family of conversions a binding's type belongs to, and the cases
// that need none: a binding that asks for the column's own type is a copy.

#include "provider/values/columnconversion.h"

#include "provider/tds/tdsvalues.h"
#include "provider/values/conversionfamilies.h"

namespace rz::provider {

using namespace conversion;

namespace {

DBTYPE baseType(DBTYPE t) { return DBTYPE(t & ~DBTYPE_BYREF); }

// A value bound as its column's own type needs at most a change of form:
// the value where it lies, or converted into `room` (24 bytes). False for
// every other binding.
inline bool ownTypeValue(const FetchedValue &v, DBTYPE target, BYTE *room, const void *&data, size_t &length)
{
    const auto as = [&](DBTYPE own, size_t bytes) {
        data = v.data;
        length = bytes;
        return target == own;
    };
    switch (v.type->form) {
    case FetchForm::Int32: return as(DBTYPE_I4, 4);
    case FetchForm::Int16: return as(DBTYPE_I2, 2);
    case FetchForm::Int64: return as(DBTYPE_I8, 8);
    case FetchForm::UInt8: return as(DBTYPE_UI1, 1);
    case FetchForm::Float64: return as(DBTYPE_R8, 8);
    case FetchForm::Float32: return as(DBTYPE_R4, 4);
    case FetchForm::MoneyUnits: return as(DBTYPE_CY, 8);
    case FetchForm::Guid: return as(DBTYPE_GUID, 16);
    case FetchForm::Bit: {
        if (target != DBTYPE_BOOL)
            return false;
        const VARIANT_BOOL b = *static_cast<const unsigned char *>(v.data) ? VARIANT_TRUE : VARIANT_FALSE;
        std::memcpy(room, &b, sizeof b);
        data = room;
        length = sizeof b;
        return true;
    }
    case FetchForm::DecimalParts: {
        if (target != DBTYPE_NUMERIC)
            return false;
        const DB_NUMERIC n = numericFromDecimal(valueAs<rz::tds::DecimalValue>(v));
        std::memcpy(room, &n, sizeof n);
        data = room;
        length = sizeof n;
        return true;
    }
    case FetchForm::DateTimeParts: {
        if (target != DBTYPE_DBTIMESTAMP)
            return false;
        const auto dt = valueAs<rz::tds::DateTimeValue>(v);
        const DBTIMESTAMP t = timestampFromParts(dt.days, dt.ticks);
        std::memcpy(room, &t, sizeof t);
        data = room;
        length = sizeof t;
        return true;
    }
    default:
        return false;
    }
}

enum class Family { Text, Number, DateTime, StorageObject, None };

Family familyOf(DBTYPE target)
{
    switch (target) {
    case DBTYPE_WSTR: case DBTYPE_STR: case DBTYPE_BSTR: case DBTYPE_BYTES: case DBTYPE_GUID:
        return Family::Text;
    case DBTYPE_I1: case DBTYPE_I2: case DBTYPE_I4: case DBTYPE_I8: case DBTYPE_UI1: case DBTYPE_UI2:
    case DBTYPE_UI4: case DBTYPE_UI8: case DBTYPE_BOOL: case DBTYPE_R4: case DBTYPE_R8: case DBTYPE_CY:
    case DBTYPE_NUMERIC:
        return Family::Number;
    case DBTYPE_DBTIMESTAMP: case DBTYPE_DBDATE: case DBTYPE_DBTIME:
        return Family::DateTime;
    case DBTYPE_IUNKNOWN:
        return Family::StorageObject;
    default:
        return Family::None;
    }
}

size_t terminatorBytes(DBTYPE target) { return target == DBTYPE_WSTR ? 2 : target == DBTYPE_STR ? 1 : 0; }

} // namespace

bool canBindColumnAs(const SqlServerType &type, DBTYPE target)
{
    target = baseType(target);
    switch (target) {
    case DBTYPE_IUNKNOWN:
        return type.isLong || type.form == FetchForm::Utf8Text || type.form == FetchForm::Utf16Text
            || type.form == FetchForm::Binary || type.form == FetchForm::CodePageText;
    case DBTYPE_WSTR: case DBTYPE_STR: case DBTYPE_BSTR:
        return true;
    case DBTYPE_BYTES:
        return !type.isLong || type.form == FetchForm::Binary;
    case DBTYPE_I1: case DBTYPE_I2: case DBTYPE_I4: case DBTYPE_I8: case DBTYPE_UI1: case DBTYPE_UI2:
    case DBTYPE_UI4: case DBTYPE_UI8: case DBTYPE_R4: case DBTYPE_R8: case DBTYPE_BOOL: case DBTYPE_CY:
    case DBTYPE_NUMERIC:
        return !type.isLong && (isNumericForm(type.form) || type.form == FetchForm::Utf8Text
                                || type.form == FetchForm::CodePageText);
    case DBTYPE_DBTIMESTAMP: case DBTYPE_DBDATE:
        return type.form == FetchForm::Timestamp || type.form == FetchForm::Date || type.form == FetchForm::DateTimeParts
            || type.form == FetchForm::DateDays;
    case DBTYPE_DBTIME:
        return type.form == FetchForm::TimeText || type.form == FetchForm::Timestamp || type.form == FetchForm::TimeTicks
            || type.form == FetchForm::DateTimeParts;
    case DBTYPE_GUID:
        return type.form == FetchForm::Guid;
    default:
        return false;
    }
}

DBSTATUS writeColumnBinding(const FetchedValue &v, const DBBINDING &b, BYTE *buffer)
{
    // Most bindings ask for the column's own type: a copy, or a change of form.
    alignas(8) BYTE room[24];
    const void *own;
    size_t bytes;
    if (!v.isNull() && ownTypeValue(v, DBTYPE(b.wType), room, own, bytes)) {
        if (b.dwPart & DBPART_VALUE)
            std::memcpy(buffer + b.obValue, own, bytes);
        if (b.dwPart & DBPART_LENGTH) {
            const DBLENGTH length = bytes;
            std::memcpy(buffer + b.obLength, &length, sizeof length);
        }
        const DBSTATUS ok = DBSTATUS_S_OK;
        if (b.dwPart & DBPART_STATUS)
            std::memcpy(buffer + b.obStatus, &ok, sizeof ok);
        return ok;
    }
    Parts p;
    p.value = (b.dwPart & DBPART_VALUE) ? buffer + b.obValue : nullptr;
    const DBTYPE target = baseType(b.wType);
    if (v.isNull()) {
        p.status = DBSTATUS_S_ISNULL;
        if (p.value && target == DBTYPE_IUNKNOWN)
            std::memset(p.value, 0, sizeof(IUnknown *));
    } else {
        switch (familyOf(target)) {
        case Family::Text: writeText(v, b, target, p); break;
        case Family::Number: writeNumber(v, b, target, p); break;
        case Family::DateTime: writeDateTime(v, target, p); break;
        case Family::StorageObject: writeStorageObject(v, b, p); break;
        case Family::None: p.status = DBSTATUS_E_CANTCONVERTVALUE; break;
        }
    }
    if (b.dwPart & DBPART_LENGTH)
        std::memcpy(buffer + b.obLength, &p.length, sizeof(DBLENGTH));
    if (b.dwPart & DBPART_STATUS)
        std::memcpy(buffer + b.obStatus, &p.status, sizeof(DBSTATUS));
    return p.status;
}

bool columnValueInPlace(const FetchedValue &v, const DBBINDING &b, BYTE *room, DBSTATUS &status,
                        const void *&data, DBLENGTH &length)
{
    const DBTYPE target = DBTYPE(b.wType);
    status = DBSTATUS_S_OK;
    if (v.isNull()) {
        if (target == DBTYPE_IUNKNOWN)
            return false;
        status = DBSTATUS_S_ISNULL;
        data = nullptr;
        length = 0;
        return true;
    }
    size_t ownBytes;
    if (ownTypeValue(v, target, room, data, ownBytes)) {
        length = ownBytes;
        return true;
    }
    std::string_view bytes;
    if (textInPlace(v, target, bytes)) {
        // Only what GetData would copy whole.
        const size_t terminator = terminatorBytes(target);
        if (b.cbMaxLen < terminator || bytes.size() > size_t(b.cbMaxLen) - terminator)
            return false;
        data = bytes.data();
        length = bytes.size();
        return true;
    }
    Parts p;
    p.value = room;
    switch (familyOf(target)) {
    case Family::Number: writeNumber(v, b, target, p); break;
    case Family::DateTime: writeDateTime(v, target, p); break;
    default:
        if (target != DBTYPE_GUID)
            return false;
        writeText(v, b, target, p);
        break;
    }
    if (p.status != DBSTATUS_S_OK)
        return false;
    data = room;
    length = p.length;
    return true;
}

} // namespace rz::provider
