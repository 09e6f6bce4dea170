#include "provider/serverconnection.h"

#include "provider/resultstream.h"

namespace rz::provider {

void ServerConnection::makeIdle()
{
    if (auto stream = active_.lock()) {
        active_.reset();
        stream->readRemainingIntoMemory();
    }
}

void ServerConnection::clearActive(const ResultStream *stream)
{
    if (auto current = active_.lock(); !current || current.get() == stream)
        active_.reset();
}

} // namespace rz::provider
