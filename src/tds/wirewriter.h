#pragma once
// Appends TDS wire values to a byte vector: integers in either byte order and
// strings as UTF-16LE.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace rz::tds {

class WireWriter {
public:
    explicit WireWriter(std::vector<uint8_t> &out) : out_(out) {}

    void u8(uint8_t v) { out_.push_back(v); }
    void u16le(uint16_t v) { le(v, 2); }
    void u32le(uint32_t v) { le(v, 4); }
    void u64le(uint64_t v) { le(v, 8); }
    void u16be(uint16_t v) { out_.push_back(uint8_t(v >> 8)); out_.push_back(uint8_t(v)); }
    void u32be(uint32_t v) { u16be(uint16_t(v >> 16)); u16be(uint16_t(v)); }
    // Little-endian, the low `bytes` bytes of v.
    void le(uint64_t v, int bytes)
    {
        for (int i = 0; i < bytes; ++i)
            out_.push_back(uint8_t(v >> (8 * i)));
    }
    void bytes(const void *data, size_t size)
    {
        const auto *p = static_cast<const uint8_t *>(data);
        out_.insert(out_.end(), p, p + size);
    }
    void utf16(std::u16string_view text)
    {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // The host's UTF-16 is the wire's UTF-16LE already.
        const size_t at = out_.size();
        out_.resize(at + text.size() * 2);
        if (!text.empty())
            std::memcpy(out_.data() + at, text.data(), text.size() * 2);
#else
        for (char16_t c : text)
            u16le(uint16_t(c));
#endif
    }
    // B_VARCHAR: a length in characters in one byte, then UTF-16LE.
    void bVarchar(std::u16string_view text);
    // US_VARCHAR: a length in characters in two bytes, then UTF-16LE.
    void usVarchar(std::u16string_view text);

    size_t size() const { return out_.size(); }
    // Overwrites a little-endian 16/32-bit value written earlier at `at`.
    void patch16le(size_t at, uint16_t v) { out_[at] = uint8_t(v); out_[at + 1] = uint8_t(v >> 8); }
    void patch32le(size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            out_[at + size_t(i)] = uint8_t(v >> (8 * i));
    }

private:
    std::vector<uint8_t> &out_;
};

// UTF-8 to UTF-16 (invalid sequences become U+FFFD) and back.
std::u16string utf16FromUtf8(std::string_view text);
std::string utf8FromUtf16(std::u16string_view text);
// UTF-16LE bytes as they arrive on the wire to UTF-8.
std::string utf8FromUtf16Le(const uint8_t *data, size_t bytes);

} // namespace rz::tds
