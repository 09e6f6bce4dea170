#pragma once
// The pieces of columnconversion.cpp, one family of bound types each: text
// and bytes, numbers, dates and times, storage objects. Each family writes
// into Parts, whose value pointer is the consumer's value part, a view's own
// room (fixed-size types), or null when the binding leaves the value out.

#include "common/bytes.h"
#include "provider/values/columnconversion.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace rz::provider::conversion {

struct Parts {
    BYTE *value = nullptr;
    DBLENGTH length = 0;
    DBSTATUS status = DBSTATUS_S_OK;
};

template <class T>
T valueAs(const FetchedValue &v)
{
    return rz::loadUnaligned<T>(v.data);
}

template <class T>
void store(Parts &p, T x)
{
    p.length = sizeof(T);
    if (p.value)
        rz::storeUnaligned(p.value, x);
}

// The value as raw bytes with its length (what the row record kept of it).
inline std::string_view rawBytes(const FetchedValue &v)
{
    if (v.type->isLong)
        return *v.longValue;
    return std::string_view(static_cast<const char *>(v.data), v.length < v.type->valueBytes ? v.length : v.type->valueBytes);
}
// The value as UTF-8 text, and as UTF-16.
std::string asText(const FetchedValue &v);
std::u16string asWideText(const FetchedValue &v);
// The value as a number; ok is false when it is none.
std::int64_t asInteger(const FetchedValue &v, bool &ok);
double asDouble(const FetchedValue &v, bool &ok);
bool isNumericForm(FetchForm f);

// Copies bytes into a value part of cbMaxLen bytes, adding a terminator of
// terminatorBytes; the length part keeps the full length.
void copyBytes(Parts &p, const DBBINDING &b, const void *src, size_t bytes, size_t terminatorBytes);

// The families. Each handles the targets it names and nothing else.
void writeText(const FetchedValue &v, const DBBINDING &b, DBTYPE target, Parts &p);     // WSTR STR BSTR BYTES GUID
void writeNumber(const FetchedValue &v, const DBBINDING &b, DBTYPE target, Parts &p);   // I1..UI8 BOOL R4 R8 CY NUMERIC
void writeDateTime(const FetchedValue &v, DBTYPE target, Parts &p);                     // DBTIMESTAMP DBDATE DBTIME
void writeStorageObject(const FetchedValue &v, const DBBINDING &b, Parts &p);           // IUNKNOWN

// Text and bytes that can be handed out where they lie: true with the
// bytes, false when they must be converted first.
inline bool isAscii(std::string_view text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

inline bool textInPlace(const FetchedValue &v, DBTYPE target, std::string_view &bytes)
{
    const FetchForm form = v.type->form;
    switch (target) {
    case DBTYPE_WSTR:
        if (form != FetchForm::Utf16Text)
            return false;
        bytes = rawBytes(v);
        return true;
    case DBTYPE_STR:
        // UTF-8, or code-page text that is ASCII and so UTF-8 already.
        if (form == FetchForm::Utf8Text) {
            bytes = rawBytes(v);
            return true;
        }
        if (form == FetchForm::CodePageText) {
            bytes = rawBytes(v);
            return isAscii(bytes);
        }
        return false;
    case DBTYPE_BYTES:
        if (form == FetchForm::Binary || form == FetchForm::Utf8Text || form == FetchForm::Utf16Text
            || form == FetchForm::CodePageText)
            bytes = rawBytes(v);
        else
            bytes = std::string_view(static_cast<const char *>(v.data), v.type->valueBytes);
        return true;
    default:
        return false;
    }
}

} // namespace rz::provider::conversion
