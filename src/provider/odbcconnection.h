#pragma once
// One ODBC connection shared by a session and everything made on it.
// The connection carries one statement's results at a time (FreeTDS has no
// multiple active result sets), so before another statement runs, the
// result stream that still holds unread rows reads them into memory.

#include "provider/odbchandle.h"

#include <memory>

namespace rz::provider {

class ResultStream;

class OdbcConnection {
public:
    explicit OdbcConnection(ConnectionHandle handle) : handle_(std::move(handle)) {}
    OdbcConnection(const OdbcConnection &) = delete;
    OdbcConnection &operator=(const OdbcConnection &) = delete;

    SQLHDBC handle() const { return handle_.get(); }

    // Lets the stream that still reads from the wire finish into memory.
    void makeIdle();
    // The stream whose results the connection carries now.
    void setActive(const std::shared_ptr<ResultStream> &stream) { active_ = stream; }
    void clearActive(const ResultStream *stream);

    // Allocates a statement handle; on failure the diagnostics are pending.
    StatementHandle newStatement();

    bool inTransaction() const { return inTransaction_; }
    void setInTransaction(bool on) { inTransaction_ = on; }

private:
    ConnectionHandle handle_;
    std::weak_ptr<ResultStream> active_;
    bool inTransaction_ = false;
};

} // namespace rz::provider
