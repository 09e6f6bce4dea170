#pragma once
// Where the rows of a result go: an aligned table (read in full first, to
// size the columns) or CSV (written as the rows come).

#include <QtCore/QVector>
#include <QtCore/QVariant>
#include <QtSql/QSqlRecord>

#include <memory>

namespace rzsql {

class ResultWriter {
public:
    virtual ~ResultWriter() = default;
    // True when rows appear as they are added rather than at the end.
    virtual bool writesRowsAtOnce() const = 0;
    virtual void beginRows(const QSqlRecord &columns) = 0;
    virtual void addRow(const QVector<QVariant> &values) = 0;
    virtual void endRows(qint64 rowCount) = 0;
    // A statement that returned no rows; rowsAffected is -1 when unknown.
    virtual void statementDone(int rowsAffected) = 0;
};

std::unique_ptr<ResultWriter> makeTableWriter();
std::unique_ptr<ResultWriter> makeCsvWriter();

} // namespace rzsql
