// Extraction: a node of the tree written to disk, depth first. Every file is
// written whole or not at all: under a temporary name beside its place,
// published under its final name only when every byte is written and closed,
// never replacing anything. Directories are reached from the destination's
// own handle and never through a link.
#include "ZarnikArchive.h"

#include "BlockFormat.h"
#include "FileSource.h"
#include "PackPath.h"
#include "PlatformFile.h"
#include "ZarnikArchive_packunpack.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace zarnik {

const char *ExtractOutcomeText(ExtractOutcome outcome)
{
    switch (outcome) {
    case ExtractOutcome::Written:
        return "written";
    case ExtractOutcome::Exists:
        return "a file already exists there; left untouched";
    case ExtractOutcome::OutOfRange:
        return "stored bytes lie outside the data file";
    case ExtractOutcome::Unreadable:
        return "stored bytes could not be read; the pack changed or was cut short";
    case ExtractOutcome::Damaged:
        return "packed data is damaged";
    case ExtractOutcome::WrongSize:
        return "packed data unpacks to another size than the entry says";
    case ExtractOutcome::NoMemory:
        return "not enough memory for the file";
    case ExtractOutcome::UnsafeName:
        return "unsafe name; not written, nor anything below it";
    case ExtractOutcome::EmptyName:
        return "the entry has an empty name; not written";
    case ExtractOutcome::Duplicate:
        return "another entry has the same path; only the first is written";
    case ExtractOutcome::LinkInPath:
        return "a link stands where a folder goes; not followed";
    case ExtractOutcome::CannotCreate:
        return "cannot create the file";
    case ExtractOutcome::WriteFailed:
        return "write failed; the partial file was removed";
    case ExtractOutcome::NoDirectory:
        return "cannot create the directory; nothing below it was written";
    case ExtractOutcome::DiskFull:
        return "the disk is full or read-only";
    case ExtractOutcome::Stopped:
        return "stopped; the partial file was removed";
    }
    return "";
}

namespace {

// Bytes written between two looks at the stop flag: a few milliseconds.
const uint32_t kWriteStep = 8u << 20;

unsigned char *Allocate(uint64_t size)
{
    return new (std::nothrow) unsigned char[size ? size : 1];
}

// The stored bytes of a file node, checked against its data file and read
// a few MiB at a time while `stopping()` says no; null with the reason in
// `outcome` when they cannot be had. A packed node must not claim more than
// its stored bytes can possibly decode to: a hostile entry may claim
// gigabytes for a few bytes.
template <typename Stopping>
std::unique_ptr<unsigned char[]> ReadStored(const CFileSource *data, const ArchiveNode &node,
                                            ExtractOutcome &outcome, Stopping stopping)
{
    std::unique_ptr<unsigned char[]> stored;
    if (!data)
        outcome = ExtractOutcome::Unreadable;
    else if (static_cast<uint64_t>(node.m_Offset) + node.m_PackedSize > data->Size())
        outcome = ExtractOutcome::OutOfRange;
    else if (node.IsPacked() &&
             node.m_UnpackedSize > uint64_t(zarnik::blockformat::kMaxUnpackRatio) * node.m_PackedSize)
        outcome = ExtractOutcome::WrongSize;
    else if (!(stored.reset(Allocate(node.m_PackedSize)), stored))
        outcome = ExtractOutcome::NoMemory;
    for (uint32_t done = 0; stored && done < node.m_PackedSize;) {
        const uint32_t step = std::min(node.m_PackedSize - done, kWriteStep);
        if (stopping()) {
            stored.reset();
            outcome = ExtractOutcome::Stopped;
        } else if (data->ReadAt(node.m_Offset + done, stored.get() + done, step) != step) {
            stored.reset();
            outcome = ExtractOutcome::Unreadable;
        }
        done += step;
    }
    return stored;
}

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

// At most this many bytes (stored plus unpacked) are in the hands of the
// workers at once; a larger file still goes, alone. And at most this many
// files per worker, written or waiting for their results to be told in
// order.
const uint64_t kBytesInFlight = 256u << 20;
const unsigned kFilesPerWorker = 4;

} // namespace

