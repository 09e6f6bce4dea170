#pragma once
// The plug-in object Qt's loader creates: it chooses the SQL Server OLE DB
// provider once and creates a REzuVEDOVDriver for the name "REZUVEDOV".

#include <QtSql/QSqlDriverPlugin>

class REzuVEDOVDriverPlugin : public QSqlDriverPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QSqlDriverFactoryInterface_iid FILE "rezuvedov.json")
public:
    REzuVEDOVDriverPlugin();
    QSqlDriver *create(const QString &name) override;
};
