#include "MountCache.h"

#include <new>

namespace zarnik_mount {

using zarnik::StreamOutcome;

// A stretch being decoded by one thread, from the moment it was found
// missing: whoever else asks for it waits until the claim ends, however the
// decoding ends (an exception included), and then finds it kept or claims
// it in turn.
class CMountCache::CClaim
{
public:
    CClaim(CMountCache &cache, const Key &key) : m_Cache(cache), m_Key(key) {}
    ~CClaim()
    {
        {
            std::lock_guard<std::mutex> hold(m_Cache.m_Lock);
            m_Cache.m_Claimed.erase(m_Key);
        }
        m_Cache.m_Decoded.notify_all();
    }
    CClaim(const CClaim &) = delete;
    CClaim &operator=(const CClaim &) = delete;

    // Decodes the stretch, and keeps it when it is sound.
    Got Decode(const Decoder &decode)
    {
        auto decoded = std::make_shared<zarnik::DecodedStretch>();
        const StreamOutcome outcome = decode(*decoded);
        if (outcome == StreamOutcome::Sound && decoded->size > 0)
            m_Cache.Keep(m_Key, decoded);
        return Got{std::move(decoded), outcome};
    }

private:
    CMountCache &m_Cache;
    const Key m_Key;
};

CMountCache::Got CMountCache::GetOrDecode(Key key, const Decoder &decode)
{
    {
        std::unique_lock<std::mutex> hold(m_Lock);
        for (;;) {
            if (Bytes kept = Kept(key))
                return Got{std::move(kept), StreamOutcome::Sound};
            if (m_Claimed.insert(key).second)
                break;
            m_Decoded.wait(hold);
        }
    }
    CClaim claim(*this, key);
    return claim.Decode(decode);
}

void CMountCache::DecodeAhead(Key key, const Decoder &decode)
{
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        if (m_Where.count(key) || !m_Claimed.insert(key).second)
            return;
    }
    CClaim claim(*this, key);
    claim.Decode(decode);
}

CMountCache::Bytes CMountCache::Kept(const Key &key)
{
    const auto it = m_Where.find(key);
    if (it == m_Where.end())
        return nullptr;
    m_Order.splice(m_Order.begin(), m_Order, it->second);
    return it->second->second;
}

void CMountCache::Keep(const Key &key, Bytes bytes)
{
    const size_t size = bytes->size;
    std::lock_guard<std::mutex> hold(m_Lock);
    if (size > m_Budget || m_Where.count(key))
        return;
    // Without the memory to keep it, it is handed to its reader all the
    // same; the next one decodes it again.
    try {
        m_Order.emplace_front(key, std::move(bytes));
    } catch (const std::bad_alloc &) {
        return;
    }
    try {
        m_Where.emplace(key, m_Order.begin());
    } catch (const std::bad_alloc &) {
        m_Order.pop_front();
        return;
    }
    m_Used += size;
    while (m_Used > m_Budget) {
        m_Used -= m_Order.back().second->size;
        m_Where.erase(m_Order.back().first);
        m_Order.pop_back();
    }
}

} // namespace zarnik_mount
