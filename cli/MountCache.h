// Decoded stretches of packed files, kept for the next read up to a byte
// budget; the least recently used go first. Any number of threads may use
// it at once, and a stretch is decoded by one of them at a time: whoever
// finds it missing claims it, and the others asking for it wait for its
// bytes instead of decoding them again.
#pragma once

#include "PackedFileReader.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

class CMountCache
{
public:
    using Bytes = std::shared_ptr<const zarnik::DecodedStretch>;

    explicit CMountCache(size_t budget) : m_Budget(budget) {}

    // Stretch `stretch` of file `file` when it is kept, waiting first while
    // another thread decodes it. Null when it is not kept: then the caller
    // has claimed it and must Put or Abandon it.
    Bytes Take(uint64_t file, uint64_t stretch);
    // Claims the stretch for decoding ahead of its reader; false when it is
    // kept or being decoded already.
    bool Claim(uint64_t file, uint64_t stretch);
    // Keeps `bytes` for a claimed stretch (a reader may still hold what the
    // budget pushes out) and lets its waiters go.
    void Put(uint64_t file, uint64_t stretch, Bytes bytes);
    // Gives a claim up, as its decoding failed: a waiter claims it next.
    void Abandon(uint64_t file, uint64_t stretch);

    size_t Budget() const { return m_Budget; }
    size_t Used() const;

private:
    struct Key
    {
        uint64_t file, stretch;
        bool operator==(const Key &o) const { return file == o.file && stretch == o.stretch; }
    };
    struct KeyHash
    {
        size_t operator()(const Key &k) const { return std::hash<uint64_t>()(k.file * 0x9E3779B97F4A7C15ull ^ k.stretch); }
    };
    using Order = std::list<std::pair<Key, Bytes>>; // most recent first

    mutable std::mutex m_Lock;
    std::condition_variable m_Decoded;
    const size_t m_Budget;
    size_t m_Used = 0;
    Order m_Order;
    std::unordered_map<Key, Order::iterator, KeyHash> m_Where;
    std::unordered_set<Key, KeyHash> m_Claimed;
};
