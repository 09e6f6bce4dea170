// The OLE DB data conversion library (IDataConvert) for the numeric types:
// integers, R4, R8, CY, DECIMAL, DB_NUMERIC and decimal text, to each other
// and to text. Values that do not fit are reported per value with
// DBSTATUS_E_DATAOVERFLOW (DBSTATUS_E_SIGNMISMATCH for a negative value to an
// unsigned type) and the call returns DB_E_ERRORSOCCURRED.
//
// Precision and scale of a DB_NUMERIC destination: bPrecision 0 means the
// precision of the source type (3, 5, 10, 19 or 20 digits for the integer
// types, 19 for CY, 29 for DECIMAL, the value's own for DB_NUMERIC, the
// digits the value needs for R4, R8 and text). The scale is the source's own
// unless DBDATACONVERT_DECIMALSCALE asks for bScale; fraction digits that do
// not fit are rounded half away from zero.

#include "common/bytes.h"
#include "platform/com/builtinclasses.h"
#include "platform/com/comobject.h"
#include "platform/com/comruntime.h"
#include "platform/services/exactnumber.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>

namespace rz {
namespace {

enum class Outcome { ok, unsupported, cantConvert, overflow, signMismatch };

bool isIntegerType(DBTYPE type)
{
    switch (type) {
    case DBTYPE_I1:
    case DBTYPE_UI1:
    case DBTYPE_I2:
    case DBTYPE_UI2:
    case DBTYPE_I4:
    case DBTYPE_UI4:
    case DBTYPE_I8:
    case DBTYPE_UI8:
        return true;
    default:
        return false;
    }
}

bool isNumericSource(DBTYPE type)
{
    return isIntegerType(type) || type == DBTYPE_R4 || type == DBTYPE_R8 || type == DBTYPE_CY
           || type == DBTYPE_DECIMAL || type == DBTYPE_NUMERIC || type == DBTYPE_STR
           || type == DBTYPE_WSTR;
}

bool isNumericDestination(DBTYPE type)
{
    return isIntegerType(type) || type == DBTYPE_R4 || type == DBTYPE_R8 || type == DBTYPE_CY
           || type == DBTYPE_DECIMAL || type == DBTYPE_NUMERIC || type == DBTYPE_STR
           || type == DBTYPE_WSTR;
}

std::size_t fixedSize(DBTYPE type)
{
    switch (type) {
    case DBTYPE_I1:
    case DBTYPE_UI1:
        return 1;
    case DBTYPE_I2:
    case DBTYPE_UI2:
        return 2;
    case DBTYPE_I4:
    case DBTYPE_UI4:
    case DBTYPE_R4:
        return 4;
    case DBTYPE_I8:
    case DBTYPE_UI8:
    case DBTYPE_R8:
    case DBTYPE_CY:
        return 8;
    case DBTYPE_DECIMAL:
        return sizeof(DECIMAL);
    case DBTYPE_NUMERIC:
        return sizeof(DB_NUMERIC);
    default:
        return 0;
    }
}

// The precision a DB_NUMERIC gets from a source of this type when none is asked for.
int naturalPrecision(DBTYPE type, const ExactNumber &value, const void *source)
{
    switch (type) {
    case DBTYPE_I1:
    case DBTYPE_UI1:
        return 3;
    case DBTYPE_I2:
    case DBTYPE_UI2:
        return 5;
    case DBTYPE_I4:
    case DBTYPE_UI4:
        return 10;
    case DBTYPE_I8:
    case DBTYPE_CY:
        return 19;
    case DBTYPE_UI8:
        return 20;
    case DBTYPE_DECIMAL:
        return 29;
    case DBTYPE_NUMERIC: {
        const int own = static_cast<const DB_NUMERIC *>(source)->precision;
        return own > 0 ? own : digitCount(value.magnitude);
    }
    default: {
        const int digits = digitCount(value.magnitude);
        return digits > value.scale ? digits : value.scale + 1 > DB_NUMERIC_MAXPRECISION
                                                   ? DB_NUMERIC_MAXPRECISION
                                                   : value.scale + 1;
    }
    }
}

std::string narrowText(DBTYPE type, const void *source, DBLENGTH length, bool lengthFromNts)
{
    std::string text;
    if (type == DBTYPE_STR) {
        const char *chars = static_cast<const char *>(source);
        const std::size_t n = lengthFromNts ? std::strlen(chars) : static_cast<std::size_t>(length);
        text.assign(chars, n);
    } else {
        const auto *chars = static_cast<const char16_t *>(source);
        std::size_t n = static_cast<std::size_t>(length / sizeof(char16_t));
        if (lengthFromNts) {
            n = 0;
            while (chars[n])
                ++n;
        }
        for (std::size_t i = 0; i < n; ++i)
            text.push_back(chars[i] < 0x80 ? static_cast<char>(chars[i]) : '?');
    }
    return text;
}

Outcome readSource(DBTYPE type, const void *source, DBLENGTH length, DBDATACONVERT flags,
                   ExactNumber *value)
{
    switch (type) {
    case DBTYPE_I1:
        *value = fromSigned(loadUnaligned<signed char>(source));
        return Outcome::ok;
    case DBTYPE_UI1:
        *value = fromUnsigned(loadUnaligned<unsigned char>(source));
        return Outcome::ok;
    case DBTYPE_I2:
        *value = fromSigned(loadUnaligned<SHORT>(source));
        return Outcome::ok;
    case DBTYPE_UI2:
        *value = fromUnsigned(loadUnaligned<USHORT>(source));
        return Outcome::ok;
    case DBTYPE_I4:
        *value = fromSigned(loadUnaligned<LONG>(source));
        return Outcome::ok;
    case DBTYPE_UI4:
        *value = fromUnsigned(loadUnaligned<ULONG>(source));
        return Outcome::ok;
    case DBTYPE_I8:
        *value = fromSigned(loadUnaligned<LONGLONG>(source));
        return Outcome::ok;
    case DBTYPE_UI8:
        *value = fromUnsigned(loadUnaligned<ULONGLONG>(source));
        return Outcome::ok;
    case DBTYPE_CY:
        *value = fromCurrency(loadUnaligned<CY>(source));
        return Outcome::ok;
    case DBTYPE_DECIMAL:
        *value = fromDecimal(loadUnaligned<DECIMAL>(source));
        return Outcome::ok;
    case DBTYPE_NUMERIC: {
        const auto numeric = loadUnaligned<DB_NUMERIC>(source);
        if (numeric.scale > DB_NUMERIC_MAXPRECISION)
            return Outcome::cantConvert;
        *value = fromNumeric(numeric);
        return Outcome::ok;
    }
    case DBTYPE_R4:
        return fromDouble(loadUnaligned<float>(source), value) ? Outcome::ok : Outcome::overflow;
    case DBTYPE_R8:
        return fromDouble(loadUnaligned<double>(source), value) ? Outcome::ok : Outcome::overflow;
    case DBTYPE_STR:
    case DBTYPE_WSTR:
        return fromText(narrowText(type, source, length, flags & DBDATACONVERT_LENGTHFROMNTS), value)
                   ? Outcome::ok
                   : Outcome::cantConvert;
    default:
        return Outcome::unsupported;
    }
}

// Where the destination's text goes, with the length in bytes it needs.
Outcome writeText(DBTYPE type, const ExactNumber &value, void *destination, DBLENGTH maxLength,
                  DBLENGTH *length)
{
    const std::string text = toText(value);
    const std::size_t unit = type == DBTYPE_WSTR ? sizeof(char16_t) : 1;
    *length = text.size() * unit;
    // A number cut short would be a different number: it must fit with its terminator.
    if ((text.size() + 1) * unit > maxLength)
        return Outcome::overflow;
    if (type == DBTYPE_STR) {
        std::memcpy(destination, text.c_str(), text.size() + 1);
    } else {
        auto *out = static_cast<char16_t *>(destination);
        for (std::size_t i = 0; i < text.size(); ++i)
            out[i] = static_cast<char16_t>(text[i]);
        out[text.size()] = 0;
    }
    return Outcome::ok;
}

template <class T>
Outcome writeSigned(const ExactNumber &value, long long minimum, long long maximum, void *destination)
{
    long long result;
    if (!toSigned(value, minimum, maximum, &result))
        return Outcome::overflow;
    storeUnaligned(destination, static_cast<T>(result));
    return Outcome::ok;
}

template <class T>
Outcome writeUnsigned(const ExactNumber &value, unsigned long long maximum, void *destination)
{
    unsigned long long result;
    bool negative = false;
    if (!toUnsigned(value, maximum, &result, &negative))
        return negative ? Outcome::signMismatch : Outcome::overflow;
    storeUnaligned(destination, static_cast<T>(result));
    return Outcome::ok;
}

// The library keeps no state, so one object serves every creation: its
// references count nothing and it is never deleted, which makes creating it
// (once per converted value, for some callers) cost no allocation.
class DataConversionLibrary final : public ComObject<IDataConvert> {
public:
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }

    HRESULT DataConvert(DBTYPE wSrcType, DBTYPE wDstType, DBLENGTH cbSrcLength,
                        DBLENGTH *pcbDstLength, void *pSrc, void *pDst, DBLENGTH cbDstMaxLength,
                        DBSTATUS dbsSrcStatus, DBSTATUS *pdbsStatus, BYTE bPrecision, BYTE bScale,
                        DBDATACONVERT dwFlags) override
    {
        DBSTATUS ignoredStatus;
        DBLENGTH ignoredLength;
        DBSTATUS &status = pdbsStatus ? *pdbsStatus : ignoredStatus;
        DBLENGTH &length = pcbDstLength ? *pcbDstLength : ignoredLength;
        if (dbsSrcStatus == DBSTATUS_S_ISNULL) {
            status = DBSTATUS_S_ISNULL;
            length = 0;
            return S_OK;
        }
        if (dbsSrcStatus != DBSTATUS_S_OK)
            return DB_E_BADSTATUSVALUE;
        // The most common conversion, a decimal column read as a double, without the general dispatch.
        if (wSrcType == DBTYPE_NUMERIC && wDstType == DBTYPE_R8 && pSrc && pDst) {
            const auto numeric = loadUnaligned<DB_NUMERIC>(pSrc);
            if (numeric.scale > DB_NUMERIC_MAXPRECISION) {
                status = DBSTATUS_E_CANTCONVERTVALUE;
                return DB_E_ERRORSOCCURRED;
            }
            storeUnaligned(pDst, toDouble(fromNumeric(numeric)));
            length = sizeof(double);
            status = DBSTATUS_S_OK;
            return S_OK;
        }
        if (CanConvert(wSrcType, wDstType) != S_OK) {
            status = DBSTATUS_E_CANTCONVERTVALUE;
            return DB_E_UNSUPPORTEDCONVERSION;
        }
        if (!pSrc || !pDst)
            return E_INVALIDARG;
        if (wDstType == DBTYPE_NUMERIC
            && (bPrecision > DB_NUMERIC_MAXPRECISION
                || ((dwFlags & DBDATACONVERT_DECIMALSCALE) && bPrecision && bScale > bPrecision)))
            return bPrecision > DB_NUMERIC_MAXPRECISION ? DB_E_BADPRECISION : DB_E_BADSCALE;

        ExactNumber value;
        Outcome outcome = readSource(wSrcType, pSrc, cbSrcLength, dwFlags, &value);
        if (outcome == Outcome::ok) {
            length = fixedSize(wDstType);
            outcome = write(wSrcType, pSrc, wDstType, value, pDst, cbDstMaxLength, &length,
                            bPrecision, bScale, dwFlags);
        }
        switch (outcome) {
        case Outcome::ok:
            status = DBSTATUS_S_OK;
            return S_OK;
        case Outcome::overflow:
            status = DBSTATUS_E_DATAOVERFLOW;
            return DB_E_ERRORSOCCURRED;
        case Outcome::signMismatch:
            status = DBSTATUS_E_SIGNMISMATCH;
            return DB_E_ERRORSOCCURRED;
        case Outcome::cantConvert:
            status = DBSTATUS_E_CANTCONVERTVALUE;
            return DB_E_ERRORSOCCURRED;
        case Outcome::unsupported:
            break;
        }
        status = DBSTATUS_E_CANTCONVERTVALUE;
        return DB_E_UNSUPPORTEDCONVERSION;
    }

