#pragma once
// The dynamic column accessor: binds every column of an open rowset into one
// row buffer (value, 8-byte length and 4-byte status part per column) with a
// single row accessor, so that one IRowset::GetData fills a whole row.
// Long columns are bound as storage objects; only their pointer lands in
// the buffer.

#include "platform/com/ownedmemory.h"
#include "platform/sdk/oledb.h"
#include "platform/services/alignment.h"

#include <QtCore/QList>

#include <cstddef>
#include <cstdint>
#include <memory>

struct OLEDBAccessorEntry
{
    HACCESSOR handle;
    bool autoAccessor; // filled by getData on every row move
};

// One entry of the column table. After binding, pTypeInfo carries the
// column's value offset in the row buffer, wType and ulColumnSize the bound
// type and size.
using OLEDBColumnBinding = DBCOLUMNINFO;

// Where one column's three parts sit in the row buffer.
struct OLEDBColumnParts
{
    DBBYTEOFFSET value;
    DBBYTEOFFSET length;
    DBBYTEOFFSET status;
    DBBYTEOFFSET end; // the running offset after this column
};

using rz::roundUp;

// 1, 2, 4 or 8: where a value of this type may start in the row buffer.
size_t typeAlignment(DBTYPE type);

// The row-buffer layout rule for one column starting at `runningOffset`.
OLEDBColumnParts columnParts(DBBYTEOFFSET runningOffset, DBTYPE type, DBLENGTH size);
// The length and status parts of a column whose value part starts at `value`.
OLEDBColumnParts columnPartsAt(DBBYTEOFFSET value, DBLENGTH size);

// Value offset a bound column table entry carries.
inline DBBYTEOFFSET columnValueOffset(const OLEDBColumnBinding &column)
{
    return reinterpret_cast<uintptr_t>(column.pTypeInfo);
}

// An array of bindings that owns it and every binding's DBOBJECT (made
// with new): both are freed on every path, once.
class BindingArray
{
public:
    BindingArray() = default;
    // `count` zero-filled bindings; failed() when they cannot be had.
    explicit BindingArray(DBORDINAL count);
    ~BindingArray() { reset(); }
    BindingArray(BindingArray &&other) noexcept;
    BindingArray &operator=(BindingArray &&other) noexcept;
    BindingArray(const BindingArray &) = delete;
    BindingArray &operator=(const BindingArray &) = delete;

    void reset() noexcept;
    bool failed() const { return count != 0 && !bindings; }
    DBBINDING *get() const { return bindings.get(); }
    DBBINDING &operator[](DBORDINAL i) const { return bindings[i]; }
    DBORDINAL size() const { return count; }

private:
    std::unique_ptr<DBBINDING[]> bindings;
    DBORDINAL count = 0;
};

// Fills `binding`; a null binding throws CAtlException(E_FAIL). A DBOBJECT
// handed over here is allocated with new; createAccessor deletes it.
void bindEntry(DBBINDING *binding, DBORDINAL ordinal, DBTYPE type, DBLENGTH maxLength,
               BYTE precision, BYTE scale, DBPARAMIO paramIO, DBBYTEOFFSET valueOffset,
               DBBYTEOFFSET lengthOffset, DBBYTEOFFSET statusOffset, DBOBJECT *object);

// IAccessor::CreateAccessor for row or parameter data (chosen by the first
// binding's eParamIO); frees every binding's DBOBJECT afterwards.
HRESULT createAccessor(DBBINDING *bindings, DBCOUNTITEM count, HACCESSOR *handle,
                       DBLENGTH rowSize, IAccessor *accessor);

// Reads Boolean rowset properties; results[i] is -1 (true) or 0.
HRESULT queryRowsetProperties(IUnknown *rowset, const DBPROPID *ids, LONG *results, ULONG count);

// Owns the accessor handle table, the row buffer and the column table with
// its names (provider memory). Valid from a successful bindColumns until
// the owning rowset closes it.
class OLEDBAccessor
{
public:
    OLEDBAccessor() = default;
    virtual ~OLEDBAccessor();
    OLEDBAccessor(const OLEDBAccessor &) = delete;
    OLEDBAccessor &operator=(const OLEDBAccessor &) = delete;

    // Columns whose reported size exceeds this are bound as storage objects.
    void setMaxBlobSize(DBLENGTH size) { maxBlobSize = size; }

    // Binds every column of `rowset` (see the layout rule above).
    HRESULT bindColumns(IUnknown *rowset);
    HRESULT allocateAccessors(ULONG count);
    // Frees what the values of the last fetched row own (streams, BSTRs,...).
    void freeRecordMemory(IUnknown *rowset);
    HRESULT releaseAccessors(IUnknown *rowset);
    // Frees the column table, the names buffer and the row buffer.
    void freeColumns();

