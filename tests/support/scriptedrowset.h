#pragma once
// A scripted OLE DB rowset for unit tests: columns and rows as a test lays
// them down, accessors with any bindings, row moves that follow OLE DB's
// next-fetch position (or refuse backward moves when forward-only), long
// values as stream objects, and failures on demand. Every call it receives
// is recorded in a StatementLog shared with the command that made it.
//
//     rztest::RowsetScript s;
//     s.columns = {{"id", DBTYPE_I4, 4}, {"name", DBTYPE_WSTR, 10}};
//     s.rows = {{rztest::cell<qint32>(1), rztest::wideText(u"one")}};

#include "scriptedprovider.h"

#include "platform/sdk/oledb.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rztest {

// One column as the rowset describes it.
struct ScriptedColumn
{
    std::string name;
    DBTYPE type = DBTYPE_I4;
    DBLENGTH size = 4;
    DBCOLUMNFLAGS flags = 0;
    BYTE precision = 0;
    BYTE scale = 0;
};

// A value as the provider holds it: its bytes (text without terminator), or
// NULL (nullopt).
using Cell = std::optional<std::string>;

template <class T>
Cell cell(const T &value)
{
    return std::string(reinterpret_cast<const char *>(&value), sizeof value);
}
inline Cell nullCell() { return std::nullopt; }
inline Cell narrowText(const std::string &text) { return text; }
Cell wideText(const std::u16string &text);

struct RowsetScript
{
    std::vector<ScriptedColumn> columns;
    std::vector<std::vector<Cell>> rows;

    // Forward-only rowsets refuse backward moves and re-run the command on a
    // restart after the first fetch; they offer no IRowsetScroll.
    bool scrollable = true;
    std::vector<IID> missingInterfaces;

    Answers getColumnInfo;
    Answers createAccessor;
    Answers restartPosition;
    Answers getData;
    // Any answer other than S_OK replaces the move (no row is fetched).
    Answers getNextRows;
    // GetApproximatePosition's answer; it reports the script's row count.
    Answers getApproximatePosition;

    // Long values: the stream fails with E_FAIL once this many bytes were
    // handed out (-1: never); short reads answer S_FALSE instead of S_OK.
    long long streamFailsAfter = -1;
    bool shortReadIsFalse = false;

    // What IRowsetInfo::GetProperties answers, as VT_BOOL values.
    std::vector<std::pair<DBPROPID, bool>> properties = {{DBPROP_ISequentialStream, true}};

    // Descriptions of the error object a failing call leaves behind.
    std::vector<std::string> errorRecords;
};

// One execution as a command received it.
struct ReceivedExecution
{
    std::string buffer;              // the parameter buffer's bytes
    std::vector<DBBINDING> bindings; // the accessor's bindings (pObject null)
    std::vector<IID> objectInterfaces; // per binding: DBOBJECT iid, or IID_NULL
    std::vector<DWORD> objectFlags;
    std::vector<std::string> streams; // per binding: bytes read from its stream
    std::vector<bool> sameStream;     // per binding: the stream pointer of the first long one
};

struct StatementLog
{
    // Every call in order: "Command.Execute(IID_IRowset)", "Rowset.GetNextRows(0,1)",
    // "Rowset.ReleaseRows(1)", "Rowset.ReleaseAccessor(1)", "~Rowset", "~Stream",
    // "Command.ReleaseAccessor(1)", "~Command", "~MultipleResults", ...
    std::vector<std::string> calls;
    std::vector<ReceivedExecution> executions;
    std::vector<RecordedPropertySet> propertySets;
    // Every row accessor a rowset created: its bindings.
    std::vector<std::vector<DBBINDING>> rowBindings;
    // Per row accessor, per binding: the DBOBJECT's interface, or IID_NULL.
    std::vector<std::vector<IID>> rowObjects;
    std::vector<ULONG> streamReads; // the size of every stream Read
    int liveCommands = 0;
    int liveRowsets = 0;
    int liveStreams = 0;
    int liveRows = 0;
    int liveAccessors = 0;
    // Bindings whose parts reach past the row size given to CreateAccessor.
    int bindingsOutOfRow = 0;

    int count(const std::string &prefix) const { return countCalls(calls, prefix); }
    // The position of the first call starting with `prefix`, or -1.
    int indexOf(const std::string &prefix) const;
    void clear() { calls.clear(); }
};

struct StatementState
{
    RowsetScript rowset;
    StatementLog log;
    // Set for bulk tests: calls are then not written down (counts still are).
    bool quiet = false;
    void record(std::string call)
    {
        if (!quiet)
            log.calls.push_back(std::move(call));
    }
};

// A rowset over `state->rowset`, recording into `state->log`.
HRESULT createScriptedRowset(const std::shared_ptr<StatementState> &state, REFIID iid,
                             IUnknown **rowset);

} // namespace rztest
