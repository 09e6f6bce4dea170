#pragma once
// The seam between the OLE DB objects and the client library under them:
// one logged-in connection to the server, shared by a session and
// everything made on it. A backend (ODBC, or the provider's own TDS client)
// derives from ServerConnection and ResultStream (resultstream.h); the data
// source, session, command, rowset and multiple-results objects see only
// these two.
//
// The connection carries one statement's results at a time (neither FreeTDS
// nor the TDS client uses multiple active result sets), so before another
// statement runs, the result stream that still holds unread rows reads them
// into memory.

#include "platform/sdk/oledb.h"
#include "provider/connectionstring.h"
#include "provider/values/parametervalues.h"
#include "provider/values/sqltypes.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace rz::provider {

class ResultStream;

class ServerConnection {
public:
    virtual ~ServerConnection() = default;
    ServerConnection(const ServerConnection &) = delete;
    ServerConnection &operator=(const ServerConnection &) = delete;

    // Runs one statement (a batch, or with parameters a parameterised
    // request) and gives its results as a stream standing on the first
    // result. The connection is made idle first. A failure HRESULT leaves
    // the diagnostics pending. timeoutSeconds bounds the request and the
    // reading of its results; 0: no limit. A command passes its own
    // time-out; other requests pass generalTimeoutSeconds().
    virtual HRESULT execute(const std::u16string &text, std::vector<ParameterValue> *parameters,
                            long timeoutSeconds, std::shared_ptr<ResultStream> &stream) = 0;

    // The time-out of requests other than logging in and a command's
    // execution: opening a table by name, transactions, a cancel. 0: none.
    long generalTimeoutSeconds() const { return generalTimeoutSeconds_; }

    // Local transactions. begin and end return false with diagnostics
    // pending. After end (commit or abort) without `retaining`, or when the
    // server could not end the transaction, the connection is back in
    // auto-commit; with `retaining` a new transaction has begun.
    bool inTransaction() const { return inTransaction_; }
    virtual bool beginTransaction(ISOLEVEL level) = 0;
    virtual bool endTransaction(bool commit, bool retaining) = 0;
    // The session goes: an open transaction is rolled back, errors ignored.
    virtual void abandonTransaction() = 0;

    // Lets the stream that still reads from the wire finish into memory.
    void makeIdle();
    // The stream whose results the connection carries now.
    void setActive(const std::shared_ptr<ResultStream> &stream) { active_ = stream; }
    void clearActive(const ResultStream *stream);

protected:
    explicit ServerConnection(long generalTimeoutSeconds) : generalTimeoutSeconds_(generalTimeoutSeconds) {}
    void setInTransaction(bool on) { inTransaction_ = on; }

private:
    std::weak_ptr<ResultStream> active_;
    long generalTimeoutSeconds_ = 0;
    bool inTransaction_ = false;
};

// Makes the logged-in connections of one data source.
class Backend {
public:
    virtual ~Backend() = default;
    // Logs in; null with diagnostics pending (the server's reason first).
    virtual std::shared_ptr<ServerConnection> connect(const ConnectionSettings &settings) = 0;
};

} // namespace rz::provider
