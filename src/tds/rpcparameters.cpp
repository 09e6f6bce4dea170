#include "tds/rpcparameters.h"

#include "tds/error.h"
#include "tds/wirewriter.h"

#include <algorithm>
#include <cstring>

namespace rz::tds {

namespace {

constexpr uint16_t kProcExecuteSql = 10;
constexpr uint8_t kStatusByReference = 0x01;
constexpr size_t kMaxShortNVarCharCharacters = 4000;
constexpr size_t kMaxShortVarBinaryBytes = 8000;
constexpr uint64_t kPlpNull = ~uint64_t(0);

int decimalLengthFor(uint8_t precision)
{
    return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
}

// Whether the 128-bit magnitude fits in `bytes` bytes.
bool fitsIn(const DecimalValue &value, int bytes)
{
    if (bytes >= 16)
        return true;
    if (bytes > 8)
        return value.high >> (8 * (bytes - 8)) == 0;
    return value.high == 0 && (bytes == 8 || value.low >> (8 * bytes) == 0);
}

int64_t unitsOf(int64_t ticks, uint8_t scale)
{
    static const int64_t divisor[] = {10000000, 1000000, 100000, 10000, 1000, 100, 10, 1};
    return ticks / divisor[scale];
}

void checkScale(uint8_t scale)
{
    if (scale > 7)
        throw TdsError(ErrorKind::Usage, "time scale above 7");
}

void checkTemporal(int32_t days, int64_t ticks)
{
    if (days < 0 || days > 3652058 || ticks < 0 || ticks >= kTicksPerDay)
        throw TdsError(ErrorKind::Usage, "date or time out of range");
}

// Short values with a two-byte length, long ones as PLP in one chunk.
void writeVariable(WireWriter &w, const uint8_t *data, size_t size, bool isNull, bool plp)
{
    if (plp) {
        if (isNull) {
            w.u64le(kPlpNull);
            return;
        }
        w.u64le(size);
        if (size) {
            w.u32le(uint32_t(size));
            w.bytes(data, size);
        }
        w.u32le(0);
        return;
    }
    if (isNull) {
        w.u16le(0xFFFF);
        return;
    }
    w.u16le(uint16_t(size));
    w.bytes(data, size);
}

void appendAscii(std::u16string &out, std::string_view text)
{
    const size_t at = out.size();
    out.resize(at + text.size());
    for (size_t i = 0; i < text.size(); ++i)
        out[at + i] = char16_t(uint8_t(text[i]));
}

} // namespace

WireWriter RpcParameters::begin(std::string_view name, bool output, std::string_view declaredType)
{
    if (count_++ == 0) {
        // Room for a statement's usual parameters: a name, a type and a short value each.
        encoded_.reserve(512);
        declaration_.reserve(256);
    } else {
        declaration_ += u',';
    }
    WireWriter w(encoded_);
    const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return uint8_t(c) < 0x80; });
    if (ascii && name.size() <= 0xFF) {
        // Names are "@P1", "@P2", ...: no conversion needed.
        appendAscii(declaration_, name);
        w.u8(uint8_t(name.size()));
        for (const char c : name)
            w.u16le(uint8_t(c));
    } else {
        const std::u16string wideName = utf16FromUtf8(name);
        declaration_ += wideName;
        w.bVarchar(wideName);
    }
    declaration_ += u' ';
    appendAscii(declaration_, declaredType);
    if (output)
        declaration_ += u" OUTPUT";
    w.u8(output ? kStatusByReference : 0);
    return w;
}

void RpcParameters::addInteger(std::string_view name, std::optional<int64_t> value, int bytes, bool output)
{
    const char *type = bytes == 1 ? "tinyint" : bytes == 2 ? "smallint" : bytes == 4 ? "int" : bytes == 8 ? "bigint" : nullptr;
    if (!type)
        throw TdsError(ErrorKind::Usage, "integer parameter of " + std::to_string(bytes) + " bytes");
    WireWriter w(begin(name, output, type));
    w.u8(wiretype::IntN);
    w.u8(uint8_t(bytes));
    if (!value) {
        w.u8(0);
        return;
    }
    w.u8(uint8_t(bytes));
    w.le(uint64_t(*value), bytes);
}

void RpcParameters::addBit(std::string_view name, std::optional<bool> value, bool output)
{
    WireWriter w(begin(name, output, "bit"));
    w.u8(wiretype::BitN);
    w.u8(1);
    if (!value) {
        w.u8(0);
        return;
    }
    w.u8(1);
    w.u8(*value ? 1 : 0);
}

