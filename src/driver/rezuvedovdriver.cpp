#include "driver/rezuvedovdriver.h"

#include "driver/rezuvedovdriver_p.h"
#include "result/rezuvedovresult.h"

#include <QtSql/private/qsqldriver_p.h>

// QSqlDriver::dbmsType() is not virtual: it reads the base's private part, so
// the base is built with one that already names SQL Server. Qt's models and
// applications key their T-SQL on that answer.
REzuVEDOVDriver::REzuVEDOVDriver(QObject *parent)
    : QSqlDriver(*new QSqlDriverPrivate(QSqlDriver::MSSqlServer), parent),
      d(new REzuVEDOVDriverPrivate)
{
}

REzuVEDOVDriver::~REzuVEDOVDriver()
{
    // Data source first, then session; close() is deliberately not called.
    d->dataSource.reset();
    d->session.reset();
    delete d;
}

bool REzuVEDOVDriver::hasFeature(DriverFeature f) const
{
    return f != NamedPlaceholders;
}

QVariant REzuVEDOVDriver::handle() const
{
    return QVariant();
}

QSqlResult *REzuVEDOVDriver::createResult() const
{
    return new REzuVEDOVResult(this, d);
}
