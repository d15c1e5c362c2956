// Decoded stretches of packed files, kept for the next read up to a byte
// budget; the least recently used go first. Any number of threads may use
// it at once, and a stretch is decoded by one of them at a time: the others
// asking for it meanwhile wait for its bytes instead of decoding them again.
#pragma once

#include "PackedFileReader.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace zarnik_mount {

class CMountCache
{
public:
    using Bytes = std::shared_ptr<const zarnik::DecodedStretch>;
    // Which stretch: the file's entry in the mount's tree, and the stretch's
    // number in the file.
    struct Key
    {
        uint32_t entry;
        uint32_t stretch;
        bool operator==(const Key &o) const { return entry == o.entry && stretch == o.stretch; }
    };
    // Decodes a stretch into `out`: all of it when Sound, else the sound
    // bytes before the failure.
    using Decoder = std::function<zarnik::StreamOutcome(zarnik::DecodedStretch &out)>;
    struct Got
    {
        Bytes bytes; // never null
        zarnik::StreamOutcome outcome = zarnik::StreamOutcome::Sound;
    };

    explicit CMountCache(size_t budget) : m_Budget(budget) {}

    // The stretch as kept, or else decoded now by `decode` (after waiting
    // while another thread decodes it). Only a sound stretch is kept; a
    // failed one is handed over with its outcome, and the next asker
    // decodes it again.
    Got GetOrDecode(Key key, const Decoder &decode);
    // Decodes the stretch into the cache, ahead of its reader, unless it is
    // kept or being decoded already; nothing is kept when it fails.
    void DecodeAhead(Key key, const Decoder &decode);

    size_t Budget() const { return m_Budget; }

private:
    struct KeyHash
    {
        size_t operator()(const Key &k) const
        {
            return std::hash<uint64_t>()((uint64_t(k.entry) << 32 | k.stretch) * 0x9E3779B97F4A7C15ull);
        }
    };
    using Order = std::list<std::pair<Key, Bytes>>; // most recent first
    class CClaim;

    // The kept stretch, made the most recent; null when not kept.
    Bytes Kept(const Key &key);
    // Keeps the bytes of a claimed stretch, pushing out the least recently
    // used past the budget (a reader may still hold what goes).
    void Keep(const Key &key, Bytes bytes);

    std::mutex m_Lock;
    std::condition_variable m_Decoded;
    const size_t m_Budget;
    size_t m_Used = 0;
    Order m_Order;
    std::unordered_map<Key, Order::iterator, KeyHash> m_Where;
    std::unordered_set<Key, KeyHash> m_Claimed;
};

} // namespace zarnik_mount