// One run of Extract: walks the tree in the pack's order, makes the folders
// and hands each file to WriteFile, on this thread or on a pool of workers.
// Every callback is called on the thread that called Extract.
class CExtraction
{
public:
    CExtraction(const CZarnikArchive &archive, CZarnikArchive::Callback *callback,
                const std::atomic<bool> *stop, unsigned workers);
    ~CExtraction();

    void Folder(const Directory &parent, const ArchiveNode &folder);
    // A file under its own name from the pack.
    void PackFile(const Directory &dir, const ArchiveNode &node);
    void File(const Directory &dir, const std::string &name, const ArchiveNode &node);
    // The directory for `folder` inside `parent`, or null after its result
    // went to the callback.
    Directory Enter(const Directory &parent, const ArchiveNode &folder);
    // The result of `node`, told in the pack's order.
    void Result(const ArchiveNode &node, ExtractOutcome outcome);
    // Reports what the workers have done, in order; with `all`, waits for
    // every file handed to them.
    void Settle(bool all);

    // True once a stop was asked for or the disk is full. Any thread.
    bool Ending();
    CZarnikArchive::ExtractEnd End() const
    {
        return static_cast<CZarnikArchive::ExtractEnd>(m_End.load());
    }

private:
    struct Job;
    class Pool;

    // Writes one file whole or not at all; any thread. `written` follows
    // the bytes on the disk.
    ExtractOutcome WriteFile(PlatformDirectory *dir, const std::string &name,
                             const ArchiveNode &node, std::atomic<uint64_t> &written);
    ExtractOutcome CopyStored(PlatformFile *file, const ArchiveNode &node,
                              const CFileSource &data, std::atomic<uint64_t> &written);
    ExtractOutcome WritePacked(PlatformFile *file, const ArchiveNode &node,
                               const CFileSource &data, std::atomic<uint64_t> &written);
    // The bytes of a file on the disk so far: told to the callback at once
    // on the calling thread, gathered by Settle from workers.
    void Progress(std::atomic<uint64_t> &written, uint64_t now)
    {
        const uint64_t before = written.exchange(now, std::memory_order_relaxed);
        if (!m_Pool && m_Callback)
            m_Callback->OnExtractBytes(now - before);
    }
    // Tells the callback now.
    void Report(const ArchiveNode &node, ExtractOutcome outcome);
    // DiskFull, which ends the run, when the last failure was a full disk.
    ExtractOutcome DiskFullOr(ExtractOutcome other);

    const CZarnikArchive &m_Archive;
    CZarnikArchive::Callback *m_Callback;
    const std::atomic<bool> *m_Stop;
    const unsigned m_Workers;
    std::atomic<int> m_End{static_cast<int>(CZarnikArchive::ExtractEnd::Finished)};
    std::unique_ptr<Pool> m_Pool;
    // Files handed to the workers and results waiting behind them, in order.
    std::deque<std::unique_ptr<Job>> m_Pending;
    unsigned m_Running = 0;
    uint64_t m_BytesRunning = 0;
};

// One file on its way to the disk: where it goes, and what became of it.
struct CExtraction::Job
{
    Directory dir;
    std::string name;
    const ArchiveNode *node = nullptr;
    ExtractOutcome outcome = ExtractOutcome::Written;
    bool done = false;                 // guarded by the pool's mutex
    bool begun = true;                 // false: the run was ending before a worker took it
    std::atomic<uint64_t> written{0};  // bytes on the disk so far
    uint64_t reported = 0;             // of `written`, told to the callback
};

