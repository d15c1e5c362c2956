// Saving an edit: the new pack under a temporary name, read back and
// compared with what was intended, then published whole or not at all.
#include "PackEdit.h"

#include "Compressor.h"
#include "OutputFile.h"
#include "PackFormat.h"
#include "PackPath.h"
#include "PackSink.h"
#include "PackWriter.h"
#include "PackedFileReader.h"
#include "PlatformFile.h"

#include <algorithm>
#include <memory>

namespace zarnik_pack {

namespace {

// Files are read back and compared in blocks of this many bytes.
const size_t kCompareBlock = 1u << 20;

SaveOutcome Fail(EditProblem problem, const std::string &reason)
{
    return SaveOutcome{problem, reason};
}

std::string Shown(const std::string &path)
{
    return zarnik::WithSlashes(zarnik::FileSystemName(path));
}

struct FileCloser
{
    void operator()(zarnik::PlatformFile *file) const { zarnik::PlatformClose(file); }
};
using ReadFile = std::unique_ptr<zarnik::PlatformFile, FileCloser>;

struct DirectoryCloser
{
    void operator()(zarnik::PlatformDirectory *d) const { zarnik::PlatformCloseDirectory(d); }
};

// The stored form of `size` bytes is at most this long: packed it is kept
// only when smaller, and while it is tried its block headers come on top.
uint64_t MostStored(uint64_t size)
{
    return size + (size / kDefaultBlockSize + 1) * 16;
}

// Reads `size` bytes of `entry` in the pack `pack` and compares them with
// the file `diskPath`; an empty string when they are equal.
std::string CompareWithDisk(zarnik::PlatformFile *pack, uint64_t packSize, const zarnik::ArchiveNode &entry,
                            const std::string &diskPath)
{
    const std::string shown = Shown(entry.m_Path);
    if (uint64_t(entry.m_Offset) + entry.m_PackedSize > packSize)
        return shown + ": its bytes lie outside the new pack";
    ReadFile disk(zarnik::PlatformOpenRead(diskPath));
    if (!disk)
        return "cannot read " + diskPath + " again: " + zarnik::PlatformLastFailure().text;
    const uint32_t offset = entry.m_Offset;
    zarnik::CPackedFileReader reader(zarnik::PackedStream{
        [pack, offset](uint64_t p, void *b, uint32_t n) { return zarnik::PlatformReadAt(pack, offset + p, b, n); },
        entry.m_PackedSize, entry.m_UnpackedSize});
    Bytes inPack(kCompareBlock), onDisk(kCompareBlock);
    for (uint64_t done = 0; done < entry.m_UnpackedSize;) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kCompareBlock, entry.m_UnpackedSize - done));
        size_t delivered = 0;
        const bool read = entry.IsPacked()
                              ? reader.Read(done, inPack.data(), n, &delivered) == zarnik::StreamOutcome::Sound
                              : zarnik::PlatformReadAt(pack, offset + done, inPack.data(), n) == n;
        if (!read)
            return shown + ": cannot be read back from the new pack";
        if (zarnik::PlatformReadAt(disk.get(), done, onDisk.data(), n) != n ||
            !std::equal(inPack.begin(), inPack.begin() + n, onDisk.begin()))
            return shown + ": reads back other bytes than " + diskPath + " holds";
        done += n;
    }
    return {};
}

