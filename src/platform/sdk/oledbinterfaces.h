#pragma once
// The OLE DB interfaces, with methods in the SDK's vtable order and the SDK's
// parameter types, plus the service components (IDataInitialize) and the data
// conversion library (IDataConvert).

#include "platform/sdk/oledbtypes.h"

struct COSERVERINFO;
struct MULTI_QI {
    const IID *pIID;
    IUnknown *pItf;
    HRESULT hr;
};

typedef DWORD DBCOMPARE;
enum DBCOMPAREENUM : unsigned int {
    DBCOMPARE_LT = 0,
    DBCOMPARE_EQ = 1,
    DBCOMPARE_GT = 2,
    DBCOMPARE_NE = 3,
    DBCOMPARE_NOTCOMPARABLE = 4
};

// ---- Data source --------------------------------------------------------------
struct IDBInitialize : public IUnknown {
    virtual HRESULT Initialize() = 0;
    virtual HRESULT Uninitialize() = 0;
};

struct IDBProperties : public IUnknown {
    virtual HRESULT GetProperties(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                  ULONG *pcPropertySets, DBPROPSET **prgPropertySets) = 0;
    virtual HRESULT GetPropertyInfo(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                    ULONG *pcPropertyInfoSets, DBPROPINFOSET **prgPropertyInfoSets,
                                    OLECHAR **ppDescBuffer) = 0;
    virtual HRESULT SetProperties(ULONG cPropertySets, DBPROPSET rgPropertySets[]) = 0;
};

struct IDBCreateSession : public IUnknown {
    virtual HRESULT CreateSession(IUnknown *pUnkOuter, REFIID riid, IUnknown **ppDBSession) = 0;
};

// ---- Session ------------------------------------------------------------------
struct IDBCreateCommand : public IUnknown {
    virtual HRESULT CreateCommand(IUnknown *pUnkOuter, REFIID riid, IUnknown **ppCommand) = 0;
};

struct IOpenRowset : public IUnknown {
    virtual HRESULT OpenRowset(IUnknown *pUnkOuter, DBID *pTableID, DBID *pIndexID, REFIID riid,
                               ULONG cPropertySets, DBPROPSET rgPropertySets[],
                               IUnknown **ppRowset) = 0;
};

struct ISessionProperties : public IUnknown {
    virtual HRESULT GetProperties(ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                  ULONG *pcPropertySets, DBPROPSET **prgPropertySets) = 0;
    virtual HRESULT SetProperties(ULONG cPropertySets, DBPROPSET rgPropertySets[]) = 0;
};

struct IGetDataSource : public IUnknown {
    virtual HRESULT GetDataSource(REFIID riid, IUnknown **ppDataSource) = 0;
};

struct ITransactionOptions : public IUnknown {
    virtual HRESULT SetOptions(XACTOPT *pOptions) = 0;
    virtual HRESULT GetOptions(XACTOPT *pOptions) = 0;
};

struct ITransaction : public IUnknown {
    virtual HRESULT Commit(BOOL fRetaining, DWORD grfTC, DWORD grfRM) = 0;
    virtual HRESULT Abort(BOID *pboidReason, BOOL fRetaining, BOOL fAsync) = 0;
    virtual HRESULT GetTransactionInfo(XACTTRANSINFO *pinfo) = 0;
};

struct ITransactionLocal : public ITransaction {
    virtual HRESULT GetOptionsObject(ITransactionOptions **ppOptions) = 0;
    virtual HRESULT StartTransaction(ISOLEVEL isoLevel, ULONG isoFlags,
                                     ITransactionOptions *pOtherOptions,
                                     ULONG *pulTransactionLevel) = 0;
};

// ---- Command ------------------------------------------------------------------
struct ICommand : public IUnknown {
    virtual HRESULT Cancel() = 0;
    virtual HRESULT Execute(IUnknown *pUnkOuter, REFIID riid, DBPARAMS *pParams,
                            DBROWCOUNT *pcRowsAffected, IUnknown **ppRowset) = 0;
    virtual HRESULT GetDBSession(REFIID riid, IUnknown **ppSession) = 0;
};

