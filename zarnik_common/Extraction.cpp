// Extraction's walk and write policy: the tree walked in the pack's order,
// folders made from the destination's own handle and never through a link,
// every file written whole or not at all (under a temporary name, published
// under its final name only when every byte is written and closed, never
// replacing anything), on this thread or by an ordered pool of workers.
#include "Extraction.h"

#include "DiskName.h"
#include "ExtractPool.h"
#include "FileSource.h"
#include "PackPath.h"
#include "PlatformFile.h"
#include "StoredBytes.h"

#include <deque>
#include <memory>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace zarnik {

namespace {

// At most this many files per worker, written or waiting for their results
// to be told in order. Their bytes need no bound of their own: a file is
// copied in the kernel or unpacked a few blocks at a time.
const unsigned kFilesPerWorker = 4;

// One run of Extract: walks the tree in the pack's order, makes the folders
// and hands each file to WriteFile, on this thread or on a pool of workers.
// Every callback is called on the thread that called Extract.
class CExtractionRun
{
public:
    CExtractionRun(const CZarnikArchive &archive, ExtractCallback *callback,
                   const std::atomic<bool> *stop, unsigned workers, bool sync);
    ~CExtractionRun();

    void Folder(const Directory &parent, const ArchiveNode &folder);
    // A file under its own name from the pack.
    void PackFile(const Directory &dir, const ArchiveNode &node);
    void File(const Directory &dir, const std::string &name, const ArchiveNode &node);
    // True, after its result went to the callback, when `node` would land
    // on an earlier node beside it whose name differs only in case: the
    // disk takes the two names for one.
    bool CaseTwinTaken(const Directory &dir, const ArchiveNode &node);
    // The directory for `folder` inside `parent`, or null after its result
    // went to the callback.
    Directory Enter(const Directory &parent, const ArchiveNode &folder);
    // The result of `node`, told in the pack's order.
    void Result(const ArchiveNode &node, ExtractOutcome outcome, const std::string &reason = "");
    // Reports what the workers have done, in order; with `all`, waits for
    // every file handed to them.
    void Settle(bool all);

    // Before anything is written: notes, for every file in a folder below
    // `root` (for a file `root`, in its own folder) where an entry is named
    // like a temporary file, the names beside it that its own temporary name
    // must not take.
    void NoteLookalikes(const ArchiveNode &root);

    // True once a stop was asked for or the disk is full. Any thread.
    bool Ending();
    ExtractEnd End() const { return static_cast<ExtractEnd>(m_End.load()); }

private:
    // A worker's job: written, or not begun when the run was ending.
    void Work(ExtractJob &job);
    // Writes one file whole or not at all; any thread. `written` follows
    // the bytes on the disk; `reason` receives the system's words for a
    // file it could not create or write.
    ExtractOutcome WriteFile(PlatformDirectory *dir, const std::string &name, const ArchiveNode &node,
                             std::atomic<uint64_t> &written, std::string &reason);
    ExtractOutcome CopyStored(PlatformFile *file, const ArchiveNode &node, const CFileSource &data,
                              std::atomic<uint64_t> &written, std::string &reason);
    ExtractOutcome WritePacked(PlatformFile *file, const ArchiveNode &node, const CFileSource &data,
                               std::atomic<uint64_t> &written, std::string &reason);
    // The bytes of a file on the disk so far: told to the callback at once
    // on the calling thread, gathered by Settle from workers.
    void Progress(std::atomic<uint64_t> &written, uint64_t now)
    {
        const uint64_t before = written.exchange(now, std::memory_order_relaxed);
        if (!m_Pool && m_Callback)
            m_Callback->OnExtractBytes(now - before);
    }
    // Tells the callback now, with the system's reason when there is one.
    void Report(const ArchiveNode &node, ExtractOutcome outcome, const std::string &reason = "");
    // DiskFull, which ends the run, when the last failure was a full disk;
    // else `other`, with the system's words for the failure in `reason`.
    ExtractOutcome DiskFullOr(ExtractOutcome other, std::string &reason);
    // Threads to decode `node` with, the worker among them; the extra ones
    // are taken from m_SpareDecoders and given back by ReturnDecoders.
    unsigned TakeDecoders(const ArchiveNode &node);
    void ReturnDecoders(unsigned decoders);

