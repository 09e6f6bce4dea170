#pragma once
// Moves one fetched column value into a consumer's binding: value, length
// and status parts, converted to the bound type.

#include "platform/sdk/oledb.h"
#include "provider/values/sqltypes.h"

#include <memory>
#include <string>

namespace rz::provider {

struct FetchedValue {
    const SqlServerType *type = nullptr;
    const void *data = nullptr;   // the value in the fetch block (columns that are not long)
    SQLLEN indicator = SQL_NULL_DATA; // SQL_NULL_DATA or the byte length the driver reported
    std::shared_ptr<const std::string> longValue; // long columns; null for a NULL value

    bool isNull() const { return type->isLong ? !longValue : indicator == SQL_NULL_DATA; }
};

// Whether a column of this type can be bound as `target` at all.
bool canBindColumnAs(const SqlServerType &type, DBTYPE target);

// Fills the parts the binding asks for and returns the status it wrote.
// Long values and text or bytes bound as DBTYPE_IUNKNOWN become storage objects.
DBSTATUS writeColumnBinding(const FetchedValue &value, const DBBINDING &binding, BYTE *buffer);

// The value as writeColumnBinding would write it with all three parts, but
// without copying: `data` points at the value where it lies or at `room`
// (24 bytes, 8-aligned), where a converted fixed-size value is put. False
// when it needs more: an allocation, a storage object, a failed conversion,
// or text longer than the binding's cbMaxLen leaves room for.
bool columnValueInPlace(const FetchedValue &value, const DBBINDING &binding, BYTE *room, DBSTATUS &status,
                        const void *&data, DBLENGTH &length);

} // namespace rz::provider
