#pragma once
// Provider selection at plug-in start: which SQL Server OLE DB provider the
// OLE DB service components can create.

#include "platform/sdk/oledb.h"

#include <QtCore/QString>

// Whether the service components can create a data source for `name`.
bool probeProvider(const QString &name, IDataInitialize *dataInit);

// "MSOLEDBSQL19" if it can be created, else "MSOLEDBSQL", else an empty text.
QString chooseProvider();
