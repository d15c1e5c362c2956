// Saving an edit of a .vfs set, where it lies. Each data file holding a
// changed entry is written again under a new name (the old index names it
// not, so the set stays as it was), then content.vfi under its temporary
// name: the chunks of the other data files as they are, a new chunk for
// each data file written. The new set is opened through that index and
// compared with what was intended; the index's rename is the one step that
// changes the set, after which the old data files go, but for those a
// backup index still names. A new set is the same with no old one: its
// data file under its own name, then its index, neither replacing
// anything.
#include "PackEdit.h"

#include "OutputFile.h"
#include "PackFormat.h"
#include "PackPath.h"
#include "PackWriter.h"
#include "SaveSteps.h"

#include <algorithm>
#include <set>

namespace zarnik_pack {

namespace pf = zarnik::packformat;

namespace {


// One chunk of the index as it lies in the file, and the data file it
// names ("" for none).
struct IndexChunk
{
    size_t start = 0, end = 0;
    std::string name;
};

// The index's chunks front to back, read as the opener reads them; the
// bytes after the last one (too few for a chunk header) are not among them.
std::vector<IndexChunk> ChunksOf(const Bytes &index)
{
    std::vector<IndexChunk> chunks;
    pf::CByteCursor in(index.data(), static_cast<uint32_t>(index.size()));
    pf::ChunkHeader header;
    while (pf::ReadChunkHeader(in, header)) {
        IndexChunk chunk;
        chunk.start = in.Position() - pf::kChunkHeaderSize;
        chunk.end = in.Position() + header.size;
        pf::CByteCursor data(index.data() + in.Position(), header.size);
        if (header.id != pf::kNoChunk)
            pf::ReadIndexHead(data, chunk.name);
        chunks.push_back(chunk);
        in.Skip(header.size);
    }
    return chunks;
}

// A name for the new form of the data file `old`: "data1.vfs" becomes
// "data1~1.vfs", and that one "data1~2.vfs", the first name that is free
// in the folder and not named by the index. "" when there is none.
std::string NewDataName(const std::string &old, zarnik::PlatformDirectory *folder,
                        const std::set<std::string> &taken)
{
    const std::string original = DataNameBeforeSaves(old);
    const size_t dot = original.size() >= 4 && original.compare(original.size() - 4, 4, ".vfs") == 0
                           ? original.size() - 4
                           : original.size();
    const std::string stem = original.substr(0, dot), extension = original.substr(dot);
    for (int n = 1; n < 10000; ++n) {
        const std::string name = stem + "~" + std::to_string(n) + extension;
        if (!pf::FitsNameField(name))
            break;
        if (!taken.count(zarnik::CaseFolded(name)) && !zarnik::PlatformExistsAt(folder, name))
            return name;
    }
    return {};
}

// The data files published so far: removed again unless the set was
// published with them.
struct Published
{
    std::vector<std::unique_ptr<OutputFile>> files;
    bool kept = false;
    ~Published()
    {
        if (!kept)
            for (auto &file : files)
                file->Withdraw();
    }
};

// Beside the index, the note of the data files a save publishes before
// its index names them, and of the old ones it removes after: one name a
// line. A save killed in between leaves files no index names; the note
// proves them its own, and the next change removes those its index does
// not name, and then the note.
const char kPublishingSuffix[] = ".zarnik-publishing";

// Removes the note once the save is over (after the files it names were
// withdrawn, when it failed); one that stays is named in `leftOver`.
struct PublishingNote
{
    zarnik::PlatformDirectory *folder = nullptr;
    std::string name;
    LeftOver *leftOver = nullptr;
    ~PublishingNote()
    {
        if (folder && !zarnik::PlatformRemoveAt(folder, name))
            leftOver->Note(name);
    }
};

// The whole of a file of under 4 GiB; false when it cannot be read so.
bool ReadWhole(zarnik::PlatformFile *file, Bytes &bytes)
{
    uint64_t size = 0;
    if (!file || !zarnik::PlatformFileSize(file, &size) || size > pf::kMaxPackSize)
        return false;
    bytes.resize(static_cast<size_t>(size));
    return zarnik::PlatformReadAt(file, 0, bytes.data(), static_cast<uint32_t>(size)) == size;
}

// Which of the `count` data files change: those whose entries are no
// longer the same in the same order; and what the items of each add up to.
std::vector<bool> ChangedDataFiles(const PackEdit &edit, size_t count,
                                   const std::vector<const zarnik::ArchiveNode *> &original,
                                   std::vector<ItemTotals> &totals)
{
    std::vector<std::vector<const zarnik::ArchiveNode *>> before(count);
    for (const zarnik::ArchiveNode *entry : original)
        before.at(entry->m_DataFile).push_back(entry);
    std::vector<bool> changed(count);
    totals.assign(count, ItemTotals());
    edit.ForEachItem([&](const PackEdit::Item &item) {
        const size_t d = item.dataFile, i = totals.at(d).count;
        changed[d] = changed[d] || i >= before[d].size() || item.node != before[d][i] ||
                     item.path != before[d][i]->m_Path;
        totals[d].Add(item);
    });
    for (size_t d = 0; d < count; ++d)
        changed[d] = changed[d] || totals[d].count != before[d].size();
    return changed;
}

// The new index: each changed data file's chunk where its first chunk
// stood (none for one left without entries), every other chunk as it was;
// a new set's chunk after an index of none.
Bytes IndexWith(const Bytes &index, const std::vector<IndexChunk> &chunks, const std::vector<std::string> &names,
                const std::vector<bool> &changed, const std::vector<Bytes> &newChunks)
{
    const size_t count = names.size();
    Bytes newIndex;
    std::vector<bool> placed(count);
    size_t end = 0;
    for (const IndexChunk &chunk : chunks) {
        size_t d = 0;
        while (d < count && !(changed[d] && names[d] == chunk.name))
            ++d;
        if (d == count)
            newIndex.insert(newIndex.end(), index.begin() + chunk.start, index.begin() + chunk.end);
        else if (!placed[d] && !newChunks[d].empty())
            newIndex.insert(newIndex.end(), newChunks[d].begin(), newChunks[d].end());
        if (d < count)
            placed[d] = true;
        end = chunk.end;
    }
    newIndex.insert(newIndex.end(), index.begin() + end, index.end());
    for (size_t d = 0; d < count; ++d)
        if (!placed[d])
            newIndex.insert(newIndex.end(), newChunks[d].begin(), newChunks[d].end());
    return newIndex;
}

// The names of the data files the index in `folder` under `name` names;
// none when there is no such index.
std::set<std::string> NamedBy(zarnik::PlatformDirectory *folder, const std::string &folderPath, const std::string &name)
{
    std::set<std::string> named;
    Bytes index;
    ReadFile file(zarnik::PlatformExistsAt(folder, name) ? zarnik::PlatformOpenRead(folderPath + name) : nullptr);
    if (ReadWhole(file.get(), index))
        for (const IndexChunk &chunk : ChunksOf(index))
            named.insert(chunk.name);
    return named;
}

// One save of a set: the state its steps share.
class SetSaver
{
public:
    SetSaver(const zarnik::CZarnikArchive *archive, const std::string &packPath, const PackEdit &edit,
             const std::vector<const zarnik::ArchiveNode *> &original, const SaveOptions &options,
             LeftOver &leftOver);
    SaveOutcome Run();
    // What a killed save of the set left, swept when no change holds it.
    void SweepLeftovers();

private:
    SaveOutcome Prepare();
    SaveOutcome FindIndex();
    // Whether this save makes a file of `name`: the index, or a new form
    // of one of the set's data files.
    bool OwnName(const std::string &name) const;
    // Whether `name` is a data file of the set, under its name before
    // saves or a later one.
    bool OwnDataName(const std::string &name) const;
    std::string NoteName() const { return m_IndexName + kPublishingSuffix; }
    Bytes NoteText() const;
    void SweepOwnPartials();
    void SweepUnnamed();
    SaveOutcome NotePublishing();
    SaveOutcome ReadIndex();
    SaveOutcome WriteDataFile(size_t d);
    SaveOutcome WriteIndex();
    SaveOutcome LetGo();
    SaveOutcome Check();
    SaveOutcome Publish();

