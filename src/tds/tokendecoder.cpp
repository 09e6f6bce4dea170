#include "tds/tokendecoder.h"

#include "common/bytes.h"
#include "tds/valuereader.h"
#include "tds/wirewriter.h"

#include <algorithm>
#include <cstring>

namespace rz::tds {

namespace {

// Writes one value into its row buffer slots, or into a long-value area or
// sink for long columns.
class RowSlotWriter {
public:
    RowSlotWriter(uint8_t *row, const ColumnBinding &binding, bool isLong, size_t column, LongValueSink *sink,
                  std::vector<uint8_t> &area)
        : row_(row), binding_(binding), isLong_(isLong), column_(column), sink_(sink), area_(area) {}

    void null()
    {
        if (isLong_ && !sink_)
            area_.clear();
        finish(ValueStatus::Null, 0);
    }
    void fixed(const void *data, size_t size)
    {
        if (binding_.valueOffset != kNoSlot)
            std::memcpy(row_ + binding_.valueOffset, data, size);
        finish(ValueStatus::Ok, size);
    }
    void beginVariable(uint64_t total)
    {
        length_ = 0;
        if (!isLong_)
            return;
        if (sink_) {
            sink_->begin(column_, total);
        } else {
            area_.clear();
            // A lying total must not reserve gigabytes; growth covers the rest.
            if (total != kUnknownLength)
                area_.reserve(size_t(std::min<uint64_t>(total, 1 << 20)));
        }
    }
    void append(const uint8_t *data, size_t size)
    {
        if (isLong_) {
            if (sink_)
                sink_->append(column_, data, size);
            else
                area_.insert(area_.end(), data, data + size);
        } else if (binding_.valueOffset != kNoSlot && length_ < binding_.valueCapacity) {
            const size_t room = binding_.valueCapacity - size_t(length_);
            std::memcpy(row_ + binding_.valueOffset + length_, data, std::min(room, size));
        }
        length_ += size;
    }
    void endVariable()
    {
        if (isLong_ && sink_)
            sink_->end(column_);
        const bool truncated = !isLong_ && binding_.valueOffset != kNoSlot && length_ > binding_.valueCapacity;
        finish(truncated ? ValueStatus::Truncated : ValueStatus::Ok, length_);
    }

private:
    void finish(ValueStatus status, uint64_t length)
    {
        if (binding_.statusOffset != kNoSlot)
            storeUnaligned(row_ + binding_.statusOffset, status);
        if (binding_.lengthOffset != kNoSlot)
            storeUnaligned(row_ + binding_.lengthOffset, length);
    }

    uint8_t *row_;
    const ColumnBinding &binding_;
    bool isLong_;
    size_t column_;
    LongValueSink *sink_;
    std::vector<uint8_t> &area_;
    uint64_t length_ = 0;
};

// Collects a value into a vector (return values: few, so allocation is fine).
struct OwnedValueWriter {
    bool isNull = false;
    std::vector<uint8_t> bytes;