struct ICommandText : public ICommand {
    virtual HRESULT GetCommandText(GUID *pguidDialect, LPOLESTR *ppwszCommand) = 0;
    virtual HRESULT SetCommandText(REFGUID rguidDialect, LPCOLESTR pwszCommand) = 0;
};

struct ICommandPrepare : public IUnknown {
    virtual HRESULT Prepare(ULONG cExpectedRuns) = 0;
    virtual HRESULT Unprepare() = 0;
};

struct ICommandProperties : public IUnknown {
    virtual HRESULT GetProperties(const ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                  ULONG *pcPropertySets, DBPROPSET **prgPropertySets) = 0;
    virtual HRESULT SetProperties(ULONG cPropertySets, DBPROPSET rgPropertySets[]) = 0;
};

struct ICommandWithParameters : public IUnknown {
    virtual HRESULT GetParameterInfo(DB_UPARAMS *pcParams, DBPARAMINFO **prgParamInfo,
                                     OLECHAR **ppNamesBuffer) = 0;
    virtual HRESULT MapParameterNames(DB_UPARAMS cParamNames, const OLECHAR *rgParamNames[],
                                      DB_LPARAMS rgParamOrdinals[]) = 0;
    virtual HRESULT SetParameterInfo(DB_UPARAMS cParams, const DB_UPARAMS rgParamOrdinals[],
                                     const DBPARAMBINDINFO rgParamBindInfo[]) = 0;
};

struct IMultipleResults : public IUnknown {
    virtual HRESULT GetResult(IUnknown *pUnkOuter, DBRESULTFLAG lResultFlag, REFIID riid,
                              DBROWCOUNT *pcRowsAffected, IUnknown **ppRowset) = 0;
};

// ---- Rowset -------------------------------------------------------------------
struct IColumnsInfo : public IUnknown {
    virtual HRESULT GetColumnInfo(DBORDINAL *pcColumns, DBCOLUMNINFO **prgInfo,
                                  OLECHAR **ppStringsBuffer) = 0;
    virtual HRESULT MapColumnIDs(DBORDINAL cColumnIDs, const DBID rgColumnIDs[],
                                 DBORDINAL rgColumns[]) = 0;
};

struct IAccessor : public IUnknown {
    virtual HRESULT AddRefAccessor(HACCESSOR hAccessor, DBREFCOUNT *pcRefCount) = 0;
    virtual HRESULT CreateAccessor(DBACCESSORFLAGS dwAccessorFlags, DBCOUNTITEM cBindings,
                                   const DBBINDING rgBindings[], DBLENGTH cbRowSize,
                                   HACCESSOR *phAccessor, DBBINDSTATUS rgStatus[]) = 0;
    virtual HRESULT GetBindings(HACCESSOR hAccessor, DBACCESSORFLAGS *pdwAccessorFlags,
                                DBCOUNTITEM *pcBindings, DBBINDING **prgBindings) = 0;
    virtual HRESULT ReleaseAccessor(HACCESSOR hAccessor, DBREFCOUNT *pcRefCount) = 0;
};

struct IRowset : public IUnknown {
    virtual HRESULT AddRefRows(DBCOUNTITEM cRows, const HROW rghRows[], DBREFCOUNT rgRefCounts[],
                               DBROWSTATUS rgRowStatus[]) = 0;
    virtual HRESULT GetData(HROW hRow, HACCESSOR hAccessor, void *pData) = 0;
    virtual HRESULT GetNextRows(HCHAPTER hReserved, DBROWOFFSET lRowsOffset, DBROWCOUNT cRows,
                                DBCOUNTITEM *pcRowsObtained, HROW **prghRows) = 0;
    virtual HRESULT ReleaseRows(DBCOUNTITEM cRows, const HROW rghRows[], DBROWOPTIONS rgRowOptions[],
                                DBREFCOUNT rgRefCounts[], DBROWSTATUS rgRowStatus[]) = 0;
    virtual HRESULT RestartPosition(HCHAPTER hReserved) = 0;
};

