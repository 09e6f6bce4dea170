#include "provider/sql/callescape.h"

namespace rz::provider {

namespace {

bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

char16_t lower(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; }

class Scanner {
public:
    explicit Scanner(std::u16string_view text) : text_(text) {}

    void skipBlanks()
    {
        while (pos_ < text_.size() && isBlank(text_[pos_]))
            ++pos_;
    }
    bool take(char16_t c)
    {
        skipBlanks();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    // A keyword followed by a blank (or the name's opening quote).
    bool takeWord(std::u16string_view word)
    {
        skipBlanks();
        if (text_.size() - pos_ <= word.size())
            return false;
        for (size_t i = 0; i < word.size(); ++i)
            if (lower(text_[pos_ + i]) != word[i])
                return false;
        const char16_t after = text_[pos_ + word.size()];
        if (!isBlank(after) && after != u'[' && after != u'"')
            return false;
        pos_ += word.size();
        return true;
    }
    // A procedure name: parts joined by dots, each bare or quoted with
    // brackets or double quotes (a quote inside doubled).
    std::u16string_view name()
    {
        skipBlanks();
        const size_t begin = pos_;
        while (pos_ < text_.size()) {
            const char16_t c = text_[pos_];
            if (c == u'[' || c == u'"') {
                if (!skipQuoted(c == u'[' ? u']' : u'"'))
                    return {};
            } else if (isBlank(c) || c == u'(' || c == u'}') {
                break;
            } else {
                ++pos_;
            }
        }
        return text_.substr(begin, pos_ - begin);
    }
    // The arguments between "(" and the ")" that closes it, quotes and
    // nested parentheses respected; false when it is not closed.
    bool arguments(std::u16string_view &out)
    {
        const size_t begin = pos_;
        int depth = 1;
        while (pos_ < text_.size()) {
            const char16_t c = text_[pos_];
            if (c == u'\'' || c == u'[' || c == u'"') {
                if (!skipQuoted(c == u'[' ? u']' : c))
                    return false;
                continue;
            }
            ++pos_;
            if (c == u'(')
                ++depth;
            else if (c == u')' && --depth == 0) {
                out = text_.substr(begin, pos_ - 1 - begin);
                return true;
            }
        }
        return false;
    }
    bool atEnd()
    {
        skipBlanks();
        return pos_ == text_.size();
    }

private:
    bool skipQuoted(char16_t close)
    {
        ++pos_;
        while (pos_ < text_.size()) {
            if (text_[pos_++] == close) {
                if (pos_ < text_.size() && text_[pos_] == close) {
                    ++pos_;
                    continue;
                }
                return true;
            }
        }
        return false;
    }

    std::u16string_view text_;
    size_t pos_ = 0;
};

} // namespace

std::u16string translateCallEscape(std::u16string_view sql)
{
    Scanner in(sql);
    if (!in.take(u'{'))
        return std::u16string(sql);
    const bool returnsStatus = in.take(u'?');
    if (returnsStatus && !in.take(u'='))
        return std::u16string(sql);
    if (!in.takeWord(u"call"))
        return std::u16string(sql);
    const std::u16string_view name = in.name();
    std::u16string_view arguments;
    if (name.empty() || (in.take(u'(') && !in.arguments(arguments)) || !in.take(u'}') || !in.atEnd())
        return std::u16string(sql);

    std::u16string out = returnsStatus ? u"EXEC ? = " : u"EXEC ";
    out.append(name);
    if (!arguments.empty()) {
        out += u' ';
        out.append(arguments);
    }
    return out;
}

} // namespace rz::provider
