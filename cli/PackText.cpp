#include "PackText.h"

#include "PackPath.h"

std::string DisplayName(const std::string &latin1)
{
    return zarnik::FileSystemName(latin1);
}

std::string SlashPath(const std::string &latin1)
{
    return zarnik::WithSlashes(DisplayName(latin1));
}

namespace {

// Length of the UTF-8 sequence at `at`, or 0 when it is not one.
size_t SequenceLength(const std::string &text, size_t at)
{
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
    }
    if (length == 0 || at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[at + i]);
        if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF))
            return 0;
    }
    return length;
}

void AppendHex(std::string &out, unsigned char code)
{
    static const char digits[] = "0123456789abcdef";
    out += "\\x";
    out.push_back(digits[code >> 4]);
    out.push_back(digits[code & 0x0F]);
}

} // namespace

std::string Printable(const std::string &utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x80) {
            const size_t length = SequenceLength(utf8, i);
            const unsigned char next = length ? static_cast<unsigned char>(utf8[i + 1]) : 0;
            if (length == 0)
                AppendHex(out, c); // no UTF-8: the byte itself
            else if (c == 0xC2 && next <= 0x9F)
                AppendHex(out, next); // U+0080..U+009F, the C1 controls
            else
                out.append(utf8, i, length);
            i += length ? length : 1;
            continue;
        }
        if (c == '\\')
#ifdef _WIN32
            out += '\\'; // the separator of Windows paths; no name holds one
#else
            out += "\\\\";
#endif
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20 || c == 0x7F)
            AppendHex(out, c);
        else
            out.push_back(static_cast<char>(c));
        ++i;
    }
    return out;
}

std::string ShownPath(const std::string &latin1)
{
    return Printable(SlashPath(latin1));
}

std::optional<std::string> Latin1FromUtf8(const std::string &utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        // Only the two-byte forms of U+0080..U+00FF have a Latin-1 byte.
        if ((c != 0xC2 && c != 0xC3) || i + 1 >= utf8.size())
            return std::nullopt;
        const unsigned char next = static_cast<unsigned char>(utf8[i + 1]);
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        out.push_back(static_cast<char>(((c & 0x03) << 6) | (next & 0x3F)));
        ++i;
    }
    return out;
}
