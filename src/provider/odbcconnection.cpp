#include "provider/odbcconnection.h"

#include "provider/odbccall.h"
#include "provider/resultstream.h"

namespace rz::provider {

void OdbcConnection::makeIdle()
{
    if (auto stream = active_.lock()) {
        active_.reset();
        stream->readRemainingIntoMemory();
    }
}

void OdbcConnection::clearActive(const ResultStream *stream)
{
    if (auto current = active_.lock(); !current || current.get() == stream)
        active_.reset();
}

StatementHandle OdbcConnection::newStatement()
{
    StatementHandle statement;
    odbcCall(statement.allocate(handle_.get()), handle_);
    return statement;
}

} // namespace rz::provider
