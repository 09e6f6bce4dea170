#pragma once
// Reading one column of the current row out of the row buffer.

#include "oledb/oledbaccessor.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

// A text column held in the row buffer (DBTYPE_STR from the local 8-bit code
// page, DBTYPE_WSTR from UTF-16, DBTYPE_BSTR); a null string for NULL and
// for every other bound type.
QString readColumnString(const OLEDBAccessor &accessor, DBORDINAL ordinal);
// The same for a value that is not NULL, given its bound column and where
// its value part starts.
QString readColumnString(const OLEDBColumnBinding &column, const BYTE *value);

// A long column bound as a storage object, read whole through
// ISequentialStream in 64 KB chunks; empty for NULL or a missing stream.
QByteArray readColumnBytes(const OLEDBAccessor &accessor, DBORDINAL ordinal);

// The bytes of a column held in the row buffer, as many as its length part
// says (never more than its value part holds).
QByteArray readColumnBufferBytes(const OLEDBAccessor &accessor, DBORDINAL ordinal);
