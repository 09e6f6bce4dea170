#pragma once
// The dynamic column accessor: binds every column of an open rowset into one
// row buffer (value, 8-byte length and 4-byte status part per column) with a
// single row accessor, so that one IRowset::GetData fills a whole row.
// Long columns are bound as storage objects; only their pointer lands in
// the buffer.

#include "platform/oledb.h"

#include <QtCore/QList>

#include <cstddef>
#include <cstdint>

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

class OLEDBAccessor
{
public:
    OLEDBAccessor() = default;
    virtual ~OLEDBAccessor();
    OLEDBAccessor(const OLEDBAccessor &) = delete;
    OLEDBAccessor &operator=(const OLEDBAccessor &) = delete;

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
    void *columnValue(DBORDINAL ordinal) const;
    DBLENGTH *columnLength(DBORDINAL ordinal) const;
    DBSTATUS *columnStatus(DBORDINAL ordinal) const;

    OLEDBAccessorEntry *accessors = nullptr;
    ULONG accessorCount = 0;
    BYTE *buffer = nullptr;
    DBORDINAL columnCount = 0;
    OLEDBColumnBinding *columnInfo = nullptr;
    OLECHAR *columnNames = nullptr;
    bool lookupByOrdinal = false;
    DBLENGTH maxBlobSize = 8000;
    DBLENGTH bufferSize = 0;

protected:
    // Told the reported type of each column, in order, before rewriting.
    virtual void beginColumnTypes() {}
    virtual void noteColumnType(DBTYPE) {}
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

    DBBINDING *findParameter(DBORDINAL ordinal) const;
    void *paramValue(DBORDINAL ordinal) const;
    DBLENGTH *paramLength(DBORDINAL ordinal) const;
    bool setParamStatus(DBORDINAL ordinal, DBSTATUS status);
    bool setParamString(DBORDINAL ordinal, const char *text, DBSTATUS status);
    bool setParamWString(DBORDINAL ordinal, const char16_t *text, DBSTATUS status);
    // Writes `size` bytes of `value` into the parameter's value part, never
    // more than the part holds; false when there is no such parameter.
    bool setParamBytes(DBORDINAL ordinal, const void *value, size_t size);
    // The type the provider reported for the parameter at this position
    // (before a long parameter was rebound), DBTYPE_IUNKNOWN when unknown.
    DBTYPE reportedParameterType(int index) const;

    DB_UPARAMS paramBindingCount = 0;
    DBBINDING *paramBindings = nullptr;
    OLECHAR *paramNames = nullptr;
    DBLENGTH paramBufferSize = 0;
    BYTE *paramBuffer = nullptr;
    // Column types as the provider reported them, before binding rewrote them.
    QList<DBTYPE> columnTypes;
    // Parameter types as reported, kept apart from the column types.
    QList<DBTYPE> parameterTypes;

    // Parameters larger than this travel as a stream.
    static constexpr DBLENGTH longParameterSize = 8000;

protected:
    void beginColumnTypes() override { columnTypes.clear(); }
    void noteColumnType(DBTYPE type) override { columnTypes.append(type); }
};