// The workers of a parallel run: they take jobs in order and write them.
class CExtraction::Pool
{
public:
    Pool(CExtraction &run, unsigned workers) : m_Run(run)
    {
        // A process out of threads gets fewer workers, or none (then the
        // run writes on the calling thread).
        try {
            for (unsigned i = 0; i < workers; ++i)
                m_Threads.emplace_back([this] { Work(); });
        } catch (const std::system_error &) {
        }
    }
    bool Working() const { return !m_Threads.empty(); }
    ~Pool()
    {
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Closing = true;
        }
        m_WorkReady.notify_all();
        for (std::thread &t : m_Threads)
            t.join();
    }
    void Submit(Job *job)
    {
        {
            std::lock_guard<std::mutex> lock(m_Mutex);
            m_Queue.push_back(job);
            ++m_Unfinished;
        }
        m_WorkReady.notify_one();
    }
    bool Done(const Job &job)
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return job.done;
    }
    // Waits until `front` is done or a moment has passed (the bytes written
    // meanwhile are worth telling). With `refill`, also until fewer jobs are
    // unfinished than there are workers: the caller then hands out several
    // files at once, and waking it for each file would cost the workers
    // their cores.
    void Wait(const Job &front, bool refill)
    {
        std::unique_lock<std::mutex> lock(m_Mutex);
        m_Awaited = &front;
        m_Refill = refill;
        m_JobDone.wait_for(lock, std::chrono::milliseconds(50), [this] { return Awaited(); });
        m_Awaited = nullptr;
    }

private:
    void Work()
    {
        for (;;) {
            Job *job;
            {
                std::unique_lock<std::mutex> lock(m_Mutex);
                m_WorkReady.wait(lock, [this] { return m_Closing || !m_Queue.empty(); });
                if (m_Queue.empty())
                    return;
                job = m_Queue.front();
                m_Queue.pop_front();
            }
            // A file not yet begun when the run ends was not tried: it has
            // no result, as the files never handed out have none.
            const bool begin = !m_Run.Ending();
            const ExtractOutcome outcome =
                begin ? m_Run.WriteFile(job->dir->dir, job->name, *job->node, job->written)
                      : ExtractOutcome::Stopped;
            bool wake;
            {
                std::lock_guard<std::mutex> lock(m_Mutex);
                job->begun = begin;
                job->outcome = outcome;
                job->done = true;
                --m_Unfinished;
                wake = m_Awaited && Awaited();
            }
            if (wake)
                m_JobDone.notify_one();
        }
    }
    // What the caller waits for has come; under the mutex.
    bool Awaited() const
    {
        return m_Awaited->done && (!m_Refill || m_Unfinished < m_Threads.size());
    }

    CExtraction &m_Run;
    std::vector<std::thread> m_Threads;
    std::mutex m_Mutex;
    std::condition_variable m_WorkReady, m_JobDone;
    std::deque<Job *> m_Queue;
    bool m_Closing = false;
    size_t m_Unfinished = 0;        // handed out and not yet done
    const Job *m_Awaited = nullptr; // while the caller waits: the job it waits for
    bool m_Refill = false;
};

CExtraction::CExtraction(const CZarnikArchive &archive, CZarnikArchive::Callback *callback,
                         const std::atomic<bool> *stop, unsigned workers)
    : m_Archive(archive), m_Callback(callback), m_Stop(stop), m_Workers(workers)
{
    if (workers > 1) {
        m_Pool.reset(new Pool(*this, workers));
        if (!m_Pool->Working())
            m_Pool.reset();
    }
}

CExtraction::~CExtraction()
{
    // Every job is settled before the workers go.
    Settle(true);
    m_Pool.reset();
}

bool CExtraction::Ending()
{
    if (m_Stop && m_Stop->load(std::memory_order_relaxed)) {
        int finished = static_cast<int>(CZarnikArchive::ExtractEnd::Finished);
        m_End.compare_exchange_strong(finished, static_cast<int>(CZarnikArchive::ExtractEnd::Stopped));
    }
    return End() != CZarnikArchive::ExtractEnd::Finished;
}

void CExtraction::Result(const ArchiveNode &node, ExtractOutcome outcome)
{
    // Results keep the pack's order: behind files still being written, a
    // result waits its turn.
    if (!m_Pending.empty()) {
        m_Pending.emplace_back(new Job);
        m_Pending.back()->node = &node;
        m_Pending.back()->outcome = outcome;
        m_Pending.back()->done = true;
        return;
    }
    Report(node, outcome);
}

void CExtraction::Report(const ArchiveNode &node, ExtractOutcome outcome)
{
    if (outcome == ExtractOutcome::DiskFull)
        m_End = static_cast<int>(CZarnikArchive::ExtractEnd::DiskFull);
    if (m_Callback)
        m_Callback->OnExtractResult(node, outcome);
}

