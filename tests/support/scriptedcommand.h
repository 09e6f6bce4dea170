#pragma once
// Scripted commands for a ScriptedProvider's sessions: text, preparation,
// properties, parameter descriptions and accessors, execution (with the
// parameter buffer and long-value streams captured as a provider would read
// them), multiple results, and the rowset of RowsetScript.
//
//     rztest::ScriptedProvider provider;
//     rztest::ScriptedCommands commands(provider);
//     commands.rowset().columns = {...};
//     commands.script.parameters = {{"@P1", DBTYPE_I4, 4}};
//     ... run statements; look at commands.log() ...

#include "scriptedrowset.h"

namespace rztest {

struct ScriptedParameter
{
    std::string name;
    DBTYPE type = DBTYPE_I4;
    DBLENGTH size = 4;
    DBPARAMFLAGS flags = DBPARAMFLAGS_ISINPUT;
    BYTE precision = 0;
    BYTE scale = 0;
};

struct CommandScript
{
    Answers prepare;
    Answers getParameterInfo;
    Answers execute;       // Execute for IID_IMultipleResults
    Answers executeRowset; // Execute for IID_IRowset
    Answers getResult;
    // Interfaces the command refuses (IID_ICommandPrepare, IID_IMultipleResults
    // as an execution target, ...).
    std::vector<IID> missingInterfaces;
    std::vector<ScriptedParameter> parameters;
    // Whether the statement produces a rowset, and the affected-row count.
    bool returnsRowset = true;
    DBROWCOUNT rowsAffected = -1;
    // Execute for IID_IMultipleResults answers S_OK without an object.
    bool multipleResultsWithoutObject = false;
    std::vector<std::string> errorRecords;
};

class ScriptedCommands
{
public:
    explicit ScriptedCommands(ScriptedProvider &provider);
    ScriptedCommands(const ScriptedCommands &) = delete;
    ScriptedCommands &operator=(const ScriptedCommands &) = delete;

    struct State;

private:
    std::shared_ptr<State> state;

public:
    CommandScript &script;
    RowsetScript &rowset();
    StatementLog &log();
};

} // namespace rztest
