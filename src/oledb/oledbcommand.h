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

    // Releases the parameter accessor (through the command's IAccessor),
    // then the command.
    void releaseCommand();

    rz::ComPtr<ICommand> commandObject;
    HACCESSOR paramAccessor = 0;
    rz::ComPtr<IMultipleResults> multipleResults;
};

// Creates an ICommand on `session` and sets its text.
HRESULT createCommand(OLEDBCommandPart &command, IOpenRowset *session, const OLECHAR *text,
                      REFGUID dialect);

// Executes; see OLEDBCommand::execute.
HRESULT executeCommand(OLEDBCommandPart &command, OLEDBAccessor &accessor, OLEDBRowset &rowset,
                       DBPARAMS *params, DBROWCOUNT *rowsAffected, bool bind,
                       DBPROPSET *propertySets, ULONG propertySetCount);

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

    HRESULT createCommand(IOpenRowset *session, const OLECHAR *text, REFGUID dialect)
    {
        return ::createCommand(*this, session, text, dialect);
    }

    // Runs the command: with property sets, they are set through
    // ICommandProperties first. With `bind`, the rowset's columns are bound
    // and S_OK stands for the whole sequence; without, the execution's own
    // result is returned, success codes included.
    HRESULT execute(DBPARAMS *params, DBROWCOUNT *rowsAffected, bool bind,
                    DBPROPSET *propertySets = nullptr, ULONG propertySetCount = 0)
    {
        return executeCommand(*this, *this, *this, params, rowsAffected, bind, propertySets,
                              propertySetCount);
    }
};
