#include "ExtractPool.h"

#include <chrono>
#include <system_error>

namespace zarnik {

CExtractPool::CExtractPool(std::function<void(ExtractJob &)> work, unsigned workers)
    : m_Write(std::move(work))
{
    // A process out of threads gets fewer workers, or none.
    try {
        for (unsigned i = 0; i < workers; ++i)
            m_Threads.emplace_back([this] { Work(); });
    } catch (const std::system_error &) {
    }
}

CExtractPool::~CExtractPool()
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Closing = true;
    }
    m_WorkReady.notify_all();
    for (std::thread &t : m_Threads)
        t.join();
}

void CExtractPool::Submit(ExtractJob *job)
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Queue.push_back(job);
        ++m_Unfinished;
    }
    m_WorkReady.notify_one();
}

bool CExtractPool::Done(const ExtractJob &job)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return job.done;
}

void CExtractPool::Wait(const ExtractJob &front, bool refill)
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    m_Awaited = &front;
    m_Refill = refill;
    m_JobDone.wait_for(lock, std::chrono::milliseconds(50), [this] { return Awaited(); });
    m_Awaited = nullptr;
}

void CExtractPool::Work()
{
    for (;;) {
        ExtractJob *job;
        {
            std::unique_lock<std::mutex> lock(m_Mutex);
            m_WorkReady.wait(lock, [this] { return m_Closing || !m_Queue.empty(); });
            if (m_Queue.empty())
                return;
            job = m_Queue.front();
            m_Queue.pop_front();
        }
        // Its outcome is read only once `done` is seen under the mutex.
        m_Write(*job);
        bool wake;
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            job->done = true;
            --m_Unfinished;
            wake = m_Awaited && Awaited();
        }
        if (wake)
            m_JobDone.notify_one();
    }
}

bool CExtractPool::Awaited() const
{
    return m_Awaited->done && (!m_Refill || m_Unfinished < m_Threads.size());
}

} // namespace zarnik
