#include "BlockBuffer.h"

#include "TestSeams.h"

#include <atomic>
#include <new>

namespace zarnik {

namespace {
std::atomic<BlockAllocationHook> g_Hook{nullptr};
}

BlockAllocationHook SetBlockAllocationHook(BlockAllocationHook hook)
{
    return g_Hook.exchange(hook);
}

bool CBlockBuffer::Reserve(size_t size)
{
    if (size <= m_Capacity && m_Data)
        return true;
    m_Data.reset();
    m_Capacity = 0;
    // Never less than a little, so that a range of small blocks after a
    // smaller one does not allocate again and again.
    const size_t want = size < 4096 ? 4096 : size;
    const BlockAllocationHook hook = g_Hook.load();
    if (hook && !hook(want))
        return false;
    m_Data.reset(new (std::nothrow) unsigned char[want]);
    if (!m_Data)
        return false;
    m_Capacity = want;
    return true;
}

} // namespace zarnik