    HRESULT CanConvert(DBTYPE wSrcType, DBTYPE wDstType) override
    {
        return isNumericSource(wSrcType) && isNumericDestination(wDstType)
                       && !(isTextType(wSrcType) && isTextType(wDstType))
                   ? S_OK
                   : S_FALSE;
    }

    HRESULT GetConversionSize(DBTYPE wSrcType, DBTYPE wDstType, DBLENGTH *pcbSrcLength,
                              DBLENGTH *pcbDstLength, void *) override
    {
        if (!pcbDstLength)
            return E_INVALIDARG;
        if (CanConvert(wSrcType, wDstType) != S_OK)
            return DB_E_UNSUPPORTEDCONVERSION;
        if (pcbSrcLength && !isTextType(wSrcType))
            *pcbSrcLength = fixedSize(wSrcType);
        // Text: sign, 38 digits, point and terminator.
        if (wDstType == DBTYPE_STR)
            *pcbDstLength = 41;
        else if (wDstType == DBTYPE_WSTR)
            *pcbDstLength = 41 * sizeof(char16_t);
        else
            *pcbDstLength = fixedSize(wDstType);
        return S_OK;
    }

private:
    static bool isTextType(DBTYPE type) { return type == DBTYPE_STR || type == DBTYPE_WSTR; }

