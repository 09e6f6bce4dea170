#include "oledbclient.h"

#include "provider/values/storageobject.h"

#include <algorithm>
#include <cstdlib>
#include <strings.h>

namespace providertest {

namespace {

std::string descriptionOf(IErrorInfo *info)
{
    BSTR description = nullptr;
    if (FAILED(info->GetDescription(&description)) || !description)
        return "";
    const std::string text = u8(description);
    SysFreeString(description);
    return text;
}

// RZ_TEST_PROVIDER names it (the test run sets it once per backend).
const char *providerUnderTest()
{
    const char *name = std::getenv("RZ_TEST_PROVIDER");
    return name && *name ? name : "SQLOLEDB";
}

HRESULT setLoginProperties(IDBInitialize *source, const Login &login)
{
    std::vector<DBPROP> props = {i4Property(DBPROP_INIT_TIMEOUT, login.loginTimeout),
                                 textProperty(DBPROP_INIT_DATASOURCE, login.host),
                                 i4Property(DBPROP_INIT_GENERALTIMEOUT, login.generalTimeout),
                                 textProperty(DBPROP_INIT_CATALOG, login.database),
                                 textProperty(DBPROP_AUTH_USERID, login.user),
                                 textProperty(DBPROP_AUTH_PASSWORD, login.password)};
    if (login.providerString)
        props.push_back(textProperty(DBPROP_INIT_PROVIDERSTRING, *login.providerString));
    DBPROPSET sets[2];
    sets[0].guidPropertySet = DBPROPSET_DBINIT;
    sets[0].cProperties = ULONG(props.size());
    sets[0].rgProperties = props.data();
    DBPROP encrypt = textProperty(SSPROP_INIT_ENCRYPT, login.encrypt.value_or(std::string()));
    sets[1].guidPropertySet = DBPROPSET_SQLSERVERDBINIT;
    sets[1].cProperties = login.encrypt ? 1 : 0;
    sets[1].rgProperties = &encrypt;
    rz::ComPtr<IDBProperties> properties;
    HRESULT hr = rz::ComPtr<IDBInitialize>::share(source).query(IID_IDBProperties, properties);
    if (SUCCEEDED(hr))
        hr = properties->SetProperties(2, sets);
    for (auto &p : props)
        VariantClear(&p.vValue);
    VariantClear(&encrypt.vValue);
    return hr;
}

// Lays out b's value, length and status parts from `offset` on, each on an
// 8-byte boundary; returns where the next binding's parts may start.
size_t placeParts(DBBINDING &b, size_t offset)
{
    b.obValue = offset;
    b.obLength = (offset + b.cbMaxLen + 7) & ~size_t(7);
    b.obStatus = b.obLength + 8;
    return b.obStatus + 8;
}

} // namespace

std::string errorText()
{
    rz::ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info)
        return "";
    rz::ComPtr<IErrorRecords> records;
    if (FAILED(info.query(IID_IErrorRecords, records)))
        return descriptionOf(info.get());
    ULONG count = 0;
    records->GetRecordCount(&count);
    std::string text;
    for (ULONG i = 0; i < count; ++i) {
        rz::ComPtr<IErrorInfo> record;
        if (SUCCEEDED(records->GetErrorInfo(i, 0, record.put())))
            text += (i ? " | " : "") + descriptionOf(record.get());
    }
    return text;
}

bool testingTdsBackend()
{
    return strcasecmp(providerUnderTest(), "SQLOLEDB") == 0;
}

rz::ComPtr<IDBInitialize> createDataSource(const char *progId)
{
    if (!progId)
        progId = providerUnderTest();
    CLSID clsid;
    const std::u16string name = u16(progId);
    if (FAILED(CLSIDFromProgID(name.c_str(), &clsid)))
        return nullptr;
    rz::ComPtr<IDBInitialize> source;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDBInitialize, source.putVoid());
    return source;
}

DBPROP textProperty(DBPROPID id, const std::string &value)
{
    DBPROP p{};
    p.dwPropertyID = id;
    p.dwOptions = DBPROPOPTIONS_REQUIRED;
    p.vValue.vt = VT_BSTR;
    p.vValue.bstrVal = SysAllocString(u16(value).c_str());
    return p;
}