void RpcParameters::addFloat(std::string_view name, std::optional<double> value, int bytes, bool output)
{
    if (bytes != 4 && bytes != 8)
        throw TdsError(ErrorKind::Usage, "float parameter of " + std::to_string(bytes) + " bytes");
    WireWriter w(begin(name, output, bytes == 8 ? "float" : "real"));
    w.u8(wiretype::FltN);
    w.u8(uint8_t(bytes));
    if (!value) {
        w.u8(0);
        return;
    }
    w.u8(uint8_t(bytes));
    if (bytes == 8) {
        uint64_t bits;
        std::memcpy(&bits, &*value, 8);
        w.u64le(bits);
    } else {
        const float narrow = float(*value);
        uint32_t bits;
        std::memcpy(&bits, &narrow, 4);
        w.u32le(bits);
    }
}

void RpcParameters::addDecimal(std::string_view name, std::optional<DecimalValue> value, uint8_t precision, uint8_t scale,
                               bool output)
{
    if (precision < 1 || precision > 38 || scale > precision)
        throw TdsError(ErrorKind::Usage, "decimal parameter with precision " + std::to_string(precision) +
                                             " and scale " + std::to_string(scale));
    WireWriter w(begin(name, output,
                       "decimal(" + std::to_string(precision) + "," + std::to_string(scale) + ")"));
    w.u8(wiretype::DecimalN);
    w.u8(17);
    w.u8(precision);
    w.u8(scale);
    if (!value) {
        w.u8(0);
        return;
    }
    const int length = decimalLengthFor(precision);
    const int magnitudeBytes = length - 1;
    if (!fitsIn(*value, magnitudeBytes))
        throw TdsError(ErrorKind::Usage, "decimal value wider than its precision");
    w.u8(uint8_t(length));
    w.u8(value->negative ? 0 : 1);
    w.le(value->low, magnitudeBytes < 8 ? magnitudeBytes : 8);
    if (magnitudeBytes > 8)
        w.le(value->high, magnitudeBytes - 8);
}

void RpcParameters::addMoney(std::string_view name, std::optional<int64_t> units, bool output)
{
    WireWriter w(begin(name, output, "money"));
    w.u8(wiretype::MoneyN);
    w.u8(8);
    if (!units) {
        w.u8(0);
        return;
    }
    w.u8(8);
    w.u32le(uint32_t(uint64_t(*units) >> 32));
    w.u32le(uint32_t(uint64_t(*units)));
}

void RpcParameters::addNVarChar(std::string_view name, std::optional<std::u16string_view> value, bool output, bool unlimited)
{
    const bool plp = unlimited || (value && value->size() > kMaxShortNVarCharCharacters);
    WireWriter w(begin(name, output, plp ? "nvarchar(max)" : "nvarchar(4000)"));
    w.u8(wiretype::NVarChar);
    w.u16le(plp ? 0xFFFF : uint16_t(kMaxShortNVarCharCharacters * 2));
    w.bytes(collation_.bytes.data(), collation_.bytes.size());
    const size_t bytes = value ? value->size() * 2 : 0;
    if (plp) {
        if (!value) {
            w.u64le(kPlpNull);
            return;
        }
        w.u64le(bytes);
        if (bytes) {
            w.u32le(uint32_t(bytes));
            w.utf16(*value);
        }
        w.u32le(0);
        return;
    }
    if (!value) {
        w.u16le(0xFFFF);
        return;
    }
    w.u16le(uint16_t(bytes));
    w.utf16(*value);
}

void RpcParameters::addVarBinary(std::string_view name, std::optional<std::vector<uint8_t>> value, bool output, bool unlimited)
{
    const bool plp = unlimited || (value && value->size() > kMaxShortVarBinaryBytes);
    WireWriter w(begin(name, output, plp ? "varbinary(max)" : "varbinary(8000)"));
    w.u8(wiretype::BigVarBinary);
    w.u16le(plp ? 0xFFFF : uint16_t(kMaxShortVarBinaryBytes));
    writeVariable(w, value ? value->data() : nullptr, value ? value->size() : 0, !value, plp);
}

void RpcParameters::addDate(std::string_view name, std::optional<int32_t> days, bool output)
{
    WireWriter w(begin(name, output, "date"));
    w.u8(wiretype::DateN);
    if (!days) {
        w.u8(0);
        return;
    }
    checkTemporal(*days, 0);
    w.u8(3);
    w.le(uint64_t(*days), 3);
}