struct IRowsetInfo : public IUnknown {
    virtual HRESULT GetProperties(const ULONG cPropertyIDSets, const DBPROPIDSET rgPropertyIDSets[],
                                  ULONG *pcPropertySets, DBPROPSET **prgPropertySets) = 0;
    virtual HRESULT GetReferencedRowset(DBORDINAL iOrdinal, REFIID riid,
                                        IUnknown **ppReferencedRowset) = 0;
    virtual HRESULT GetSpecification(REFIID riid, IUnknown **ppSpecification) = 0;
};

struct IRowsetLocate : public IRowset {
    virtual HRESULT Compare(HCHAPTER hReserved, DBBKMARK cbBookmark1, const BYTE *pBookmark1,
                            DBBKMARK cbBookmark2, const BYTE *pBookmark2,
                            DBCOMPARE *pComparison) = 0;
    virtual HRESULT GetRowsAt(HWATCHREGION hReserved1, HCHAPTER hReserved2, DBBKMARK cbBookmark,
                              const BYTE *pBookmark, DBROWOFFSET lRowsOffset, DBROWCOUNT cRows,
                              DBCOUNTITEM *pcRowsObtained, HROW **prghRows) = 0;
    virtual HRESULT GetRowsByBookmark(HCHAPTER hReserved, DBCOUNTITEM cRows,
                                      const DBBKMARK rgcbBookmarks[], const BYTE *rgpBookmarks[],
                                      HROW rghRows[], DBROWSTATUS rgRowStatus[]) = 0;
    virtual HRESULT Hash(HCHAPTER hReserved, DBBKMARK cBookmarks, const DBBKMARK rgcbBookmarks[],
                         const BYTE *rgpBookmarks[], DBHASHVALUE rgHashedValues[],
                         DBROWSTATUS rgBookmarkStatus[]) = 0;
};

struct IRowsetScroll : public IRowsetLocate {
    virtual HRESULT GetApproximatePosition(HCHAPTER hReserved, DBBKMARK cbBookmark,
                                           const BYTE *pBookmark, DBCOUNTITEM *pulPosition,
                                           DBCOUNTITEM *pcRows) = 0;
    virtual HRESULT GetRowsAtRatio(HWATCHREGION hReserved1, HCHAPTER hReserved2,
                                   DBCOUNTITEM ulNumerator, DBCOUNTITEM ulDenominator,
                                   DBROWCOUNT cRows, DBCOUNTITEM *pcRowsObtained,
                                   HROW **prghRows) = 0;
};

struct IRowsetChange : public IUnknown {
    virtual HRESULT DeleteRows(HCHAPTER hReserved, DBCOUNTITEM cRows, const HROW rghRows[],
                               DBROWSTATUS rgRowStatus[]) = 0;
    virtual HRESULT SetData(HROW hRow, HACCESSOR hAccessor, void *pData) = 0;
    virtual HRESULT InsertRow(HCHAPTER hReserved, HACCESSOR hAccessor, void *pData,
                              HROW *phRow) = 0;
};

struct IChapteredRowset : public IUnknown {
    virtual HRESULT AddRefChapter(HCHAPTER hChapter, DBREFCOUNT *pcRefCount) = 0;
    virtual HRESULT ReleaseChapter(HCHAPTER hChapter, DBREFCOUNT *pcRefCount) = 0;
};

struct IConvertType : public IUnknown {
    virtual HRESULT CanConvert(DBTYPE wFromType, DBTYPE wToType, DBCONVERTFLAGS dwConvertFlags) = 0;
};