DBPROP i4Property(DBPROPID id, LONG value)
{
    DBPROP p{};
    p.dwPropertyID = id;
    p.dwOptions = DBPROPOPTIONS_REQUIRED;
    p.vValue.vt = VT_I4;
    p.vValue.lVal = value;
    return p;
}

rz::ComPtr<IOpenRowset> openSession(const Login &login, HRESULT *result)
{
    auto source = createDataSource();
    if (!source) {
        if (result)
            *result = REGDB_E_CLASSNOTREG;
        return nullptr;
    }
    return openSession(source.get(), login, result);
}

rz::ComPtr<IOpenRowset> openSession(IDBInitialize *source, const Login &login, HRESULT *result)
{
    HRESULT local;
    HRESULT &hr = result ? *result : local;
    hr = setLoginProperties(source, login);
    if (FAILED(hr))
        return nullptr;
    hr = source->Initialize();
    if (hr != S_OK)
        return nullptr;
    rz::ComPtr<IDBCreateSession> create;
    hr = rz::ComPtr<IDBInitialize>::share(source).query(IID_IDBCreateSession, create);
    if (FAILED(hr))
        return nullptr;
    rz::ComPtr<IOpenRowset> session;
    hr = create->CreateSession(nullptr, IID_IOpenRowset, session.putUnknown());
    return session;
}

rz::ComPtr<ICommandText> createCommand(IUnknown *session, const std::u16string &sql)
{
    rz::ComPtr<IDBCreateCommand> create;
    if (FAILED(rz::ComPtr<IUnknown>::share(session).query(IID_IDBCreateCommand, create)))
        return nullptr;
    rz::ComPtr<ICommandText> command;
    if (FAILED(create->CreateCommand(nullptr, IID_ICommandText, command.putUnknown())))
        return nullptr;
    if (FAILED(command->SetCommandText(DBGUID_DEFAULT, sql.c_str())))
        return nullptr;
    return command;
}

HRESULT run(IUnknown *session, const std::string &sql, DBROWCOUNT *affected)
{
    auto command = createCommand(session, u16(sql));
    return command ? command->Execute(nullptr, IID_NULL, nullptr, affected, nullptr) : E_FAIL;
}

HRESULT query(IUnknown *session, const std::string &sql, rz::ComPtr<IRowset> &rowset)
{
    auto command = createCommand(session, u16(sql));
    return command ? command->Execute(nullptr, IID_IRowset, nullptr, nullptr, rowset.putUnknown()) : E_FAIL;
}

RowReader::RowReader(IRowset *rowset, DBLENGTH longThreshold) : rowset_(rowset)
{
    if (!rowset)
        return;
    rz::ComPtr<IColumnsInfo> info;
    hr_ = rz::ComPtr<IRowset>::share(rowset).query(IID_IColumnsInfo, info);
    if (FAILED(hr_))
        return;
    DBORDINAL count = 0;
    DBCOLUMNINFO *table = nullptr;
    OLECHAR *names = nullptr;
    hr_ = info->GetColumnInfo(&count, &table, &names);
    if (FAILED(hr_))
        return;
    objects_.resize(count);
    size_t offset = 0;
    for (DBORDINAL i = 0; i < count; ++i) {
        const DBCOLUMNINFO &c = table[i];
        columns_.push_back({c.pwszName ? u8(c.pwszName) : std::string(), c.wType, c.ulColumnSize, c.dwFlags,
                            c.bPrecision, c.bScale});
        DBBINDING b{};
        b.iOrdinal = c.iOrdinal;
        b.wType = c.wType;
        b.bPrecision = c.bPrecision;
        b.bScale = c.bScale;
        b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
        if (c.wType == DBTYPE_IUNKNOWN || c.ulColumnSize > longThreshold) {
            b.wType = DBTYPE_IUNKNOWN;
            b.cbMaxLen = sizeof(IUnknown *);
            objects_[i].dwFlags = STGM_READ;
            objects_[i].iid = IID_ISequentialStream;
            b.pObject = &objects_[i];
        } else if (c.wType == DBTYPE_STR) {
            b.cbMaxLen = c.ulColumnSize + 1;
        } else if (c.wType == DBTYPE_WSTR) {
            b.cbMaxLen = c.ulColumnSize * 2 + 2;
        } else {
            b.cbMaxLen = c.ulColumnSize;
        }
        offset = placeParts(b, offset);
        bindings_.push_back(b);
    }
    rowSize_ = offset;
    CoTaskMemFree(table);
    CoTaskMemFree(names);
    hr_ = rz::ComPtr<IRowset>::share(rowset).query(IID_IAccessor, accessor_);
    if (FAILED(hr_))
        return;
    hr_ = accessor_->CreateAccessor(DBACCESSOR_ROWDATA, bindings_.size(), bindings_.data(), rowSize_, &handle_, nullptr);
}

