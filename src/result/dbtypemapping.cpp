#include "result/dbtypemapping.h"

QVariant::Type qVariantTypeForDbType(DBTYPE type)
{
    switch (type) {
    case DBTYPE_I2: case DBTYPE_I4: case DBTYPE_UI1:
        return QVariant::Int;
    case DBTYPE_R4: case DBTYPE_R8:
        return QVariant::Double;
    case DBTYPE_CY: case DBTYPE_I8: case DBTYPE_NUMERIC:
        return QVariant::LongLong;
    case DBTYPE_BSTR: case DBTYPE_STR: case DBTYPE_WSTR:
        return QVariant::String;
    case DBTYPE_BOOL:
        return QVariant::Bool;
    case DBTYPE_UI4:
        return QVariant::UInt;
    case DBTYPE_UI8:
        return QVariant::ULongLong;
    case DBTYPE_DBDATE: case DBTYPE_DBTIMESTAMP:
        return QVariant::DateTime;
    case DBTYPE_DBTIME:
        return QVariant::Time;
    default:
        return QVariant::ByteArray;
    }
}