Directory CExtraction::Enter(const Directory &parent, const ArchiveNode &folder)
{
    if (!IsSafeName(folder.m_Name)) {
        Result(folder, ExtractOutcome::UnsafeName);
        return nullptr;
    }
    PlatformDirectory *dir =
        PlatformEnterDirectory(parent->dir, FileSystemName(folder.m_Name), true);
    if (dir)
        return std::make_shared<DirectoryHandle>(dir);
    switch (PlatformLastError()) {
    case PlatformError::IsLink:
        Result(folder, ExtractOutcome::LinkInPath);
        break;
    case PlatformError::NoSpace:
        Result(folder, ExtractOutcome::DiskFull);
        break;
    default:
        Result(folder, ExtractOutcome::NoDirectory);
        break;
    }
    return nullptr;
}

void CExtraction::Folder(const Directory &parent, const ArchiveNode &folder)
{
    // An empty segment in a path (content\\x) names no folder of its own:
    // what lies below it goes into the parent, as a doubled separator does.
    const Directory into = folder.m_Name.empty() ? parent : Enter(parent, folder);
    if (!into)
        return;
    for (const ArchiveNode *child : folder.m_Children) {
        if (Ending())
            return;
        if (child->IsFolder())
            Folder(into, *child);
        else
            PackFile(into, *child);
    }
}

void CExtraction::PackFile(const Directory &dir, const ArchiveNode &node)
{
    if (node.m_Name.empty())
        Result(node, ExtractOutcome::EmptyName);
    else if (!IsSafeName(node.m_Name))
        Result(node, ExtractOutcome::UnsafeName);
    else if (!m_Archive.m_Duplicates.empty() && m_Archive.m_Duplicates.count(&node))
        Result(node, ExtractOutcome::Duplicate);
    else
        File(dir, FileSystemName(node.m_Name), node);
}

void CExtraction::File(const Directory &dir, const std::string &name, const ArchiveNode &node)
{
    if (m_Callback)
        m_Callback->OnExtractFile(node.m_Path);
    if (!m_Pool) {
        std::atomic<uint64_t> written{0};
        Result(node, WriteFile(dir->dir, name, node, written));
        return;
    }
    // Room for this file first: a few files and a bounded number of bytes
    // are in the workers' hands at any time.
    const uint64_t bytes = uint64_t(node.m_PackedSize) + (node.IsPacked() ? node.m_UnpackedSize : 0);
    while (m_Running > 0 &&
           (m_Running >= kFilesPerWorker * m_Workers || m_BytesRunning + bytes > kBytesInFlight)) {
        m_Pool->Wait(*m_Pending.front(), true);
        Settle(false);
    }
    m_Pending.emplace_back(new Job);
    Job &job = *m_Pending.back();
    job.dir = dir;
    job.name = name;
    job.node = &node;
    ++m_Running;
    m_BytesRunning += bytes;
    m_Pool->Submit(&job);
    Settle(false);
}

void CExtraction::Settle(bool all)
{
    while (!m_Pending.empty()) {
        // Bytes as they are written, from the jobs in the workers' hands.
        if (m_Callback) {
            for (const std::unique_ptr<Job> &job : m_Pending) {
                const uint64_t written = job->written.load(std::memory_order_relaxed);
                if (written != job->reported) {
                    m_Callback->OnExtractBytes(written - job->reported);
                    job->reported = written;
                }
            }
        }
        Job &front = *m_Pending.front();
        if (front.dir && !m_Pool->Done(front)) {
            if (!all)
                return;
            m_Pool->Wait(front, false);
            continue;
        }
        std::unique_ptr<Job> job = std::move(m_Pending.front());
        m_Pending.pop_front();
        if (job->dir) {
            --m_Running;
            m_BytesRunning -= uint64_t(job->node->m_PackedSize) +
                              (job->node->IsPacked() ? job->node->m_UnpackedSize : 0);
        }
        if (job->begun)
            Report(*job->node, job->outcome);
    }
}

