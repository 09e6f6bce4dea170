#include "driver/rezuvedovdriver.h"

#include "driver/rezuvedovdriver_p.h"
#include "result/rezuvedovresult.h"

REzuVEDOVDriver::REzuVEDOVDriver(QObject *parent)
    : QSqlDriver(parent), d(new REzuVEDOVDriverPrivate)
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
