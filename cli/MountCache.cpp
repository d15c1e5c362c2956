#include "MountCache.h"

CMountCache::Bytes CMountCache::Take(uint64_t file, uint64_t stretch)
{
    const Key key{file, stretch};
    std::unique_lock<std::mutex> hold(m_Lock);
    for (;;) {
        const auto it = m_Where.find(key);
        if (it != m_Where.end()) {
            m_Order.splice(m_Order.begin(), m_Order, it->second);
            return it->second->second;
        }
        if (m_Claimed.insert(key).second)
            return nullptr;
        m_Decoded.wait(hold);
    }
}

bool CMountCache::Claim(uint64_t file, uint64_t stretch)
{
    const Key key{file, stretch};
    std::lock_guard<std::mutex> hold(m_Lock);
    return !m_Where.count(key) && m_Claimed.insert(key).second;
}

void CMountCache::Put(uint64_t file, uint64_t stretch, Bytes bytes)
{
    const Key key{file, stretch};
    const size_t size = bytes->size;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        m_Claimed.erase(key);
        // Not kept (too big, or no memory to keep it), it still lets the
        // waiters go: each decodes it for itself.
        if (size <= m_Budget && !m_Where.count(key)) {
            try {
                m_Order.emplace_front(key, std::move(bytes));
                m_Where.emplace(key, m_Order.begin());
                m_Used += size;
            } catch (const std::bad_alloc &) {
                if (!m_Order.empty() && m_Order.front().first == key && !m_Where.count(key))
                    m_Order.pop_front();
            }
            while (m_Used > m_Budget) {
                m_Used -= m_Order.back().second->size;
                m_Where.erase(m_Order.back().first);
                m_Order.pop_back();
            }
        }
    }
    m_Decoded.notify_all();
}

void CMountCache::Abandon(uint64_t file, uint64_t stretch)
{
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        m_Claimed.erase(Key{file, stretch});
    }
    m_Decoded.notify_all();
}

size_t CMountCache::Used() const
{
    std::lock_guard<std::mutex> hold(m_Lock);
    return m_Used;
}
