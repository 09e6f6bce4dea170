#include "oledb/dbtypemapping.h"

QMetaType::Type qVariantTypeForDbType(DBTYPE type)
{
    switch (type) {
    case DBTYPE_I2: case DBTYPE_I4: case DBTYPE_UI1:
        return QMetaType::Int;
    case DBTYPE_R4: case DBTYPE_R8:
        return QMetaType::Double;
    case DBTYPE_CY: case DBTYPE_I8: case DBTYPE_NUMERIC:
        return QMetaType::LongLong;
    case DBTYPE_BSTR: case DBTYPE_STR: case DBTYPE_WSTR:
        return QMetaType::QString;
    case DBTYPE_BOOL:
        return QMetaType::Bool;
    case DBTYPE_UI4:
        return QMetaType::UInt;
    case DBTYPE_UI8:
        return QMetaType::ULongLong;
    case DBTYPE_DBDATE: case DBTYPE_DBTIMESTAMP:
        return QMetaType::QDateTime;
    case DBTYPE_DBTIME:
        return QMetaType::QTime;
    default:
        return QMetaType::QByteArray;
    }
}
