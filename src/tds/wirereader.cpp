#include "tds/wirereader.h"

#include "tds/wirewriter.h"

namespace rz::tds {

std::string WireReader::utf16(size_t characters)
{
    std::u16string units(characters, u'\0');
    for (auto &unit : units)
        unit = char16_t(u16le());
    return utf8FromUtf16(units);
}

bool WireReader::atEnd()
{
    while (current_ == end_) {
        size_t size = 0;
        if (!source_.next(current_, size)) {
            current_ = end_ = nullptr;
            return true;
        }
        end_ = current_ + size;
    }
    return false;
}

} // namespace rz::tds
