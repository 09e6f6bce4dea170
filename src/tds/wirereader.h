#pragma once
// Reads TDS wire values from a message that arrives in chunks. Every read is
// bounded by the message: running past its end throws a protocol error, so a
// truncated or lying stream can never make a read go out of bounds.

#include "tds/chunksource.h"
#include "tds/error.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace rz::tds {

class WireReader {
public:
    explicit WireReader(ChunkSource &source) : source_(source) {}

    uint8_t u8()
    {
        ensure();
        return *current_++;
    }
    uint16_t u16le() { return uint16_t(le(2)); }
    uint32_t u32le() { return uint32_t(le(4)); }
    uint64_t u64le() { return le(8); }
    int32_t i32le() { return int32_t(u32le()); }
    uint32_t u32be()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 8) | u8();
        return v;
    }
    // Little-endian unsigned integer of 1..8 bytes.
    uint64_t le(int bytes)
    {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        if (end_ - current_ >= 8 && bytes > 0 && bytes <= 8) {
            // One load of the next 8 bytes, masked: the wire is little-endian like the host.
            uint64_t v;
            std::memcpy(&v, current_, 8);
            if (bytes < 8)
                v &= (uint64_t(1) << (8 * bytes)) - 1;
            current_ += bytes;
            return v;
        }
#endif
        if (end_ - current_ >= bytes) {
            uint64_t v = 0;
            for (int i = 0; i < bytes; ++i)
                v |= uint64_t(current_[i]) << (8 * i);
            current_ += bytes;
            return v;
        }
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= uint64_t(u8()) << (8 * i);
        return v;
    }

    void read(void *destination, size_t size)
    {
        auto *out = static_cast<uint8_t *>(destination);
        while (size) {
            ensure();
            const size_t part = available() < size ? available() : size;
            std::memcpy(out, current_, part);
            out += part;
            current_ += part;
            size -= part;
        }
    }
    void skip(size_t size)
    {
        while (size) {
            ensure();
            const size_t part = available() < size ? available() : size;
            current_ += part;
            size -= part;
        }
    }
    // Hands `size` bytes to sink(data, length) in the contiguous pieces they
    // arrived in, without copying them first.
    template <typename Sink>
    void forEachPiece(size_t size, Sink &&sink)
    {
        while (size) {
            ensure();
            const size_t part = available() < size ? available() : size;
            sink(current_, part);
            current_ += part;
            size -= part;
        }
    }

    // UTF-16LE text of `characters` characters, as UTF-8.
    std::string utf16(size_t characters);
    std::string bVarchar() { return utf16(u8()); }
    std::string usVarchar() { return utf16(u16le()); }
    // Forgets the chunk being read (its message was abandoned).
    void reset() { current_ = end_ = nullptr; }
    // True when the message has no more bytes (reads the next chunk to know).
    bool atEnd();

private:
    size_t available() const { return size_t(end_ - current_); }
    void ensure()
    {
        while (current_ == end_) {
            size_t size = 0;
            if (!source_.next(current_, size)) {
                current_ = end_ = nullptr;
                throwProtocol("the message ends in the middle of a token");
            }
            end_ = current_ + size;
        }
    }

    ChunkSource &source_;
    const uint8_t *current_ = nullptr;
    const uint8_t *end_ = nullptr;
};

} // namespace rz::tds
