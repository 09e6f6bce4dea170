#pragma once
// A TokenHandler that decodes every row into a packed row buffer and keeps
// each value as bytes, for tests to look at.

#include "tds/tokendecoder.h"

#include <cstring>
#include <string>
#include <vector>

namespace tdstest {

struct Cell {
    rz::tds::ValueStatus status = rz::tds::ValueStatus::Null;
    uint64_t length = 0;
    std::vector<uint8_t> bytes;   // the fixed value, or the variable bytes kept

    bool null() const { return status == rz::tds::ValueStatus::Null; }
    template <typename T>
    T as() const
    {
        T v{};
        if (bytes.size() >= sizeof v)
            std::memcpy(&v, bytes.data(), sizeof v);
        return v;
    }
    std::string text() const { return std::string(bytes.begin(), bytes.end()); }
    // UTF-16LE bytes of ASCII text back to ASCII.
    std::string utf16Ascii() const
    {
        std::string s;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            s.push_back(char(bytes[i]));
        return s;
    }
};

struct ResultSet {
    std::vector<rz::tds::ColumnInfo> columns;
    std::vector<std::vector<Cell>> rows;
};

class RowCollector : public rz::tds::TokenHandler {
public:
    explicit RowCollector(const rz::tds::TokenDecoder *decoder = nullptr, size_t maxInline = 8000)
        : decoder_(decoder), maxInline_(maxInline) {}
    void setDecoder(const rz::tds::TokenDecoder *decoder) { decoder_ = decoder; }

    bool onColumns(const std::vector<rz::tds::ColumnInfo> &columns) override
    {
        results.push_back({columns, {}});
        layout_ = rz::tds::RowLayout::packed(columns, maxInline_);
        row_.assign(layout_.rowSize, 0xCC);   // garbage, so unwritten slots show
        return true;
    }
    rz::tds::RowTarget rowTarget() override { return {row_.data(), &layout_, nullptr}; }
    bool onRow() override
    {
        auto &set = results.back();
        std::vector<Cell> cells;
        for (size_t i = 0; i < set.columns.size(); ++i) {
            const auto &b = layout_.columns[i];
            Cell c;
            c.status = rz::tds::rowStatus(row_.data(), b);
            c.length = rz::tds::rowLength(row_.data(), b);
            if (c.status != rz::tds::ValueStatus::Null) {
                if (set.columns[i].type.isLong()) {
                    c.bytes = decoder_->longValue(i);
                } else {
                    const size_t kept = set.columns[i].type.isVariableLength()
                                            ? std::min<size_t>(size_t(c.length), b.valueCapacity)
                                            : set.columns[i].type.valueSize();
                    c.bytes.assign(row_.begin() + long(b.valueOffset), row_.begin() + long(b.valueOffset + kept));
                }
            }
            cells.push_back(std::move(c));
        }
        set.rows.push_back(std::move(cells));
        return pauseAfterEachRow ? false : true;
    }
    bool onDone(const rz::tds::Done &done) override
    {
        dones.push_back(done);
        return true;
    }
    bool onReturnValue(const rz::tds::ReturnValue &value) override
    {
        returnValues.push_back(value);
        return true;
    }
    void onReturnStatus(int32_t status) override { returnStatuses.push_back(status); }
    void onMessage(const rz::tds::ServerMessage &message) override { messages.push_back(message); }
    void onOrder(const std::vector<uint16_t> &order) override { orders.push_back(order); }

    std::vector<ResultSet> results;
    std::vector<rz::tds::Done> dones;
    std::vector<rz::tds::ReturnValue> returnValues;
    std::vector<int32_t> returnStatuses;
    std::vector<rz::tds::ServerMessage> messages;
    std::vector<std::vector<uint16_t>> orders;
    bool pauseAfterEachRow = false;

private:
    const rz::tds::TokenDecoder *decoder_;
    size_t maxInline_;
    rz::tds::RowLayout layout_;
    std::vector<uint8_t> row_;
};

} // namespace tdstest
