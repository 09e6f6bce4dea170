#pragma once
// Decodes bytes nobody vouches for the way a consumer would: rows into a
// packed row buffer, long values into the areas or a sink. Anything but
// success or TdsError is a bug.

#include "tds/error.h"
#include "tds/tokendecoder.h"

#include <cstddef>
#include <cstdint>

namespace tdstest {

class UntrustedHandler : public rz::tds::TokenHandler, public rz::tds::LongValueSink {
public:
    explicit UntrustedHandler(bool useSink) : useSink_(useSink) {}

    bool onColumns(const std::vector<rz::tds::ColumnInfo> &columns) override
    {
        // Small inline room: a stream may declare thousands of wide columns.
        layout_ = rz::tds::RowLayout::packed(columns, 64);
        row_.assign(layout_.rowSize, 0);
        return true;
    }
    rz::tds::RowTarget rowTarget() override { return {row_.data(), &layout_, useSink_ ? this : nullptr}; }
    bool onRow() override
    {
        // Touch what the decoder wrote, so the sanitizers see any bad slot.
        for (const auto &b : layout_.columns)
            checksum_ += uint64_t(rz::tds::rowStatus(row_.data(), b)) + rz::tds::rowLength(row_.data(), b);
        return (++rows_ % 7) != 0;   // pause now and then
    }
    void begin(size_t, uint64_t total) override { checksum_ += total; }
    void append(size_t, const uint8_t *data, size_t size) override
    {
        if (size)
            checksum_ += data[0] + data[size - 1];
    }
    void end(size_t) override {}

    uint64_t checksum() const { return checksum_; }

private:
    bool useSink_;
    rz::tds::RowLayout layout_;
    std::vector<uint8_t> row_;
    uint64_t rows_ = 0;
    uint64_t checksum_ = 0;
};

// True when the stream decoded, false when it was refused with TdsError.
inline bool decodeUntrusted(const uint8_t *data, size_t size, size_t chunkSize, bool useSink)
{
    rz::tds::BufferSource source(data, size, chunkSize);
    rz::tds::WireReader reader(source);
    rz::tds::TokenDecoder decoder;
    UntrustedHandler handler(useSink);
    try {
        while (decoder.run(reader, handler) == rz::tds::TokenDecoder::Progress::Paused) {
        }
        return true;
    } catch (const rz::tds::TdsError &) {
        return false;
    }
}

} // namespace tdstest
