// The user tables and views of the connected database, read through the
// driver's own results like any application query.

#include "driver/rezuvedovdriver.h"

#include <QtCore/QVariant>
#include <QtSql/QSqlQuery>

#include <memory>

namespace {

void appendNames(QStringList &names, QSqlResult *result, const QString &sql)
{
    QSqlQuery query(result);
    query.setForwardOnly(true);
    // A failure stays in the discarded query; the list just gets nothing.
    if (!query.exec(sql))
        return;
    while (query.next())
        names.append(query.value(0).toString());
}

} // namespace

QStringList REzuVEDOVDriver::tables(QSql::TableType type) const
{
    QStringList names;
    if (!isOpen())
        return names;
    if (type & QSql::Tables)
        appendNames(names, createResult(), QStringLiteral("SELECT name FROM sys.tables"));
    if (type & QSql::Views)
        appendNames(names, createResult(), QStringLiteral("SELECT name FROM sys.VIEWS"));
    return names;
}
