#pragma once
// What one result holds: its command (with the parameter accessor), the
// driver's private data, the rowset properties, the affected-row count, the
// record of the current result set and the current row's values.

#include "driver/datasource.h"
#include "oledb/oledbcommand.h"

#include <QtCore/QVariant>
#include <QtCore/QVector>
#include <QtSql/QSqlRecord>

class REzuVEDOVDriverPrivate;

class REzuVEDOVResultPrivate
{
public:
    explicit REzuVEDOVResultPrivate(REzuVEDOVDriverPrivate *driver);
    ~REzuVEDOVResultPrivate();

    // Frees the current row, closes accessor and rowset, drops the
    // multiple-results object: what one statement leaves for the next.
    void tearDownStatement();

    OLEDBCommand<OLEDBParameterAccessor> command;
    REzuVEDOVDriverPrivate *driverPrivate;
    OLEDBPropertySet rowsetProperties;
    DBROWCOUNT rowsAffected = 0;
    QSqlRecord record;
    QVector<QVariant> rowCache;
    int cachedColumnCount = 0;
};
