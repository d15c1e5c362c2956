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

// Reads `entry` in `pack` and compares it with the file `diskPath`; an
// empty string when they are equal.
std::string CompareWithDisk(zarnik::PlatformFile *pack, uint64_t packSize, const zarnik::ArchiveNode &entry,
                            const std::string &diskPath)
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

} // namespace

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

SaveOutcome ItemWriter::Outcome(const DataWriter &writer, const PackSink &sink) const
{
    if (Stopped())
        return Fail(EditProblem::Stopped, "stopped; the pack was left as it was");
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
        return Fail(EditProblem::WriteFailed, "cannot write the new pack: " + sink.Failure().text);
    }
    return {};
}

std::string CheckEntries(const std::vector<const zarnik::ArchiveNode *> &entries,
                         const std::vector<const PackEdit::Item *> &items, zarnik::PlatformFile *file,
                         uint64_t fileSize, const SaveOptions &options, uint64_t &files, uint64_t &bytes)
{
    if (entries.size() != items.size())
        return "the new pack lists " + std::to_string(entries.size()) + " files instead of " +
               std::to_string(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        if (options.progress)
            options.progress(files, bytes);
        const zarnik::ArchiveNode &entry = *entries[i];
        const PackEdit::Item &item = *items[i];
        if (entry.m_Path != item.path)
            return Utf8Path(entry.m_Path) + " stands in the new pack where " + Utf8Path(item.path) + " belongs";
        ++files;
        if (item.node) {
            if (entry.m_PackedSize != item.node->m_PackedSize ||
                entry.m_UnpackedSize != item.node->m_UnpackedSize)
                return Utf8Path(item.path) + ": its sizes changed in the new pack";
            continue;
        }
        if (entry.m_UnpackedSize != item.size)
            return Utf8Path(item.path) + ": its size changed in the new pack";
        const std::string differs = CompareWithDisk(file, fileSize, entry, item.diskPath);
        if (!differs.empty())
            return differs;
        bytes += item.size;
    }
    return {};
}

SaveOutcome ReplaceOriginal(zarnik::PlatformDirectory *folder, OutputFile &temp, const std::string &name,
                            const SaveOptions &options, bool &replaced)
{
    replaced = false;
    if (options.releasePack)
        options.releasePack();
    const std::string backup = name + ".bak";
    std::string backupTemp;
    for (int attempt = 1; options.backup && backupTemp.empty() && attempt <= 1000; ++attempt) {
        const std::string candidate = zarnik::TemporaryName(backup, attempt);
        if (zarnik::PlatformLinkAt(folder, name, candidate))
            backupTemp = candidate;
        else if (zarnik::PlatformLastError() != zarnik::PlatformError::Exists)
            break;
    }
    if (options.backup && backupTemp.empty())
        return Fail(EditProblem::WriteFailed, "cannot keep " + name + " as " + backup + ": " +
                                                  zarnik::PlatformLastFailure().text);
    if (options.stage)
        options.stage(SaveStage::Replacing);
    // The one step that changes the original.
    if (!temp.PublishOver()) {
        if (options.backup)
            zarnik::PlatformRemoveAt(folder, backupTemp);
        return Fail(EditProblem::WriteFailed, "cannot put the new " + name + " in place of the old one: " +
                                                  temp.Failure().text);
    }
    replaced = true;
    if (options.backup && !zarnik::PlatformPublish(folder, backupTemp, backup))
        return Fail(EditProblem::WriteFailed, "the new " + name + " is in place, but the old one could not be named " +
                                                  backup + "; it was kept as " + backupTemp + ": " +
                                                  zarnik::PlatformLastFailure().text);
    return {};
}

} // namespace zarnik_pack
