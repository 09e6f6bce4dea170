#pragma once
// Moves one fetched column value into a consumer's binding: value, length
// and status parts, converted to the bound type.

#include "platform/sdk/oledb.h"
#include "provider/values/sqltypes.h"

#include <cstddef>
#include <memory>
#include <string>

namespace rz::provider {

struct FetchedValue {
    const SqlServerType *type = nullptr;
    const void *data = nullptr;   // the value in the row record (columns that are not long)
    size_t length = 0;            // its byte length (may exceed the type's valueBytes when cut)
    bool null = true;
    std::shared_ptr<const std::string> longValue; // long columns; null for a NULL value

    bool isNull() const { return type->isLong ? !longValue : null; }
};

// Whether a column of this type can be bound as `target` at all.
bool canBindColumnAs(const SqlServerType &type, DBTYPE target);

// Fills the parts the binding asks for and returns the status it wrote.
// Long values and text or bytes bound as DBTYPE_IUNKNOWN become storage objects.
DBSTATUS writeColumnBinding(const FetchedValue &value, const DBBINDING &binding, BYTE *buffer);

} // namespace rz::provider
