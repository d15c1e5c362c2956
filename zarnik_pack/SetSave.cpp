// Saving an edit of a .vfs set, where it lies. Each data file holding a
// changed entry is written again under a new name (the old index names it
// not, so the set stays as it was), then content.vfi under its temporary
// name: the chunks of the other data files as they are, a new chunk for
// each data file written. The new set is opened through that index and
// compared with what was intended; the index's rename is the one step that
// changes the set, after which the old data files go.
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

const char kDataExtension[] = ".vfs";

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

std::string FileNameOf(const std::string &path)
{
    const size_t separator = zarnik::PlatformLastSeparator(path);
    return path.substr(separator == std::string::npos ? 0 : separator + 1);
}

// A name for the new form of the data file `old`: "data1.vfs" becomes
// "data1~1.vfs", and that one "data1~2.vfs", the first name that is free
// in the folder and not named by the index. "" when there is none.
std::string NewDataName(const std::string &old, zarnik::PlatformDirectory *folder,
                        const std::set<std::string> &taken)
{
    std::string stem = old, extension;
    const size_t length = sizeof kDataExtension - 1;
    if (stem.size() > length && stem.compare(stem.size() - length, length, kDataExtension) == 0) {
        extension = kDataExtension;
        stem.resize(stem.size() - length);
    }
    const size_t tilde = stem.rfind('~');
    if (tilde != std::string::npos && tilde + 1 < stem.size() &&
        stem.find_first_not_of("0123456789", tilde + 1) == std::string::npos)
        stem.resize(tilde);
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

std::vector<std::string> DataFileNames(const zarnik::CZarnikArchive &set)
{
    std::vector<std::string> names(set.GetDataFileCount());
    for (size_t d = 0; d < names.size(); ++d)
        names[d] = FileNameOf(set.GetDataFilePath(d));
    return names;
}

// The most a data file of `items` can take.
uint64_t MostStoredOf(const std::vector<const PackEdit::Item *> &items)
{
    uint64_t most = 0;
    for (const PackEdit::Item *item : items)
        most += item->node ? item->node->m_PackedSize : MostStored(item->size);
    return most;
}

// The whole of a file of under 4 GiB; false when it cannot be read so.
bool ReadWhole(zarnik::PlatformFile *file, Bytes &bytes)
{
    uint64_t size = 0;
    if (!file || !zarnik::PlatformFileSize(file, &size) || size > pf::kMaxPackSize)
        return false;
    bytes.resize(static_cast<size_t>(size));
    return zarnik::PlatformReadAt(file, 0, bytes.data(), static_cast<uint32_t>(size)) == size;
}

// Writes `items`, kept from the data file at `sourcePath` or new, as the
// data file `newName` and publishes it; `chunk` gets its chunk for the
// index. The data file must still be as the set was opened with it.
SaveOutcome WriteDataFile(zarnik::PlatformDirectory *folder, const std::string &sourcePath, uint64_t openedSize,
                          const std::string &newName, const std::vector<const PackEdit::Item *> &items,
                          ItemWriter &writer, Published &published, Bytes &chunk)
{
    const std::string name = FileNameOf(sourcePath);
    ReadFile source(zarnik::PlatformOpenRead(sourcePath));
    uint64_t sourceSize = 0;
    if (!source || !zarnik::PlatformFileSize(source.get(), &sourceSize))
        return Fail(EditProblem::ReadFailed, "cannot read " + name + ": " + zarnik::PlatformLastFailure().text);
    if (sourceSize != openedSize)
        return Fail(EditProblem::ReadFailed, name + " changed since the set was opened");
    published.files.push_back(std::make_unique<OutputFile>(folder, newName));
    OutputFile &out = *published.files.back();
    if (!out.Created() || !out.TakeModeOf(source.get()))
        return Fail(EditProblem::WriteFailed, "cannot create " + newName + ": " + out.Failure().text);
    VfsWriter data(out.Sink(), newName);
    for (const PackEdit::Item *item : items)
        if (!writer.Write(data, *item, source.get()))
            break;
    const bool closed = out.Close();
    const SaveOutcome written = writer.Outcome(data, out.Sink());
    if (written.problem != EditProblem::None)
        return written;
    if (!closed || !out.Publish())
        return Fail(EditProblem::WriteFailed, "cannot write " + newName + ": " + out.Failure().text);
    chunk = data.Index();
    return {};
}

// Which data files change: those whose entries are no longer the same in
// the same order. `items` are the new set's, by data file.
std::vector<bool> ChangedDataFiles(const std::vector<std::vector<const PackEdit::Item *>> &items,
                                   const std::vector<const zarnik::ArchiveNode *> &original)
{
    const size_t count = items.size();
    std::vector<std::vector<const zarnik::ArchiveNode *>> before(count);
    for (const zarnik::ArchiveNode *entry : original)
        before.at(entry->m_DataFile).push_back(entry);
    std::vector<bool> changed(count);
    for (size_t d = 0; d < count; ++d) {
        changed[d] = items[d].size() != before[d].size();
        for (size_t i = 0; !changed[d] && i < items[d].size(); ++i)
            changed[d] = items[d][i]->node != before[d][i] || items[d][i]->path != before[d][i]->m_Path;
    }
    return changed;
}

// The new index: each changed data file's chunk where its first chunk
// stood (none for one left without entries), every other chunk as it was.
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
    return newIndex;
}

