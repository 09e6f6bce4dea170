#pragma once
// The conversions that need neither a consumer's buffer nor an allocation,
// inline for the loops over a row's values: a column bound as its own type,
// and text or bytes where they lie.

#include "provider/values/recordforms.h"
#include "provider/values/conversionfamilies.h"

namespace rz::provider {

namespace conversion {

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

inline Family familyOf(DBTYPE target)
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

inline size_t terminatorBytes(DBTYPE target) { return target == DBTYPE_WSTR ? 2 : target == DBTYPE_STR ? 1 : 0; }

} // namespace conversion

// The value as writeColumnBinding would write it with all three parts, but
// without copying: `data` points at the value where it lies or at `room`
// (24 bytes, 8-aligned), where a converted fixed-size value is put. False
// when it needs more: an allocation, a storage object, a failed conversion,
// or text longer than the binding's cbMaxLen leaves room for.
// Inlined into the loop over a row's values, whose calls would cost as
// much as the common conversions themselves.
[[gnu::always_inline]] inline bool columnValueInPlace(const FetchedValue &v, const DBBINDING &b, BYTE *room,
                                                      DBSTATUS &status, const void *&data, DBLENGTH &length)
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
    if (conversion::ownTypeValue(v, target, room, data, ownBytes)) {
        length = ownBytes;
        return true;
    }
    std::string_view bytes;
    if (conversion::textInPlace(v, target, bytes)) {
        // Only what GetData would copy whole.
        const size_t terminator = conversion::terminatorBytes(target);
        if (b.cbMaxLen < terminator || bytes.size() > size_t(b.cbMaxLen) - terminator)
            return false;
        data = bytes.data();
        length = bytes.size();
        return true;
    }
    conversion::Parts p;
    p.value = room;
    switch (conversion::familyOf(target)) {
    case conversion::Family::Number: conversion::writeNumber(v, b, target, p); break;
    case conversion::Family::DateTime: conversion::writeDateTime(v, target, p); break;
    default:
        if (target != DBTYPE_GUID)
            return false;
        conversion::writeText(v, b, target, p);
        break;
    }
    if (p.status != DBSTATUS_S_OK)
        return false;
    data = room;
    length = p.length;
    return true;
}

} // namespace rz::provider
