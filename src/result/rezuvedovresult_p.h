#pragma once
// What one result holds: its command (with the parameter accessor), the
// driver's private data, the rowset properties, the affected-row count, the
// record of the current result set and the current row's values.

#include "oledb/oledbpropertyset.h"
#include "oledb/oledbcommand.h"

#include <QtCore/QVariant>
#include <QtCore/QVector>
#include <QtSql/QSqlRecord>

#include <vector>

class REzuVEDOVDriverPrivate;

// What turning one column's values into QVariants needs, worked out once per
// result set so that reading a value looks nothing up.
struct REzuVEDOVColumnReader
{
    const OLEDBColumnBinding *column = nullptr; // null: the accessor has no such column
    int fieldType = QMetaType::UnknownType;          // the record field's type
    DBBYTEOFFSET valueOffset = 0;
    DBBYTEOFFSET statusOffset = 0;
    bool wideStream = false; // a storage object holding UTF-16 text
};

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
    std::vector<REzuVEDOVColumnReader> columnReaders; // one per record field
    // Values of the current row; those at cachedColumnCount and after are null.
    QVector<QVariant> rowCache;
    int cachedColumnCount = 0;
};