RowReader::~RowReader()
{
    if (accessor_ && handle_)
        accessor_->ReleaseAccessor(handle_, nullptr);
}

HRESULT RowReader::next(std::vector<std::vector<Cell>> &out, DBROWCOUNT count)
{
    if (!ok())
        return hr_;
    DBCOUNTITEM obtained = 0;
    HROW *rows = nullptr;
    HRESULT hr = rowset_->GetNextRows(DB_NULL_HCHAPTER, 0, count, &obtained, &rows);
    std::vector<unsigned char> buffer(rowSize_ + 8);
    for (DBCOUNTITEM r = 0; r < obtained; ++r) {
        std::fill(buffer.begin(), buffer.end(), 0);
        const HRESULT got = rowset_->GetData(rows[r], handle_, buffer.data());
        std::vector<Cell> row;
        for (const DBBINDING &b : bindings_) {
            Cell cell;
            std::memcpy(&cell.status, buffer.data() + b.obStatus, sizeof(DBSTATUS));
            std::memcpy(&cell.length, buffer.data() + b.obLength, sizeof(DBLENGTH));
            if (FAILED(got) && cell.status == DBSTATUS_S_OK)
                cell.status = DBSTATUS_E_UNAVAILABLE;
            if (b.wType == DBTYPE_IUNKNOWN) {
                IUnknown *object = nullptr;
                std::memcpy(&object, buffer.data() + b.obValue, sizeof object);
                if (object) {
                    rz::ComPtr<ISequentialStream> stream;
                    if (SUCCEEDED(rz::ComPtr<IUnknown>::share(object).query(IID_ISequentialStream, stream))) {
                        char chunk[65536];
                        for (;;) {
                            ULONG read = 0;
                            const HRESULT rh = stream->Read(chunk, sizeof chunk, &read);
                            cell.bytes.append(chunk, read);
                            if (rh != S_OK || read < sizeof chunk)
                                break;
                        }
                    }
                    object->Release();
                }
            } else if (cell.status == DBSTATUS_S_OK || cell.status == DBSTATUS_S_TRUNCATED) {
                size_t n = b.cbMaxLen;
                if (b.wType == DBTYPE_STR || b.wType == DBTYPE_BYTES)
                    n = std::min<size_t>(cell.length, b.cbMaxLen);
                if (b.wType == DBTYPE_WSTR)
                    n = std::min<size_t>(cell.length, b.cbMaxLen - 2);
                cell.bytes.assign(reinterpret_cast<const char *>(buffer.data() + b.obValue), n);
                if (b.wType == DBTYPE_WSTR) {
                    std::u16string wide(cell.bytes.size() / 2, u'\0');
                    std::memcpy(wide.data(), cell.bytes.data(), wide.size() * 2);
                    cell.bytes = u8(wide);
                }
            }
            row.push_back(std::move(cell));
        }
        out.push_back(std::move(row));
    }
    if (obtained)
        rowset_->ReleaseRows(obtained, rows, nullptr, nullptr, nullptr);
    CoTaskMemFree(rows);
    return hr;
}

