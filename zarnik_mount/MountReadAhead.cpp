#include "MountReadAhead.h"

#include "BlockStream.h"

#include <algorithm>
#include <new>
#include <system_error>

namespace zarnik_mount {

namespace {

// Four of the largest reads the kernel asks for (1 MiB): enough to keep
// every decoder busy while the kernel copies an answer; more only pushes
// other files out of a small cache (and was measured no faster).
const size_t kStretchesAhead = 16;

} // namespace

CMountReadAhead::CMountReadAhead(CMountCache &cache, unsigned threads) : m_Cache(cache), m_ThreadCount(threads)
{
    // What is decoded ahead must not push itself out before it is read:
    // it takes at most a quarter of the cache.
    const size_t fits = cache.Budget() / 4 / zarnik::CBlockIndex::kSpacing;
    m_Depth = threads ? std::min(kStretchesAhead, fits) : 0;
}

CMountReadAhead::~CMountReadAhead()
{
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        m_Ending = true;
        m_Jobs.clear();
    }
    m_Wake.notify_all();
    for (std::thread &thread : m_Threads)
        thread.join();
}

void CMountReadAhead::Ask(const Reader &reader, uint32_t entry, size_t first, size_t end)
{
    end = std::min(end, first + m_Depth);
    if (first >= end)
        return;
    {
        std::lock_guard<std::mutex> hold(m_Lock);
        // Started with the first ask: a mount that goes to the background
        // forks after it is made, and threads do not cross a fork.
        try {
            while (m_Threads.size() < m_ThreadCount)
                m_Threads.emplace_back([this] { Work(); });
        } catch (const std::system_error &) {
            if (m_Threads.empty())
                return;
        }
        // A reader that moved on leaves stale asks behind: the newest win.
        while (m_Jobs.size() + m_Depth > m_Depth * (m_ThreadCount + 1))
            m_Jobs.pop_front();
        for (size_t stretch = first; stretch < end; ++stretch)
            m_Jobs.push_back(Job{reader, CMountCache::Key{entry, uint32_t(stretch)}});
    }
    m_Wake.notify_all();
}

void CMountReadAhead::Work()
{
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> hold(m_Lock);
            m_Wake.wait(hold, [this] { return m_Ending || !m_Jobs.empty(); });
            if (m_Ending)
                return;
            job = std::move(m_Jobs.front());
            m_Jobs.pop_front();
        }
        // Damaged, or out of memory: nothing is kept, and the reader, should
        // it come this far, decodes the stretch itself and meets the failure.
        try {
            m_Cache.DecodeAhead(job.key, [&job](zarnik::DecodedStretch &out) {
                return job.reader->DecodeStretch(job.key.stretch, out);
            });
        } catch (const std::bad_alloc &) {
        }
    }
}

} // namespace zarnik_mount
