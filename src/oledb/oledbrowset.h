#pragma once
// The cursor over an open rowset: one row handle at a time, read into the
// row buffer of an accessor; and the pairing of an accessor with a rowset.

#include "oledb/oledbaccessor.h"
#include "platform/comptr.h"

class OLEDBRowset
{
public:
    explicit OLEDBRowset(OLEDBAccessor *ownAccessor) : accessor(ownAccessor) {}
    ~OLEDBRowset();
    OLEDBRowset(const OLEDBRowset &) = delete;
    OLEDBRowset &operator=(const OLEDBRowset &) = delete;

    // Leaves the current row (its values freed, its handle released) and
    // fetches one row `skip` rows on, forward or backward, into the buffer.
    HRESULT moveNext(LONG skip = 0, bool forward = true);
    // Restarts the rowset and fetches its first row.
    HRESULT moveFirst();
    // Reads the current row through every automatic accessor.
    HRESULT getData();
    HRESULT releaseRows();
    // Frees the current row, then releases the rowset and its IRowsetChange.
    void closeRowset();

    rz::ComPtr<IRowset> rowset;
    rz::ComPtr<IRowsetChange> rowsetChange;
    OLEDBAccessor *accessor;
    HROW currentRow = 0;
};

// Releases accessors, frees column table and buffers, then closes the
// rowset; nothing happens when no rowset is held.
void closeAccessorRowset(OLEDBAccessor &accessor, OLEDBRowset &rowset);

template <class Accessor>
class OLEDBAccessorRowset : public Accessor, public OLEDBRowset
{
public:
    OLEDBAccessorRowset() : OLEDBRowset(static_cast<OLEDBAccessor *>(this)) {}
    ~OLEDBAccessorRowset()
    {
        close();
        closeRowset();
    }

    void close() { closeAccessorRowset(*this, *this); }
};