    void null() { isNull = true; }
    void fixed(const void *data, size_t size)
    {
        const auto *p = static_cast<const uint8_t *>(data);
        bytes.assign(p, p + size);
    }
    void beginVariable(uint64_t) { bytes.clear(); }
    void append(const uint8_t *data, size_t size) { bytes.insert(bytes.end(), data, data + size); }
    void endVariable() {}
};

void skipBytes(WireReader &reader, size_t count)
{
    reader.skip(count);
}

std::vector<uint8_t> readBytes(WireReader &reader, size_t count)
{
    std::vector<uint8_t> bytes(count);
    reader.read(bytes.data(), count);
    return bytes;
}

ColumnInfo readColumn(WireReader &reader)
{
    ColumnInfo column;
    column.userType = reader.u32le();
    column.flags = reader.u16le();
    column.type = readTypeInfo(reader);
    if (column.type.hasTextPointer()) {
        const uint8_t parts = reader.u8();
        for (uint8_t i = 0; i < parts; ++i) {
            if (i)
                column.tableName += '.';
            column.tableName += reader.usVarchar();
        }
    }
    column.name = reader.bVarchar();
    return column;
}

LoginAck readLoginAck(WireReader &reader)
{
    const uint16_t length = reader.u16le();
    if (length < 10)
        throwProtocol("LOGINACK too short");
    LoginAck ack;
    ack.interfaceType = reader.u8();
    ack.tdsVersion = reader.u32be();
    const uint8_t nameLength = reader.u8();
    if (size_t(10) + size_t(nameLength) * 2 != length)
        throwProtocol("LOGINACK length does not match its program name");
    ack.programName = reader.utf16(nameLength);
    ack.versionMajor = reader.u8();
    ack.versionMinor = reader.u8();
    ack.versionBuild = uint16_t(reader.u8() << 8);
    ack.versionBuild = uint16_t(ack.versionBuild | reader.u8());
    return ack;
}

} // namespace

ServerMessage readServerMessage(WireReader &reader, bool isError)
{
    const uint16_t length = reader.u16le();
    ServerMessage m;
    m.isError = isError;
    m.number = reader.i32le();
    m.state = reader.u8();
    m.severity = reader.u8();
    const uint16_t textLength = reader.u16le();
    m.message = reader.utf16(textLength);
    const uint8_t serverLength = reader.u8();
    m.server = reader.utf16(serverLength);
    const uint8_t procedureLength = reader.u8();
    m.procedure = reader.utf16(procedureLength);
    m.line = reader.i32le();
    const size_t used = 4 + 1 + 1 + 2 + size_t(textLength) * 2 + 1 + size_t(serverLength) * 2 + 1 +
                        size_t(procedureLength) * 2 + 4;
    if (used != length)
        throwProtocol("message token length does not match its contents");
    return m;
}

EnvChange readEnvChange(WireReader &reader)
{
    const uint16_t length = reader.u16le();
    if (length < 1)
        throwProtocol("empty ENVCHANGE");
    const std::vector<uint8_t> body = readBytes(reader, length);
    EnvChange change;
    change.type = body[0];
    size_t at = 1;
    auto take = [&](size_t count) {
        if (count > body.size() - at)
            throwProtocol("ENVCHANGE value runs past the token");
        const uint8_t *p = body.data() + at;
        at += count;
        return p;
    };
    auto text = [&]() {
        const size_t characters = *take(1);
        const uint8_t *p = take(characters * 2);
        return utf8FromUtf16Le(p, characters * 2);
    };
    auto bytes = [&]() {
        const size_t count = *take(1);
        const uint8_t *p = take(count);
        return std::vector<uint8_t>(p, p + count);
    };
    switch (change.type) {
    case envchange::Database:
    case envchange::Language:
    case envchange::CharacterSet:
    case envchange::PacketSize:
    case 5:
    case 6:
    case envchange::MirroringPartner:
        change.newText = text();
        change.oldText = text();
        break;
    case envchange::Routing: {
        const uint8_t *p = take(2);
        const size_t count = size_t(p[0] | p[1] << 8);
        const uint8_t *data = take(count);
        change.newBytes.assign(data, data + count);
        break;
    }
    default:   // collation, transaction descriptors and the like: B_VARBYTE pairs
        change.newBytes = bytes();
        if (at < body.size())
            change.oldBytes = bytes();
        break;
    }
    return change;
}

Done readDone(WireReader &reader, uint8_t token)
{
    Done done;
    done.token = token;
    done.status = reader.u16le();
    done.currentCommand = reader.u16le();
    done.rowCount = reader.u64le();
    return done;
}

void TokenDecoder::reset()
{
    columns_.clear();
    checkedLayout_ = nullptr;
}

TokenDecoder::Progress TokenDecoder::run(WireReader &reader, TokenHandler &handler)
{
    while (!reader.atEnd()) {
        const uint8_t type = reader.u8();
        if (!decodeToken(type, reader, handler))
            return Progress::Paused;
    }
    return Progress::EndOfMessage;
}

void TokenDecoder::readColumns(WireReader &reader)
{
    const uint16_t count = reader.u16le();
    columns_.clear();
    checkedLayout_ = nullptr;
    if (count == 0xFFFF)   // no metadata: the result has no columns
        return;
    columns_.reserve(count);
    for (uint16_t i = 0; i < count; ++i)
        columns_.push_back(readColumn(reader));
    if (longAreas_.size() < columns_.size())
        longAreas_.resize(columns_.size());
}

void TokenDecoder::checkLayout(const RowLayout &layout)
{
    if (&layout == checkedLayout_)
        return;
    if (layout.columns.size() != columns_.size())
        throw TdsError(ErrorKind::Usage, "row layout has " + std::to_string(layout.columns.size()) +
                                             " columns, the result " + std::to_string(columns_.size()));
    for (size_t i = 0; i < columns_.size(); ++i) {
        const ColumnBinding &b = layout.columns[i];
        const TypeInfo &type = columns_[i].type;
        auto fits = [&](size_t offset, size_t size) { return offset == kNoSlot || offset + size <= layout.rowSize; };
        const size_t valueBytes = type.isVariableLength() ? b.valueCapacity : type.valueSize();
        if (!fits(b.statusOffset, 4) || !fits(b.lengthOffset, 8) || !fits(b.valueOffset, valueBytes) ||
            (!type.isVariableLength() && b.valueOffset != kNoSlot && b.valueCapacity < type.valueSize()))
            throw TdsError(ErrorKind::Usage, "row layout does not fit column " + std::to_string(i + 1));
    }
    checkedLayout_ = &layout;
}

void TokenDecoder::readRow(WireReader &reader, const RowTarget &target, const uint8_t *nullBitmap)
{
    if (columns_.empty())
        throwProtocol("a row without column metadata");
    const bool keep = target.row && target.layout;
    if (keep)
        checkLayout(*target.layout);
    for (size_t i = 0; i < columns_.size(); ++i) {
        const TypeInfo &type = columns_[i].type;
        const bool isNull = nullBitmap && (nullBitmap[i / 8] >> (i % 8)) & 1;
        if (!keep) {
            DiscardValue discard;
            if (!isNull)
                readValue(reader, type, discard);
            continue;
        }
        RowSlotWriter out(target.row, target.layout->columns[i], type.isLong(), i, target.longValues, longAreas_[i]);
        if (isNull)
            out.null();
        else
            readValue(reader, type, out);
    }
}

ReturnValue TokenDecoder::readReturnValue(WireReader &reader)
{
    ReturnValue rv;
    rv.ordinal = reader.u16le();
    rv.name = reader.bVarchar();
    rv.status = reader.u8();
    rv.column.userType = reader.u32le();
    rv.column.flags = reader.u16le();
    rv.column.type = readTypeInfo(reader);
    OwnedValueWriter out;
    readValue(reader, rv.column.type, out);
    rv.isNull = out.isNull;
    rv.value = std::move(out.bytes);
    return rv;
}

bool TokenDecoder::decodeToken(uint8_t type, WireReader &reader, TokenHandler &handler)
{
    switch (type) {
    case token::ColMetadata:
        readColumns(reader);
        return handler.onColumns(columns_);
    case token::Row:
        readRow(reader, handler.rowTarget(), nullptr);
        return handler.onRow();
    case token::NbcRow: {
        nullBitmap_.resize((columns_.size() + 7) / 8);
        reader.read(nullBitmap_.data(), nullBitmap_.size());
        readRow(reader, handler.rowTarget(), nullBitmap_.data());
        return handler.onRow();
    }
    case token::Done:
    case token::DoneProc:
    case token::DoneInProc:
        return handler.onDone(readDone(reader, type));
    case token::Error:
    case token::Info:
        handler.onMessage(readServerMessage(reader, type == token::Error));
        return true;
    case token::EnvChange:
        handler.onEnvChange(readEnvChange(reader));
        return true;
    case token::ReturnStatus:
        handler.onReturnStatus(reader.i32le());
        return true;
    case token::ReturnValue:
        return handler.onReturnValue(readReturnValue(reader));
    case token::Order: {
        const uint16_t length = reader.u16le();
        if (length % 2)
            throwProtocol("ORDER of odd length");
        std::vector<uint16_t> order(length / 2);
        for (auto &column : order)
            column = reader.u16le();
        handler.onOrder(order);
        return true;
    }
    case token::LoginAck:
        handler.onLoginAck(readLoginAck(reader));
        return true;
    case token::FeatureExtAck:
        for (;;) {
            const uint8_t feature = reader.u8();
            if (feature == 0xFF)
                break;
            const uint32_t length = reader.u32le();
            if (length > 0xFFFF)
                throwProtocol("feature acknowledgement of " + std::to_string(length) + " bytes");
            handler.onFeatureAck(feature, readBytes(reader, length));
        }
        return true;
    case token::Sspi:
        handler.onSspi(readBytes(reader, reader.u16le()));
        return true;
    case token::TabName:
    case token::ColInfo:
        skipBytes(reader, reader.u16le());
        return true;
    case token::SessionState:
    case token::FedAuthInfo:
        skipBytes(reader, reader.u32le());
        return true;
    default: {
        std::string hex;
        appendHexByte(hex, type);
        throwProtocol("unknown token 0x" + hex);
    }
    }
}

} // namespace rz::tds
