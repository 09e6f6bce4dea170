#pragma once
// The plug-in's QSqlResult: one statement on the connection's session, with
// its command, rowset, parameters, record and row cache (all kept in
// REzuVEDOVResultPrivate).

#include <QtSql/QSqlRecord>
#include <QtSql/QSqlResult>

class REzuVEDOVDriver;
class REzuVEDOVDriverPrivate;
class REzuVEDOVResultPrivate;

class REzuVEDOVResult : public QSqlResult
{
public:
    REzuVEDOVResult(const REzuVEDOVDriver *db, REzuVEDOVDriverPrivate *p);
    ~REzuVEDOVResult() override;

    QVariant handle() const override;

protected:
    bool exec() override;
    bool prepare(const QString &query) override;
    bool reset(const QString &query) override;
    bool fetch(int index) override;
    bool fetchFirst() override;
    bool fetchLast() override;
    bool fetchNext() override;
    bool fetchPrevious() override;
    QVariant data(int field) override;
    bool isNull(int field) override;
    int size() override;
    int numRowsAffected() override;
    QSqlRecord record() const override;
    QVariant lastInsertId() const override;
    void virtual_hook(int id, void *data) override;

private:
    void reportFetchError();
    void clearRowCache();
    void convertColumn(int index);

    REzuVEDOVResultPrivate *d;
    REzuVEDOVDriverPrivate *driverPrivate;
    Q_DISABLE_COPY(REzuVEDOVResult)
};
