// A table's primary key from the information schema, with identity columns
// marked as auto values.

#include "driver/rezuvedovdriver.h"
#include "driver/rezuvedovdriver_p.h"
#include "oledb/oledbcommand.h"
#include "qtcompat/oletext.h"

#include <QtSql/QSqlField>

#include <cstring>

namespace {

// The tabs and double blanks are part of the text the server receives.
const QString keyQuery = QStringLiteral(
    "SELECT  COLUMN_NAME from INFORMATION_SCHEMA.TABLE_CONSTRAINTS AS K "
    "\t\t\t\t\t\t\t\t"
    "INNER JOIN INFORMATION_SCHEMA.CONSTRAINT_COLUMN_USAGE AS C ON K.CONSTRAINT_NAME = C.CONSTRAINT_NAME"
    "\t\t\t\t\t\t\t\t"
    "WHERE K.TABLE_NAME = '%1'  and K.CONSTRAINT_TYPE='PRIMARY KEY' ");

const QString identityQuery = QStringLiteral(
    "SELECT COLUMNPROPERTY( OBJECT_ID('%1'),'%2','IsIdentity')AS 'IsIdentity'");

// The catalogue command's value of the column named `name`, read as text.
const OLECHAR *textColumn(const OLEDBAccessor &accessor, const OLECHAR *name)
{
    const OLEDBColumnBinding *column = accessor.findColumnNamed(name);
    return column ? reinterpret_cast<const OLECHAR *>(accessor.valueOf(*column)) : nullptr;
}

// Whether the server calls the column an identity column; no answer leaves
// `field` as it is.
void markIdentity(IOpenRowset *session, const QString &table, const QString &column,
                  QSqlField &field)
{
    OLEDBCommand<OLEDBAccessor> command;
    const QString sql = identityQuery.arg(table).arg(column);
    if (FAILED(command.createCommand(session, rz::oleText(sql), DBGUID_DEFAULT)))
        return;
    DBROWCOUNT affected = 0;
    if (command.execute(nullptr, &affected, true) != S_OK)
        return;
    // Without a row the zero-filled buffer reads as 0 with status OK.
    command.moveNext();
    const DBSTATUS *status = command.columnStatus(1);
    const void *value = command.columnValue(1);
    if (status && value && *status == DBSTATUS_S_OK) {
        LONG isIdentity = 0;
        std::memcpy(&isIdentity, value, sizeof isIdentity);
        field.setAutoValue(isIdentity != 0);
    }
}

} // namespace

QSqlIndex REzuVEDOVDriver::primaryIndex(const QString &tableName) const
{
    QSqlIndex index(tableName, QString());
    if (!isOpen())
        return index;

    const QSqlRecord fields = record(tableName);
    const int dot = tableName.indexOf(QLatin1Char('.'));
    const QString shortName = dot < 0 ? tableName : tableName.mid(dot + 1);
    IOpenRowset *session = d->session.get();

    OLEDBCommand<OLEDBAccessor> keys;
    const QString sql = keyQuery.arg(shortName);
    if (FAILED(keys.createCommand(session, rz::oleText(sql), DBGUID_DEFAULT)))
        return index;
    DBROWCOUNT affected = 0;
    if (keys.execute(nullptr, &affected, true) != S_OK)
        return index;

    while (keys.moveNext() == S_OK) {
        const OLECHAR *name = textColumn(keys, OLESTR("COLUMN_NAME"));
        if (!name)
            continue;
        const QString columnName = rz::fromOleText(name);
        index.setName(columnName);
        QSqlField field = fields.field(columnName);
        markIdentity(session, shortName, columnName, field);
        index.append(field);
    }
    return index;
}
