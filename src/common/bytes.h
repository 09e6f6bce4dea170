#pragma once
// Byte-level helpers for every layer. Plain C++ with no COM, Qt or ODBC, so
// that the TDS client, the platform, the provider and the plug-in all may
// include it.

#include <cstring>

namespace rz {

// A value of type T from bytes at any alignment (row buffers, wire data).
template <class T>
T loadUnaligned(const void *bytes)
{
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

template <class T>
void storeUnaligned(void *bytes, const T &value)
{
    std::memcpy(bytes, &value, sizeof value);
}

// Upper-case hexadecimal digits, as SQL Server writes binary values.
inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// Two hexadecimal digits of a byte, appended to `out` (any string type of char).
template <class String>
void appendHexByte(String &out, unsigned char byte)
{
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 15];
}

} // namespace rz
