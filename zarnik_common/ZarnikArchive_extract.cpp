// Extraction: a node of the tree written to disk, depth first. Every file is
// written whole or not at all: under a temporary name beside its place,
// published under its final name only when every byte is written and closed,
// never replacing anything. Directories are reached from the destination's
// own handle and never through a link.
#include "ZarnikArchive.h"

#include "ChunkReader.h"
#include "PlatformFile.h"
#include "ZarnikArchive_packunpack.h"

#include <algorithm>
#include <new>

using namespace zarnik;

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

// The most output one stored byte can stand for: a 4-byte match item gives
// at most 258 bytes, and control words only lower the ratio.
const uint64_t kMaxUnpackRatio = 65;

// Bytes written between two looks at the stop flag: a few milliseconds.
const uint32_t kWriteStep = 8u << 20;

// A name that would leave its parent directory, or name it, is never joined
// onto a path.
bool IsSafeName(const std::string &name)
{
    return name != "." && name != ".." && name.find('/') == std::string::npos;
}

unsigned char *Allocate(uint64_t size)
{
    return new (std::nothrow) unsigned char[size ? size : 1];
}

// Closes a directory handle with its scope.
struct DirectoryHandle
{
    explicit DirectoryHandle(PlatformDirectory *d) : dir(d) {}
    ~DirectoryHandle() { PlatformCloseDirectory(dir); }
    DirectoryHandle(const DirectoryHandle &) = delete;
    DirectoryHandle &operator=(const DirectoryHandle &) = delete;
    PlatformDirectory *dir;
};

} // namespace

// One run of Extract: the callback, the stop flag and how the run ends.
class CExtraction
{
public:
    CExtraction(const CZarnikArchive &archive, CZarnikArchive::Callback *callback,
                const std::atomic<bool> *stop)
        : m_Archive(archive), m_Callback(callback), m_Stop(stop)
    {
    }

    void Folder(PlatformDirectory *parent, const ArchiveNode &folder);
    // A file under its own name from the pack.
    void PackFile(PlatformDirectory *dir, const ArchiveNode &node);
    void File(PlatformDirectory *dir, const std::string &name, const ArchiveNode &node);
    // The directory for `folder` inside `parent`, or null after its result
    // went to the callback.
    PlatformDirectory *Enter(PlatformDirectory *parent, const ArchiveNode &folder);

    bool Ending()
    {
        if (m_End == CZarnikArchive::ExtractEnd::Finished && m_Stop &&
            m_Stop->load(std::memory_order_relaxed))
            m_End = CZarnikArchive::ExtractEnd::Stopped;
        return m_End != CZarnikArchive::ExtractEnd::Finished;
    }
    CZarnikArchive::ExtractEnd End() const { return m_End; }

    void Result(const ArchiveNode &node, ExtractOutcome outcome)
    {
        if (outcome == ExtractOutcome::DiskFull)
            m_End = CZarnikArchive::ExtractEnd::DiskFull;
        if (m_Callback)
            m_Callback->OnExtractResult(node, outcome);
    }

private:
    // Fill the new file with the node's bytes from `data`; Written or why
    // not.
    ExtractOutcome CopyStored(PlatformFile *file, const ArchiveNode &node, const CChunkReader &data);
    ExtractOutcome WritePacked(PlatformFile *file, const ArchiveNode &node,
                               const CChunkReader &data);
    ExtractOutcome WriteFailure() const
    {
        return PlatformLastError() == PlatformError::NoSpace ? ExtractOutcome::DiskFull
                                                              : ExtractOutcome::WriteFailed;
    }
    void Written(uint64_t count)
    {
        if (m_Callback)
            m_Callback->OnExtractBytes(count);
    }

    const CZarnikArchive &m_Archive;
    CZarnikArchive::Callback *m_Callback;
    const std::atomic<bool> *m_Stop;
    CZarnikArchive::ExtractEnd m_End = CZarnikArchive::ExtractEnd::Finished;
};

