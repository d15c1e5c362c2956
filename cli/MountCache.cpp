#include "MountCache.h"

CMountCache::Bytes CMountCache::Get(uint64_t file, uint64_t stretch)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    const auto it = m_Where.find(Key{file, stretch});
    if (it == m_Where.end())
        return nullptr;
    m_Order.splice(m_Order.begin(), m_Order, it->second);
    return it->second->second;
}

void CMountCache::Put(uint64_t file, uint64_t stretch, Bytes bytes)
{
    const size_t size = bytes->size();
    if (size > m_Budget)
        return;
    std::lock_guard<std::mutex> hold(m_Lock);
    const Key key{file, stretch};
    if (m_Where.count(key))
        return; // another reader decoded it at the same time
    m_Order.emplace_front(key, std::move(bytes));
    m_Where.emplace(key, m_Order.begin());
    m_Used += size;
    while (m_Used > m_Budget) {
        m_Used -= m_Order.back().second->size();
        m_Where.erase(m_Order.back().first);
        m_Order.pop_back();
    }
}

size_t CMountCache::Used() const
{
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_Used;
}
