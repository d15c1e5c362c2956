// CBlockBuffer: the growable buffer the streaming decoder keeps its stored
// and decoded ranges in. Its allocations never throw: a failure is reported
// so that the decoder can say "not enough memory" rather than "damaged".
#pragma once

#include <cstddef>
#include <memory>

namespace zarnik {

class CBlockBuffer
{
public:
    // Makes room for at least `size` bytes (the contents are not kept);
    // false when the memory cannot be had.
    bool Reserve(size_t size);
    unsigned char *Data() const { return m_Data.get(); }
    // Hands the bytes over, leaving the buffer empty.
    std::unique_ptr<unsigned char[]> Release()
    {
        m_Capacity = 0;
        return std::move(m_Data);
    }

private:
    std::unique_ptr<unsigned char[]> m_Data;
    size_t m_Capacity = 0;
};

} // namespace zarnik