ExtractOutcome CExtraction::WriteFile(PlatformDirectory *dir, const std::string &name,
                                      const ArchiveNode &node, std::atomic<uint64_t> &written)
{
    // A re-run finds most files in place: no need to read them again.
    if (PlatformExistsAt(dir, name))
        return ExtractOutcome::Exists;
    const CFileSource *data = m_Archive.DataFile(node);
    if (!data || static_cast<uint64_t>(node.m_Offset) + node.m_PackedSize > data->Size())
        return ExtractOutcome::OutOfRange;

    std::string tempName;
    PlatformFile *file = PlatformCreateTemporary(dir, name, &tempName);
    if (!file)
        return DiskFullOr(ExtractOutcome::CannotCreate);
    ExtractOutcome outcome = node.IsPacked() ? WritePacked(file, node, *data, written)
                                             : CopyStored(file, node, *data, written);
    if (!PlatformCloseWritten(file) && outcome == ExtractOutcome::Written)
        outcome = DiskFullOr(ExtractOutcome::WriteFailed);
    if (outcome == ExtractOutcome::Written && !PlatformPublish(dir, tempName, name))
        outcome = PlatformLastError() == PlatformError::Exists ? ExtractOutcome::Exists
                                                               : ExtractOutcome::CannotCreate;
    if (outcome != ExtractOutcome::Written)
        PlatformRemoveAt(dir, tempName);
    return outcome;
}

ExtractOutcome CExtraction::DiskFullOr(ExtractOutcome other)
{
    if (PlatformLastError() != PlatformError::NoSpace)
        return other;
    // The other workers stop too: nothing more fits.
    m_End = static_cast<int>(CZarnikArchive::ExtractEnd::DiskFull);
    return ExtractOutcome::DiskFull;
}

ExtractOutcome CExtraction::CopyStored(PlatformFile *file, const ArchiveNode &node,
                                       const CFileSource &data, std::atomic<uint64_t> &written)
{
    // Stored as is: the bytes go from the data file to the new file without
    // passing through a buffer of ours.
    PlatformFile *source = data.File();
    uint64_t done = 0;
    while (done < node.m_PackedSize) {
        if (Ending())
            return ExtractOutcome::Stopped;
        const uint64_t left = node.m_PackedSize - done;
        const uint64_t step = left < kWriteStep ? left : kWriteStep;
        const uint64_t copied = PlatformCopyRange(source, node.m_Offset + done, file, step);
        done += copied;
        Progress(written, done);
        if (copied < step)
            return PlatformLastError() == PlatformError::None
                       ? ExtractOutcome::Unreadable
                       : DiskFullOr(ExtractOutcome::WriteFailed);
    }
    return ExtractOutcome::Written;
}

ExtractOutcome CExtraction::WritePacked(PlatformFile *file, const ArchiveNode &node,
                                        const CFileSource &data, std::atomic<uint64_t> &written)
{
    ExtractOutcome failure = ExtractOutcome::Written;
    std::unique_ptr<unsigned char[]> stored =
        ReadStored(&data, node, failure, [this] { return Ending(); });
    if (!stored)
        return failure;
    std::unique_ptr<unsigned char[]> out(Allocate(node.m_UnpackedSize));
    if (!out)
        return ExtractOutcome::NoMemory;

    // Decoded and written a few blocks at a time, so that a stop request is
    // seen soon even in a file of gigabytes.
    UnpackCursor cursor;
    while (cursor.in < node.m_PackedSize) {
        if (Ending())
            return ExtractOutcome::Stopped;
        const uint32_t from = cursor.out;
        if (!UnpackSome(out.get(), stored.get(), node.m_PackedSize, node.m_UnpackedSize, cursor,
                        kWriteStep))
            return ExtractOutcome::Damaged;
        if (cursor.in >= node.m_PackedSize && cursor.out != node.m_UnpackedSize)
            return ExtractOutcome::WrongSize;
        if (!PlatformWriteAll(file, out.get() + from, cursor.out - from))
            return DiskFullOr(ExtractOutcome::WriteFailed);
        Progress(written, cursor.out);
    }
    return cursor.out == node.m_UnpackedSize ? ExtractOutcome::Written : ExtractOutcome::WrongSize;
}

