#include "result/numericconversion.h"

#include "platform/com/comptr.h"

namespace {

rz::ComPtr<IDataConvert> conversionLibrary()
{
    rz::ComPtr<IDataConvert> convert;
    if (CoCreateInstance(CLSID_OLEDB_CONVERSIONLIBRARY, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IDataConvert, convert.putVoid()) != S_OK)
        convert.reset();
    return convert;
}

} // namespace

double doubleFromNumeric(const DB_NUMERIC &value)
{
    rz::ComPtr<IDataConvert> convert = conversionLibrary();
    if (!convert)
        return 0.0;
    double result = 0.0;
    DBLENGTH length = 0;
    DBSTATUS status = DBSTATUS_S_OK;
    const HRESULT hr = convert->DataConvert(DBTYPE_NUMERIC, DBTYPE_R8, sizeof(DB_NUMERIC), &length,
                                           const_cast<DB_NUMERIC *>(&value), &result, sizeof result,
                                           DBSTATUS_S_OK, &status, value.precision, value.scale,
                                           DBDATACONVERT_DEFAULT);
    return FAILED(hr) ? 0.0 : result;
}

bool toDbNumeric(qint64 value, DB_NUMERIC *out)
{
    rz::ComPtr<IDataConvert> convert = conversionLibrary();
    if (!convert)
        return false;
    DBLENGTH length = 0;
    DBSTATUS status = DBSTATUS_S_OK;
    convert->DataConvert(DBTYPE_I8, DBTYPE_NUMERIC, sizeof value, &length, &value, out,
                         sizeof(DB_NUMERIC), DBSTATUS_S_OK, &status, 0, 0, DBDATACONVERT_DEFAULT);
    return true;
}
