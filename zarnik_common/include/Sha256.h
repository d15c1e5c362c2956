// SHA-256 of a stream of bytes, fed in pieces of any size. Ours, so that the
// library needs no crypto library on any platform it is built for.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zarnik {

using Sha256Digest = std::array<unsigned char, 32>;

class CSha256
{
public:
    CSha256() { Reset(); }

    void Reset();
    void Update(const void *data, size_t size);
    // The digest of everything fed since the last Reset; the object is
    // ready for a new stream afterwards.
    Sha256Digest Finish();

private:
    void Compress(const unsigned char *block);

    uint32_t m_State[8];
    unsigned char m_Block[64];
    size_t m_Filled = 0;  // bytes waiting in m_Block
    uint64_t m_Total = 0; // bytes fed
};

// Lower-case hexadecimal, 64 characters, as sha256sum prints it.
std::string HexOf(const Sha256Digest &digest);
// The digest from 64 hexadecimal digits of either case; false otherwise.
bool DigestFromHex(const std::string &hex, Sha256Digest *digest);

} // namespace zarnik