namespace {

// Workers for an extraction of `node` when the caller leaves it to us: a
// thread costs more than a few small files take to write.
unsigned AutomaticWorkers(const ArchiveNode &node)
{
    const unsigned cores = std::thread::hardware_concurrency();
    if (cores < 2)
        return 1;
    const unsigned workers = cores > 8 ? 8 : cores;
    uint64_t files = 0, bytes = 0;
    std::vector<const ArchiveNode *> folders{&node};
    while (!folders.empty() && (files < 4 * workers || bytes < (16u << 20))) {
        const ArchiveNode *folder = folders.back();
        folders.pop_back();
        for (const ArchiveNode *child : folder->m_Children) {
            if (child->IsFolder()) {
                folders.push_back(child);
            } else {
                ++files;
                bytes += child->m_UnpackedSize;
            }
        }
    }
    return files >= 4 * workers && bytes >= (16u << 20) ? workers : 1;
}

} // namespace

CZarnikArchive::ExtractEnd CZarnikArchive::Extract(const ArchiveNode *node,
                                                   const std::string &dest, Callback *callback,
                                                   const ExtractOptions &options)
{
    if (std::none_of(m_DataFiles.begin(), m_DataFiles.end(),
                     [](const std::unique_ptr<CFileSource> &file) { return file != nullptr; }))
        return ExtractEnd::NoDataFile;
    if (!node)
        return ExtractEnd::Finished;
    CExtraction run(*this, callback, options.stop,
                    options.workers ? options.workers : AutomaticWorkers(*node));

    // A file without leading folders goes to exactly `dest`: its folder is
    // the one the user chose.
    std::string base = dest;
    std::string fileName;
    if (!node->IsFolder() && options.leadingFolders.empty()) {
        const size_t separator = PlatformLastSeparator(dest);
        base = separator == std::string::npos ? "." : dest.substr(0, separator + 1);
        fileName = dest.substr(separator == std::string::npos ? 0 : separator + 1);
    }
    // The destination itself may be a link: the user named it.
    PlatformDirectory *const chosen = PlatformOpenDirectory(base);
    if (!chosen) {
        run.Result(*node, PlatformLastError() == PlatformError::NoSpace
                              ? ExtractOutcome::DiskFull
                              : (node->IsFolder() ? ExtractOutcome::NoDirectory
                                                  : ExtractOutcome::CannotCreate));
        return run.End();
    }
    Directory dir = std::make_shared<DirectoryHandle>(chosen);
    for (const ArchiveNode *folder : options.leadingFolders) {
        if (folder->m_Name.empty())
            continue; // as in Folder: no folder of its own
        dir = run.Enter(dir, *folder);
        if (!dir)
            return run.End();
    }

    if (!run.Ending()) {
        if (node->IsFolder())
            run.Folder(dir, *node);
        else if (fileName.empty())
            run.PackFile(dir, *node);
        else
            run.File(dir, fileName, *node); // the name the user chose
    }
    run.Settle(true);
    run.Ending();
    return run.End();
}

bool CZarnikArchive::ReadFileData(const ArchiveNode *node, std::unique_ptr<unsigned char[]> &out,
                                  ExtractOutcome &outcome) const
{
    out.reset();
    std::unique_ptr<unsigned char[]> stored =
        ReadStored(DataFile(*node), *node, outcome, [] { return false; });
    if (!stored)
        return false;
    const bool packed = node->IsPacked();
    if (!packed) {
        out = std::move(stored);
        outcome = ExtractOutcome::Written;
        return true;
    }
    std::unique_ptr<unsigned char[]> unpacked(Allocate(node->m_UnpackedSize));
    if (!unpacked) {
        outcome = ExtractOutcome::NoMemory;
        return false;
    }
    const uint32_t written = Unpack(unpacked.get(), stored.get(), node->m_PackedSize,
                                    node->m_UnpackedSize);
    if (written == kUnpackDamaged || written != node->m_UnpackedSize) {
        outcome = written == kUnpackDamaged ? ExtractOutcome::Damaged : ExtractOutcome::WrongSize;
        return false;
    }
    out = std::move(unpacked);
    outcome = ExtractOutcome::Written;
    return true;
}

} // namespace zarnik
