// Decoding ahead of a mounted file's reader. The kernel asks for a file
// read from start to end a little at a time and waits for each answer;
// decoding the stretches after the one asked for on threads of its own,
// while the kernel copies the answer, keeps every core busy on one file.
#pragma once

#include "MountCache.h"
#include "PackedFileReader.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zarnik_mount {

class CMountReadAhead
{
public:
    using Reader = std::shared_ptr<const zarnik::CPackedFileReader>;

    // `threads` decoders filling `cache`; with none, nothing is read ahead.
    CMountReadAhead(CMountCache &cache, unsigned threads);
    ~CMountReadAhead(); // waits for the stretches being decoded
    CMountReadAhead(const CMountReadAhead &) = delete;
    CMountReadAhead &operator=(const CMountReadAhead &) = delete;

    // Asks for the stretches from `first` of the file of tree entry `entry`
    // (read by `reader`) to be decoded: up to 16, none at or past `end`, and
    // fewer for a small cache; those kept or being decoded are passed over.
    void Ask(const Reader &reader, uint32_t entry, size_t first, size_t end);

private:
    struct Job
    {
        Reader reader;
        CMountCache::Key key;
    };
    void Work();

    CMountCache &m_Cache;
    const unsigned m_ThreadCount;
    size_t m_Depth = 0; // stretches decoded ahead of a reader
    std::mutex m_Lock;
    std::condition_variable m_Wake;
    std::deque<Job> m_Jobs;
    bool m_Ending = false;
    std::vector<std::thread> m_Threads;
};

} // namespace zarnik_mount