HRESULT RowReader::all(std::vector<std::vector<Cell>> &out)
{
    HRESULT hr;
    do {
        hr = next(out, 50);
    } while (hr == S_OK);
    return hr == DB_S_ENDOFROWSET ? S_OK : hr;
}

rz::ComPtr<ISequentialStream> memoryStream(std::string bytes)
{
    rz::ComPtr<ISequentialStream> stream;
    rz::provider::createStorageObject(std::make_shared<const std::string>(std::move(bytes)), IID_ISequentialStream,
                                      stream.putVoid());
    return stream;
}

HRESULT describe(ICommandText *command, ParameterInfo &info)
{
    rz::ComPtr<ICommandWithParameters> with;
    HRESULT hr = rz::ComPtr<ICommandText>::share(command).query(IID_ICommandWithParameters, with);
    if (FAILED(hr))
        return hr;
    DB_UPARAMS count = 0;
    hr = with->GetParameterInfo(&count, &info.table, &info.names);
    if (SUCCEEDED(hr))
        info.params.assign(info.table, info.table + count);
    return hr;
}

HRESULT executeWith(ICommandText *command, std::vector<Param> &params, REFIID iid, IUnknown **result,
                    DBROWCOUNT *affected)
{
    rz::ComPtr<IAccessor> accessor;
    HRESULT hr = rz::ComPtr<ICommandText>::share(command).query(IID_IAccessor, accessor);
    if (FAILED(hr))
        return hr;
    std::vector<DBBINDING> bindings;
    std::vector<DBOBJECT> objects(params.size());
    size_t offset = 0;
    for (size_t i = 0; i < params.size(); ++i) {
        DBBINDING b{};
        b.iOrdinal = i + 1;
        b.wType = params[i].type;
        b.eParamIO = DBPARAMIO_INPUT;
        b.dwPart = DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS;
        b.cbMaxLen = params[i].maxLength ? params[i].maxLength : std::max<size_t>(params[i].value.size(), 8);
        if (params[i].type == DBTYPE_IUNKNOWN) {
            objects[i] = {STGM_READ, IID_ISequentialStream};
            b.pObject = &objects[i];
            b.cbMaxLen = sizeof(void *);
        }
        offset = placeParts(b, offset);
        bindings.push_back(b);
    }
    std::vector<unsigned char> buffer(offset + 8, 0);
    for (size_t i = 0; i < params.size(); ++i) {
        std::memcpy(buffer.data() + bindings[i].obValue, params[i].value.data(),
                    std::min<size_t>(params[i].value.size(), bindings[i].cbMaxLen));
        std::memcpy(buffer.data() + bindings[i].obLength, &params[i].length, sizeof(DBLENGTH));
        std::memcpy(buffer.data() + bindings[i].obStatus, &params[i].status, sizeof(DBSTATUS));
    }
    HACCESSOR handle = 0;
    hr = accessor->CreateAccessor(DBACCESSOR_PARAMETERDATA, bindings.size(), bindings.data(), buffer.size(), &handle, nullptr);
    if (FAILED(hr))
        return hr;
    DBPARAMS dbParams{buffer.data(), 1, handle};
    hr = command->Execute(nullptr, iid, &dbParams, affected, result);
    for (size_t i = 0; i < params.size(); ++i)
        std::memcpy(&params[i].status, buffer.data() + bindings[i].obStatus, sizeof(DBSTATUS));
    rz::ComPtr<IErrorInfo> error;
    GetErrorInfo(0, error.put()); // the execution's, kept past ReleaseAccessor
    accessor->ReleaseAccessor(handle, nullptr);
    SetErrorInfo(0, error.get());
    return hr;
}

Param nullOf(DBTYPE type)
{
    Param p;
    p.type = type;
    p.status = DBSTATUS_S_ISNULL;
    p.maxLength = 8;
    return p;
}

Param stream(IUnknown *object, DBLENGTH length)
{
    Param p;
    p.type = DBTYPE_IUNKNOWN;
    p.value.assign(reinterpret_cast<const char *>(&object), sizeof object);
    p.length = length;
    return p;
}

} // namespace providertest