    static Outcome write(DBTYPE sourceType, const void *source, DBTYPE type, ExactNumber value,
                         void *destination, DBLENGTH maxLength, DBLENGTH *length, BYTE precision,
                         BYTE scale, DBDATACONVERT flags)
    {
        switch (type) {
        case DBTYPE_I1:
            return writeSigned<signed char>(value, SCHAR_MIN, SCHAR_MAX, destination);
        case DBTYPE_I2:
            return writeSigned<SHORT>(value, SHRT_MIN, SHRT_MAX, destination);
        case DBTYPE_I4:
            return writeSigned<LONG>(value, INT_MIN, INT_MAX, destination);
        case DBTYPE_I8:
            return writeSigned<LONGLONG>(value, LLONG_MIN, LLONG_MAX, destination);
        case DBTYPE_UI1:
            return writeUnsigned<unsigned char>(value, UCHAR_MAX, destination);
        case DBTYPE_UI2:
            return writeUnsigned<USHORT>(value, USHRT_MAX, destination);
        case DBTYPE_UI4:
            return writeUnsigned<ULONG>(value, UINT_MAX, destination);
        case DBTYPE_UI8:
            return writeUnsigned<ULONGLONG>(value, ULLONG_MAX, destination);
        case DBTYPE_R8:
            storeUnaligned(destination, toDouble(value));
            return Outcome::ok;
        case DBTYPE_R4: {
            const double d = toDouble(value);
            if (std::fabs(d) > FLT_MAX)
                return Outcome::overflow;
            storeUnaligned(destination, static_cast<float>(d));
            return Outcome::ok;
        }
        case DBTYPE_CY: {
            if (!rescale(value, 4))
                return Outcome::overflow;
            value.scale = 0; // the stored number counts ten-thousandths
            long long units;
            if (!toSigned(value, LLONG_MIN, LLONG_MAX, &units))
                return Outcome::overflow;
            CY cy;
            cy.int64 = units;
            storeUnaligned(destination, cy);
            return Outcome::ok;
        }
        case DBTYPE_DECIMAL: {
            if (value.scale > 28 && !rescale(value, 28))
                return Outcome::overflow;
            if (value.magnitude >> 96)
                return Outcome::overflow;
            DECIMAL d = {};
            d.scale = static_cast<BYTE>(value.scale);
            d.sign = value.negative ? DECIMAL_NEG : 0;
            d.Hi32 = static_cast<ULONG>(value.magnitude >> 64);
            d.Lo64 = static_cast<ULONGLONG>(value.magnitude);
            storeUnaligned(destination, d);
            return Outcome::ok;
        }
        case DBTYPE_NUMERIC: {
            const int targetPrecision =
                precision ? precision : naturalPrecision(sourceType, value, source);
            if ((flags & DBDATACONVERT_DECIMALSCALE) && !rescale(value, scale))
                return Outcome::overflow;
            if (value.scale > targetPrecision && !rescale(value, targetPrecision))
                return Outcome::overflow;
            DB_NUMERIC numeric;
            if (!toNumeric(value, static_cast<BYTE>(targetPrecision), &numeric))
                return Outcome::overflow;
            storeUnaligned(destination, numeric);
            return Outcome::ok;
        }
        case DBTYPE_STR:
        case DBTYPE_WSTR:
            return writeText(type, value, destination, maxLength, length);
        default:
            return Outcome::unsupported;
        }
    }
};

} // namespace

HRESULT createDataConversionLibrary(IUnknown *outer, REFIID iid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    static DataConversionLibrary library;
    return library.QueryInterface(iid, object);
}

} // namespace rz
