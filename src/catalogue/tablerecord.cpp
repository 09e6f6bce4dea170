// A table's columns as a QSqlRecord, from the column descriptions of the
// table opened directly on the session; no row is read.

#include "driver/rezuvedovdriver.h"
#include "driver/rezuvedovdriver_p.h"
#include "oledb/oledbrowset.h"
#include "qtcompat/qtcompat.h"
#include "oledb/dbtypemapping.h"
#include "qtcompat/oletext.h"

#include <QtSql/QSqlField>

QSqlRecord REzuVEDOVDriver::record(const QString &tableName) const
{
    QSqlRecord record;
    if (!isOpen() || !d->session)
        return record;

    OLEDBAccessorRowset<OLEDBParameterAccessor> table;
    table.setMaxBlobSize(8000);
    // The name goes to the provider exactly as given.
    if (FAILED(table.openTable(d->session.get(), rz::oleText(tableName))))
        return record;

    for (DBORDINAL i = 0; i < table.boundColumnCount(); ++i) {
        const OLEDBColumnBinding &column = table.boundColumn(i);
        const DBTYPE type = table.reportedColumnType(i);
        QSqlField field = rz::makeField(column.pwszName ? rz::fromOleText(column.pwszName) : QString(),
                                        qVariantTypeForDbType(type));
        field.setSqlType(type);
        field.setLength((column.dwFlags & DBCOLUMNFLAGS_ISFIXEDLENGTH) ? int(column.ulColumnSize) : -1);
        field.setPrecision(column.bPrecision);
        record.append(field);
    }
    return record;
}
