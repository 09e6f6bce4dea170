#pragma once
// Which interface identifiers each interface answers to in QueryInterface:
// its own and those of the interfaces it derives from (IUnknown aside).

#include "platform/sdk/oledb.h"

#include <initializer_list>

namespace rz {

template <class Interface>
struct InterfaceIds; // no default: a class listing an unknown interface does not compile

#define RZ_INTERFACE_IDS(Interface, ...)                                                           \
    template <>                                                                                    \
    struct InterfaceIds<Interface> {                                                               \
        static bool matches(REFIID iid)                                                            \
        {                                                                                          \
            for (const IID *known : {__VA_ARGS__})                                                 \
                if (*known == iid)                                                                 \
                    return true;                                                                   \
            return false;                                                                          \
        }                                                                                          \
    };

RZ_INTERFACE_IDS(ISequentialStream, &IID_ISequentialStream)
RZ_INTERFACE_IDS(IStream, &IID_IStream, &IID_ISequentialStream)
RZ_INTERFACE_IDS(IErrorInfo, &IID_IErrorInfo)
RZ_INTERFACE_IDS(ICreateErrorInfo, &IID_ICreateErrorInfo)
RZ_INTERFACE_IDS(ISupportErrorInfo, &IID_ISupportErrorInfo)
RZ_INTERFACE_IDS(IClassFactory, &IID_IClassFactory)
RZ_INTERFACE_IDS(IErrorRecords, &IID_IErrorRecords)
RZ_INTERFACE_IDS(IDBInitialize, &IID_IDBInitialize)
RZ_INTERFACE_IDS(IDBProperties, &IID_IDBProperties)
RZ_INTERFACE_IDS(IDBCreateSession, &IID_IDBCreateSession)
RZ_INTERFACE_IDS(IDBCreateCommand, &IID_IDBCreateCommand)
RZ_INTERFACE_IDS(IOpenRowset, &IID_IOpenRowset)
RZ_INTERFACE_IDS(ISessionProperties, &IID_ISessionProperties)
RZ_INTERFACE_IDS(IGetDataSource, &IID_IGetDataSource)
RZ_INTERFACE_IDS(ITransaction, &IID_ITransaction)
RZ_INTERFACE_IDS(ITransactionLocal, &IID_ITransactionLocal, &IID_ITransaction)
RZ_INTERFACE_IDS(ITransactionOptions, &IID_ITransactionOptions)
RZ_INTERFACE_IDS(ICommand, &IID_ICommand)
RZ_INTERFACE_IDS(ICommandText, &IID_ICommandText, &IID_ICommand)
RZ_INTERFACE_IDS(ICommandPrepare, &IID_ICommandPrepare)
RZ_INTERFACE_IDS(ICommandProperties, &IID_ICommandProperties)
RZ_INTERFACE_IDS(ICommandWithParameters, &IID_ICommandWithParameters)
RZ_INTERFACE_IDS(IMultipleResults, &IID_IMultipleResults)
RZ_INTERFACE_IDS(IColumnsInfo, &IID_IColumnsInfo)
RZ_INTERFACE_IDS(IAccessor, &IID_IAccessor)
RZ_INTERFACE_IDS(IRowset, &IID_IRowset)
RZ_INTERFACE_IDS(IRowsetInfo, &IID_IRowsetInfo)
RZ_INTERFACE_IDS(IRowsetLocate, &IID_IRowsetLocate, &IID_IRowset)
RZ_INTERFACE_IDS(IRowsetScroll, &IID_IRowsetScroll, &IID_IRowsetLocate, &IID_IRowset)
RZ_INTERFACE_IDS(IRowsetChange, &IID_IRowsetChange)
RZ_INTERFACE_IDS(IChapteredRowset, &IID_IChapteredRowset)
RZ_INTERFACE_IDS(IConvertType, &IID_IConvertType)
RZ_INTERFACE_IDS(IDataInitialize, &IID_IDataInitialize)
RZ_INTERFACE_IDS(IDataConvert, &IID_IDataConvert)

} // namespace rz
