// The file layer's pure text functions, the same on every platform: file
// names are UTF-8 everywhere (the Windows layer hands them to the system as
// UTF-16).
#include "PlatformFile.h"

namespace zarnik {

std::string PlatformNameFromLatin1(const std::string &name)
{
    std::string out;
    out.reserve(name.size());
    for (unsigned char c : name) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

} // namespace zarnik
