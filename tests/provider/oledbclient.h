#pragma once
// A small OLE DB consumer for the provider tests: data sources, sessions,
// commands, and a row reader that binds columns the way the plug-in does
// (reported types inline, long columns as storage objects).

#include "platform/com/comptr.h"
#include "platform/sdk/oledb.h"
#include "tds/wirewriter.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace providertest {

struct Login {
    std::string host;
    std::string database = "testdb";
    std::string user = "sa";
    std::string password = "Secret123";
    int loginTimeout = 5;
    int generalTimeout = 5;
    std::optional<std::string> encrypt;
    std::optional<std::string> providerString; // DBPROP_INIT_PROVIDERSTRING
};

inline std::u16string u16(std::string_view s) { return rz::tds::utf16FromUtf8(s); }
inline std::string u8(std::u16string_view s) { return rz::tds::utf8FromUtf16(s); }

// The descriptions of the thread's error object, records joined by " | ";
// "" when there is none.
std::string errorText();

// Date and time structures as tuples, so that a test compares them whole.
inline std::tuple<int, int, int, int, int, int, unsigned> fields(const DBTIMESTAMP &t)
{
    return {t.year, t.month, t.day, t.hour, t.minute, t.second, unsigned(t.fraction)};
}
inline std::tuple<int, int, int> fields(const DBDATE &d) { return {d.year, d.month, d.day}; }
inline std::tuple<int, int, int> fields(const DBTIME &t) { return {t.hour, t.minute, t.second}; }

// Required properties; the caller clears a text property's value with VariantClear.
DBPROP textProperty(DBPROPID id, const std::string &value);
DBPROP i4Property(DBPROPID id, LONG value);

// Whether the provider under test runs on the TDS client ("SQLOLEDB", the
// default) or on FreeTDS's ODBC driver (RZFREETDS).
bool testingTdsBackend();
// progId null: the provider under test (RZ_TEST_PROVIDER).
rz::ComPtr<IDBInitialize> createDataSource(const char *progId = nullptr);
// Data source initialised and a session on it (IOpenRowset), or null with the failure in *hr.
rz::ComPtr<IOpenRowset> openSession(const Login &login, HRESULT *hr = nullptr);
rz::ComPtr<IOpenRowset> openSession(IDBInitialize *source, const Login &login, HRESULT *hr = nullptr);

rz::ComPtr<ICommandText> createCommand(IUnknown *session, const std::u16string &sql);
// Runs a statement that returns no rows.
HRESULT run(IUnknown *session, const std::string &sql, DBROWCOUNT *affected = nullptr);
// Executes for IID_IRowset.
HRESULT query(IUnknown *session, const std::string &sql, rz::ComPtr<IRowset> &rowset);

struct Cell {
    DBSTATUS status = 0;
    DBLENGTH length = 0;
    std::string bytes; // the value part as bound (WSTR as UTF-8), or the storage object's bytes
    bool isNull() const { return status == DBSTATUS_S_ISNULL; }
    template <class T> T as() const { T v{}; std::memcpy(&v, bytes.data(), std::min(sizeof v, bytes.size())); return v; }
};

using Rows = std::vector<std::vector<Cell>>;

struct ColumnInfo {
    std::string name;
    DBTYPE type;
    DBLENGTH size;
    DBCOLUMNFLAGS flags;
    BYTE precision, scale;
};

class RowReader {
public:
    // Binds every column of the rowset (threshold: columns larger than
    // longThreshold are bound as storage objects).
    explicit RowReader(IRowset *rowset, DBLENGTH longThreshold = 1000000);
    ~RowReader();
    bool ok() const { return hr_ == S_OK; }
    HRESULT result() const { return hr_; }
    const std::vector<ColumnInfo> &columns() const { return columns_; }
    // Fetches `count` rows (GetNextRows with offset 0), reads them and releases them.
    // Returns the GetNextRows code; rows are appended to out.
    HRESULT next(std::vector<std::vector<Cell>> &out, DBROWCOUNT count = 1);
    // Every remaining row.
    HRESULT all(std::vector<std::vector<Cell>> &out);

private:
    IRowset *rowset_;
    rz::ComPtr<IAccessor> accessor_;
    HACCESSOR handle_ = 0;
    std::vector<ColumnInfo> columns_;
    std::vector<DBBINDING> bindings_;
    std::vector<DBOBJECT> objects_;
    size_t rowSize_ = 0;
    HRESULT hr_ = E_FAIL;
};

// Parameters: what the command describes, and values bound in a consumer buffer.
struct ParameterInfo {
    std::vector<DBPARAMINFO> params;
    DBPARAMINFO *table = nullptr;
    OLECHAR *names = nullptr;
    ~ParameterInfo()
    {
        CoTaskMemFree(table);
        CoTaskMemFree(names);
    }
    std::vector<DBTYPE> types() const
    {
        std::vector<DBTYPE> result;
        for (const DBPARAMINFO &param : params)
            result.push_back(param.wType);
        return result;
    }
};

HRESULT describe(ICommandText *command, ParameterInfo &info);

// One parameter value laid out in a consumer buffer.
struct Param {
    DBTYPE type;
    std::string value; // raw bytes of the value part
    DBSTATUS status = DBSTATUS_S_OK;
    DBLENGTH length = 0;
    DBLENGTH maxLength = 0;
};

// Executes the command with the parameters bound in order (ordinal i + 1); the
// statuses the provider leaves in the buffer come back in `params`.
HRESULT executeWith(ICommandText *command, std::vector<Param> &params, REFIID iid, IUnknown **result,
                    DBROWCOUNT *affected = nullptr);

template <class T>
inline Param fixed(DBTYPE type, T value)
{
    Param p;
    p.type = type;
    p.value.assign(reinterpret_cast<const char *>(&value), sizeof value);
    p.length = sizeof value;
    return p;
}

Param nullOf(DBTYPE type);
// A long value read from `object`, an ISequentialStream.
Param stream(IUnknown *object, DBLENGTH length);
// A stream over `bytes` for long parameter values (the provider's own storage object).
rz::ComPtr<ISequentialStream> memoryStream(std::string bytes);

} // namespace providertest