    // The column with this ordinal (by position, or by search when
    // lookupByOrdinal is set) and its index in the column table; null if none.
    OLEDBColumnBinding *findColumn(DBORDINAL ordinal, DBORDINAL *index = nullptr) const;
    // The first column whose name is exactly `name`; null if none.
    const OLEDBColumnBinding *findColumnNamed(const OLECHAR *name) const;
    void *columnValue(DBORDINAL ordinal) const;
    DBLENGTH *columnLength(DBORDINAL ordinal) const;
    DBSTATUS *columnStatus(DBORDINAL ordinal) const;
    // Where a bound column's value part starts in the current row; null
    // before binding.
    const BYTE *valueOf(const OLEDBColumnBinding &column) const;

    // The column table in its order; `index` below boundColumnCount().
    DBORDINAL boundColumnCount() const { return columnCount; }
    const OLEDBColumnBinding &boundColumn(DBORDINAL index) const { return columnInfo[index]; }
    const BYTE *rowBuffer() const { return buffer.get(); }
    DBLENGTH rowBufferSize() const { return bufferSize; }
    // True when the column table was handed in rather than read from the rowset.
    bool searchesByOrdinal() const { return lookupByOrdinal; }

protected:
    // Told the reported type of each column, in order, before rewriting.
    virtual void beginColumnTypes() {}
    virtual void noteColumnType(DBTYPE) {}

private:
    friend class OLEDBRowset;

    std::unique_ptr<OLEDBAccessorEntry[]> accessors;
    ULONG accessorCount = 0;
    std::unique_ptr<BYTE[]> buffer;
    DBORDINAL columnCount = 0;
    rz::TaskMem<OLEDBColumnBinding> columnInfo;
    rz::TaskMem<OLECHAR> columnNames;
    bool lookupByOrdinal = false;
    DBLENGTH maxBlobSize = 8000;
    DBLENGTH bufferSize = 0;
};

class OLEDBParameterAccessor : public OLEDBAccessor
{
public:
    OLEDBParameterAccessor() = default;
    ~OLEDBParameterAccessor() override;

    // Describes the command's parameters, lays out the parameter buffer and
    // creates the parameter accessor, once per prepared command; later
    // calls hand back the existing buffer.
    HRESULT bindParameters(HACCESSOR *accessor, ICommand *command, void **buffer,
                           bool bindLength, bool bindStatus);
    // Drops the parameter bindings, names and buffer so that the next
    // bindParameters describes the next command afresh.
    void freeParameters();
    // Zero-fills the parameter buffer, as value conversion expects it.
    void clearParameterBuffer();

    DBBINDING *findParameter(DBORDINAL ordinal) const;
    // The position of `binding` among the parameter bindings.
    int parameterPosition(const DBBINDING *binding) const;
    void *paramValue(DBORDINAL ordinal) const;
    DBLENGTH *paramLength(DBORDINAL ordinal) const;
    bool setParamStatus(DBORDINAL ordinal, DBSTATUS status);
    bool setParamString(DBORDINAL ordinal, const char *text, DBSTATUS status);
    bool setParamWString(DBORDINAL ordinal, const OLECHAR *text, DBSTATUS status);
    // Writes `size` bytes of `value` into the parameter's value part, never
    // more than the part holds; false when there is no such parameter.
    bool setParamBytes(DBORDINAL ordinal, const void *value, size_t size);
    // The type the provider reported for the parameter at this position
    // (before a long parameter was rebound), DBTYPE_IUNKNOWN when unknown.
    DBTYPE reportedParameterType(int index) const;

    // The column types as the provider reported them, before binding
    // rewrote them; reportedColumnType falls back on the bound type.
    const QList<DBTYPE> &reportedColumnTypes() const { return columnTypes; }
    DBTYPE reportedColumnType(DBORDINAL index) const;

    // Parameters larger than this travel as a stream.
    static constexpr DBLENGTH longParameterSize = 8000;

protected:
    void beginColumnTypes() override { columnTypes.clear(); }
    void noteColumnType(DBTYPE type) override { columnTypes.append(type); }

private:
    DB_UPARAMS paramBindingCount = 0;
    BindingArray paramBindings;
    rz::TaskMem<OLECHAR> paramNames;
    DBLENGTH paramBufferSize = 0;
    std::unique_ptr<BYTE[]> paramBuffer;
    // Column types as the provider reported them, before binding rewrote them.
    QList<DBTYPE> columnTypes;
    // Parameter types as reported, kept apart from the column types.
    QList<DBTYPE> parameterTypes;
};