    const zarnik::CZarnikArchive *m_Archive; // null for a new set, and once let go
    const bool m_NewSet;
    std::string m_PackPath;
    const SaveOptions &m_Options;
    LeftOver &m_LeftOver;
    std::string m_FolderPath; // the set's folder, with its separator ("" for the current one)
    Folder m_Folder;
    std::string m_IndexName = zarnik::kIndexName; // the index, or the file its link leads to
    PackLock m_Lock;
    const PackEdit &m_Edit;
    std::vector<std::string> m_Names; // the data files, and what becomes of them
    std::vector<ItemTotals> m_Totals;
    std::vector<bool> m_Changed;
    std::vector<ExpectedFiles> m_Expected; // of each data file written
    StandingFiles m_Standing;
    std::vector<std::string> m_NewNames;
    std::vector<Bytes> m_NewChunks;
    Bytes m_Index, m_NewIndex;
    std::vector<IndexChunk> m_Chunks;
    ItemWriter m_Writer;
    PublishingNote m_Note; // goes after m_Published
    Published m_Published;
    std::unique_ptr<OutputFile> m_IndexOut;
    SaveOutcome m_Saved;
};

SetSaver::SetSaver(const zarnik::CZarnikArchive *archive, const std::string &packPath, const PackEdit &edit,
                   const std::vector<const zarnik::ArchiveNode *> &original, const SaveOptions &options,
                   LeftOver &leftOver)
    : m_Archive(archive), m_NewSet(archive == nullptr), m_PackPath(packPath), m_Options(options),
      m_LeftOver(leftOver), m_Edit(edit), m_Writer(options)
{
    m_FolderPath = SplitPath(packPath).folder;
    m_LeftOver.folderPath = m_FolderPath;
    if (archive)
        for (size_t d = 0; d < archive->GetDataFileCount(); ++d)
            m_Names.push_back(SplitPath(archive->GetDataFilePath(d)).name);
    else
        m_Names.push_back(SplitPath(packPath).name);
    // The items are taken from the record as they are counted and written,
    // never all at once.
    m_Changed = ChangedDataFiles(edit, m_Names.size(), original, m_Totals);
    m_Expected.resize(m_Names.size());
    m_NewNames.resize(m_Names.size());
    m_NewChunks.resize(m_Names.size());
}

// content.vfi, or the file its link leads to when that lies in the set's
// own folder: the index is read and replaced there, beside its data files.
SaveOutcome SetSaver::FindIndex()
{
    const std::string given = m_FolderPath + zarnik::kIndexName;
    const std::string resolved = zarnik::PlatformFollowLinks(given);
    if (resolved.empty() || resolved == given)
        return {};
    const PathParts target = SplitPath(resolved);
    zarnik::PlatformFileStamp here, there;
    if (!zarnik::PlatformStampAt(m_FolderPath.empty() ? "." : m_FolderPath, &here) ||
        !zarnik::PlatformStampAt(target.folder, &there) || here.volume != there.volume || here.file != there.file)
        return Fail(EditProblem::Refused, given + " is a link to " + resolved + ", in another folder than the data "
                                          "files it names; change the set where its index and data files lie together");
    m_IndexName = target.name;
    return {};
}

bool SetSaver::OwnName(const std::string &name) const
{
    using zarnik::NameAsSystemCompares;
    if (NameAsSystemCompares(name) == NameAsSystemCompares(m_IndexName) ||
        NameAsSystemCompares(name) == NameAsSystemCompares(NoteName()))
        return true;
    return DataNameBeforeSaves(name) != name && OwnDataName(name);
}

bool SetSaver::OwnDataName(const std::string &name) const
{
    using zarnik::NameAsSystemCompares;
    const std::string original = DataNameBeforeSaves(name);
    return std::any_of(m_Names.begin(), m_Names.end(), [&original](const std::string &data) {
        return NameAsSystemCompares(DataNameBeforeSaves(data)) == NameAsSystemCompares(original);
    });
}

SaveOutcome SetSaver::Prepare()
{
    if (!m_Options.out.empty())
        return Fail(EditProblem::Refused, "a .vfs set is changed where it lies; to change a copy, copy its folder");
    for (size_t d = 0; d < m_Names.size(); ++d)
        if (m_Changed[d] && m_Totals[d].mostStored > pf::kMaxPackSize)
            return Fail(EditProblem::Refused, m_Names[d] + " would reach 4 GiB, past what a reader addresses");
    m_Folder.reset(zarnik::PlatformOpenDirectory(m_FolderPath.empty() ? "." : m_FolderPath));
    if (!m_Folder)
        return Fail(EditProblem::WriteFailed, (m_Archive ? "cannot open the folder " + m_FolderPath
                                                         : "cannot create " + m_PackPath) +
                                                  ": " + zarnik::PlatformLastFailure().text);
    if (!m_Archive) {
        if (zarnik::RouteOf(m_PackPath) != zarnik::PackRoute::IndexedDataFile)
            return Fail(EditProblem::Refused, m_PackPath + ": a data file of a new set is named NAME.vfs");
        for (const std::string &name : {m_Names[0], m_IndexName})
            if (zarnik::PlatformExistsAt(m_Folder.get(), name))
                return Fail(EditProblem::Refused, m_FolderPath + name + " already exists; it is never overwritten");
        m_NewNames[0] = m_Names[0];
        return {};
    }
    SaveOutcome ready = FindIndex();
    if (ready.problem == EditProblem::None)
        ready = BackupFree(m_Folder.get(), m_IndexName, m_Options);
    if (ready.problem == EditProblem::None)
        ready = HoldPack(*m_Archive, m_PackPath, m_Options, m_Lock);
    if (ready.problem == EditProblem::None)
        SweepOwnPartials();
    return ready.problem == EditProblem::None ? ReadIndex() : ready;
}

void SetSaver::SweepOwnPartials()
{
    SweepPartials(m_Folder.get(), m_FolderPath, [this](const std::string &name) { return OwnName(name); }, m_LeftOver);
    SweepUnnamed();
}

// The note as it stands; empty when there is none.
Bytes SetSaver::NoteText() const
{
    Bytes text;
    ReadFile file(zarnik::PlatformExistsAt(m_Folder.get(), NoteName())
                      ? zarnik::PlatformOpenRead(m_FolderPath + NoteName())
                      : nullptr);
    if (!ReadWhole(file.get(), text))
        text.clear();
    return text;
}

// The files a killed save noted that neither the index nor its backup
// names, then the note, once they are gone.
void SetSaver::SweepUnnamed()
{
    const Bytes text = NoteText();
    if (text.empty())
        return;
    std::set<std::string> named = NamedBy(m_Folder.get(), m_FolderPath, m_IndexName);
    const std::set<std::string> backup = NamedBy(m_Folder.get(), m_FolderPath, m_IndexName + kBackupSuffix);
    named.insert(backup.begin(), backup.end());
    bool swept = true;
    for (auto at = text.begin(); at != text.end();) {
        const auto end = std::find(at, text.end(), '\n');
        const std::string name(at, end);
        at = end == text.end() ? end : end + 1;
        if (name.find_first_of("/\\") != std::string::npos || !OwnDataName(name) || named.count(name) ||
            !zarnik::PlatformExistsAt(m_Folder.get(), name))
            continue;
        if (!zarnik::PlatformRemoveAt(m_Folder.get(), name)) {
            m_LeftOver.Note(name);
            swept = false;
        }
    }
    if (swept && !zarnik::PlatformRemoveAt(m_Folder.get(), NoteName()))
        m_LeftOver.Note(NoteName());
}

// Notes the data files this save publishes and those it removes after,
// with what a note left standing still names.
SaveOutcome SetSaver::NotePublishing()
{
    if (m_NewSet)
        return {};
    Bytes text = NoteText();
    for (size_t d = 0; d < m_Names.size(); ++d)
        for (const std::string &name : {m_NewNames[d], m_Changed[d] ? m_Names[d] : std::string()})
            if (!name.empty())
                text.insert(text.end(), name.begin(), name.end()), text.push_back('\n');
    OutputFile note(m_Folder.get(), NoteName(), &m_LeftOver);
    // Not flushed: a note lost to a power cut costs what it is there to
    // sweep, never a file of the set.
    if (!note.Created() || (note.Sink().Append(text), !note.Close()) || !note.PublishOver())
        return Fail(EditProblem::WriteFailed, "cannot write " + NoteName() + ": " + WriteFailureText(note.Failure()));
    m_Note.folder = m_Folder.get();
    m_Note.name = NoteName();
    m_Note.leftOver = &m_LeftOver;
    return {};
}

void SetSaver::SweepLeftovers()
{
    m_Folder.reset(zarnik::PlatformOpenDirectory(m_FolderPath.empty() ? "." : m_FolderPath));
    if (m_Folder && FindIndex().problem == EditProblem::None &&
        m_Lock.Take(m_PackPath, &kNoWait) == PackLock::Outcome::Taken)
        SweepOwnPartials();
}

SaveOutcome SetSaver::ReadIndex()
{
    ReadFile indexFile(zarnik::PlatformOpenRead(m_FolderPath + m_IndexName));
    if (!ReadWhole(indexFile.get(), m_Index))
        return Fail(EditProblem::ReadFailed, "cannot read " + m_IndexName + ": " + zarnik::PlatformLastFailure().text);
    m_Chunks = ChunksOf(m_Index);
    std::set<std::string> taken;
    for (const IndexChunk &chunk : m_Chunks)
        taken.insert(zarnik::CaseFolded(chunk.name));
    // A data file left without entries goes, and its chunk with it.
    for (size_t d = 0; d < m_Names.size(); ++d) {
        if (!m_Changed[d] || m_Totals[d].count == 0)
            continue;
        m_NewNames[d] = NewDataName(m_Names[d], m_Folder.get(), taken);
        if (m_NewNames[d].empty())
            return Fail(EditProblem::Refused, "no free name for the new form of " + m_Names[d]);
        taken.insert(zarnik::CaseFolded(m_NewNames[d]));
    }
    // What was read must be the index opened.
    return StillAsOpened(*m_Archive);
}

// Writes the data file `d` under its new name and publishes it: no index
// names it yet. Its entries kept come from the data file as it was opened.
SaveOutcome SetSaver::WriteDataFile(size_t d)
{
    ReadFile source(m_Archive ? zarnik::PlatformOpenRead(m_Archive->GetDataFilePath(d)) : nullptr);
    if (m_Archive && !source)
        return Fail(EditProblem::ReadFailed, "cannot read " + m_Names[d] + ": " + zarnik::PlatformLastFailure().text);
    if (m_Archive) {
        const SaveOutcome opened = StillAsOpened(*m_Archive);
        if (opened.problem != EditProblem::None)
            return opened;
    }
    m_Published.files.push_back(std::make_unique<OutputFile>(m_Folder.get(), m_NewNames[d], &m_LeftOver));
    OutputFile &out = *m_Published.files.back();
    if (!out.Created() || (source && !out.TakeAccessOf(source.get())))
        return Fail(EditProblem::WriteFailed, "cannot create " + m_NewNames[d] + ": " + out.Failure().text);
    VfsWriter data(out.Sink(), m_NewNames[d]);
    m_Writer.WriteAll(data, m_Edit, static_cast<uint32_t>(d), m_Totals[d], source.get(), m_Expected[d]);
    const bool closed = out.Close(m_Options.sync);
    const SaveOutcome written = m_Writer.Outcome(data, out.Sink());
    if (written.problem != EditProblem::None)
        return written;
    if (!closed || !out.Publish())
        return Fail(out.Failure().kind == zarnik::PlatformError::Exists ? EditProblem::Refused : EditProblem::WriteFailed,
                    "cannot write " + m_NewNames[d] + ": " + WriteFailureText(out.Failure()));
    m_NewChunks[d] = data.Index();
    m_Saved.written.push_back(m_FolderPath + m_NewNames[d]);
    m_Saved.writtenBytes.push_back(out.Sink().Size());
    return {};
}

SaveOutcome SetSaver::WriteIndex()
{
    // The data files' names on the disk before an index names them.
    if (m_Options.sync && !zarnik::PlatformFlushDirectory(m_Folder.get()))
        return Fail(EditProblem::WriteFailed, "cannot flush the folder " + m_FolderPath + ": " +
                                                  zarnik::PlatformLastFailure().text);
    m_NewIndex = IndexWith(m_Index, m_Chunks, m_Names, m_Changed, m_NewChunks);
    m_IndexOut = std::make_unique<OutputFile>(m_Folder.get(), m_IndexName, &m_LeftOver);
    ReadFile old(m_NewSet ? nullptr : zarnik::PlatformOpenRead(m_FolderPath + m_IndexName));
    // Closed whatever the append did: the close takes up a failed write's reason.
    if (!m_IndexOut->Created() || (old && !m_IndexOut->TakeAccessOf(old.get())) ||
        (m_IndexOut->Sink().Append(m_NewIndex), !m_IndexOut->Close(m_Options.sync)))
        return Fail(EditProblem::WriteFailed, "cannot write " + m_IndexName + ": " +
                                                  WriteFailureText(m_IndexOut->Failure()));
    return {};
}

// Written: the archive may go before the read-back opens a second one.
SaveOutcome SetSaver::LetGo()
{
    if (m_NewSet)
        return {};
    std::vector<std::string> files{m_FolderPath + m_IndexName};
    for (size_t d = 0; d < m_Names.size(); ++d)
        files.push_back(m_Archive->GetDataFilePath(d));
    const SaveOutcome standing = m_Standing.Take(*m_Archive, files);
    if (standing.problem == EditProblem::None && m_Options.releasePack) {
        m_Options.releasePack();
        m_Archive = nullptr;
    }
    return standing;
}

// Reads every data file written back through the new index.
SaveOutcome SetSaver::Check()
{
    if (m_Options.stage)
        m_Options.stage(SaveStage::Checking);
    const std::string left = m_NewSet ? "; no set was made" : "; the set was left as it was";
    const zarnik::CZarnikArchive::OpenResult opened =
        zarnik::CZarnikArchive::OpenIndexFile(m_FolderPath + m_IndexOut->TemporaryName());
    if (!opened.archive)
        return Fail(EditProblem::CheckFailed,
                    std::string("the new set does not open: ") + zarnik::OpenFailureText(opened.failure) + left);
    // A data file the old index named and that is missing is missing still.
    for (const zarnik::OpenReportItem &item : opened.archive->GetOpenReport())
        if (item.kind != zarnik::OpenReportItem::Kind::DataFileMissing ||
            std::find(m_NewNames.begin(), m_NewNames.end(), item.path) != m_NewNames.end())
            return Fail(EditProblem::CheckFailed,
                        std::string("the new set opens with a problem: ") + zarnik::OpenReportText(item.kind) + left);
    uint64_t files = 0, bytes = 0;
    for (size_t d = 0; d < m_NewNames.size(); ++d) {
        if (m_NewNames[d].empty())
            continue;
        const std::string path = m_FolderPath + m_NewNames[d];
        std::vector<const zarnik::ArchiveNode *> entries;
        for (const zarnik::ArchiveNode *entry : opened.archive->GetEntries())
            if (opened.archive->GetDataFilePath(entry->m_DataFile) == path)
                entries.push_back(entry);
        ReadFile file(zarnik::PlatformOpenRead(path));
        uint64_t size = 0;
        if (!file || !zarnik::PlatformFileSize(file.get(), &size))
            return Fail(EditProblem::CheckFailed, "cannot read " + m_NewNames[d] + " back" + left);
        const SaveOutcome checked = CheckEntries(entries, m_Expected[d], file.get(), size, m_Options, files, bytes);
        if (checked.problem != EditProblem::None)
            return checked.problem == EditProblem::Stopped ? checked : Fail(checked.problem, checked.reason + left);
    }
    return {};
}

SaveOutcome SetSaver::Publish()
{
    if (m_NewSet) {
        const SaveOutcome put = PublishNew(m_Folder.get(), *m_IndexOut, m_FolderPath + m_IndexName, m_Options);
        m_Published.kept = put.problem == EditProblem::None;
        return put;
    }
    SaveOutcome ready = m_Standing.Unchanged();
    if (ready.problem != EditProblem::None)
        return ready;
    // A data file the backup index (this save's or an earlier one's) names
    // stays, for the old set it opens.
    const std::set<std::string> kept = NamedBy(m_Folder.get(), m_FolderPath, m_IndexName + kBackupSuffix);
    bool replaced = false;
    const SaveOutcome put = ReplaceOriginal(m_Folder.get(), *m_IndexOut, m_IndexName, m_Options, m_LeftOver, replaced);
    m_Published.kept = replaced;
    for (size_t d = 0; replaced && !m_Options.backup && d < m_Names.size(); ++d)
        if (m_Changed[d] && !kept.count(m_Names[d]) && !zarnik::PlatformRemoveAt(m_Folder.get(), m_Names[d]))
            m_LeftOver.Note(m_Names[d]);
    return put;
}

SaveOutcome SetSaver::Run()
{
    SaveOutcome step = Prepare();
    if (step.problem != EditProblem::None)
        return step;
    if (std::find(m_Changed.begin(), m_Changed.end(), true) == m_Changed.end())
        return {};
    if (m_Options.stage)
        m_Options.stage(SaveStage::Writing);
    step = NotePublishing();
    for (size_t d = 0; d < m_Names.size() && step.problem == EditProblem::None; ++d)
        if (!m_NewNames[d].empty())
            step = WriteDataFile(d);
    if (step.problem == EditProblem::None)
        step = WriteIndex();
    if (step.problem == EditProblem::None)
        step = LetGo();
    if (step.problem == EditProblem::None)
        step = Check();
    if (step.problem == EditProblem::None)
        step = Publish();
    if (step.problem != EditProblem::None)
        return step;
    m_Saved.written.push_back(m_FolderPath + m_IndexName);
    m_Saved.writtenBytes.push_back(m_NewIndex.size());
    return m_Saved;
}

} // namespace

SaveOutcome PackEdit::SaveSet(const SaveOptions &options, LeftOver &leftOver) const
{
    return SetSaver(m_Archive, m_PackPath, *this, m_Record->Entries(), options, leftOver).Run();
}

void PackEdit::SweepSetLeftovers(LeftOver &leftOver) const
{
    const SaveOptions none;
    SetSaver(m_Archive, m_PackPath, *this, m_Record->Entries(), none, leftOver).SweepLeftovers();
}

} // namespace zarnik_pack
