// libFuzzer entry point for the token decoder. The first byte picks the chunk
// size and whether long values go to a sink; the rest is the stream.
#include "untrusteddecode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t chunk = data[0] & 0x7F ? size_t(data[0] & 0x7F) : SIZE_MAX;
    tdstest::decodeUntrusted(data + 1, size - 1, chunk, data[0] & 0x80);
    return 0;
}
