#pragma once
// The TDS backend's result stream: decodes the response of one request
// straight into row blocks (values in the token decoder's forms, long
// values into storage strings). A result is a COLMETADATA and its rows, or
// a statement's row count (a DONE with a count); the server's errors end
// the result they arrive in with a failure, one diagnostic per message.

#include "provider/resultstream.h"
#include "provider/tds/tdsconnection.h"

namespace rz::provider {

class TdsResultStream final : public ResultStream, private rz::tds::TokenHandler, private rz::tds::LongValueSink {
public:
    explicit TdsResultStream(std::shared_ptr<TdsConnection> connection);
    ~TdsResultStream() override;

    // Reads up to the first result; false with diagnostics pending when the
    // statement failed before it.
    bool start();

protected:
    Fetch fetchFromWire(std::shared_ptr<RowBlock> &block) override;
    Next advanceOnWire() override;
    void closeWire() override;
    bool wireOpen() const override { return open_; }

private:
    enum class Mode { Seeking, Rows };
    // Seeks the next result from where the response stands.
    Next seek();
    // One step of decoding; false when the wire failed (diagnostic pending).
    bool pump();
    void describe(const std::vector<rz::tds::ColumnInfo> &columns);
    void moveErrorsToPending();

    // TokenHandler
    bool onColumns(const std::vector<rz::tds::ColumnInfo> &columns) override;
    rz::tds::RowTarget rowTarget() override;
    bool onRow() override;
    bool onDone(const rz::tds::Done &done) override;
    void onMessage(const rz::tds::ServerMessage &message) override;
    // LongValueSink
    void begin(size_t column, uint64_t totalLength) override;
    void append(size_t column, const uint8_t *data, size_t size) override;
    void end(size_t column) override;

    std::shared_ptr<TdsConnection> tds_;
    bool open_ = true;            // the response is still (partly) on the wire
    Mode mode_ = Mode::Seeking;
    bool found_ = false;          // seeking: a result (or a failure) was met
    bool columnsAhead_ = false;   // rows ended by the next result's metadata
    bool rowsFailed_ = false;     // errors ended the current result's rows
    std::vector<Diagnostic> errors_;
    rz::tds::RowLayout layout_;
    std::vector<int> longSlot_;   // per wire column: index among long columns, -1
    RowBlock *filling_ = nullptr;
    size_t blockRows_ = 1;
    std::shared_ptr<std::string> longValue_;
};

} // namespace rz::provider