// Reads every data file written back through the new set: "" when each
// holds what was intended, else what is wrong.
std::string CheckDataFiles(const zarnik::CZarnikArchive &set, const std::string &folderPath,
                           const std::vector<std::string> &newNames,
                           const std::vector<std::vector<const PackEdit::Item *>> &items, const SaveOptions &options)
{
    uint64_t files = 0, bytes = 0;
    for (size_t d = 0; d < newNames.size(); ++d) {
        if (newNames[d].empty())
            continue;
        const std::string path = folderPath + newNames[d];
        std::vector<const zarnik::ArchiveNode *> entries;
        for (const zarnik::ArchiveNode *entry : set.GetEntries())
            if (set.GetDataFilePath(entry->m_DataFile) == path)
                entries.push_back(entry);
        ReadFile file(zarnik::PlatformOpenRead(path));
        uint64_t size = 0;
        if (!file || !zarnik::PlatformFileSize(file.get(), &size))
            return "cannot read " + newNames[d] + " back";
        const std::string problem = CheckEntries(entries, items[d], file.get(), size, options, files, bytes);
        if (!problem.empty())
            return problem;
    }
    return {};
}

} // namespace

SaveOutcome PackEdit::SaveSet(const SaveOptions &options) const
{
    if (!options.out.empty())
        return Fail(EditProblem::Refused, "a .vfs set is changed where it lies; to change a copy, copy its folder");
    const size_t count = m_Archive.GetDataFileCount();
    const std::vector<std::string> names = DataFileNames(m_Archive);
    const std::string &firstPath = m_Archive.GetDataFilePath(0);
    const std::string folderPath = firstPath.substr(0, firstPath.size() - names[0].size());

    std::vector<std::vector<const Item *>> items(count);
    for (const Item &item : m_Items)
        items.at(item.dataFile).push_back(&item);
    const std::vector<bool> changed = ChangedDataFiles(items, m_Original);
    for (size_t d = 0; d < count; ++d)
        if (changed[d] && MostStoredOf(items[d]) > pf::kMaxPackSize)
            return Fail(EditProblem::Refused, names[d] + " would reach 4 GiB, past what a reader addresses");
    if (std::find(changed.begin(), changed.end(), true) == changed.end())
        return {};

    Folder folder(zarnik::PlatformOpenDirectory(folderPath.empty() ? "." : folderPath));
    if (!folder)
        return Fail(EditProblem::WriteFailed, "cannot open the folder " + folderPath + ": " +
                                                   zarnik::PlatformLastFailure().text);
    const std::string backup = std::string(zarnik::kIndexName) + ".bak";
    if (options.backup && zarnik::PlatformExistsAt(folder.get(), backup))
        return Fail(EditProblem::Refused, backup + " already exists; it is never overwritten");
    ReadFile indexFile(zarnik::PlatformOpenRead(folderPath + zarnik::kIndexName));
    Bytes index;
    if (!ReadWhole(indexFile.get(), index))
        return Fail(EditProblem::ReadFailed, std::string("cannot read ") + zarnik::kIndexName + ": " +
                                                  zarnik::PlatformLastFailure().text);
    const std::vector<IndexChunk> chunks = ChunksOf(index);
    std::set<std::string> taken;
    for (const IndexChunk &chunk : chunks)
        taken.insert(zarnik::CaseFolded(chunk.name));

    // The changed data files under new names, published at once: no index
    // names them yet.
    if (options.stage)
        options.stage(SaveStage::Writing);
    ItemWriter writer(options);
    Published published;
    std::vector<std::string> newNames(count);
    std::vector<Bytes> newChunks(count);
    SaveOutcome saved;
    for (size_t d = 0; d < count; ++d) {
        // A data file left without entries goes, and its chunk with it.
        if (!changed[d] || items[d].empty())
            continue;
        newNames[d] = NewDataName(names[d], folder.get(), taken);
        if (newNames[d].empty())
            return Fail(EditProblem::Refused, "no free name for the new form of " + names[d]);
        taken.insert(zarnik::CaseFolded(newNames[d]));
        const SaveOutcome written = WriteDataFile(folder.get(), m_Archive.GetDataFilePath(d), m_Archive.GetDataFileSize(d),
                                                  newNames[d], items[d], writer, published, newChunks[d]);
        if (written.problem != EditProblem::None)
            return written;
        saved.written.push_back(folderPath + newNames[d]);
        saved.writtenBytes.push_back(published.files.back()->Sink().Size());
    }

    const Bytes newIndex = IndexWith(index, chunks, names, changed, newChunks);
    OutputFile indexOut(folder.get(), zarnik::kIndexName);
    if (!indexOut.Created() || !indexOut.TakeModeOf(indexFile.get()) || !indexOut.Sink().Append(newIndex) ||
        !indexOut.Close())
        return Fail(EditProblem::WriteFailed, std::string("cannot write ") + zarnik::kIndexName + ": " +
                                                  indexOut.Failure().text);
    indexFile.reset();

    if (options.stage)
        options.stage(SaveStage::Checking);
    const zarnik::CZarnikArchive::OpenResult opened =
        zarnik::CZarnikArchive::OpenIndexFile(folderPath + indexOut.TemporaryName());
    if (!opened.archive)
        return Fail(EditProblem::CheckFailed, std::string("the new set does not open: ") +
                                                  zarnik::OpenFailureText(opened.failure) + "; the set was left as it was");
    // A data file the old index named and that is missing (only a set
    // opened through one data file shows it here) is missing still.
    for (const zarnik::OpenReportItem &item : opened.archive->GetOpenReport())
        if (item.kind != zarnik::OpenReportItem::Kind::DataFileMissing ||
            std::find(newNames.begin(), newNames.end(), item.path) != newNames.end())
            return Fail(EditProblem::CheckFailed, std::string("the new set opens with a problem: ") +
                                                      zarnik::OpenReportText(item.kind) + "; the set was left as it was");
    const std::string problem = CheckDataFiles(*opened.archive, folderPath, newNames, items, options);
    if (!problem.empty())
        return Fail(EditProblem::CheckFailed, problem + "; the set was left as it was");

    bool replaced = false;
    const SaveOutcome put = ReplaceOriginal(folder.get(), indexOut, zarnik::kIndexName, options, replaced);
    published.kept = replaced;
    if (put.problem != EditProblem::None)
        return put;
    saved.written.push_back(folderPath + zarnik::kIndexName);
    saved.writtenBytes.push_back(newIndex.size());
    // With a backup, the old data files stay for the old index, NAME.bak.
    if (!options.backup)
        for (size_t d = 0; d < count; ++d)
            if (changed[d])
                zarnik::PlatformRemoveAt(folder.get(), names[d]);
    return saved;
}

} // namespace zarnik_pack
