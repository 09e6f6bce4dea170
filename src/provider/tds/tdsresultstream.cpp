#include "provider/tds/tdsresultstream.h"

#include "provider/tds/tdstypes.h"
#include "tds/wirewriter.h"

#include <algorithm>

namespace rz::provider {

namespace {

constexpr size_t kBlockBytes = 256 * 1024; // rows per block: as many as fit, at most kMaxBlockRows
constexpr size_t kMaxBlockRows = 256;
// A long value's announced total is a hint: a lying one must not reserve gigabytes.
constexpr uint64_t kMaxLongReserve = 1 << 20;

// The decoder writes the row record's length and status itself.
static_assert(uint32_t(rz::tds::ValueStatus::Null) == uint32_t(CellStatus::Null)
              && uint32_t(rz::tds::ValueStatus::Truncated) == uint32_t(CellStatus::Truncated));

} // namespace

TdsResultStream::TdsResultStream(std::shared_ptr<TdsConnection> connection)
    : ResultStream(connection), tds_(std::move(connection))
{
}

TdsResultStream::~TdsResultStream() { close(); }

bool TdsResultStream::start() { return seek() != Next::Failed; }

bool TdsResultStream::pump()
{
    try {
        if (tds_->wire().readResponse(*this))
            open_ = false;
        return true;
    } catch (const rz::tds::TdsError &e) {
        open_ = false;
        tds_->wireFailed(e);
        return false;
    }
}

void TdsResultStream::moveErrorsToPending()
{
    for (auto &d : errors_)
        addPendingDiagnostic(std::move(d));
    errors_.clear();
}

ResultStream::Next TdsResultStream::seek()
{
    mode_ = Mode::Seeking;
    found_ = false;
    if (columnsAhead_) {
        columnsAhead_ = false;
        describe(tds_->wire().decoder().columns());
        return Next::Result;
    }
    while (open_ && !found_) {
        if (!pump()) {
            moveErrorsToPending();
            return Next::Failed;
        }
    }
    if (!errors_.empty()) {
        moveErrorsToPending();
        return Next::Failed;
    }
    return found_ ? Next::Result : Next::End;
}

void TdsResultStream::describe(const std::vector<rz::tds::ColumnInfo> &columns)
{
    resetDescription();
    columns_.resize(columns.size());
    layout_.columns.assign(columns.size(), rz::tds::ColumnBinding{});
    longSlot_.assign(columns.size(), -1);
    size_t offset = 0;
    for (size_t i = 0; i < columns.size(); ++i) {
        ColumnDescription &c = columns_[i];
        c.name = rz::tds::utf16FromUtf8(columns[i].name);
        c.type = typeOfTdsColumn(columns[i].type);
        c.nullable = columns[i].nullable();
        rz::tds::ColumnBinding &b = layout_.columns[i];
        if (c.type.isLong) {
            c.longIndex = int(longColumnCount_++);
            longSlot_[i] = c.longIndex;
            continue;
        }
        offset = placeInRecord(c, offset, c.type.valueBytes);
        b.lengthOffset = c.lengthOffset;
        b.statusOffset = c.statusOffset;
        b.valueOffset = c.valueOffset;
        b.valueCapacity = c.type.valueBytes;
    }
    rowSize_ = std::max<size_t>(offset, 8);
    layout_.rowSize = rowSize_;
    blockRows_ = std::clamp<size_t>(kBlockBytes / rowSize_, 1, kMaxBlockRows);
    mode_ = Mode::Rows;
    found_ = true;
}

ResultStream::Fetch TdsResultStream::fetchFromWire(std::shared_ptr<RowBlock> &block)
{
    if (rowsFailed_) {
        rowsFailed_ = false;
        moveErrorsToPending();
        return Fetch::Failed;
    }
    prepareBlock(block, blockRows_);
    block->longValues.assign(blockRows_ * longColumnCount_, nullptr);
    filling_ = block.get();
    bool wireOk = true;
    while (open_ && !wireDone_ && filling_->rowCount < filling_->capacityRows && wireOk)
        wireOk = pump();
    filling_ = nullptr;
    if (!wireOk) {
        wireDone_ = true;
        moveErrorsToPending();
        return Fetch::Failed;
    }
    if (!open_)
        wireDone_ = true;
    block->longValues.resize(block->rowCount * longColumnCount_);
    if (block->rowCount)
        return Fetch::Rows;
    if (rowsFailed_) {
        rowsFailed_ = false;
        moveErrorsToPending();
        return Fetch::Failed;
    }
    return Fetch::End;
}

ResultStream::Next TdsResultStream::advanceOnWire()
{
    resetDescription();
    return seek();
}

void TdsResultStream::closeWire()
{
    if (!open_)
        return;
    open_ = false;
    rz::tds::Connection &wire = tds_->wire();
    if (!wire.usable() || !wire.responsePending())
        return;
    // The rest of the response is not wanted. When all of it is here already
    // it is read to its end (its session changes still count); otherwise
    // ATTENTION ends it at the server.
    try {
        if (wire.responseReceived())
            wire.discardResponse();
        else
            wire.cancel(tds_->cancelTimeout());
    } catch (const rz::tds::TdsError &) {
        // The connection is broken now; the next request reports it.
    }
}

bool TdsResultStream::onColumns(const std::vector<rz::tds::ColumnInfo> &columns)
{
    if (columns.empty())
        return true;
    if (mode_ == Mode::Rows) {
        // The previous result ended without a DONE of its own.
        wireDone_ = true;
        columnsAhead_ = true;
        return false;
    }
    describe(columns);
    return false;
}

rz::tds::RowTarget TdsResultStream::rowTarget()
{
    if (mode_ != Mode::Rows || !filling_ || filling_->rowCount >= filling_->capacityRows)
        return {};
    rz::tds::RowTarget target;
    target.row = filling_->data.get() + filling_->rowCount * rowSize_;
    target.layout = &layout_;
    target.longValues = longColumnCount_ ? this : nullptr;
    return target;
}

bool TdsResultStream::onRow()
{
    if (mode_ != Mode::Rows || !filling_)
        return true;
    ++filling_->rowCount;
    return filling_->rowCount < filling_->capacityRows;
}

bool TdsResultStream::onDone(const rz::tds::Done &done)
{
    if (mode_ == Mode::Rows) {
        wireDone_ = true;
        rowsFailed_ = !errors_.empty();
        mode_ = Mode::Seeking;
        return false;
    }
    if (!errors_.empty()) {
        found_ = true;
        return false;
    }
    if (done.error() && done.token != rz::tds::token::DoneProc && !done.attention()) {
        errors_.push_back({u"HY000", 0, u"The server reported an error without a message."});
        found_ = true;
        return false;
    }
    if (done.hasCount() && done.token != rz::tds::token::DoneProc) {
        affectedRows_ = int64_t(done.rowCount);
        found_ = true;
        return false;
    }
    return true;
}

void TdsResultStream::onMessage(const rz::tds::ServerMessage &message)
{
    if (message.isError && message.severity > 10)
        errors_.push_back(diagnosticFromServer(message));
}

void TdsResultStream::begin(size_t, uint64_t totalLength)
{
    longValue_ = std::make_shared<std::string>();
    if (totalLength != rz::tds::kUnknownLength)
        longValue_->reserve(size_t(std::min(totalLength, kMaxLongReserve)));
}

void TdsResultStream::append(size_t, const uint8_t *data, size_t size)
{
    if (longValue_)
        longValue_->append(reinterpret_cast<const char *>(data), size);
}

void TdsResultStream::end(size_t column)
{
    if (filling_ && column < longSlot_.size() && longSlot_[column] >= 0)
        filling_->longValues[filling_->rowCount * longColumnCount_ + size_t(longSlot_[column])] = std::move(longValue_);
    longValue_.reset();
}

} // namespace rz::provider
