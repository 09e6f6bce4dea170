#pragma once
// The plug-in's QSqlDriver: one object per QSqlDatabase connection. All state
// lives in REzuVEDOVDriverPrivate; results keep a plain pointer to it.

#include <QtSql/QSqlDriver>
#include <QtSql/QSqlError>
#include <QtSql/QSqlIndex>
#include <QtSql/QSqlRecord>

struct RealConnectResult;
class REzuVEDOVDriverPrivate;

class REzuVEDOVDriver : public QSqlDriver
{
    Q_OBJECT
public:
    explicit REzuVEDOVDriver(QObject *parent = nullptr);
    ~REzuVEDOVDriver() override;

    bool beginTransaction() override;
    bool commitTransaction() override;
    bool rollbackTransaction() override;
    QStringList tables(QSql::TableType type) const override;
    QSqlIndex primaryIndex(const QString &tableName) const override;
    QSqlRecord record(const QString &tableName) const override;
    QString formatValue(const QSqlField &field, bool trimStrings = false) const override;
    QString escapeIdentifier(const QString &identifier, IdentifierType type) const override;
    QVariant handle() const override;
    bool hasFeature(DriverFeature f) const override;
    void close() override;
    QSqlResult *createResult() const override;
    bool open(const QString &db, const QString &user, const QString &password,
              const QString &host, int port, const QString &connOpts) override;

protected:
    RealConnectResult realConnect(const QString &db, const QString &user,
                                  const QString &password, const QString &host,
                                  const QString &provider);

private:
    REzuVEDOVDriverPrivate *d;
    Q_DISABLE_COPY(REzuVEDOVDriver)
};