// The new pack at `path` compared with the items: it opens without a
// report, lists the intended paths in order, kept entries with their sizes,
// and every new file reads back as its source. Empty when it matches.
std::string CheckPack(const std::string &path, const std::vector<PackEdit::Item> &items)
{
    const zarnik::CZarnikArchive::OpenResult opened = zarnik::CZarnikArchive::Open(path);
    if (!opened.archive)
        return std::string("the new pack does not open: ") + zarnik::OpenFailureText(opened.failure);
    const zarnik::CZarnikArchive &pack = *opened.archive;
    if (!pack.GetOpenReport().empty())
        return std::string("the new pack opens with a problem: ") +
               zarnik::OpenReportText(pack.GetOpenReport().front().kind);
    const std::vector<const zarnik::ArchiveNode *> &entries = pack.GetEntries();
    if (entries.size() != items.size())
        return "the new pack lists " + std::to_string(entries.size()) + " files instead of " +
               std::to_string(items.size());
    ReadFile file(zarnik::PlatformOpenRead(path));
    if (!file)
        return "cannot read the new pack back: " + zarnik::PlatformLastFailure().text;
    for (size_t i = 0; i < items.size(); ++i) {
        const zarnik::ArchiveNode &entry = *entries[i];
        const PackEdit::Item &item = items[i];
        if (entry.m_Path != item.path)
            return Shown(entry.m_Path) + " stands in the new pack where " + Shown(item.path) + " belongs";
        if (item.node) {
            if (entry.m_PackedSize != item.node->m_PackedSize ||
                entry.m_UnpackedSize != item.node->m_UnpackedSize)
                return Shown(item.path) + ": its sizes changed in the new pack";
            continue;
        }
        if (entry.m_UnpackedSize != item.size)
            return Shown(item.path) + ": its size changed in the new pack";
        const std::string differs = CompareWithDisk(file.get(), pack.GetDataFileSize(0), entry, item.diskPath);
        if (!differs.empty())
            return differs;
    }
    return {};
}

} // namespace

