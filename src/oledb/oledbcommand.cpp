#include "oledb/oledbcommand.h"

OLEDBCommandPart::~OLEDBCommandPart()
{
    multipleResults.reset();
    releaseCommand();
}

void OLEDBCommandPart::releaseCommand()
{
    if (paramAccessor != 0 && commandObject) {
        rz::ComPtr<IAccessor> accessor;
        if (SUCCEEDED(commandObject.query(IID_IAccessor, accessor))) {
            accessor->ReleaseAccessor(paramAccessor, nullptr);
            paramAccessor = 0;
        }
    }
    commandObject.reset();
}

HRESULT OLEDBCommandPart::createCommand(IOpenRowset *session, const OLECHAR *text, REFGUID dialect)
{
    releaseCommand();
    if (!session)
        return E_FAIL;
    {
        rz::ComPtr<IDBCreateCommand> factory;
        HRESULT hr = session->QueryInterface(IID_IDBCreateCommand, factory.putVoid());
        if (FAILED(hr))
            return hr;
        hr = factory->CreateCommand(nullptr, IID_ICommand, commandObject.putUnknown());
        if (FAILED(hr))
            return hr;
    }
    rz::ComPtr<ICommandText> commandText;
    HRESULT hr = commandObject.query(IID_ICommandText, commandText);
    if (FAILED(hr))
        return hr;
    return commandText->SetCommandText(dialect, text);
}

HRESULT OLEDBCommandPart::prepare()
{
    rz::ComPtr<ICommandPrepare> preparer;
    const HRESULT hr = commandObject.query(IID_ICommandPrepare, preparer);
    if (FAILED(hr))
        return hr;
    return preparer->Prepare(0);
}

HRESULT OLEDBCommandPart::executeWith(OLEDBAccessor &accessor, OLEDBRowset &rowset,
                                      DBPARAMS *params, DBROWCOUNT *rowsAffected, bool bind,
                                      DBPROPSET *propertySets, ULONG propertySetCount)
{
    if (!commandObject)
        return E_FAIL;
    if (propertySets) {
        rz::ComPtr<ICommandProperties> properties;
        HRESULT hr = commandObject.query(IID_ICommandProperties, properties);
        if (FAILED(hr))
            return hr;
        hr = properties->SetProperties(propertySetCount, propertySets);
        if (FAILED(hr))
            return hr;
    }

    DBROWCOUNT localCount = 0;
    DBROWCOUNT *count = rowsAffected ? rowsAffected : &localCount;
    HRESULT hr = commandObject->Execute(nullptr, IID_IMultipleResults, params, count,
                                        multipleResults.putUnknown());
    if (FAILED(hr)) {
        hr =
            commandObject->Execute(nullptr, IID_IRowset, params, count, rowset.rowset.putUnknown());
    } else if (!multipleResults) {
        hr = E_FAIL;
    } else {
        closeAccessorRowset(accessor, rowset);
        hr = multipleResults->GetResult(nullptr, DBRESULTFLAG_DEFAULT, IID_IRowset, count,
                                        rowset.rowset.putUnknown());
    }
    if (FAILED(hr))
        return hr;

    if (rowset.rowset)
        rowset.rowset.query(IID_IRowsetChange, rowset.rowsetChange);

    if (bind && rowset.rowset) {
        const HRESULT bound = accessor.bindColumns(rowset.rowset.get());
        return FAILED(bound) ? bound : S_OK;
    }
    return hr;
}
