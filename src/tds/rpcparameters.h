#pragma once
// Typed RPC parameters, encoded as they are added (name, status, TYPE_INFO
// and value, one after the other in one buffer, as the request carries them),
// with the declaration text sp_executesql needs, written alongside. A
// parameter without a value (std::nullopt) is sent as NULL of its type.

#include "tds/typeinfo.h"
#include "tds/wirewriter.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rz::tds {

class RpcParameters {
public:
    // Strings travel with this collation (the session's).
    explicit RpcParameters(Collation collation = {}) : collation_(collation) {}

    // bytes: 1 (tinyint), 2, 4 or 8.
    void addInteger(std::string_view name, std::optional<int64_t> value, int bytes = 4, bool output = false);
    void addBit(std::string_view name, std::optional<bool> value, bool output = false);
    // bytes: 8 (float) or 4 (real).
    void addFloat(std::string_view name, std::optional<double> value, int bytes = 8, bool output = false);
    void addDecimal(std::string_view name, std::optional<DecimalValue> value, uint8_t precision, uint8_t scale,
                    bool output = false);
    // In units of 1/10000.
    void addMoney(std::string_view name, std::optional<int64_t> units, bool output = false);
    // UTF-16 text; longer than 4000 characters, or `unlimited`, goes as nvarchar(max).
    void addNVarChar(std::string_view name, std::optional<std::u16string_view> value, bool output = false,
                     bool unlimited = false);
    // Longer than 8000 bytes, or `unlimited`, goes as varbinary(max).
    void addVarBinary(std::string_view name, std::optional<std::vector<uint8_t>> value, bool output = false,
                      bool unlimited = false);
    void addDate(std::string_view name, std::optional<int32_t> days, bool output = false);
    void addTime(std::string_view name, std::optional<int64_t> ticks, uint8_t scale = 7, bool output = false);
    // datetime: the time rounded to 1/300 s; a value that does not
    // fitsDateTime throws TdsError(Usage).
    void addDateTime(std::string_view name, std::optional<DateTimeValue> value, bool output = false);
    void addDateTime2(std::string_view name, std::optional<DateTimeValue> value, uint8_t scale = 7, bool output = false);
    // value.days/ticks are UTC, value.offsetMinutes the zone to keep.
    void addDateTimeOffset(std::string_view name, std::optional<DateTimeValue> value, uint8_t scale = 7,
                           bool output = false);
    void addGuid(std::string_view name, std::optional<std::array<uint8_t, 16>> value, bool output = false);

    size_t size() const { return count_; }
    // "@P1 int,@P2 nvarchar(max) OUTPUT"
    const std::u16string &declaration() const { return declaration_; }
    size_t encodedSize() const { return encoded_.size(); }
    // The parameters one after the other, as an RPC request carries them.
    void appendTo(std::vector<uint8_t> &out) const;

private:
    // Starts the next parameter: its name and status into the encoded
    // parameters, its name and type into the declaration. The writer goes on
    // with the TYPE_INFO.
    WireWriter begin(std::string_view name, bool output, std::string_view declaredType);

    Collation collation_;
    size_t count_ = 0;
    std::vector<uint8_t> encoded_;
    std::u16string declaration_;
};

// sp_executesql by its procedure id: the statement, the declaration and the
// parameters; the payload that follows ALL_HEADERS.
std::vector<uint8_t> encodeExecuteSql(std::u16string_view statement, const RpcParameters &parameters,
                                      Collation collation = {});

// Any procedure by name (e.g. a stored procedure of the application).
std::vector<uint8_t> encodeProcedureCall(std::u16string_view procedure, const RpcParameters &parameters);

} // namespace rz::tds
