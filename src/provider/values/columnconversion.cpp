// Which family of conversions a binding's type belongs to, and the cases
// that need none: a binding that asks for the column's own type is a copy.

#include "provider/values/columnconversion.h"

#include "provider/values/columninplace.h"

namespace rz::provider {

using namespace conversion;

namespace {

DBTYPE baseType(DBTYPE t) { return DBTYPE(t & ~DBTYPE_BYREF); }

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
        return type.form == FetchForm::DateTimeParts || type.form == FetchForm::DateDays;
    case DBTYPE_DBTIME:
        return type.form == FetchForm::TimeTicks || type.form == FetchForm::DateTimeParts;
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

} // namespace rz::provider
