// Bytes as the pack writer handles them: a pack's, a file's, a block's.
#pragma once

#include <string>
#include <vector>

namespace zarnik_pack {

using Bytes = std::vector<unsigned char>;

inline Bytes ToBytes(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

} // namespace zarnik_pack
