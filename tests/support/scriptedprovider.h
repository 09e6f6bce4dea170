#pragma once
// A scripted OLE DB provider for unit tests. While a ScriptedProvider object
// lives, its class is registered under the program id it was given (a real
// provider name included; the earlier registration comes back afterwards),
// so CLSIDFromProgID, CoCreateInstance and the service components create its
// data sources. Data sources and sessions record every call they receive, in
// order, and answer as `script` says:
//
//     rztest::ScriptedProvider p("MSOLEDBSQL19");
//     p.script.initialize = E_FAIL;
//     p.script.errorRecords = {"a", "b", "c"};
//     ... open a connection ...
//     EXPECT_EQ(p.log.propertySets()[0].properties[0].id, DBPROP_INIT_TIMEOUT);
//
// Objects keep the script and the log alive, so a driver may outlive the
// ScriptedProvider object; only the registration ends with it.

#include "platform/sdk/oledb.h"

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace rztest {

class ClassRegistration;

// What one scripted method answers: each call takes the next code, the last
// one repeats for ever. `p.script.initialize = E_FAIL;` or `= {S_FALSE, S_OK};`.
class Answers
{
public:
    Answers(HRESULT hr = S_OK) : codes{hr} {}
    Answers(std::initializer_list<HRESULT> list) : codes(list) { if (codes.empty()) codes.push_back(S_OK); }
    HRESULT next() { return codes[used < codes.size() ? used++ : codes.size() - 1]; }

private:
    std::vector<HRESULT> codes;
    std::size_t used = 0;
};

struct ProviderScript
{
    Answers createInstance;  // the class factory (CreateDBInstance, CoCreateInstance)
    Answers setProperties;   // IDBProperties::SetProperties
    Answers initialize;      // IDBInitialize::Initialize
    Answers createSession;   // IDBCreateSession::CreateSession
    Answers startTransaction; // ITransactionLocal::StartTransaction
    Answers commit;          // ITransaction::Commit
    Answers abort;           // ITransaction::Abort

    // Interfaces that data sources and sessions refuse in QueryInterface.
    std::vector<IID> missingInterfaces;
    // Whether a CreateSession that answers success hands back no session.
    bool nullSession = false;

    // The descriptions of the error object that every failing call leaves on
    // the thread (with SetErrorInfo); no error object when empty.
    std::vector<std::string> errorRecords;
    // Whether that object offers IErrorRecords; if not, it is a single
    // IErrorInfo with the first description.
    bool errorRecordsInterface = true;
    // What ISupportErrorInfo::InterfaceSupportsErrorInfo answers.
    HRESULT supportsErrorInfo = S_OK;

    // IDBCreateCommand::CreateCommand and IOpenRowset::OpenRowset hand over to
    // these; without them the calls answer E_NOTIMPL.
    std::function<HRESULT(IUnknown *outer, REFIID iid, IUnknown **command)> onCreateCommand;
    std::function<HRESULT(IUnknown *outer, DBID *table, DBID *index, REFIID iid,
                          ULONG setCount, DBPROPSET *sets, IUnknown **rowset)> onOpenRowset;
};

// One property as a data source received it.
struct RecordedProperty
{
    DBPROPID id = 0;
    DBPROPOPTIONS options = 0;
    VARTYPE type = VT_EMPTY;
    bool nullString = false; // VT_BSTR with a null pointer
    std::string text;        // VT_BSTR, as UTF-8
    long long number = 0;    // integer and boolean types
};

struct RecordedPropertySet
{
    GUID guid = {};
    std::vector<RecordedProperty> properties;

    // The first property with `id`, or null.
    const RecordedProperty *find(DBPROPID id) const;
};

// How many of `calls` start with `prefix`.
int countCalls(const std::vector<std::string> &calls, const std::string &prefix);

class CallLog
{
public:
    // Every call in order, as "Method(arguments)", e.g. "Initialize()",
    // "StartTransaction(4096,0,null,null)", "Commit(0,2,0)"; object ends as
    // "~DataSource" and "~Session".
    std::vector<std::string> calls;
    // Every property set received by SetProperties, in order, over all calls.
    std::vector<RecordedPropertySet> sets;
    int liveDataSources = 0;
    int liveSessions = 0;

    const std::vector<RecordedPropertySet> &propertySets() const { return sets; }
    // The DBPROP_INIT_DATASOURCE texts received, in order: the hosts tried.
    std::vector<std::string> dataSources() const;
    // How many calls start with `prefix` (a method name, say).
    int count(const std::string &prefix) const { return countCalls(calls, prefix); }
};

class ScriptedProvider
{
public:
    explicit ScriptedProvider(const std::string &progId = "MSOLEDBSQL19");
    ~ScriptedProvider();
    ScriptedProvider(const ScriptedProvider &) = delete;
    ScriptedProvider &operator=(const ScriptedProvider &) = delete;

    const CLSID &clsid() const;

    struct State;

private:
    std::shared_ptr<State> state;

public:
    ProviderScript &script;
    CallLog &log;

private:
    std::unique_ptr<ClassRegistration> registration;
};

// The data source that a test creates directly, outside of open().
// Its answers come from `provider`'s script.
HRESULT createScriptedDataSource(ScriptedProvider &provider, REFIID iid, void **object);

// Leaves an error object with these descriptions on the calling thread, as a
// failing provider call does; `withRecords` as in ProviderScript.
void leaveErrorObject(const std::vector<std::string> &descriptions, bool withRecords = true);

// A scripted call's answer `hr`: a failure leaves an error object with
// `descriptions` behind, unless there are none.
HRESULT failWith(HRESULT hr, const std::vector<std::string> &descriptions, bool withRecords = true);

// Whether a scripted object withholds `iid` (listed in `withheld`, or
// `alsoWithheld`); if so, QueryInterface's *out, when given, is cleared.
bool withholds(const std::vector<IID> &withheld, REFIID iid, void **out, bool alsoWithheld = false);

// A property set as the scripted objects record it.
RecordedPropertySet recordSet(const DBPROPSET &set);

// Text for a GUID, for test messages; an interface's name, for the call logs.
std::string toString(const GUID &guid);
std::string interfaceName(REFIID iid);

} // namespace rztest
