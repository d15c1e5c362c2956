#include "SaveSteps.h"

#include "Compressor.h"
#include "PackFormat.h"
#include "PackPath.h"
#include "PackedFileReader.h"

#include <algorithm>

namespace zarnik_pack {

using zarnik::Utf8Path;

namespace {

// Files are read back and compared in blocks of this many bytes.
const size_t kCompareBlock = 1u << 20;
const char kDataExtension[] = ".vfs";

bool StopAsked(const SaveOptions &options)
{
    return options.stop && options.stop->load();
}

// Reads `entry` in `pack` and compares it with the file `diskPath`; an
// empty string when they are equal, and when a stop is asked for.
std::string CompareWithDisk(zarnik::PlatformFile *pack, uint64_t packSize, const zarnik::ArchiveNode &entry,
                            const std::string &diskPath, const SaveOptions &options)
{
    const std::string shown = Utf8Path(entry.m_Path);
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
    for (uint64_t done = 0; done < entry.m_UnpackedSize && !StopAsked(options);) {
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

} // namespace

PathParts SplitPath(const std::string &path)
{
    const size_t separator = zarnik::PlatformLastSeparator(path);
    if (separator == std::string::npos)
        return {std::string(), path};
    return {path.substr(0, separator + 1), path.substr(separator + 1)};
}

std::string ResolvedPackPath(const std::string &path)
{
    const std::string resolved = zarnik::PlatformFollowLinks(path);
    return resolved.empty() ? path : resolved;
}

std::string DataNameBeforeSaves(const std::string &name)
{
    std::string stem = name, extension;
    const size_t length = sizeof kDataExtension - 1;
    if (stem.size() > length && stem.compare(stem.size() - length, length, kDataExtension) == 0) {
        extension = kDataExtension;
        stem.resize(stem.size() - length);
    }
    const size_t tilde = stem.rfind('~');
    if (tilde != std::string::npos && tilde + 1 < stem.size() &&
        stem.find_first_not_of("0123456789", tilde + 1) == std::string::npos)
        stem.resize(tilde);
    return stem + extension;
}

std::string WriteFailureText(const zarnik::PlatformFailure &failure)
{
    return failure.kind == zarnik::PlatformError::TooLarge
               ? "larger than this process may write (the file-size limit, ulimit -f)"
               : failure.text;
}

namespace {

SaveOutcome ChangedSinceOpened(const std::string &path)
{
    return Fail(EditProblem::Refused, path + " was replaced or changed since it was opened, by another "
                                             "program; nothing was written: open it again and redo the change");
}

} // namespace

namespace {

// NAME when `file` is TemporaryName(NAME, n) for an attempt n; else "".
std::string TemporaryOf(const std::string &file)
{
    const std::string mark = zarnik::TemporaryName("", 1);
    const size_t at = file.rfind(mark);
    if (at == std::string::npos || at == 0)
        return {};
    const std::string attempt = file.substr(at + mark.size());
    if (!attempt.empty() && (attempt.size() < 2 || attempt.size() > 5 || attempt[0] != '-' ||
                             attempt.find_first_not_of("0123456789", 1) != std::string::npos))
        return {};
    const std::string name = file.substr(0, at);
    return zarnik::TemporaryName(name, attempt.empty() ? 1 : std::stoi(attempt.substr(1))) == file ? name
                                                                                                   : std::string();
}

} // namespace

const std::atomic<bool> kNoWait{true};

void SweepPartials(zarnik::PlatformDirectory *folder, const std::string &folderPath,
                   const std::function<bool(const std::string &)> &ours, LeftOver &leftOver)
{
    std::vector<zarnik::PlatformListed> entries;
    zarnik::PlatformListFolder(folderPath.empty() ? "." : folderPath, &entries);
    for (const zarnik::PlatformListed &entry : entries) {
        if (entry.kind != zarnik::PlatformListed::Kind::File)
            continue;
        const std::string name = TemporaryOf(entry.name);
        if (!name.empty() && ours(name) && !zarnik::PlatformRemoveAt(folder, entry.name))
            leftOver.Note(entry.name);
    }
}

SaveOutcome StillAsOpened(const zarnik::CZarnikArchive &archive)
{
    const std::string changed = archive.ChangedSinceOpened();
    return changed.empty() ? SaveOutcome() : ChangedSinceOpened(changed);
}

SaveOutcome StandingFiles::Take(const zarnik::CZarnikArchive &archive, const std::vector<std::string> &paths)
{
    const SaveOutcome opened = StillAsOpened(archive);
    for (const std::string &path : paths) {
        zarnik::PlatformFileStamp stamp;
        if (zarnik::PlatformStampAt(path, &stamp))
            m_Files.emplace_back(path, stamp);
    }
    return opened;
}

SaveOutcome StandingFiles::Unchanged() const
{
    for (const auto &file : m_Files) {
        zarnik::PlatformFileStamp now;
        if (!zarnik::PlatformStampAt(file.first, &now) || now != file.second)
            return ChangedSinceOpened(file.first);
    }
    return {};
}

SaveOutcome HoldPack(const zarnik::CZarnikArchive &archive, const std::string &packPath,
                     const SaveOptions &options, PackLock &own)
{
    if (!options.lock || !options.lock->Holds(packPath)) {
        const auto waiting = [&options] {
            if (options.stage)
                options.stage(SaveStage::Waiting);
        };
        switch (own.Take(packPath, options.stop, waiting)) {
        case PackLock::Outcome::Taken:
            break;
        case PackLock::Outcome::Stopped:
            return StoppedOutcome();
        case PackLock::Outcome::Failed:
            return Fail(EditProblem::WriteFailed, "cannot lock " + packPath + " against other changes: " +
                                                      own.Failure().text);
        }
    }
    return StillAsOpened(archive);
}

SaveOutcome StoppedOutcome()
{
    return Fail(EditProblem::Stopped, "stopped; the pack was left as it was");
}

// Packed, the bytes are kept only when smaller, and while they are tried
// their block headers come on top.
uint64_t MostStored(uint64_t size)
{
    return size + (size / kDefaultBlockSize + 1) * 16;
}

void ItemWriter::Report() const
{
    if (m_Options.progress)
        m_Options.progress(m_Files, m_Bytes);
}

bool ItemWriter::Write(DataWriter &writer, const PackEdit::Item &item, zarnik::PlatformFile *source)
{
    if (Stopped())
        return false;
    if (item.node) {
        writer.AddStoredBytes(item.path, item.node->m_UnpackedSize, source, item.node->m_Offset,
                              item.node->m_PackedSize);
        m_Bytes += item.node->m_PackedSize;
    } else {
        ReadFile disk(zarnik::PlatformOpenRead(item.diskPath));
        uint64_t size = 0;
        if (!disk || !zarnik::PlatformFileSize(disk.get(), &size) || size != item.size) {
            m_ReadFailure = item.diskPath + " cannot be read, or changed since it was added";
            return false;
        }
        const uint64_t before = m_Bytes;
        writer.AddStreamed(Entry{item.path, {}, item.storage}, size,
                           [&](uint64_t position, unsigned char *buffer, size_t count) {
                               if (Stopped())
                                   return false;
                               m_Bytes = std::max(m_Bytes, before + position + count);
                               Report();
                               return zarnik::PlatformReadAt(disk.get(), position, buffer,
                                                             static_cast<uint32_t>(count)) == count;
                           });
        m_Bytes = before + size;
        if (writer.Problem() == WriteProblem::ReadFailed && !Stopped())
            m_ReadFailure = "cannot read " + item.diskPath;
    }
    ++m_Files;
    Report();
    return writer.Problem() == WriteProblem::None;
}

bool ItemWriter::WriteAll(DataWriter &writer, const PackEdit &edit, uint32_t dataFile, const ItemTotals &totals,
                          zarnik::PlatformFile *source, ExpectedFiles &expected)
{
    writer.ReserveEntries(totals.count, totals.pathBytes);
    expected.Reserve(totals.count);
    bool going = true;
    edit.ForEachItem([&](const PackEdit::Item &item) {
        if (going && (dataFile == kAllDataFiles || item.dataFile == dataFile) &&
            (going = Write(writer, item, source)))
            expected.Add(item);
    });
    return going;
}

ItemTotals TotalsOf(const PackEdit &edit, uint32_t dataFile)
{
    ItemTotals totals;
    edit.ForEachItem([&](const PackEdit::Item &item) {
        if (dataFile == kAllDataFiles || item.dataFile == dataFile)
            totals.Add(item);
    });
    return totals;
}

void ItemTotals::Add(const PackEdit::Item &item)
{
    ++count;
    pathBytes += item.path.size();
    mostStored += item.node ? item.node->m_PackedSize : MostStored(item.size);
    entryBytes += zarnik::packformat::EncodedEntrySize(item.path);
}

void ExpectedFiles::Add(const PackEdit::Item &item)
{
    File file{Digest(item.path), item.size, 0, kKept};
    if (item.node) {
        file.packed = item.node->m_PackedSize;
        file.size = item.node->m_UnpackedSize;
    } else {
        file.source = static_cast<uint32_t>(m_Sources.size());
        m_Sources.push_back(item.diskPath);
    }
    m_Files.push_back(file);
}


SaveOutcome ItemWriter::Outcome(const DataWriter &writer, const PackSink &sink) const
{
    if (Stopped())
        return StoppedOutcome();
    if (!m_ReadFailure.empty() && writer.Problem() != WriteProblem::WriteFailed)
        return Fail(EditProblem::ReadFailed, m_ReadFailure + (sink.Failure().text.empty() ? "" : ": " + sink.Failure().text));
    switch (writer.Problem()) {
    case WriteProblem::None:
        break;
    case WriteProblem::ReadFailed:
        return Fail(EditProblem::ReadFailed, "cannot read the pack" +
                                                 (sink.Failure().text.empty() ? "" : ": " + sink.Failure().text));
    case WriteProblem::TooLarge:
        return Fail(EditProblem::Refused, "the new pack would reach 4 GiB, past what a reader addresses");
    default:
        return Fail(EditProblem::WriteFailed, "cannot write the new pack: " + WriteFailureText(sink.Failure()));
    }
    return {};
}

namespace {

// What differs between an entry read back and the item it was written
// from; empty when nothing does.
std::string Differs(const zarnik::ArchiveNode &entry, const ExpectedFiles &expected, size_t i,
                    zarnik::PlatformFile *file, uint64_t fileSize, const SaveOptions &options)
{
    if (!expected.PathIs(i, entry.m_Path))
        return Utf8Path(entry.m_Path) + " stands in the new pack where another file belongs";
    if (expected.Kept(i))
        return entry.m_PackedSize != expected.Packed(i) || entry.m_UnpackedSize != expected.Size(i)
                   ? Utf8Path(entry.m_Path) + ": its sizes changed in the new pack"
                   : std::string();
    if (entry.m_UnpackedSize != expected.Size(i))
        return Utf8Path(entry.m_Path) + ": its size changed in the new pack";
    return CompareWithDisk(file, fileSize, entry, expected.Source(i), options);
}

} // namespace

SaveOutcome CheckEntries(const std::vector<const zarnik::ArchiveNode *> &entries, const ExpectedFiles &expected,
                         zarnik::PlatformFile *file, uint64_t fileSize, const SaveOptions &options, uint64_t &files,
                         uint64_t &bytes)
{
    if (entries.size() != expected.Count())
        return Fail(EditProblem::CheckFailed, "the new pack lists " + std::to_string(entries.size()) +
                                                  " files instead of " + std::to_string(expected.Count()));
    for (size_t i = 0; i < expected.Count(); ++i) {
        if (options.progress)
            options.progress(files, bytes);
        const std::string differs = Differs(*entries[i], expected, i, file, fileSize, options);
        if (StopAsked(options))
            return StoppedOutcome();
        if (!differs.empty())
            return Fail(EditProblem::CheckFailed, differs);
        ++files;
        if (!expected.Kept(i))
            bytes += expected.Size(i);
    }
    return {};
}

SaveOutcome BackupFree(zarnik::PlatformDirectory *folder, const std::string &name, const SaveOptions &options)
{
    const std::string backup = name + kBackupSuffix;
    if (options.backup && zarnik::PlatformExistsAt(folder, backup) && !zarnik::PlatformSameEntry(folder, name, backup))
        return Fail(EditProblem::Refused, backup + " already exists; it is never overwritten");
    return {};
}

namespace {

SaveOutcome FlushNames(zarnik::PlatformDirectory *folder, const std::string &what, const SaveOptions &options)
{
    if (options.sync && !zarnik::PlatformFlushDirectory(folder))
        return Fail(EditProblem::WriteFailed, what + " took its name, but the folder could not be flushed to the disk: " +
                                                  zarnik::PlatformLastFailure().text);
    return {};
}

} // namespace

SaveOutcome ReplaceOriginal(zarnik::PlatformDirectory *folder, OutputFile &temp, const std::string &name,
                            const SaveOptions &options, LeftOver &leftOver, bool &replaced)
{
    replaced = false;
    const std::string backup = name + kBackupSuffix;
    const SaveOutcome free = BackupFree(folder, name, options);
    if (free.problem != EditProblem::None)
        return free;
    // Linked before the rename, under its own name: the old pack is never
    // left under a name that may be deleted.
    const bool linked = options.backup && !zarnik::PlatformExistsAt(folder, backup);
    if (linked && !zarnik::PlatformLinkAt(folder, name, backup))
        return Fail(EditProblem::WriteFailed, "cannot keep " + name + " as " + backup + ": " +
                                                  zarnik::PlatformLastFailure().text + "; it was left as it was");
    if (options.stage)
        options.stage(SaveStage::Replacing);
    // The one step that changes the original.
    if (!temp.PublishOver()) {
        if (linked && !zarnik::PlatformRemoveAt(folder, backup))
            leftOver.Note(backup);
        return Fail(EditProblem::WriteFailed, "cannot put the new " + name + " in place of the old one: " +
                                                  temp.Failure().text);
    }
    replaced = true;
    return FlushNames(folder, "the new " + name, options);
}

SaveOutcome PublishNew(zarnik::PlatformDirectory *folder, OutputFile &temp, const std::string &what,
                       const SaveOptions &options)
{
    if (!temp.Publish())
        return Fail(temp.Failure().kind == zarnik::PlatformError::Exists ? EditProblem::Refused
                                                                          : EditProblem::WriteFailed,
                    "cannot name the new pack " + what + ": " + temp.Failure().text);
    return FlushNames(folder, what, options);
}

} // namespace zarnik_pack