    const CZarnikArchive &m_Archive;
    ExtractCallback *m_Callback;
    const std::atomic<bool> *m_Stop;
    const unsigned m_Workers;
    const bool m_Sync;
    std::atomic<int> m_End{static_cast<int>(ExtractEnd::Finished)};
    std::unique_ptr<CExtractPool> m_Pool;
    // From NoteLookalikes: a file's neighbours' names, case folded, where a
    // temporary name of it could meet one while both are being written.
    std::unordered_map<const ArchiveNode *, std::shared_ptr<const std::unordered_set<std::string>>>
        m_Lookalikes;
    // Files handed to the workers and results waiting behind them, in order.
    std::deque<std::unique_ptr<ExtractJob>> m_Pending;
    unsigned m_Running = 0;
    // Threads a big file may start beside its worker: one fewer than the
    // workers, shared by every big file at once, so that one big file keeps
    // every core busy while the small ones go through the pool.
    std::atomic<unsigned> m_SpareDecoders{0};
};

CExtractionRun::CExtractionRun(const CZarnikArchive &archive, ExtractCallback *callback,
                               const std::atomic<bool> *stop, unsigned workers, bool sync)
    : m_Archive(archive), m_Callback(callback), m_Stop(stop), m_Workers(workers), m_Sync(sync)
{
    if (workers > 1) {
        m_Pool.reset(new CExtractPool([this](ExtractJob &job) { Work(job); }, workers));
        if (!m_Pool->Working())
            m_Pool.reset();
        else
            m_SpareDecoders = workers - 1;
    }
}

CExtractionRun::~CExtractionRun()
{
    // Every job is settled before the workers go.
    Settle(true);
    m_Pool.reset();
}

void CExtractionRun::Work(ExtractJob &job)
{
    // A file not yet begun when the run ends was not tried: it has no
    // result, as the files never handed out have none.
    job.begun = !Ending();
    job.outcome = job.begun ? WriteFile(job.dir->dir, job.name, *job.node, job.written, job.reason)
                            : ExtractOutcome::Stopped;
}

void CExtractionRun::NoteLookalikes(const ArchiveNode &root)
{
    // A file written alone lands where its neighbours in the pack go, and
    // one of them, named like its temporary file and written by an earlier
    // run, must not be taken for a leftover of it.
    const bool alone = !root.IsFolder();
    std::vector<const ArchiveNode *> folders{alone && root.m_Parent ? root.m_Parent : &root};
    while (!folders.empty()) {
        const ArchiveNode *folder = folders.back();
        folders.pop_back();
        std::shared_ptr<std::unordered_set<std::string>> names;
        for (const ArchiveNode *child : folder->m_Children) {
            if (child->IsFolder() && !alone)
                folders.push_back(child);
            const std::string name = FileSystemName(child->m_Name);
            if (LooksTemporary(name)) {
                if (!names)
                    names = std::make_shared<std::unordered_set<std::string>>();
                names->insert(CaseFolded(name));
            }
        }
        if (names)
            for (const ArchiveNode *child : folder->m_Children)
                if (!child->IsFolder())
                    m_Lookalikes.emplace(child, names);
    }
}

bool CExtractionRun::Ending()
{
    if (m_Stop && m_Stop->load(std::memory_order_relaxed)) {
        int finished = static_cast<int>(ExtractEnd::Finished);
        m_End.compare_exchange_strong(finished, static_cast<int>(ExtractEnd::Stopped));
    }
    return End() != ExtractEnd::Finished;
}

void CExtractionRun::Result(const ArchiveNode &node, ExtractOutcome outcome, const std::string &reason)
{
    // Results keep the pack's order: behind files still being written, a
    // result waits its turn.
    if (!m_Pending.empty()) {
        m_Pending.emplace_back(new ExtractJob);
        m_Pending.back()->node = &node;
        m_Pending.back()->outcome = outcome;
        m_Pending.back()->reason = reason;
        m_Pending.back()->done = true;
        return;
    }
    Report(node, outcome, reason);
}

void CExtractionRun::Report(const ArchiveNode &node, ExtractOutcome outcome, const std::string &reason)
{
    if (outcome == ExtractOutcome::DiskFull)
        m_End = static_cast<int>(ExtractEnd::DiskFull);
    if (m_Callback && !reason.empty())
        m_Callback->OnExtractReason(node, reason);
    if (m_Callback)
        m_Callback->OnExtractResult(node, outcome);
}

Directory CExtractionRun::Enter(const Directory &parent, const ArchiveNode &folder)
{
    const DiskName disk = DiskNameOf(folder);
    if (disk.outcome != ExtractOutcome::Written) {
        Result(folder, disk.outcome);
        return nullptr;
    }
    if (disk.name.empty())
        return parent;
    PlatformDirectory *dir = PlatformEnterDirectory(parent->dir, disk.name, true);
    if (dir)
        return std::make_shared<DirectoryHandle>(dir);
    switch (PlatformLastError()) {
    case PlatformError::IsLink:
        Result(folder, ExtractOutcome::LinkInPath);
        break;
    case PlatformError::NoSpace:
        Result(folder, ExtractOutcome::DiskFull);
        break;
    case PlatformError::UnsafeName:
        Result(folder, ExtractOutcome::UnsafeName);
        break;
    default:
        Result(folder, ExtractOutcome::NoDirectory, PlatformLastFailure().text);
        break;
    }
    return nullptr;
}

void CExtractionRun::Folder(const Directory &parent, const ArchiveNode &folder)
{
    const Directory into = Enter(parent, folder);
    if (!into)
        return;
    for (const ArchiveNode *child : folder.m_Children) {
        if (Ending())
            return;
        if (child->m_CaseTwin && CaseTwinTaken(into, *child))
            continue;
        if (child->IsFolder())
            Folder(into, *child);
        else
            PackFile(into, *child);
    }
}

bool CExtractionRun::CaseTwinTaken(const Directory &dir, const ArchiveNode &node)
{
    const ArchiveNode *earlier = m_Archive.EarlierCaseTwin(node);
    const std::string name = FileSystemName(node.m_Name);
    if (!earlier || !IsSafeName(name))
        return false;
    // Once the earlier one is on the disk, whatever the number of workers:
    // where the two names are one, this one finds it and is told so, never
    // merged into it nor counted as there before.
    Settle(true);
    if (!PlatformSameEntry(dir->dir, name, FileSystemName(earlier->m_Name)))
        return false;
    Result(node, ExtractOutcome::CaseTwin);
    return true;
}

void CExtractionRun::PackFile(const Directory &dir, const ArchiveNode &node)
{
    const DiskName disk = DiskNameOf(node);
    if (disk.outcome != ExtractOutcome::Written)
        Result(node, disk.outcome);
    else
        File(dir, disk.name, node);
}

void CExtractionRun::File(const Directory &dir, const std::string &name, const ArchiveNode &node)
{
    if (m_Callback)
        m_Callback->OnExtractFile(node.m_Path);
    if (!m_Pool) {
        std::atomic<uint64_t> written{0};
        std::string reason;
        const ExtractOutcome outcome = WriteFile(dir->dir, name, node, written, reason);
        Result(node, outcome, reason);
        return;
    }
    // Room for this file first: a few files are in the workers' hands at
    // any time.
    while (m_Running >= kFilesPerWorker * m_Workers) {
        m_Pool->Wait(*m_Pending.front(), true);
        Settle(false);
    }
    m_Pending.emplace_back(new ExtractJob);
    ExtractJob &job = *m_Pending.back();
    job.dir = dir;
    job.name = name;
    job.node = &node;
    ++m_Running;
    m_Pool->Submit(&job);
    Settle(false);
}

void CExtractionRun::Settle(bool all)
{
    while (!m_Pending.empty()) {
        // Bytes as they are written, from the jobs in the workers' hands.
        if (m_Callback) {
            for (const std::unique_ptr<ExtractJob> &job : m_Pending) {
                const uint64_t written = job->written.load(std::memory_order_relaxed);
                if (written != job->reported) {
                    m_Callback->OnExtractBytes(written - job->reported);
                    job->reported = written;
                }
            }
        }
        ExtractJob &front = *m_Pending.front();
        if (front.dir && !m_Pool->Done(front)) {
            if (!all)
                return;
            m_Pool->Wait(front, false);
            continue;
        }
        std::unique_ptr<ExtractJob> job = std::move(m_Pending.front());
        m_Pending.pop_front();
        if (job->dir)
            --m_Running;
        if (job->begun)
            Report(*job->node, job->outcome, job->reason);
    }
}

ExtractOutcome CExtractionRun::WriteFile(PlatformDirectory *dir, const std::string &name,
                                         const ArchiveNode &node, std::atomic<uint64_t> &written,
                                         std::string &reason)
{
    // A re-run finds most files in place: no need to read them again.
    if (PlatformExistsAt(dir, name))
        return ExtractOutcome::Exists;
    const CFileSource *data = m_Archive.DataFileOf(node);
    if (!data)
        return ExtractOutcome::OutOfRange;
    const ReadOutcome range = StoredRangeOutcome(data, node);
    if (range != ReadOutcome::Sound)
        return ExtractOutcomeOf(range);

    std::string tempName;
    // A temporary name never takes the name of an entry beside it: that
    // entry, written at the same time by another worker, would find it and
    // be taken as already there; written before, it would be taken for a
    // temporary file a killed run left behind, and removed.
    const auto lookalikes = m_Lookalikes.find(&node);
    PlatformFile *file =
        lookalikes == m_Lookalikes.end()
            ? PlatformCreateTemporary(dir, name, &tempName)
            : PlatformCreateTemporary(dir, name, &tempName, [&](const std::string &candidate) {
                  return lookalikes->second->count(CaseFolded(candidate)) != 0;
              });
    if (!file)
        return PlatformLastError() == PlatformError::UnsafeName
                   ? ExtractOutcome::UnsafeName
                   : DiskFullOr(ExtractOutcome::CannotCreate, reason);
    ExtractOutcome outcome = node.IsPacked() ? WritePacked(file, node, *data, written, reason)
                                             : CopyStored(file, node, *data, written, reason);
    if (m_Sync && outcome == ExtractOutcome::Written && !PlatformFlush(file))
        outcome = DiskFullOr(ExtractOutcome::WriteFailed, reason);
    if (!PlatformCloseWritten(file) && outcome == ExtractOutcome::Written)
        outcome = DiskFullOr(ExtractOutcome::WriteFailed, reason);
    if (outcome == ExtractOutcome::Written && !PlatformPublish(dir, tempName, name))
        outcome = PlatformLastError() == PlatformError::Exists
                      ? ExtractOutcome::Exists
                      : DiskFullOr(ExtractOutcome::CannotCreate, reason);
    if (outcome != ExtractOutcome::Written)
        PlatformRemoveAt(dir, tempName);
    return outcome;
}

ExtractOutcome CExtractionRun::DiskFullOr(ExtractOutcome other, std::string &reason)
{
    if (PlatformLastError() != PlatformError::NoSpace) {
        reason = PlatformLastFailure().text;
        return other;
    }
    // The other workers stop too: nothing more fits.
    m_End = static_cast<int>(ExtractEnd::DiskFull);
    return ExtractOutcome::DiskFull;
}

ExtractOutcome CExtractionRun::CopyStored(PlatformFile *file, const ArchiveNode &node,
                                          const CFileSource &data, std::atomic<uint64_t> &written,
                                          std::string &reason)
{
    // Stored as is: the bytes go from the data file to the new file without
    // passing through a buffer of ours.
    PlatformFile *source = data.File();
    uint64_t done = 0;
    while (done < node.m_PackedSize) {
        if (Ending())
            return ExtractOutcome::Stopped;
        const uint64_t left = node.m_PackedSize - done;
        const uint64_t step = left < kStoredStep ? left : kStoredStep;
        const uint64_t copied = PlatformCopyRange(source, node.m_Offset + done, file, step);
        done += copied;
        Progress(written, done);
        if (copied < step)
            return PlatformLastError() == PlatformError::None
                       ? ExtractOutcome::Unreadable
                       : DiskFullOr(ExtractOutcome::WriteFailed, reason);
    }
    return ExtractOutcome::Written;
}

ExtractOutcome CExtractionRun::WritePacked(PlatformFile *file, const ArchiveNode &node,
                                           const CFileSource &data, std::atomic<uint64_t> &written,
                                           std::string &reason)
{
    // Decoded a few blocks at a time and written in order, so that memory
    // stays a few blocks per thread and a stop is seen soon even in a file
    // of gigabytes.
    const PackedStream stream = StoredStreamOf(data, node);
    CBlockIndex index;
    index.Build(stream);
    ExtractOutcome sinkFailure = ExtractOutcome::Written;
    const unsigned decoders = TakeDecoders(node);
    const StreamDecodeResult result = DecodeBlockStream(
        stream, index, decoders, m_Stop,
        [&](uint64_t offset, const unsigned char *bytes, size_t size) {
            if (Ending())
                sinkFailure = ExtractOutcome::Stopped;
            else if (!PlatformWriteAll(file, bytes, size))
                sinkFailure = DiskFullOr(ExtractOutcome::WriteFailed, reason);
            else
                Progress(written, offset + size);
            return sinkFailure == ExtractOutcome::Written;
        });
    ReturnDecoders(decoders);
    return result.outcome == StreamOutcome::SinkFailed ? sinkFailure
                                                       : ExtractOutcomeOf(ReadOutcomeOf(result.outcome));
}

unsigned CExtractionRun::TakeDecoders(const ArchiveNode &node)
{
    // Without a pool every callback runs here, on the calling thread, and
    // so does the decoding.
    if (!m_Pool || node.m_UnpackedSize < kParallelFileSize)
        return 1;
    unsigned spare = m_SpareDecoders.load();
    while (spare > 0 && !m_SpareDecoders.compare_exchange_weak(spare, 0))
        ;
    return 1 + spare;
}

void CExtractionRun::ReturnDecoders(unsigned decoders)
{
    if (decoders > 1)
        m_SpareDecoders += decoders - 1;
}

// Workers for an extraction of `node` when the caller leaves it to us: a
// thread costs more than a few small files take to write.
unsigned AutomaticWorkers(const ArchiveNode &node)
{
    const unsigned cores = std::thread::hardware_concurrency();
    if (cores < 2)
        return 1;
    const unsigned workers = cores > 8 ? 8 : cores;
    uint64_t files = 0, bytes = 0;
    bool big = !node.IsFolder() && node.m_UnpackedSize >= kParallelFileSize;
    std::vector<const ArchiveNode *> folders;
    if (node.IsFolder())
        folders.push_back(&node);
    while (!big && !folders.empty() && (files < 4 * workers || bytes < (16u << 20))) {
        const ArchiveNode *folder = folders.back();
        folders.pop_back();
        for (const ArchiveNode *child : folder->m_Children) {
            if (child->IsFolder()) {
                folders.push_back(child);
            } else {
                ++files;
                bytes += child->m_UnpackedSize;
                // One big file gains from every core on its own.
                big = big || child->m_UnpackedSize >= kParallelFileSize;
            }
        }
    }
    return big || (files >= 4 * workers && bytes >= (16u << 20)) ? workers : 1;
}


// Opens the directory the destination names and enters the leading folders;
// null after the node's or a folder's result went to the callback. For a
// file destination `fileName` receives the name the user chose.
Directory OpenDestination(CExtractionRun &run, const ArchiveNode &node,
                          const ExtractDestination &destination, std::string &fileName)
{
    std::string base = destination.Path();
    if (destination.IsFile() && !node.IsFolder()) {
        const size_t separator = PlatformLastSeparator(base);
        fileName = base.substr(separator == std::string::npos ? 0 : separator + 1);
        base = separator == std::string::npos ? "." : base.substr(0, separator + 1);
    }
    // The destination itself may be a link: the user named it.
    PlatformDirectory *const chosen = PlatformOpenDirectory(base);
    if (!chosen) {
        const PlatformFailure failure = PlatformLastFailure();
        run.Result(node, failure.kind == PlatformError::NoSpace
                             ? ExtractOutcome::DiskFull
                             : (node.IsFolder() ? ExtractOutcome::NoDirectory
                                                : ExtractOutcome::CannotCreate),
                   failure.kind == PlatformError::NoSpace ? "" : failure.text);
        return nullptr;
    }
    Directory dir = std::make_shared<DirectoryHandle>(chosen);
    for (const ArchiveNode *folder : destination.LeadingFolders()) {
        dir = run.Enter(dir, *folder);
        if (!dir)
            return nullptr;
    }
    return dir;
}

} // namespace

