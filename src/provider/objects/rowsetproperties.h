#pragma once
// The rowset properties commands and OpenRowset accept, and what they ask of
// the rowset handed back.

#include "provider/objects/propertystore.h"

namespace rz::provider {

// Declares every rowset property the provider accepts, with its default.
void declareRowsetProperties(PropertyStore &store);

struct RowsetOptions {
    // Scrolling, changes or a client cursor asked for: the forward-only rowset
    // is read into the client cursor, which offers all of that.
    bool clientCursor = false;
    LONG commandTimeout = 0; // seconds, 0 for none
};

RowsetOptions rowsetOptions(const PropertyStore &store);

} // namespace rz::provider
