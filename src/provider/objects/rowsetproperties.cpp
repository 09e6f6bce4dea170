#include "provider/objects/rowsetproperties.h"

namespace rz::provider {

void declareRowsetProperties(PropertyStore &store)
{
    const GUID &rowset = DBPROPSET_ROWSET;
    store.supportBool(rowset, DBPROP_IRowset, true);
    store.supportBool(rowset, DBPROP_IAccessor, true);
    store.supportBool(rowset, DBPROP_IColumnsInfo, true);
    store.supportBool(rowset, DBPROP_IRowsetInfo, true);
    store.supportBool(rowset, DBPROP_IConvertType, true);
    store.supportBool(rowset, DBPROP_ISupportErrorInfo, true);
    store.supportBool(rowset, DBPROP_ISequentialStream, true);
    store.supportBool(rowset, DBPROP_IStream, false);
    store.supportBool(rowset, DBPROP_IRowsetChange, false);
    store.supportBool(rowset, DBPROP_IRowsetLocate, false);
    store.supportBool(rowset, DBPROP_IRowsetScroll, false);
    store.supportBool(rowset, DBPROP_CLIENTCURSOR, false);
    store.supportBool(rowset, DBPROP_CANSCROLLBACKWARDS, false);
    store.supportBool(rowset, DBPROP_CANFETCHBACKWARDS, false);
    store.supportBool(rowset, DBPROP_CANHOLDROWS, true);
    store.supportBool(rowset, DBPROP_BOOKMARKS, false);
    store.supportI4(rowset, DBPROP_COMMANDTIMEOUT, 0);
    store.supportI4(rowset, DBPROP_UPDATABILITY, 0);
    store.supportI4(rowset, DBPROP_MAXROWS, 0);
}

RowsetOptions rowsetOptions(const PropertyStore &store)
{
    const GUID &rowset = DBPROPSET_ROWSET;
    RowsetOptions options;
    options.clientCursor = store.boolValue(rowset, DBPROP_CLIENTCURSOR) || store.boolValue(rowset, DBPROP_IRowsetChange)
        || store.boolValue(rowset, DBPROP_IRowsetLocate) || store.boolValue(rowset, DBPROP_IRowsetScroll)
        || store.boolValue(rowset, DBPROP_CANSCROLLBACKWARDS) || store.boolValue(rowset, DBPROP_CANFETCHBACKWARDS)
        || store.i4Value(rowset, DBPROP_UPDATABILITY, 0) != 0;
    options.commandTimeout = store.i4Value(rowset, DBPROP_COMMANDTIMEOUT, 0);
    return options;
}

} // namespace rz::provider