DiskName DiskNameOf(const ArchiveNode &node)
{
    DiskName disk;
    disk.name = FileSystemName(node.m_Name);
    if (disk.name.empty())
        disk.outcome = node.IsFolder() ? ExtractOutcome::Written : ExtractOutcome::EmptyName;
    else if (!IsSafeName(disk.name))
        disk.outcome = ExtractOutcome::UnsafeName;
    else if (!node.IsFolder() && node.m_Duplicate)
        disk.outcome = ExtractOutcome::Duplicate;
    return disk;
}

ExtractEnd CExtraction::Extract(const ArchiveNode &node, const ExtractDestination &destination) const
{
    CExtractionRun run(m_Archive, m_Callback, m_Settings.stop,
                       m_Settings.workers ? m_Settings.workers : AutomaticWorkers(node), m_Settings.sync);
    std::string fileName;
    run.NoteLookalikes(node);
    const Directory dir = OpenDestination(run, node, destination, fileName);
    if (dir && !run.Ending()) {
        if (node.IsFolder())
            run.Folder(dir, node);
        else if (fileName.empty())
            run.PackFile(dir, node);
        else
            run.File(dir, fileName, node); // the name the user chose
    }
    run.Settle(true);
    run.Ending();
    return run.End();
}

} // namespace zarnik
