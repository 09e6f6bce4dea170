#pragma once
// The cursor over an open rowset: one row handle at a time, read into the
// row buffer of an accessor; and the pairing of an accessor with a rowset.

#include "oledb/oledbaccessor.h"
#include "platform/com/comptr.h"

class OLEDBRowset
{
public:
    explicit OLEDBRowset(OLEDBAccessor *ownAccessor) : accessor(ownAccessor) {}
    ~OLEDBRowset();
    OLEDBRowset(const OLEDBRowset &) = delete;
    OLEDBRowset &operator=(const OLEDBRowset &) = delete;

    // Takes over a rowset the provider opened, with its IRowsetChange when
    // it offers one.
    void attachRowset(rz::ComPtr<IRowset> opened);

    // Leaves the current row (its values freed, its handle released) and
    // fetches one row `skip` rows on, forward or backward, into the buffer.
    HRESULT moveNext(LONG skip = 0, bool forward = true);
    // Restarts the rowset and fetches its first row.
    HRESULT moveFirst();
    // Restarts the rowset and fetches one row back from the start: the last.
    HRESULT moveLast();
    // Counts the rows by walking them from the start, then stands on the
    // last row again; -1 when the rowset cannot restart or the last row
    // cannot be read.
    int countRowsByWalking();
    // Reads the current row through every automatic accessor.
    HRESULT getData();
    HRESULT releaseRows();
    // Frees the current row, then releases the rowset and its IRowsetChange.
    void closeRowset();

    // The number of rows as IRowsetScroll reports it; the HRESULT of the
    // first call that failed when it cannot.
    HRESULT rowCount(DBCOUNTITEM *rows) const;

    IRowset *rowsetInterface() const { return rowset.get(); }
    bool hasRowset() const { return bool(rowset); }
    HROW currentRowHandle() const { return currentRow; }

private:
    friend class OLEDBCommandPart;
    friend void closeAccessorRowset(OLEDBAccessor &accessor, OLEDBRowset &rowset);

    // Fetches one row into currentRow (none is held) and reads it.
    HRESULT fetchRow(LONG skip, bool forward);
    // Leaves the current row, restarts the rowset and fetches one row
    // `skip` rows from the start (-1: back from it, the last row).
    HRESULT restartAndFetch(LONG skip);

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

    // Opens the table named `name` (exactly as given) on `session` and binds
    // its columns; no row is read.
    HRESULT openTable(IOpenRowset *session, const OLECHAR *name)
    {
        return openTableRowset(*this, *this, session, name);
    }
};

// See OLEDBAccessorRowset::openTable.
HRESULT openTableRowset(OLEDBAccessor &accessor, OLEDBRowset &rowset, IOpenRowset *session,
                        const OLECHAR *name);
