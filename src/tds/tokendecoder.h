#pragma once
// Decodes the token stream of a server response and hands each token to a
// TokenHandler. Rows go straight into the caller's row buffer (see
// rowlayout.h). Each token is read whole before the handler sees it, so the
// handler may pause decoding after any token and resume it later.

#include "tds/rowlayout.h"
#include "tds/tokens.h"
#include "tds/wirereader.h"

#include <vector>

namespace rz::tds {

class TokenHandler {
public:
    virtual ~TokenHandler() = default;
    // Handlers return false to pause decoding after that token.
    virtual bool onColumns(const std::vector<ColumnInfo> &) { return true; }
    // Where the next row goes; the default drops rows.
    virtual RowTarget rowTarget() { return {}; }
    virtual bool onRow() { return true; }
    virtual bool onDone(const Done &) { return true; }
    virtual bool onReturnValue(const ReturnValue &) { return true; }
    virtual void onReturnStatus(int32_t) {}
    virtual void onMessage(const ServerMessage &) {}
    virtual void onEnvChange(const EnvChange &) {}
    virtual void onOrder(const std::vector<uint16_t> &) {}
    virtual void onLoginAck(const LoginAck &) {}
    // A token of the integrated login's exchange, for the client's security context.
    virtual void onSspi(const std::vector<uint8_t> &) {}
    virtual void onFeatureAck(uint8_t /*feature*/, const std::vector<uint8_t> & /*data*/) {}
};

class TokenDecoder {
public:
    enum class Progress { Paused, EndOfMessage };

    // Decodes tokens from `reader` until the handler pauses or the message
    // ends. Throws TdsError(Protocol) on a malformed stream.
    Progress run(WireReader &reader, TokenHandler &handler);

    const std::vector<ColumnInfo> &columns() const { return columns_; }
    // The current row's long value of `column` when no LongValueSink was given.
    const std::vector<uint8_t> &longValue(size_t column) const { return longAreas_.at(column); }
    // Forgets the result's columns (a new request starts).
    void reset();

private:
    bool decodeToken(uint8_t type, WireReader &reader, TokenHandler &handler);
    void readColumns(WireReader &reader);
    void readRow(WireReader &reader, const RowTarget &target, const uint8_t *nullBitmap);
    void checkLayout(const RowLayout &layout);
    ReturnValue readReturnValue(WireReader &reader);

    std::vector<ColumnInfo> columns_;
    std::vector<std::vector<uint8_t>> longAreas_;
    std::vector<uint8_t> nullBitmap_;
    const RowLayout *checkedLayout_ = nullptr;
};

// Pieces of the decoder that the login and the tests use on their own.
ServerMessage readServerMessage(WireReader &reader, bool isError);
EnvChange readEnvChange(WireReader &reader);
Done readDone(WireReader &reader, uint8_t token);

} // namespace rz::tds
