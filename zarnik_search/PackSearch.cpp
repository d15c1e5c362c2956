#include "PackSearch.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace zarnik_search {

using zarnik::ArchiveNode;
using zarnik::ReadOutcome;

namespace {

// The hits of a file a worker holds before it waits for the caller to take
// them, and how many files the workers may run ahead of the caller: what
// the search holds beyond its windows stays a few MiB per worker.
const size_t kHeldBytes = 1u << 20;
const size_t kAheadPerWorker = 8;
const auto kProgressEvery = std::chrono::milliseconds(100);

// One file's results on their way from its worker to the caller.
struct FileSlot
{
    std::vector<SearchHit> hits;
    size_t bytes = 0; // held in `hits`
    bool ended = false;
    FileSearchEnd end;
};

class CSearchRun
{
public:
    CSearchRun(const zarnik::CZarnikArchive &archive, const std::vector<const ArchiveNode *> &files,
               const SearchSettings &settings, CSearchCallback &callback)
        : m_Archive(archive), m_Files(files), m_Settings(settings), m_Callback(callback), m_Slots(files.size())
    {
    }

    SearchEnd Run(const CMatcher &matcher)
    {
        unsigned workers = m_Settings.workers ? m_Settings.workers : std::max(1u, std::thread::hardware_concurrency());
        workers = unsigned(std::min<size_t>(workers, m_Files.size()));
        m_Ahead = kAheadPerWorker * std::max(1u, workers);
        std::vector<std::thread> threads;
        for (unsigned i = 0; i < workers; ++i)
            threads.emplace_back([this, own = std::shared_ptr<CMatcher>(matcher.Clone())] { Work(*own); });
        SearchEnd end = SearchEnd::Finished;
        while (m_Front < m_Files.size() && end == SearchEnd::Finished)
            end = DeliverFront();
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_End = true;
        }
        m_Changed.notify_all();
        for (std::thread &thread : threads)
            thread.join();
        return end;
    }

private:
    bool Stopped() const { return m_Settings.stop && m_Settings.stop->load(std::memory_order_relaxed); }

    void Work(CMatcher &matcher)
    {
        for (;;) {
            size_t index;
            {
                std::unique_lock<std::mutex> lock(m_Mutex);
                m_Changed.wait(lock, [&] { return m_End || m_Next >= m_Files.size() || m_Next < m_Front + m_Ahead; });
                if (m_End || m_Next >= m_Files.size() || Stopped())
                    return;
                index = m_Next++;
                m_Slots[index] = std::make_unique<FileSlot>();
            }
            SearchOne(*m_Files[index], *m_Slots[index], matcher);
        }
    }

    void SearchOne(const ArchiveNode &file, FileSlot &slot, CMatcher &matcher)
    {
        CLineScanner scanner(matcher, m_Settings.scan, [&](SearchHit &&hit) {
            std::unique_lock<std::mutex> lock(m_Mutex);
            slot.bytes += sizeof hit + hit.text.size();
            slot.hits.push_back(std::move(hit));
            m_Changed.notify_all();
            m_Changed.wait(lock, [&] { return slot.bytes <= kHeldBytes || m_End; });
            return !m_End;
        });
        bool enough = false; // the scanner wanted no more
        zarnik::CZarnikArchive::StreamSettings stream;
        stream.stop = m_Settings.stop;
        ReadOutcome read = m_Archive.StreamFileData(
            file,
            [&](const unsigned char *data, size_t size) {
                m_Bytes.fetch_add(size, std::memory_order_relaxed);
                enough = !scanner.Feed(data, size);
                return !enough;
            },
            stream);
        if (read == ReadOutcome::Sound)
            scanner.Finish();
        else if (read == ReadOutcome::Stopped && enough)
            read = ReadOutcome::Sound;
        std::lock_guard<std::mutex> lock(m_Mutex);
        slot.end = FileSearchEnd{scanner.Summary(), read};
        slot.ended = true;
        m_Changed.notify_all();
    }

    // Hands the caller what the front file's worker has found so far, and
    // its end when it has ended.
    SearchEnd DeliverFront()
    {
        std::vector<SearchHit> hits;
        std::unique_ptr<FileSlot> ended;
        {
            std::unique_lock<std::mutex> lock(m_Mutex);
            const auto ready = [&] {
                const FileSlot *slot = m_Slots[m_Front].get();
                return slot && (slot->ended || !slot->hits.empty());
            };
            m_Changed.wait_for(lock, kProgressEvery, ready);
            if (ready()) {
                FileSlot &slot = *m_Slots[m_Front];
                hits.swap(slot.hits);
                slot.bytes = 0;
                if (slot.ended)
                    ended = std::move(m_Slots[m_Front++]);
                m_Changed.notify_all();
            }
        }
        if (Stopped())
            return SearchEnd::Stopped;
        const ArchiveNode &file = *m_Files[m_Front - (ended ? 1 : 0)];
        for (const SearchHit &hit : hits)
            if (!m_Callback.OnHit(file, hit))
                return SearchEnd::Ended;
        if (ended && !m_Callback.OnFileEnd(file, ended->end))
            return SearchEnd::Ended;
        m_Callback.OnProgress(m_Front, m_Bytes.load(std::memory_order_relaxed));
        return SearchEnd::Finished;
    }

    const zarnik::CZarnikArchive &m_Archive;
    const std::vector<const ArchiveNode *> &m_Files;
    const SearchSettings &m_Settings;
    CSearchCallback &m_Callback;
    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    std::vector<std::unique_ptr<FileSlot>> m_Slots; // of the files taken and not yet handed over
    size_t m_Next = 0;  // the next file a worker takes
    size_t m_Front = 0; // the file whose hits the caller is given
    size_t m_Ahead = 0;
    bool m_End = false;
    std::atomic<uint64_t> m_Bytes{0};
};

} // namespace

SearchEnd SearchFiles(const zarnik::CZarnikArchive &archive, const std::vector<const ArchiveNode *> &files,
                      const CMatcher &matcher, const SearchSettings &settings, CSearchCallback &callback)
{
    return CSearchRun(archive, files, settings, callback).Run(matcher);
}

} // namespace zarnik_search
