// The OLE DB data conversion library (IDataConvert), with the two numeric
// conversions the plug-in asks of it: DBTYPE_I8 to DB_NUMERIC (bound numeric
// parameters) and DB_NUMERIC to DBTYPE_R8 (decimal columns read as doubles).
// Every other pair is refused with DB_E_UNSUPPORTEDCONVERSION.
//
// Precision of the DB_NUMERIC destination: bPrecision, or 19 (the digits of
// an I8) when it is 0; the scale is 0. A value that needs more digits than
// the precision gives DBSTATUS_E_DATAOVERFLOW and DB_E_ERRORSOCCURRED.

#include "common/bytes.h"
#include "platform/com/builtinclasses.h"
#include "platform/com/comobject.h"
#include "platform/com/comruntime.h"
#include "platform/services/exactnumber.h"

namespace rz {
namespace {

constexpr BYTE kI8Precision = 19;

// The library keeps no state, so one object serves every creation: its
// references count nothing and it is never deleted, which makes creating it
// (once per converted value, for some callers) cost no allocation.
class DataConversionLibrary final : public ComObject<IDataConvert> {
public:
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }

    // Both sources and destinations are of fixed size: the lengths, the
    // scale and the flags have nothing to change.
    HRESULT DataConvert(DBTYPE wSrcType, DBTYPE wDstType, DBLENGTH, DBLENGTH *pcbDstLength,
                        void *pSrc, void *pDst, DBLENGTH, DBSTATUS dbsSrcStatus,
                        DBSTATUS *pdbsStatus, BYTE bPrecision, BYTE, DBDATACONVERT) override
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
        if (CanConvert(wSrcType, wDstType) != S_OK) {
            status = DBSTATUS_E_CANTCONVERTVALUE;
            return DB_E_UNSUPPORTEDCONVERSION;
        }
        if (!pSrc || !pDst)
            return E_INVALIDARG;
        if (wSrcType == DBTYPE_NUMERIC) {
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
        if (bPrecision > DB_NUMERIC_MAXPRECISION)
            return DB_E_BADPRECISION;
        DB_NUMERIC numeric;
        if (!toNumeric(fromSigned(loadUnaligned<LONGLONG>(pSrc)),
                       bPrecision ? bPrecision : kI8Precision, &numeric)) {
            status = DBSTATUS_E_DATAOVERFLOW;
            return DB_E_ERRORSOCCURRED;
        }
        storeUnaligned(pDst, numeric);
        length = sizeof numeric;
        status = DBSTATUS_S_OK;
        return S_OK;
    }

    HRESULT CanConvert(DBTYPE wSrcType, DBTYPE wDstType) override
    {
        return (wSrcType == DBTYPE_I8 && wDstType == DBTYPE_NUMERIC)
                       || (wSrcType == DBTYPE_NUMERIC && wDstType == DBTYPE_R8)
                   ? S_OK
                   : S_FALSE;
    }

    HRESULT GetConversionSize(DBTYPE, DBTYPE, DBLENGTH *, DBLENGTH *, void *) override
    {
        return E_NOTIMPL;
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
