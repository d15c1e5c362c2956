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
