#pragma once
// A command on the driver's session with its rowset and accessor: created
// with text and dialect, executed (first for IMultipleResults, else for
// IRowset), its first rowset opened and optionally bound.

#include "oledb/oledbrowset.h"

// The command part: the ICommand, its parameter accessor and the
// multiple-results object of the last execution.
class OLEDBCommandPart
{
public:
    OLEDBCommandPart() = default;
    ~OLEDBCommandPart();
    OLEDBCommandPart(const OLEDBCommandPart &) = delete;
    OLEDBCommandPart &operator=(const OLEDBCommandPart &) = delete;

    // Creates an ICommand on `session` and sets its text; an earlier command
    // is released first.
    HRESULT createCommand(IOpenRowset *session, const OLECHAR *text, REFGUID dialect);
    // ICommandPrepare::Prepare, or the refusal of the interface.
    HRESULT prepare();
    // Releases the parameter accessor (through the command's IAccessor),
    // then the command.
    void releaseCommand();
    void releaseMultipleResults() { multipleResults.reset(); }

    ICommand *commandInterface() const { return commandObject.get(); }
    bool hasCommand() const { return bool(commandObject); }

protected:
    // Executes; see OLEDBCommand::execute.
    HRESULT executeWith(OLEDBAccessor &accessor, OLEDBRowset &rowset, DBPARAMS *params,
                        DBROWCOUNT *rowsAffected, bool bind, DBPROPSET *propertySets,
                        ULONG propertySetCount);

    rz::ComPtr<ICommand> commandObject;
    HACCESSOR paramAccessor = 0;
    rz::ComPtr<IMultipleResults> multipleResults;
};

template <class Accessor>
class OLEDBCommand : public OLEDBAccessorRowset<Accessor>, public OLEDBCommandPart
{
public:
    OLEDBCommand() = default;
    ~OLEDBCommand()
    {
        multipleResults.reset();
        releaseCommand();
        this->close();
        this->closeRowset();
    }

    // Runs the command: with property sets, they are set through
    // ICommandProperties first. With `bind`, the rowset's columns are bound
    // and S_OK stands for the whole sequence; without, the execution's own
    // result is returned, success codes included.
    HRESULT execute(DBPARAMS *params, DBROWCOUNT *rowsAffected, bool bind,
                    DBPROPSET *propertySets = nullptr, ULONG propertySetCount = 0)
    {
        return executeWith(*this, *this, params, rowsAffected, bind, propertySets,
                           propertySetCount);
    }

    // Parameter form: bindParameters on the command's own parameter accessor.
    HRESULT bindCommandParameters(void **buffer, bool bindLength, bool bindStatus)
    {
        return this->bindParameters(&paramAccessor, commandObject.get(), buffer, bindLength,
                                    bindStatus);
    }

    // Parameter form: executes with one set of parameters in `buffer`.
    HRESULT executeWithParameters(void *buffer, DBROWCOUNT *rowsAffected)
    {
        DBPARAMS params;
        params.pData = buffer;
        params.cParamSets = 1;
        params.hAccessor = paramAccessor;
        return execute(&params, rowsAffected, false);
    }
};