// ---- Errors -------------------------------------------------------------------
struct IErrorRecords : public IUnknown {
    virtual HRESULT AddErrorRecord(ERRORINFO *pErrorInfo, DWORD dwLookupID, DISPPARAMS *pdispparams,
                                   IUnknown *punkCustomError, DWORD dwDynamicErrorID) = 0;
    virtual HRESULT GetBasicErrorInfo(ULONG ulRecordNum, ERRORINFO *pErrorInfo) = 0;
    virtual HRESULT GetCustomErrorObject(ULONG ulRecordNum, REFIID riid, IUnknown **ppObject) = 0;
    virtual HRESULT GetErrorInfo(ULONG ulRecordNum, LCID lcid, IErrorInfo **ppErrorInfo) = 0;
    virtual HRESULT GetErrorParameters(ULONG ulRecordNum, DISPPARAMS *pdispparams) = 0;
    virtual HRESULT GetRecordCount(ULONG *pcRecords) = 0;
};

// ---- Service components and the conversion library ------------------------------
struct IDataInitialize : public IUnknown {
    virtual HRESULT GetDataSource(IUnknown *pUnkOuter, DWORD dwClsCtx,
                                  LPCOLESTR pwszInitializationString, REFIID riid,
                                  IUnknown **ppDataSource) = 0;
    virtual HRESULT GetInitializationString(IUnknown *pDataSource, BYTE fIncludePassword,
                                            LPOLESTR *ppwszInitString) = 0;
    virtual HRESULT CreateDBInstance(REFCLSID clsidProvider, IUnknown *pUnkOuter, DWORD dwClsCtx,
                                     LPOLESTR pwszReserved, REFIID riid,
                                     IUnknown **ppDataSource) = 0;
    virtual HRESULT CreateDBInstanceEx(REFCLSID clsidProvider, IUnknown *pUnkOuter, DWORD dwClsCtx,
                                       LPOLESTR pwszReserved, COSERVERINFO *pServerInfo, ULONG cmq,
                                       MULTI_QI *rgmqResults) = 0;
    virtual HRESULT LoadStringFromStorage(LPCOLESTR pwszFileName,
                                          LPOLESTR *ppwszInitializationString) = 0;
    virtual HRESULT WriteStringToStorage(LPCOLESTR pwszFileName, LPCOLESTR pwszInitializationString,
                                         DWORD dwCreationDisposition) = 0;
};

struct IDataConvert : public IUnknown {
    virtual HRESULT DataConvert(DBTYPE wSrcType, DBTYPE wDstType, DBLENGTH cbSrcLength,
                                DBLENGTH *pcbDstLength, void *pSrc, void *pDst,
                                DBLENGTH cbDstMaxLength, DBSTATUS dbsSrcStatus,
                                DBSTATUS *pdbsStatus, BYTE bPrecision, BYTE bScale,
                                DBDATACONVERT dwFlags) = 0;
    virtual HRESULT CanConvert(DBTYPE wSrcType, DBTYPE wDstType) = 0;
    virtual HRESULT GetConversionSize(DBTYPE wSrcType, DBTYPE wDstType, DBLENGTH *pcbSrcLength,
                                      DBLENGTH *pcbDstLength, void *pSrc) = 0;
};

// ---- Interface identifiers ------------------------------------------------------
extern const IID IID_IDBInitialize;
extern const IID IID_IDBProperties;
extern const IID IID_IDBCreateSession;
extern const IID IID_IDBCreateCommand;
extern const IID IID_IOpenRowset;
extern const IID IID_ISessionProperties;
extern const IID IID_IGetDataSource;
extern const IID IID_ITransaction;
extern const IID IID_ITransactionLocal;
extern const IID IID_ITransactionOptions;
extern const IID IID_ICommand;
extern const IID IID_ICommandText;
extern const IID IID_ICommandPrepare;
extern const IID IID_ICommandProperties;
extern const IID IID_ICommandWithParameters;
extern const IID IID_IMultipleResults;
extern const IID IID_IColumnsInfo;
extern const IID IID_IAccessor;
extern const IID IID_IRowset;
extern const IID IID_IRowsetInfo;
extern const IID IID_IRowsetLocate;
extern const IID IID_IRowsetScroll;
extern const IID IID_IRowsetChange;
extern const IID IID_IChapteredRowset;
extern const IID IID_IConvertType;
extern const IID IID_IErrorRecords;
extern const IID IID_IDataInitialize;
extern const IID IID_IDataConvert;
