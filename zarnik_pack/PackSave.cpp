// Saving an edit as a single pack: the new pack under a temporary name,
// read back and compared with what was intended, then published whole or
// not at all. A .vfs set, changed or new, is saved by SetSave.cpp.
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

const char kBackupWithOut[] = "a backup keeps the old pack when the new one takes its place; with another "
                              "destination the old pack stays as it is";

// The new pack at `path` compared with the files written: it opens without
// a report, lists the intended paths in order, kept entries with their
// sizes, and every new file reads back as its source.
SaveOutcome CheckPack(const std::string &path, const ExpectedFiles &expected, const SaveOptions &options)
{
    const zarnik::CZarnikArchive::OpenResult opened = zarnik::CZarnikArchive::Open(path);
    if (!opened.archive)
        return Fail(EditProblem::CheckFailed,
                    std::string("the new pack does not open: ") + zarnik::OpenFailureText(opened.failure));
    const zarnik::CZarnikArchive &pack = *opened.archive;
    if (!pack.GetOpenReport().empty())
        return Fail(EditProblem::CheckFailed, std::string("the new pack opens with a problem: ") +
                                                  zarnik::OpenReportText(pack.GetOpenReport().front().kind));
    ReadFile file(zarnik::PlatformOpenRead(path));
    if (!file)
        return Fail(EditProblem::CheckFailed, "cannot read the new pack back: " + zarnik::PlatformLastFailure().text);
    uint64_t files = 0, bytes = 0;
    return CheckEntries(pack.GetEntries(), expected, file.get(), pack.GetDataFileSize(0), options, files, bytes);
}

// Where the new pack goes: its folder, opened, and its name there; over
// the pack opened (the file a link leads to), or beside nothing.
struct Destination
{
    std::string path, folderPath, name;
    Folder folder;
    bool over = false;
};

SaveOutcome OpenDestination(const std::string &target, bool over, const SaveOptions &options, Destination &to)
{
    to.over = over;
    to.path = over ? ResolvedPackPath(target) : target;
    const PathParts parts = SplitPath(to.path);
    to.folderPath = parts.folder.empty() ? "." : parts.folder;
    to.name = parts.name;
    if (zarnik::RouteOf(to.name) != zarnik::PackRoute::SinglePack)
        return Fail(EditProblem::Refused, target + ": that name would open as part of a .vfs set");
    to.folder.reset(zarnik::PlatformOpenDirectory(to.folderPath));
    if (!to.folder)
        return Fail(EditProblem::WriteFailed, "cannot create " + to.path + ": " + zarnik::PlatformLastFailure().text);
    if (!over && zarnik::PlatformExistsAt(to.folder.get(), to.name))
        return Fail(EditProblem::Refused, target + " already exists; it is never overwritten");
    return over ? BackupFree(to.folder.get(), to.name, options) : SaveOutcome();
}

// What a killed save over the pack at `to` left: its temporary files.
void SweepOwnPartials(const Destination &to, LeftOver &leftOver)
{
    SweepPartials(to.folder.get(), to.folderPath, [&to](const std::string &name) {
        return zarnik::NameAsSystemCompares(name) == zarnik::NameAsSystemCompares(to.name);
    }, leftOver);
}

// The items of `edit` into `temp`, kept ones from `source`, closed (and
// flushed with the options' sync) when all went well.
SaveOutcome WriteItems(const PackEdit &edit, const ItemTotals &totals, zarnik::PlatformFile *source,
                       OutputFile &temp, const SaveOptions &options, ExpectedFiles &expected)
{
    if (options.stage)
        options.stage(SaveStage::Writing);
    UpkWriter writer(temp.Sink());
    ItemWriter itemWriter(options);
    itemWriter.WriteAll(writer, edit, kAllDataFiles, totals, source, expected);
    writer.Finish();
    const bool closed = temp.Close(options.sync);
    const SaveOutcome written = itemWriter.Outcome(writer, temp.Sink());
    if (written.problem != EditProblem::None)
        return written;
    if (!closed)
        return Fail(EditProblem::WriteFailed, "cannot write the new pack: " + WriteFailureText(temp.Failure()));
    return {};
}

SaveOutcome SourcesAsOpened(const PackEdit &edit)
{
    const std::string changed = edit.ChangedSource();
    return changed.empty() ? SaveOutcome()
                           : Fail(EditProblem::Refused, changed + " was written to by another program since it was "
                                                                  "opened: the files kept from it cannot be copied "
                                                                  "as they were; nothing was written");
}

// Refused before anything is written: a pack of 4 GiB or more.
bool FitsAPack(const ItemTotals &totals)
{
    return 2 * pf::kChunkHeaderSize + totals.mostStored + totals.entryBytes <= pf::kMaxPackSize;
}

} // namespace

std::string PackEdit::ChangedSource() const
{
    if (!m_Archive)
        return {};
    // One kept entry of each data file stands for the file.
    std::vector<const zarnik::ArchiveNode *> keptFrom(m_Archive->GetDataFileCount());
    ForEachItem([&keptFrom](const Item &item) {
        if (item.node && item.node->m_DataFile < keptFrom.size() && !keptFrom[item.node->m_DataFile])
            keptFrom[item.node->m_DataFile] = item.node;
    });
    for (size_t d = 0; d < keptFrom.size(); ++d)
        if (keptFrom[d] && m_Archive->DataFileChanged(*keptFrom[d]))
            return m_Archive->GetDataFilePath(d);
    return {};
}

