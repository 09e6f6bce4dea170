// Prints, as C++ source for the Windows SDK, static_asserts that our sizes,
// alignments, field offsets and constant values are the SDK's; then, after a
// marker line, our GUID values for a textual comparison.

#include "platform/sdk/oledb.h"
#include "platform/sdk/winsock.h"

#include <cstddef>
#include <cstdio>
#include <initializer_list>

namespace {

struct Field
{
    const char *name;
    std::size_t offset;
};

void printLayout(const char *type, std::size_t size, std::size_t align, std::initializer_list<Field> fields = {})
{
    std::printf("static_assert(sizeof(%s) == %zu, \"sizeof(%s)\");\n"
                "static_assert(alignof(%s) == %zu, \"alignof(%s)\");\n",
                type, size, type, type, align, type);
    for (const Field &f : fields)
        std::printf("static_assert(offsetof(%s, %s) == %zu, \"offsetof(%s, %s)\");\n", type, f.name, f.offset,
                    type, f.name);
}

// LAYOUT(T, F(a), F(b)) checks the size and alignment of T and the offsets of a and b.
#define LAYOUT(Type, ...)                                                                                  \
    do {                                                                                                   \
        using T = Type;                                                                                    \
        printLayout(#Type, sizeof(T), alignof(T), {__VA_ARGS__});                                          \
    } while (0)
#define F(f) Field{#f, offsetof(T, f)}
#define WIDTH(T) Width{#T, sizeof(T), alignof(T)}
#define VALUE(v) Value{#v, static_cast<long long>(v)}
#define ID(g) Id{#g, &g}

struct Width
{
    const char *name;
    std::size_t size;
    std::size_t align;
};

struct Value
{
    const char *name;
    long long value;
};

struct Id
{
    const char *name;
    const GUID *guid;
};

void structures()
{
    LAYOUT(GUID, F(Data1), F(Data2), F(Data3), F(Data4));
    LAYOUT(DBID, F(uGuid), F(eKind), F(uName));
    LAYOUT(DBOBJECT, F(dwFlags), F(iid));
    LAYOUT(DBBINDEXT, F(pExtension), F(ulExtension));
    LAYOUT(DBBINDING, F(iOrdinal), F(obValue), F(obLength), F(obStatus), F(pTypeInfo), F(pObject), F(pBindExt),
           F(dwPart), F(dwMemOwner), F(eParamIO), F(cbMaxLen), F(dwFlags), F(wType), F(bPrecision), F(bScale));
    LAYOUT(DBCOLUMNINFO, F(pwszName), F(pTypeInfo), F(iOrdinal), F(dwFlags), F(ulColumnSize), F(wType),
           F(bPrecision), F(bScale), F(columnid));
    LAYOUT(DBPARAMINFO, F(dwFlags), F(iOrdinal), F(pwszName), F(pTypeInfo), F(ulParamSize), F(wType),
           F(bPrecision), F(bScale));
    LAYOUT(DBPARAMBINDINFO, F(pwszDataSourceType), F(pwszName), F(ulParamSize), F(dwFlags), F(bPrecision),
           F(bScale));
    LAYOUT(DBPARAMS, F(pData), F(cParamSets), F(hAccessor));
    LAYOUT(DBPROP, F(dwPropertyID), F(dwOptions), F(dwStatus), F(colid), F(vValue));
    LAYOUT(DBPROPSET, F(rgProperties), F(cProperties), F(guidPropertySet));
    LAYOUT(DBPROPIDSET, F(rgPropertyIDs), F(cPropertyIDs), F(guidPropertySet));
    LAYOUT(DBPROPINFO, F(pwszDescription), F(dwPropertyID), F(dwFlags), F(vtType), F(vValues));
    LAYOUT(DBPROPINFOSET, F(rgPropertyInfos), F(cPropertyInfos), F(guidPropertySet));
    LAYOUT(DB_NUMERIC, F(precision), F(scale), F(sign), F(val));
    LAYOUT(DB_VARNUMERIC, F(val));
    LAYOUT(DBDATE, F(year), F(month), F(day));
    LAYOUT(DBTIME, F(hour), F(minute), F(second));
    LAYOUT(DBTIMESTAMP, F(year), F(month), F(day), F(hour), F(minute), F(second), F(fraction));
    LAYOUT(DBVECTOR, F(size), F(ptr));
    LAYOUT(CY, F(Lo), F(Hi), F(int64));
    LAYOUT(DECIMAL, F(wReserved), F(scale), F(sign), F(Hi32), F(Lo32), F(Mid32), F(Lo64));
    LAYOUT(VARIANT, F(vt), F(llVal), F(lVal), F(iVal), F(bVal), F(boolVal), F(dblVal), F(fltVal), F(cyVal),
           F(date), F(bstrVal), F(punkVal), F(parray), F(pbVal), F(byref), F(decVal));
    LAYOUT(SAFEARRAY, F(cDims), F(fFeatures), F(cbElements), F(cLocks), F(pvData), F(rgsabound));
    LAYOUT(ERRORINFO, F(hrError), F(dwMinor), F(clsid), F(iid), F(dispid));
    LAYOUT(DISPPARAMS, F(rgvarg), F(rgdispidNamedArgs), F(cArgs), F(cNamedArgs));
    LAYOUT(XACTTRANSINFO, F(uow), F(isoLevel), F(isoFlags), F(grfTCSupported), F(grfRMSupportedRetaining));
    LAYOUT(XACTOPT, F(szDescription));
    LAYOUT(STATSTG, F(cbSize), F(clsid));
}

// Widths of the scalars the structures rest on, and of structures whose fields we never touch.
const Width widths[] = {
    WIDTH(SAFEARRAYBOUND), WIDTH(BOID), WIDTH(MULTI_QI), WIDTH(DBLENGTH), WIDTH(DBORDINAL), WIDTH(DBROWCOUNT),
    WIDTH(DBCOUNTITEM), WIDTH(DBBYTEOFFSET), WIDTH(DBREFCOUNT), WIDTH(DB_UPARAMS), WIDTH(HROW),
    WIDTH(HACCESSOR), WIDTH(HCHAPTER), WIDTH(DBTYPE), WIDTH(DBSTATUS), WIDTH(DBPROPID), WIDTH(HRESULT),
    WIDTH(LONG), WIDTH(ULONG), WIDTH(DWORD), WIDTH(LCID), WIDTH(VARIANT_BOOL), WIDTH(WCHAR), WIDTH(OLECHAR),
    WIDTH(BOOL), WIDTH(ULONG_PTR), WIDTH(ISOLEVEL),
};

const Value values[] = {
    VALUE(S_OK), VALUE(S_FALSE), VALUE(E_FAIL), VALUE(E_NOINTERFACE), VALUE(E_OUTOFMEMORY), VALUE(E_INVALIDARG),
    VALUE(E_POINTER), VALUE(E_UNEXPECTED), VALUE(E_NOTIMPL), VALUE(E_ABORT), VALUE(E_ACCESSDENIED),
    VALUE(CLASS_E_NOAGGREGATION), VALUE(REGDB_E_CLASSNOTREG), VALUE(CO_E_CLASSSTRING),
    VALUE(CO_E_NOTINITIALIZED), VALUE(RPC_E_CHANGED_MODE), VALUE(STG_E_INVALIDPOINTER),
    VALUE(DISP_E_BADVARTYPE), VALUE(DISP_E_ARRAYISLOCKED), VALUE(DB_E_BADACCESSORHANDLE),
    VALUE(DB_E_BADROWHANDLE), VALUE(DB_E_OBJECTOPEN), VALUE(DB_E_BADCHAPTER), VALUE(DB_E_CANTCONVERTVALUE),
    VALUE(DB_E_BADBINDINFO), VALUE(DB_E_NOCOMMAND), VALUE(DB_E_PARAMNOTOPTIONAL), VALUE(DB_E_BADCOLUMNID),
    VALUE(DB_E_ERRORSINCOMMAND), VALUE(DB_E_CANTCANCEL), VALUE(DB_E_UNSUPPORTEDCONVERSION),
    VALUE(DB_E_BADSTARTPOSITION), VALUE(DB_E_ERRORSOCCURRED), VALUE(DB_E_NOAGGREGATION),
    VALUE(DB_E_CANTFETCHBACKWARDS), VALUE(DB_E_ROWSNOTRELEASED), VALUE(DB_E_BADSTATUSVALUE),
    VALUE(DB_E_CANTSCROLLBACKWARDS), VALUE(DB_E_ABORTLIMITREACHED), VALUE(DB_E_NOTABLE),
    VALUE(DB_E_BADPRECISION), VALUE(DB_E_BADSCALE), VALUE(DB_E_BADTYPE), VALUE(DB_E_BADRECORDNUM),
    VALUE(DB_E_BADACCESSORFLAGS), VALUE(DB_E_NULLACCESSORNOTSUPPORTED), VALUE(DB_E_NOTPREPARED),
    VALUE(DB_E_BADACCESSORTYPE), VALUE(DB_SEC_E_AUTH_FAILED), VALUE(DB_E_CANCELED),
    VALUE(DB_E_ALREADYINITIALIZED), VALUE(DB_E_NOTSUPPORTED), VALUE(DB_E_BADORDINAL), VALUE(DB_E_DATAOVERFLOW),
    VALUE(DB_E_BADINITSTRING), VALUE(DB_E_TIMEOUT), VALUE(DB_S_ENDOFROWSET), VALUE(DB_S_COMMANDREEXECUTED),
    VALUE(DB_S_NONEXTROWSET), VALUE(DB_S_ERRORSOCCURRED), VALUE(DB_S_TYPEINFOOVERRIDDEN),
    VALUE(DB_S_ROWLIMITEXCEEDED), VALUE(DB_S_CANTRELEASE), VALUE(XACT_E_NOTRANSACTION),
    VALUE(XACT_E_XTIONEXISTS), VALUE(XACT_E_ISOLATIONLEVEL), VALUE(XACT_E_NOTSUPPORTED), VALUE(DBTYPE_EMPTY),
    VALUE(DBTYPE_I2), VALUE(DBTYPE_I4), VALUE(DBTYPE_R4), VALUE(DBTYPE_R8), VALUE(DBTYPE_CY),
    VALUE(DBTYPE_DATE), VALUE(DBTYPE_BSTR), VALUE(DBTYPE_IDISPATCH), VALUE(DBTYPE_BOOL), VALUE(DBTYPE_VARIANT),
    VALUE(DBTYPE_IUNKNOWN), VALUE(DBTYPE_DECIMAL), VALUE(DBTYPE_I1), VALUE(DBTYPE_UI1), VALUE(DBTYPE_UI2),
    VALUE(DBTYPE_UI4), VALUE(DBTYPE_I8), VALUE(DBTYPE_UI8), VALUE(DBTYPE_GUID), VALUE(DBTYPE_BYTES),
    VALUE(DBTYPE_STR), VALUE(DBTYPE_WSTR), VALUE(DBTYPE_NUMERIC), VALUE(DBTYPE_DBDATE), VALUE(DBTYPE_DBTIME),
    VALUE(DBTYPE_DBTIMESTAMP), VALUE(DBTYPE_HCHAPTER), VALUE(DBTYPE_VARNUMERIC), VALUE(DBTYPE_FILETIME),
    VALUE(DBTYPE_VECTOR), VALUE(DBTYPE_ARRAY), VALUE(DBTYPE_BYREF), VALUE(DBSTATUS_S_OK),
    VALUE(DBSTATUS_E_BADACCESSOR), VALUE(DBSTATUS_E_CANTCONVERTVALUE), VALUE(DBSTATUS_S_ISNULL),
    VALUE(DBSTATUS_S_TRUNCATED), VALUE(DBSTATUS_E_SIGNMISMATCH), VALUE(DBSTATUS_E_DATAOVERFLOW),
    VALUE(DBSTATUS_E_CANTCREATE), VALUE(DBSTATUS_E_UNAVAILABLE), VALUE(DBSTATUS_S_DEFAULT),
    VALUE(DBSTATUS_S_IGNORE), VALUE(DBPART_VALUE), VALUE(DBPART_LENGTH), VALUE(DBPART_STATUS),
    VALUE(DBMEMOWNER_CLIENTOWNED), VALUE(DBMEMOWNER_PROVIDEROWNED), VALUE(DBPARAMIO_NOTPARAM),
    VALUE(DBPARAMIO_INPUT), VALUE(DBPARAMIO_OUTPUT), VALUE(DBACCESSOR_ROWDATA), VALUE(DBACCESSOR_PARAMETERDATA),
    VALUE(DBACCESSOR_PASSBYREF), VALUE(DBACCESSOR_OPTIMIZED), VALUE(DBBINDSTATUS_OK),
    VALUE(DBBINDSTATUS_BADORDINAL), VALUE(DBBINDSTATUS_UNSUPPORTEDCONVERSION), VALUE(DBPARAMFLAGS_ISINPUT),
    VALUE(DBPARAMFLAGS_ISOUTPUT), VALUE(DBPARAMFLAGS_ISSIGNED), VALUE(DBPARAMFLAGS_ISNULLABLE),
    VALUE(DBPARAMFLAGS_ISLONG), VALUE(DBCOLUMNFLAGS_ISBOOKMARK), VALUE(DBCOLUMNFLAGS_MAYDEFER),
    VALUE(DBCOLUMNFLAGS_WRITE), VALUE(DBCOLUMNFLAGS_WRITEUNKNOWN), VALUE(DBCOLUMNFLAGS_ISFIXEDLENGTH),
    VALUE(DBCOLUMNFLAGS_ISNULLABLE), VALUE(DBCOLUMNFLAGS_MAYBENULL), VALUE(DBCOLUMNFLAGS_ISLONG),
    VALUE(DBCOLUMNFLAGS_ISROWID), VALUE(DBCOLUMNFLAGS_ISROWVER), VALUE(DBPROPOPTIONS_REQUIRED),
    VALUE(DBPROPOPTIONS_OPTIONAL), VALUE(DBPROPSTATUS_OK), VALUE(DBPROPSTATUS_NOTSUPPORTED),
    VALUE(DBPROPSTATUS_BADVALUE), VALUE(DBPROPSTATUS_NOTSETTABLE), VALUE(DBPROPSTATUS_CONFLICTING),
    VALUE(DBPROPFLAGS_READ), VALUE(DBPROPFLAGS_WRITE), VALUE(DBPROPFLAGS_ROWSET), VALUE(DBPROPVAL_UP_CHANGE),
    VALUE(DBPROPVAL_UP_DELETE), VALUE(DBPROPVAL_UP_INSERT), VALUE(DBPROPVAL_TI_READCOMMITTED),
    VALUE(DBPROPVAL_OS_CLIENTCURSOR), VALUE(DBKIND_GUID_NAME), VALUE(DBKIND_NAME), VALUE(DBKIND_PROPID),
    VALUE(DBRESULTFLAG_DEFAULT), VALUE(DBRESULTFLAG_ROWSET), VALUE(DBDATACONVERT_DEFAULT),
    VALUE(DBDATACONVERT_SETDATABEHAVIOR), VALUE(DBDATACONVERT_LENGTHFROMNTS),
    VALUE(DBDATACONVERT_DSTISFIXEDLENGTH), VALUE(DBDATACONVERT_DECIMALSCALE), VALUE(DBCOMPARE_EQ),
    VALUE(ISOLATIONLEVEL_READCOMMITTED), VALUE(ISOLATIONLEVEL_SERIALIZABLE), VALUE(ISOLATIONLEVEL_UNSPECIFIED),
    VALUE(XACTTC_SYNC), VALUE(XACTTC_ASYNC), VALUE(CLSCTX_INPROC_SERVER), VALUE(CLSCTX_ALL),
    VALUE(COINIT_MULTITHREADED), VALUE(COINIT_APARTMENTTHREADED), VALUE(STGM_READ), VALUE(STGM_SHARE_EXCLUSIVE),
    VALUE(VT_EMPTY), VALUE(VT_I2), VALUE(VT_I4), VALUE(VT_BSTR), VALUE(VT_BOOL), VALUE(VT_UNKNOWN),
    VALUE(VT_I8), VALUE(VT_ARRAY), VALUE(VT_BYREF), VALUE(VARIANT_TRUE), VALUE(VARIANT_FALSE), VALUE(CP_ACP),
    VALUE(CP_THREAD_ACP), VALUE(CP_UTF8), VALUE(FORMAT_MESSAGE_ALLOCATE_BUFFER),
    VALUE(FORMAT_MESSAGE_FROM_SYSTEM), VALUE(FORMAT_MESSAGE_IGNORE_INSERTS),
    VALUE(MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)), VALUE(WSAEWOULDBLOCK), VALUE(WSAEINPROGRESS),
    VALUE(WSAECONNREFUSED), VALUE(FIONBIO), VALUE(SOCKET_ERROR), VALUE(INVALID_SOCKET),
    VALUE(SSPROP_INIT_ENCRYPT), VALUE(DBPROP_AUTH_INTEGRATED), VALUE(DBPROP_AUTH_PASSWORD),
    VALUE(DBPROP_AUTH_USERID), VALUE(DBPROP_INIT_DATASOURCE), VALUE(DBPROP_INIT_CATALOG),
    VALUE(DBPROP_INIT_TIMEOUT), VALUE(DBPROP_INIT_GENERALTIMEOUT), VALUE(DBPROP_INIT_PROVIDERSTRING),
    VALUE(DBPROP_INIT_LCID), VALUE(DBPROP_INIT_PROMPT), VALUE(DBPROP_INIT_OLEDBSERVICES),
    VALUE(DBPROP_CLIENTCURSOR), VALUE(DBPROP_IRowsetChange), VALUE(DBPROP_ISequentialStream),
    VALUE(DBPROP_IStream), VALUE(DBPROP_COMMANDTIMEOUT), VALUE(DBPROP_UPDATABILITY),
    VALUE(DBPROP_IRowsetScroll), VALUE(DBPROP_IRowsetLocate), VALUE(DBPROP_CANHOLDROWS),
    VALUE(DBPROP_CANSCROLLBACKWARDS), VALUE(DBPROP_CANFETCHBACKWARDS), VALUE(DBPROP_OTHERINSERT),
    VALUE(DBPROP_OTHERUPDATEDELETE), VALUE(DBPROP_OWNINSERT), VALUE(DBPROP_BOOKMARKS),
    VALUE(DBPROP_SERVERCURSOR), VALUE(DBPROP_MAXROWS), VALUE(DBPROP_IMultipleResults),
    VALUE(DBPROP_MULTIPLERESULTS), VALUE(DBPROP_ACCESSORDER), VALUE(DBPROP_DBMSNAME), VALUE(DBPROP_DBMSVER),
    VALUE(DBPROP_SESS_AUTOCOMMITISOLEVELS), VALUE(DBPROP_SUPPORTEDTXNISOLEVELS), VALUE(DBPROP_ROWTHREADMODEL),
    VALUE(DBPROP_IColumnsInfo), VALUE(DBPROP_IRowset), VALUE(DBPROP_IAccessor), VALUE(DBPROP_IRowsetInfo),
    VALUE(DBPROP_IConvertType),
};

const Id identifiers[] = {
    ID(GUID_NULL), ID(IID_IUnknown), ID(IID_IClassFactory), ID(IID_IDispatch), ID(IID_IStream),
    ID(IID_ISequentialStream), ID(IID_IErrorInfo), ID(IID_ICreateErrorInfo), ID(IID_ISupportErrorInfo),
    ID(IID_IAccessor), ID(IID_IChapteredRowset), ID(IID_IColumnsInfo), ID(IID_ICommand),
    ID(IID_ICommandPrepare), ID(IID_ICommandProperties), ID(IID_ICommandText), ID(IID_ICommandWithParameters),
    ID(IID_IConvertType), ID(IID_IDBCreateCommand), ID(IID_IDBCreateSession), ID(IID_IDBInitialize),
    ID(IID_IDBProperties), ID(IID_IErrorRecords), ID(IID_IGetDataSource), ID(IID_IMultipleResults),
    ID(IID_IOpenRowset), ID(IID_IRowset), ID(IID_IRowsetChange), ID(IID_IRowsetInfo), ID(IID_IRowsetLocate),
    ID(IID_IRowsetScroll), ID(IID_ISessionProperties), ID(IID_ITransaction), ID(IID_ITransactionLocal),
    ID(IID_ITransactionOptions), ID(IID_IDataInitialize), ID(IID_IDataConvert), ID(CLSID_MSDAINITIALIZE),
    ID(CLSID_OLEDB_CONVERSIONLIBRARY), ID(DBGUID_DEFAULT), ID(DBGUID_SQL), ID(DBGUID_DBSQL),
    ID(DBPROPSET_COLUMN), ID(DBPROPSET_DATASOURCE), ID(DBPROPSET_DATASOURCEINFO), ID(DBPROPSET_DBINIT),
    ID(DBPROPSET_INDEX), ID(DBPROPSET_ROWSET), ID(DBPROPSET_TABLE), ID(DBPROPSET_DATASOURCEALL),
    ID(DBPROPSET_DATASOURCEINFOALL), ID(DBPROPSET_DBINITALL), ID(DBPROPSET_ROWSETALL), ID(DBPROPSET_SESSION),
    ID(DBPROPSET_SESSIONALL), ID(DBPROPSET_PROPERTIESINERROR), ID(DBPROPSET_SQLSERVERDBINIT),
};

} // namespace

int main()
{
    std::printf("#include <winsock2.h>\n#include <windows.h>\n#include <oledb.h>\n#include <oledberr.h>\n"
                "#include <msdadc.h>\n#include <msdasc.h>\n#include <transact.h>\n"
                "#include <cstddef>\n#define SSPROP_INIT_ENCRYPT 13\n");
    structures();
    for (const Width &w : widths)
        printLayout(w.name, w.size, w.align);
    for (const Value &v : values)
        std::printf("static_assert(static_cast<long long>(%s) == %lldLL, \"value of %s\");\n", v.name, v.value, v.name);
    std::printf("//GUIDS\n");
    for (const Id &id : identifiers) {
        const GUID &g = *id.guid;
        std::printf("%s %08x %04x %04x %02x%02x%02x%02x%02x%02x%02x%02x\n", id.name, g.Data1, g.Data2, g.Data3,
                    g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    }
    return 0;
}
