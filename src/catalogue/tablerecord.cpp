// A table's columns as a QSqlRecord, from the column descriptions of the
// table opened directly on the session; no row is read.

#include "driver/rezuvedovdriver.h"
#include "driver/rezuvedovdriver_p.h"
#include "oledb/oledbrowset.h"
#include "qtcompat/qtcompat.h"
#include "oledb/dbtypemapping.h"

#include <QtSql/QSqlField>

QSqlRecord REzuVEDOVDriver::record(const QString &tableName) const
{
    QSqlRecord record;
    if (!isOpen() || !d->session)
        return record;

    OLEDBAccessorRowset<OLEDBParameterAccessor> table;
    table.maxBlobSize = 8000;
    // The name goes to the provider exactly as given.
    QString name = tableName;
    DBID tableId = {};
    tableId.eKind = DBKIND_NAME;
    tableId.uName.pwszName = reinterpret_cast<LPOLESTR>(name.data());
    const HRESULT hr = d->session->OpenRowset(nullptr, &tableId, nullptr, IID_IRowset, 0,
                                              nullptr, table.rowset.putUnknown());
    if (FAILED(hr) || !table.rowset)
        return record;
    table.rowset.query(IID_IRowsetChange, table.rowsetChange);
    if (FAILED(table.bindColumns(table.rowset.get())))
        return record;

    for (DBORDINAL i = 0; i < table.columnCount; ++i) {
        const OLEDBColumnBinding &column = table.columnInfo[i];
        const DBTYPE type = i < DBORDINAL(table.columnTypes.size()) ? table.columnTypes.at(int(i))
                                                                     : column.wType;
        QSqlField field = rz::makeField(column.pwszName ? QString::fromUtf16(column.pwszName) : QString(),
                                        qVariantTypeForDbType(type));
        field.setSqlType(type);
        field.setLength((column.dwFlags & DBCOLUMNFLAGS_ISFIXEDLENGTH) ? int(column.ulColumnSize) : -1);
        field.setPrecision(column.bPrecision);
        record.append(field);
    }
    return record;
}
