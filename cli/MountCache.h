// Decoded stretches of packed files, kept for the next read up to a byte
// budget; the least recently used go first. Any number of threads may use
// it at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

class CMountCache
{
public:
    using Bytes = std::shared_ptr<const std::vector<unsigned char>>;

    explicit CMountCache(size_t budget) : m_Budget(budget) {}

    // Stretch `stretch` of file `file`, or null when it is not kept.
    Bytes Get(uint64_t file, uint64_t stretch);
    // Keeps `bytes` (a reader may still hold what the budget pushes out).
    void Put(uint64_t file, uint64_t stretch, Bytes bytes);

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
    const size_t m_Budget;
    size_t m_Used = 0;
    Order m_Order;
    std::unordered_map<Key, Order::iterator, KeyHash> m_Where;
};
