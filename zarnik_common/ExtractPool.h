// The ordered worker pool of a parallel extraction: workers take the files
// in the order they were handed out and write each one; the caller gathers
// their results in that same order.
#pragma once

#include "PlatformFile.h"
#include "ZarnikArchive.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zarnik {

// Closes a directory handle when the last file written below it is done.
struct DirectoryHandle
{
    explicit DirectoryHandle(PlatformDirectory *d) : dir(d) {}
    ~DirectoryHandle() { PlatformCloseDirectory(dir); }
    DirectoryHandle(const DirectoryHandle &) = delete;
    DirectoryHandle &operator=(const DirectoryHandle &) = delete;
    PlatformDirectory *dir;
};
using Directory = std::shared_ptr<DirectoryHandle>;

// One file on its way to the disk (or a result waiting its turn, without
// `dir`): where it goes, and what became of it.
struct ExtractJob
{
    Directory dir;
    std::string name;
    const ArchiveNode *node = nullptr;
    ExtractOutcome outcome = ExtractOutcome::Written;
    std::string reason;                // the system's words for a failure, if any
    bool done = false;                 // guarded by the pool's mutex
    bool begun = true;                 // false: the run was ending before a worker took it
    std::atomic<uint64_t> written{0};  // bytes on the disk so far
    uint64_t reported = 0;             // of `written`, told to the callback
};

class CExtractPool
{
public:
    // `work` writes one job on a worker thread, setting its outcome and
    // whether it was begun at all.
    CExtractPool(std::function<void(ExtractJob &)> work, unsigned workers);
    ~CExtractPool();
    CExtractPool(const CExtractPool &) = delete;
    CExtractPool &operator=(const CExtractPool &) = delete;

    // False when no thread could be started (the run then writes alone).
    bool Working() const { return !m_Threads.empty(); }
    void Submit(ExtractJob *job);
    bool Done(const ExtractJob &job);
    // Waits until `front` is done or a moment has passed (the bytes written
    // meanwhile are worth telling). With `refill`, also until fewer jobs are
    // unfinished than there are workers: the caller then hands out several
    // files at once, and waking it for each file would cost the workers
    // their cores.
    void Wait(const ExtractJob &front, bool refill);

private:
    void Work();
    // What the caller waits for has come; under the mutex.
    bool Awaited() const;

    std::function<void(ExtractJob &)> m_Write;
    std::vector<std::thread> m_Threads;
    std::mutex m_Mutex;
    std::condition_variable m_WorkReady, m_JobDone;
    std::deque<ExtractJob *> m_Queue;
    bool m_Closing = false;
    size_t m_Unfinished = 0;               // handed out and not yet done
    const ExtractJob *m_Awaited = nullptr; // while the caller waits: the job it waits for
    bool m_Refill = false;
};

} // namespace zarnik