PlatformDirectory *CExtraction::Enter(PlatformDirectory *parent, const ArchiveNode &folder)
{
    if (!IsSafeName(folder.m_Name)) {
        Result(folder, ExtractOutcome::UnsafeName);
        return nullptr;
    }
    PlatformDirectory *dir =
        PlatformEnterDirectory(parent, PlatformNameFromLatin1(folder.m_Name), true);
    if (dir)
        return dir;
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

void CExtraction::Folder(PlatformDirectory *parent, const ArchiveNode &folder)
{
    // An empty segment in a path (content\\x) names no folder of its own:
    // what lies below it goes into the parent, as a doubled separator does.
    DirectoryHandle dir(folder.m_Name.empty() ? nullptr : Enter(parent, folder));
    if (!dir.dir && !folder.m_Name.empty())
        return;
    PlatformDirectory *const into = folder.m_Name.empty() ? parent : dir.dir;
    for (const ArchiveNode *child : folder.m_Children) {
        if (Ending())
            return;
        if (child->IsFolder())
            Folder(into, *child);
        else
            PackFile(into, *child);
    }
}

void CExtraction::PackFile(PlatformDirectory *dir, const ArchiveNode &node)
{
    if (node.m_Name.empty())
        Result(node, ExtractOutcome::EmptyName);
    else if (!IsSafeName(node.m_Name))
        Result(node, ExtractOutcome::UnsafeName);
    else if (!m_Archive.m_Duplicates.empty() && m_Archive.m_Duplicates.count(&node))
        Result(node, ExtractOutcome::Duplicate);
    else
        File(dir, PlatformNameFromLatin1(node.m_Name), node);
}

void CExtraction::File(PlatformDirectory *dir, const std::string &name, const ArchiveNode &node)
{
    if (m_Callback)
        m_Callback->OnExtractFile(node.m_Path);
    // A re-run finds most files in place: no need to read them again.
    if (PlatformExistsAt(dir, name)) {
        Result(node, ExtractOutcome::Exists);
        return;
    }
    const CChunkReader *data = m_Archive.DataReader(node);
    if (!data || static_cast<uint64_t>(node.m_Offset) + node.m_PackedSize > data->Size()) {
        Result(node, ExtractOutcome::OutOfRange);
        return;
    }

    std::string tempName;
    PlatformFile *file = PlatformCreateTemporary(dir, name, &tempName);
    if (!file) {
        Result(node, PlatformLastError() == PlatformError::NoSpace ? ExtractOutcome::DiskFull
                                                                   : ExtractOutcome::CannotCreate);
        return;
    }
    ExtractOutcome outcome = node.IsPacked() ? WritePacked(file, node, *data)
                                             : CopyStored(file, node, *data);
    if (!PlatformCloseWritten(file) && outcome == ExtractOutcome::Written)
        outcome = WriteFailure();
    if (outcome == ExtractOutcome::Written && !PlatformPublish(dir, tempName, name))
        outcome = PlatformLastError() == PlatformError::Exists ? ExtractOutcome::Exists
                                                               : ExtractOutcome::CannotCreate;
    if (outcome != ExtractOutcome::Written)
        PlatformRemoveAt(dir, tempName);
    Result(node, outcome);
}

ExtractOutcome CExtraction::CopyStored(PlatformFile *file, const ArchiveNode &node,
                                       const CChunkReader &data)
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
        Written(copied);
        if (copied < step)
            return PlatformLastError() == PlatformError::None ? ExtractOutcome::Unreadable
                                                              : WriteFailure();
    }
    return ExtractOutcome::Written;
}

ExtractOutcome CExtraction::WritePacked(PlatformFile *file, const ArchiveNode &node,
                                        const CChunkReader &data)
{
    // Never allocate more than the stored bytes can possibly decode to: a
    // hostile entry may claim gigabytes for a few bytes.
    if (node.m_UnpackedSize > kMaxUnpackRatio * node.m_PackedSize)
        return ExtractOutcome::WrongSize;
    std::unique_ptr<unsigned char[]> stored(Allocate(node.m_PackedSize));
    std::unique_ptr<unsigned char[]> out(Allocate(node.m_UnpackedSize));
    if (!stored || !out)
        return ExtractOutcome::NoMemory;
    if (data.ReadAt(node.m_Offset, stored.get(), node.m_PackedSize) !=
        node.m_PackedSize)
        return ExtractOutcome::Unreadable;

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
            return WriteFailure();
        Written(cursor.out - from);
    }
    return cursor.out == node.m_UnpackedSize ? ExtractOutcome::Written : ExtractOutcome::WrongSize;
}

CZarnikArchive::ExtractEnd CZarnikArchive::Extract(const ArchiveNode *node,
                                                   const std::string &dest, Callback *callback,
                                                   const ExtractOptions &options)
{
    if (std::none_of(m_DataFiles.begin(), m_DataFiles.end(),
                     [](const std::unique_ptr<CChunkReader> &file) { return file != nullptr; }))
        return ExtractEnd::NoDataFile;
    if (!node)
        return ExtractEnd::Finished;
    CExtraction run(*this, callback, options.stop);

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
    std::unique_ptr<DirectoryHandle> dir(new DirectoryHandle(PlatformOpenDirectory(base)));
    if (!dir->dir) {
        run.Result(*node, PlatformLastError() == PlatformError::NoSpace
                              ? ExtractOutcome::DiskFull
                              : (node->IsFolder() ? ExtractOutcome::NoDirectory
                                                  : ExtractOutcome::CannotCreate));
        return run.End();
    }
    for (const ArchiveNode *folder : options.leadingFolders) {
        if (folder->m_Name.empty())
            continue; // as in Folder: no folder of its own
        PlatformDirectory *inner = run.Enter(dir->dir, *folder);
        if (!inner)
            return run.End();
        dir.reset(new DirectoryHandle(inner));
    }

    if (run.Ending())
        return run.End();
    if (node->IsFolder())
        run.Folder(dir->dir, *node);
    else if (fileName.empty())
        run.PackFile(dir->dir, *node);
    else
        run.File(dir->dir, fileName, *node); // the name the user chose
    run.Ending();
    return run.End();
}

bool CZarnikArchive::ReadFileData(const ArchiveNode *node, std::unique_ptr<unsigned char[]> &out,
                                  ExtractOutcome &outcome) const
{
    out.reset();
    const CChunkReader *data = DataReader(*node);
    if (!data) {
        outcome = ExtractOutcome::Unreadable;
        return false;
    }
    if (static_cast<uint64_t>(node->m_Offset) + node->m_PackedSize > data->Size()) {
        outcome = ExtractOutcome::OutOfRange;
        return false;
    }
    const bool packed = node->IsPacked();
    if (packed && node->m_UnpackedSize > kMaxUnpackRatio * node->m_PackedSize) {
        outcome = ExtractOutcome::WrongSize;
        return false;
    }
    std::unique_ptr<unsigned char[]> stored(Allocate(node->m_PackedSize));
    if (!stored) {
        outcome = ExtractOutcome::NoMemory;
        return false;
    }
    if (data->ReadAt(node->m_Offset, stored.get(), node->m_PackedSize) != node->m_PackedSize) {
        outcome = ExtractOutcome::Unreadable;
        return false;
    }
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
