#pragma once
// A message delivered in contiguous pieces (packets, or one buffer in tests).

#include <cstddef>
#include <cstdint>

namespace rz::tds {

class ChunkSource {
public:
    virtual ~ChunkSource() = default;
    // The next piece of the message (possibly empty); false at its end. The
    // bytes stay valid until the next call.
    virtual bool next(const uint8_t *&data, size_t &size) = 0;
};

// One buffer as a single chunk, or split into chunks of at most `chunkSize`
// bytes (tests use small sizes to cross every boundary).
class BufferSource : public ChunkSource {
public:
    BufferSource(const uint8_t *data, size_t size, size_t chunkSize = SIZE_MAX)
        : data_(data), size_(size), chunkSize_(chunkSize ? chunkSize : 1) {}
    bool next(const uint8_t *&data, size_t &size) override
    {
        if (position_ >= size_)
            return false;
        data = data_ + position_;
        size = size_ - position_ < chunkSize_ ? size_ - position_ : chunkSize_;
        position_ += size;
        return true;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t chunkSize_;
    size_t position_ = 0;
};

} // namespace rz::tds