SaveOutcome PackEdit::Save(const SaveOptions &options) const
{
    if (!m_Usable)
        return Fail(EditProblem::Refused, m_Reason);
    if (FileCount() == 0)
        return Fail(EditProblem::Refused, "the new pack would hold no file, and a reader refuses such a pack");
    if (options.backup && !options.out.empty())
        return Fail(EditProblem::Refused, kBackupWithOut);
    const bool set = m_Archive ? m_Archive->IsIndexRoute() : zarnik::RouteOf(m_PackPath) != zarnik::PackRoute::SinglePack;
    LeftOver leftOver;
    SaveOutcome outcome = set ? SaveSet(options, leftOver) : SavePack(options, leftOver);
    outcome.leftOver = std::move(leftOver.paths);
    return outcome;
}

std::vector<std::string> PackEdit::SweepLeftovers() const
{
    LeftOver leftOver;
    if (m_Archive && m_Archive->IsIndexRoute()) {
        SweepSetLeftovers(leftOver);
    } else if (m_Archive) {
        Destination to;
        PackLock lock;
        if (OpenDestination(m_PackPath, true, {}, to).problem == EditProblem::None &&
            lock.Take(m_PackPath, &kNoWait) == PackLock::Outcome::Taken) {
            leftOver.folderPath = SplitPath(to.path).folder;
            SweepOwnPartials(to, leftOver);
        }
    }
    return leftOver.paths;
}

SaveOutcome PackEdit::SavePack(const SaveOptions &options, LeftOver &leftOver) const
{
    // The items are taken from the record as they are written, never all
    // at once: a pack of a million files then costs little more than its
    // archive and its record.
    const ItemTotals totals = TotalsOf(*this, kAllDataFiles);
    if (!FitsAPack(totals))
        return Fail(EditProblem::Refused, "the new pack would reach 4 GiB, past what a reader addresses");
    if (!m_Archive && !options.out.empty())
        return Fail(EditProblem::Refused, "a new pack is made at its own path");
    const bool over = m_Archive && options.out.empty();
    Destination to;
    SaveOutcome ready = OpenDestination(over || !m_Archive ? m_PackPath : options.out, over, options, to);
    PackLock lock;
    if (ready.problem == EditProblem::None && over)
        ready = HoldPack(*m_Archive, m_PackPath, options, lock);
    if (ready.problem != EditProblem::None)
        return ready;
    leftOver.folderPath = SplitPath(to.path).folder;
    if (over)
        SweepOwnPartials(to, leftOver);

    // Over the original, the pack is read through a file of our own, which
    // must be the one opened. A new file copies from the archive's own open
    // file: another program may have put a new pack at its path since,
    // which replaces nothing the copy reads.
    ReadFile own(over ? zarnik::PlatformOpenRead(m_Archive->GetDataFilePath(0)) : nullptr);
    zarnik::PlatformFile *source = own ? own.get() : m_Archive ? m_Archive->GetOpenDataFile(0) : nullptr;
    if (over && !own)
        return Fail(EditProblem::ReadFailed, "cannot read the pack: " + zarnik::PlatformLastFailure().text);
    if (over && (ready = StillAsOpened(*m_Archive)).problem != EditProblem::None)
        return ready;
    if (!over && (ready = SourcesAsOpened(*this)).problem != EditProblem::None)
        return ready;
    OutputFile temp(to.folder.get(), to.name, &leftOver);
    if (!temp.Created())
        return Fail(EditProblem::WriteFailed, "cannot create a file in " + to.folderPath + ": " + temp.Failure().text);
    // In place, the new pack is for the same people as the old one.
    if (over && !temp.TakeAccessOf(own.get()))
        return Fail(EditProblem::WriteFailed, "cannot give the new pack the owner and permissions of " + to.path +
                                                  ": " + temp.Failure().text);
    ExpectedFiles expected;
    if ((ready = WriteItems(*this, totals, source, temp, options, expected)).problem != EditProblem::None)
        return ready;

    // Written: the archive may go before the read-back opens a second one.
    StandingFiles standing;
    own.reset();
    if (over && (ready = standing.Take(*m_Archive, {m_Archive->GetDataFilePath(0)})).problem != EditProblem::None)
        return ready;
    if (!over && (ready = SourcesAsOpened(*this)).problem != EditProblem::None)
        return ready;
    if (options.releasePack)
        options.releasePack();
    if (options.stage)
        options.stage(SaveStage::Checking);
    const SaveOutcome checked = CheckPack(SplitPath(to.path).folder + temp.TemporaryName(), expected, options);
    if (checked.problem != EditProblem::None)
        return checked.problem == EditProblem::Stopped ? checked
                                                       : Fail(checked.problem, checked.reason + "; the pack was left as it was");
    SaveOutcome saved;
    saved.written.push_back(to.path);
    saved.writtenBytes.push_back(temp.Sink().Size());
    if ((ready = standing.Unchanged()).problem != EditProblem::None)
        return ready;
    bool replaced = false;
    const SaveOutcome put = over ? ReplaceOriginal(to.folder.get(), temp, to.name, options, leftOver, replaced)
                                 : PublishNew(to.folder.get(), temp, to.path, options);
    return put.problem == EditProblem::None ? saved : put;
}

} // namespace zarnik_pack