SaveOutcome PackEdit::Save(const SaveOptions &options) const
{
    if (!m_Usable)
        return Fail(EditProblem::Refused, m_Reason);
    if (m_Items.empty())
        return Fail(EditProblem::Refused, "the new pack would hold no file, and a reader refuses such a pack");

    // Refused before anything is written: a pack of 4 GiB or more.
    uint64_t most = 2 * kChunkHeaderSize;
    for (const Item &item : m_Items)
        most += (item.node ? item.node->m_PackedSize : MostStored(item.size)) + 20 + item.path.size() + 1;
    if (most > kMaxPackSize)
        return Fail(EditProblem::Refused, "the new pack would reach 4 GiB, past what a reader addresses");

    const bool over = options.out.empty();
    const std::string target = over ? m_PackPath : options.out;
    const size_t separator = zarnik::PlatformLastSeparator(target);
    const std::string folderPath = separator == std::string::npos ? "." : target.substr(0, separator + 1);
    const std::string name = target.substr(separator == std::string::npos ? 0 : separator + 1);
    const std::string backup = name + ".bak";
    if (zarnik::RouteOf(name) != zarnik::PackRoute::SinglePack)
        return Fail(EditProblem::Refused, target + ": that name would open as part of a .vfs set");
    std::unique_ptr<zarnik::PlatformDirectory, DirectoryCloser> folder(zarnik::PlatformOpenDirectory(folderPath));
    if (!folder)
        return Fail(EditProblem::WriteFailed, "cannot open the folder " + folderPath + ": " +
                                                   zarnik::PlatformLastFailure().text);
    if (!over && zarnik::PlatformExistsAt(folder.get(), name))
        return Fail(EditProblem::Refused, target + " already exists; it is never overwritten");
    if (over && options.backup && zarnik::PlatformExistsAt(folder.get(), backup))
        return Fail(EditProblem::Refused, backup + " already exists; it is never overwritten");

    // The pack is read through a file of our own, which must be the one
    // opened: its size tells a pack changed since.
    ReadFile source(zarnik::PlatformOpenRead(m_Archive.GetDataFilePath(0)));
    uint64_t sourceSize = 0;
    if (!source || !zarnik::PlatformFileSize(source.get(), &sourceSize))
        return Fail(EditProblem::ReadFailed, "cannot read the pack: " + zarnik::PlatformLastFailure().text);
    if (sourceSize != m_Archive.GetDataFileSize(0))
        return Fail(EditProblem::ReadFailed, "the pack changed since it was opened");

    OutputFile temp(folder.get(), name);
    if (!temp.Created())
        return Fail(EditProblem::WriteFailed, "cannot create a file in " + folderPath + ": " + temp.Failure().text);

    auto stopped = [&options] { return options.stop && options.stop->load(); };
    uint64_t done = 0, files = 0;
    auto report = [&] {
        if (options.progress)
            options.progress(files, done);
    };
    PackSink &sink = temp.Sink();
    UpkWriter writer(sink);
    std::string readFailure;
    for (const Item &item : m_Items) {
        if (stopped())
            return Fail(EditProblem::Stopped, "stopped; the pack was left as it was");
        if (item.node) {
            writer.AddStoredBytes(item.path, item.node->m_UnpackedSize, source.get(), item.node->m_Offset,
                                  item.node->m_PackedSize);
            done += item.node->m_PackedSize;
        } else {
            ReadFile disk(zarnik::PlatformOpenRead(item.diskPath));
            uint64_t size = 0;
            if (!disk || !zarnik::PlatformFileSize(disk.get(), &size) || size != item.size)
                return Fail(EditProblem::ReadFailed, item.diskPath + " cannot be read, or changed since it was added");
            const uint64_t before = done;
            writer.AddStreamed(Entry{item.path, {}, item.storage}, size,
                               [&](uint64_t position, unsigned char *buffer, size_t count) {
                                   if (stopped())
                                       return false;
                                   done = std::max(done, before + position + count);
                                   report();
                                   return zarnik::PlatformReadAt(disk.get(), position, buffer,
                                                                 static_cast<uint32_t>(count)) == count;
                               });
            done = before + size;
            if (writer.Problem() == WriteProblem::ReadFailed && !stopped())
                readFailure = item.diskPath;
        }
        ++files;
        report();
        if (writer.Problem() != WriteProblem::None)
            break;
    }
    writer.Finish();
    const bool closed = temp.Close();
    if (stopped())
        return Fail(EditProblem::Stopped, "stopped; the pack was left as it was");
    switch (writer.Problem()) {
    case WriteProblem::None:
        break;
    case WriteProblem::ReadFailed:
        return Fail(EditProblem::ReadFailed,
                    "cannot read " + (readFailure.empty() ? std::string("the pack") : readFailure) +
                        (sink.Failure().text.empty() ? "" : ": " + sink.Failure().text));
    case WriteProblem::TooLarge:
        return Fail(EditProblem::Refused, "the new pack would reach 4 GiB, past what a reader addresses");
    default:
        return Fail(EditProblem::WriteFailed, "cannot write the new pack: " + sink.Failure().text);
    }
    if (!closed)
        return Fail(EditProblem::WriteFailed, "cannot write the new pack: " + temp.Failure().text);

    const std::string problem = CheckPack(folderPath + temp.TemporaryName(), m_Items);
    if (!problem.empty())
        return Fail(EditProblem::CheckFailed, problem + "; the pack was left as it was");

    if (!over) {
        if (!temp.Publish())
            return Fail(EditProblem::WriteFailed, "cannot name the new pack " + target + ": " + temp.Failure().text);
    } else {
        source.reset();
        if (options.releasePack)
            options.releasePack();
        if (options.backup && !zarnik::PlatformLinkAt(folder.get(), name, backup))
            return Fail(EditProblem::WriteFailed, "cannot keep the pack as " + backup + ": " +
                                                      zarnik::PlatformLastFailure().text);
        // The one step that changes the original.
        if (!temp.PublishOver()) {
            if (options.backup)
                zarnik::PlatformRemoveAt(folder.get(), backup);
            return Fail(EditProblem::WriteFailed, "cannot put the new pack in place of " + target + ": " +
                                                      temp.Failure().text);
        }
    }
    return {};
}

} // namespace zarnik_pack
