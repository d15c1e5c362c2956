// Saving an edit of a single pack: the new pack under a temporary name,
// read back and compared with what was intended, then published whole or
// not at all. A .vfs set is saved by SetSave.cpp.
#include "PackEdit.h"

#include "OutputFile.h"
#include "PackFormat.h"
#include "PackPath.h"
#include "PackSink.h"
#include "PackWriter.h"
#include "PlatformFile.h"
#include "SaveSteps.h"

namespace zarnik_pack {

namespace pf = zarnik::packformat;

namespace {

// The new pack at `path` compared with the items: it opens without a
// report, lists the intended paths in order, kept entries with their sizes,
// and every new file reads back as its source. Empty when it matches.
std::string CheckPack(const std::string &path, const std::vector<PackEdit::Item> &items, const SaveOptions &options)
{
    const zarnik::CZarnikArchive::OpenResult opened = zarnik::CZarnikArchive::Open(path);
    if (!opened.archive)
        return std::string("the new pack does not open: ") + zarnik::OpenFailureText(opened.failure);
    const zarnik::CZarnikArchive &pack = *opened.archive;
    if (!pack.GetOpenReport().empty())
        return std::string("the new pack opens with a problem: ") +
               zarnik::OpenReportText(pack.GetOpenReport().front().kind);
    ReadFile file(zarnik::PlatformOpenRead(path));
    if (!file)
        return "cannot read the new pack back: " + zarnik::PlatformLastFailure().text;
    std::vector<const PackEdit::Item *> intended;
    for (const PackEdit::Item &item : items)
        intended.push_back(&item);
    uint64_t files = 0, bytes = 0;
    return CheckEntries(pack.GetEntries(), intended, file.get(), pack.GetDataFileSize(0), options, files, bytes);
}

} // namespace

SaveOutcome PackEdit::Save(const SaveOptions &options) const
{
    if (!m_Usable)
        return Fail(EditProblem::Refused, m_Reason);
    if (m_Items.empty())
        return Fail(EditProblem::Refused, "the new pack would hold no file, and a reader refuses such a pack");
    if (m_Archive.IsIndexRoute())
        return SaveSet(options);

    // Refused before anything is written: a pack of 4 GiB or more.
    uint64_t most = 2 * pf::kChunkHeaderSize;
    for (const Item &item : m_Items)
        most += (item.node ? item.node->m_PackedSize : MostStored(item.size)) + pf::EncodedEntrySize(item.path);
    if (most > pf::kMaxPackSize)
        return Fail(EditProblem::Refused, "the new pack would reach 4 GiB, past what a reader addresses");

    const bool over = options.out.empty();
    const std::string target = over ? m_PackPath : options.out;
    const size_t separator = zarnik::PlatformLastSeparator(target);
    const std::string folderPath = separator == std::string::npos ? "." : target.substr(0, separator + 1);
    const std::string name = target.substr(separator == std::string::npos ? 0 : separator + 1);
    if (zarnik::RouteOf(name) != zarnik::PackRoute::SinglePack)
        return Fail(EditProblem::Refused, target + ": that name would open as part of a .vfs set");
    Folder folder(zarnik::PlatformOpenDirectory(folderPath));
    if (!folder)
        return Fail(EditProblem::WriteFailed, "cannot open the folder " + folderPath + ": " +
                                                   zarnik::PlatformLastFailure().text);
    if (!over && zarnik::PlatformExistsAt(folder.get(), name))
        return Fail(EditProblem::Refused, target + " already exists; it is never overwritten");
    if (over && options.backup && zarnik::PlatformExistsAt(folder.get(), name + ".bak"))
        return Fail(EditProblem::Refused, name + ".bak already exists; it is never overwritten");

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
    // In place, the new pack is for the same readers as the old one.
    if (over && !temp.TakeModeOf(source.get()))
        return Fail(EditProblem::WriteFailed, "cannot give the new pack the permissions of " + target + ": " +
                                                  temp.Failure().text);

    if (options.stage)
        options.stage(SaveStage::Writing);
    UpkWriter writer(temp.Sink());
    ItemWriter items(options);
    for (const Item &item : m_Items)
        if (!items.Write(writer, item, source.get()))
            break;
    writer.Finish();
    const bool closed = temp.Close();
    const SaveOutcome written = items.Outcome(writer, temp.Sink());
    if (written.problem != EditProblem::None)
        return written;
    if (!closed)
        return Fail(EditProblem::WriteFailed, "cannot write the new pack: " + temp.Failure().text);

    if (options.stage)
        options.stage(SaveStage::Checking);
    const std::string problem = CheckPack(folderPath + temp.TemporaryName(), m_Items, options);
    if (!problem.empty())
        return Fail(EditProblem::CheckFailed, problem + "; the pack was left as it was");
    SaveOutcome saved;
    saved.written.push_back(target);
    saved.writtenBytes.push_back(temp.Sink().Size());

    if (!over) {
        if (!temp.Publish())
            return Fail(EditProblem::WriteFailed, "cannot name the new pack " + target + ": " + temp.Failure().text);
        return saved;
    }
    source.reset();
    bool replaced = false;
    const SaveOutcome put = ReplaceOriginal(folder.get(), temp, name, options, replaced);
    if (put.problem != EditProblem::None)
        return put;
    return saved;
}

} // namespace zarnik_pack
