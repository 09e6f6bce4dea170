#pragma once
// Integer and DB_NUMERIC conversions through the OLE DB data conversion
// library, which is created for each conversion and released after it.

#include "platform/sdk/oledb.h"

#include <QtCore/QtGlobal>

// DB_NUMERIC to double with the value's own precision and scale; 0.0 when
// the library cannot be had or the conversion fails.
double doubleFromNumeric(const DB_NUMERIC &value);

// A 64-bit integer as DB_NUMERIC; false only when the library cannot be had.
bool toDbNumeric(qint64 value, DB_NUMERIC *out);