void RpcParameters::addTime(std::string_view name, std::optional<int64_t> ticks, uint8_t scale, bool output)
{
    checkScale(scale);
    WireWriter w(begin(name, output, "time(" + std::to_string(scale) + ")"));
    w.u8(wiretype::TimeN);
    w.u8(scale);
    if (!ticks) {
        w.u8(0);
        return;
    }
    checkTemporal(0, *ticks);
    const int length = timeLengthForScale(scale);
    w.u8(uint8_t(length));
    w.le(uint64_t(unitsOf(*ticks, scale)), length);
}

void RpcParameters::addDateTime(std::string_view name, std::optional<DateTimeValue> value, bool output)
{
    int32_t days = 0;
    uint32_t fraction = 0;
    if (value) {
        if (!fitsDateTime(*value))
            throw TdsError(ErrorKind::Usage, "date or time out of datetime's range");
        days = value->days - kDaysTo1900;
        fraction = dateTimeFractionFromTicks(value->ticks);
        if (fraction == kDateTimeFractionsPerDay) {
            fraction = 0;
            ++days;
        }
    }
    WireWriter w(begin(name, output, "datetime"));
    w.u8(wiretype::DateTimeN);
    w.u8(8);
    if (!value) {
        w.u8(0);
        return;
    }
    w.u8(8);
    w.u32le(uint32_t(days));
    w.u32le(fraction);
}

void RpcParameters::addDateTime2(std::string_view name, std::optional<DateTimeValue> value, uint8_t scale, bool output)
{
    checkScale(scale);
    WireWriter w(begin(name, output, "datetime2(" + std::to_string(scale) + ")"));
    w.u8(wiretype::DateTime2N);
    w.u8(scale);
    if (!value) {
        w.u8(0);
        return;
    }
    checkTemporal(value->days, value->ticks);
    const int length = timeLengthForScale(scale);
    w.u8(uint8_t(length + 3));
    w.le(uint64_t(unitsOf(value->ticks, scale)), length);
    w.le(uint64_t(value->days), 3);
}

void RpcParameters::addDateTimeOffset(std::string_view name, std::optional<DateTimeValue> value, uint8_t scale, bool output)
{
    checkScale(scale);
    WireWriter w(begin(name, output, "datetimeoffset(" + std::to_string(scale) + ")"));
    w.u8(wiretype::DateTimeOffsetN);
    w.u8(scale);
    if (!value) {
        w.u8(0);
        return;
    }
    checkTemporal(value->days, value->ticks);
    if (value->offsetMinutes < -840 || value->offsetMinutes > 840)
        throw TdsError(ErrorKind::Usage, "time zone offset beyond 14 hours");
    const int length = timeLengthForScale(scale);
    w.u8(uint8_t(length + 5));
    w.le(uint64_t(unitsOf(value->ticks, scale)), length);
    w.le(uint64_t(value->days), 3);
    w.u16le(uint16_t(value->offsetMinutes));
}

void RpcParameters::addGuid(std::string_view name, std::optional<std::array<uint8_t, 16>> value, bool output)
{
    WireWriter w(begin(name, output, "uniqueidentifier"));
    w.u8(wiretype::Guid);
    w.u8(16);
    if (!value) {
        w.u8(0);
        return;
    }
    w.u8(16);
    w.bytes(value->data(), 16);
}

void RpcParameters::appendTo(std::vector<uint8_t> &out) const
{
    out.insert(out.end(), encoded_.begin(), encoded_.end());
}

std::vector<uint8_t> encodeExecuteSql(std::u16string_view statement, const RpcParameters &parameters,
                                      Collation collation)
{
    std::vector<uint8_t> out;
    out.reserve(64 + 2 * statement.size() + 2 * parameters.declaration().size() + parameters.encodedSize());
    WireWriter w(out);
    w.u16le(0xFFFF);   // by procedure id
    w.u16le(kProcExecuteSql);
    w.u16le(0);        // option flags
    RpcParameters fixed(collation);
    fixed.addNVarChar("", statement);
    if (parameters.size())
        fixed.addNVarChar("", parameters.declaration());
    fixed.appendTo(out);
    parameters.appendTo(out);
    return out;
}

std::vector<uint8_t> encodeProcedureCall(std::u16string_view procedure, const RpcParameters &parameters)
{
    if (procedure.size() > 0xFFFE)
        throw TdsError(ErrorKind::Usage, "procedure name too long");
    std::vector<uint8_t> out;
    WireWriter w(out);
    w.u16le(uint16_t(procedure.size()));
    w.utf16(procedure);
    w.u16le(0);
    parameters.appendTo(out);
    return out;
}

} // namespace rz::tds
