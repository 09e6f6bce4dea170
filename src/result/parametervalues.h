#pragma once
// Turning bound QVariant values into the parameter buffer: the per-value
// conversion by the value's type and the parameter's OLE DB type.

#include "oledb/oledbaccessor.h"

#include <QtCore/QDateTime>
#include <QtCore/QVariant>

class CISSHelper;

// Writes bound value `index` (parameter ordinal index + 1) into the buffer
// that bindParameters laid out, which must be zero-filled. Long parameters
// get their bytes appended to `stream` and its address as their value.
void bindParameterValue(OLEDBParameterAccessor &accessor, int index, const QVariant &value,
                        CISSHelper &stream);

// The fields of `value` in its own time specification; all zero for an
// invalid date-time.
DBTIMESTAMP toDbTimestamp(const QDateTime &value);
