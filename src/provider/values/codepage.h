#pragma once
// Windows-1252, the code page of SQL Server's Latin1 collations, in which
// 8-bit text travels from the server and long 8-bit text reaches the
// consumer; the rest of the provider speaks UTF-8 and UTF-16.

#include <string>
#include <string_view>

namespace rz::provider {

std::string utf8FromCodePage(std::string_view bytes);
std::u16string utf16FromCodePage(std::string_view bytes);
char16_t utf16FromCodePageChar(unsigned char c);
// Characters the code page lacks become '?', as SQL Server stores them in such a column.
std::string codePageFromUtf8(std::string_view utf8);

} // namespace rz::provider
