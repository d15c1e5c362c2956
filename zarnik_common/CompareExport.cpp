#include "CompareExport.h"

#include "PackPath.h"
#include "PlatformFile.h"

#include <algorithm>
#include <memory>

namespace zarnik {

const char kRemovedListName[] = "removed.txt";

namespace {

using Folder = std::unique_ptr<PlatformDirectory, void (*)(PlatformDirectory *)>;

Folder NoFolder() { return Folder(nullptr, PlatformCloseDirectory); }

// Hands extraction's results on as the export's, by archive path.
class CResultRelay : public ExtractCallback
{
public:
    explicit CResultRelay(const ExportSettings &settings) : m_Settings(settings) {}
    void OnExtractReason(const ArchiveNode &, const std::string &reason) override { m_Reason = reason; }
    void OnExtractResult(const ArchiveNode &node, ExtractOutcome outcome) override
    {
        if (m_Settings.result)
            m_Settings.result(node.m_Path, outcome, m_Reason);
        m_Reason.clear();
    }

private:
    const ExportSettings &m_Settings;
    std::string m_Reason;
};

ExtractOutcome Failure(ExtractOutcome other, std::string *reason)
{
    if (PlatformLastError() == PlatformError::NoSpace)
        return ExtractOutcome::DiskFull;
    *reason = PlatformLastFailure().text;
    return other;
}

// The folder that `path` goes in below `root`, its folders made on the
// way and never through a link; null with why in `outcome`.
Folder EnterFoldersOf(PlatformDirectory *root, const std::string &path, ExtractOutcome *outcome, std::string *reason)
{
    Folder folder = NoFolder();
    for (size_t start = 0, cut; (cut = path.find('\\', start)) != std::string::npos; start = cut + 1) {
        const std::string name = FileSystemName(path.substr(start, cut - start));
        if (!IsSafeName(name)) {
            *outcome = ExtractOutcome::UnsafeName;
            return NoFolder();
        }
        PlatformDirectory *next = PlatformEnterDirectory(folder ? folder.get() : root, name, true);
        if (!next) {
            *outcome = PlatformLastError() == PlatformError::IsLink ? ExtractOutcome::LinkInPath
                                                                     : Failure(ExtractOutcome::NoDirectory, reason);
            return NoFolder();
        }
        folder.reset(next);
    }
    return folder;
}

// Writes `size` bytes from `source` (or `text` when there is no source) as
// the new file `name` in `folder`, whole or not at all.
ExtractOutcome WriteNew(PlatformDirectory *folder, const std::string &name, PlatformFile *source, uint64_t size,
                        const std::string &text, std::string *reason)
{
    if (PlatformExistsAt(folder, name))
        return ExtractOutcome::Exists;
    std::string tempName;
    PlatformFile *file = PlatformCreateTemporary(folder, name, &tempName);
    if (!file)
        return PlatformLastError() == PlatformError::UnsafeName ? ExtractOutcome::UnsafeName
                                                                : Failure(ExtractOutcome::CannotCreate, reason);
    ExtractOutcome outcome = ExtractOutcome::Written;
    if (source ? PlatformCopyRange(source, 0, file, size) != size : !PlatformWriteAll(file, text.data(), text.size()))
        outcome = source && PlatformLastError() == PlatformError::None ? ExtractOutcome::Unreadable
                                                                       : Failure(ExtractOutcome::WriteFailed, reason);
    if (!PlatformCloseWritten(file) && outcome == ExtractOutcome::Written)
        outcome = Failure(ExtractOutcome::WriteFailed, reason);
    if (outcome == ExtractOutcome::Written && !PlatformPublish(folder, tempName, name))
        outcome = PlatformLastError() == PlatformError::Exists ? ExtractOutcome::Exists
                                                                : Failure(ExtractOutcome::CannotCreate, reason);
    if (outcome != ExtractOutcome::Written)
        PlatformRemoveAt(folder, tempName);
    return outcome;
}

// A file of a folder side copied to its path below `root`.
ExtractOutcome CopyFile(PlatformDirectory *root, const SideFile &file, std::string *reason)
{
    ExtractOutcome outcome = ExtractOutcome::Written;
    const Folder folder = EnterFoldersOf(root, file.path, &outcome, reason);
    if (!folder)
        return outcome;
    const std::string name = FileSystemName(file.path.substr(file.path.rfind('\\') + 1));
    // A walk passes over such names, but a side may be made of any list of
    // files, and "../x" would be written beside the folder.
    if (!IsSafeName(name))
        return ExtractOutcome::UnsafeName;
    PlatformFile *source = PlatformOpenRead(file.diskPath);
    uint64_t size = 0;
    if (!source || !PlatformFileSize(source, &size)) {
        *reason = PlatformLastFailure().text;
        if (source)
            PlatformClose(source);
        return ExtractOutcome::Unreadable;
    }
    outcome = WriteNew(folder.get(), name, source, size, {}, reason);
    PlatformClose(source);
    return outcome;
}

// The folders of `b` from its root to the one `path` lies in, outermost first.
std::vector<const ArchiveNode *> FoldersLeadingTo(const CZarnikArchive &archive, const std::string &path)
{
    std::vector<const ArchiveNode *> folders;
    for (size_t cut = path.find('\\'); cut != std::string::npos; cut = path.find('\\', cut + 1))
        if (const ArchiveNode *folder = archive.FindFolder(path.substr(0, cut)))
            folders.push_back(folder);
    return folders;
}

// What the export writes: the files and folders of B, each once.
struct Exported
{
    std::vector<std::string> folders, files;
    std::string removed; // removed.txt's text
};

Exported Choose(const std::vector<Difference> &differences)
{
    Exported chosen;
    for (const Difference &d : differences) {
        if (d.change == Difference::Change::Removed || d.change == Difference::Change::Renamed)
            chosen.removed += ShownPath(d.change == Difference::Change::Removed ? d.path : d.from) +
                              (d.folder ? "/" : "") + "\n";
        if (d.change != Difference::Change::Removed)
            (d.folder ? chosen.folders : chosen.files).push_back(d.path);
    }
    // A file below a folder written whole comes with it.
    const auto inFolder = [&](const std::string &path) {
        return std::any_of(chosen.folders.begin(), chosen.folders.end(), [&](const std::string &folder) {
            return path.compare(0, folder.size() + 1, folder + '\\') == 0;
        });
    };
    chosen.files.erase(std::remove_if(chosen.files.begin(), chosen.files.end(), inFolder), chosen.files.end());
    return chosen;
}

// The nodes of `archive` that `chosen` names; false, with the first path it
// does not hold in `missing`, when the differences are not of this pack.
bool NodesChosen(const CZarnikArchive &archive, const Exported &chosen, std::vector<const ArchiveNode *> *nodes,
                 std::string *missing)
{
    for (const std::string &path : chosen.folders) {
        const ArchiveNode *folder = archive.FindFolder(path);
        if (!folder) {
            *missing = path;
            return false;
        }
        nodes->push_back(folder);
    }
    for (const std::string &path : chosen.files) {
        const ArchiveNode *folder = archive.FindFolder(path.substr(0, path.rfind('\\')));
        bool held = false;
        for (const ArchiveNode *child : folder ? folder->m_Children : std::vector<const ArchiveNode *>())
            if (child->m_Path == path && !child->IsFolder()) {
                held = true;
                if (!child->m_Duplicate)
                    nodes->push_back(child);
            }
        if (!held) {
            *missing = path;
            return false;
        }
    }
    return true;
}

ExtractEnd ExportFromPack(const CZarnikArchive &archive, const std::vector<const ArchiveNode *> &nodes,
                          const std::string &directory, const ExportSettings &settings)
{
    CResultRelay relay(settings);
    ExtractSettings extract;
    extract.stop = settings.stop;
    extract.workers = settings.workers;
    const CExtraction extraction(archive, &relay, extract);
    for (const ArchiveNode *node : nodes) {
        const ExtractEnd end =
            extraction.Extract(*node, ExtractDestination::Folder(directory, FoldersLeadingTo(archive, node->m_Path)));
        if (end != ExtractEnd::Finished)
            return end;
    }
    return ExtractEnd::Finished;
}

ExtractEnd ExportFromFolder(const CCompareSide &b, const Exported &chosen, PlatformDirectory *root,
                            const ExportSettings &settings)
{
    const std::vector<SideFile> &files = b.Files();
    const auto chosenFile = [&](const SideFile &file) {
        if (std::binary_search(chosen.files.begin(), chosen.files.end(), file.path, PathLess))
            return true;
        return std::any_of(chosen.folders.begin(), chosen.folders.end(), [&](const std::string &folder) {
            return file.path.compare(0, folder.size() + 1, folder + '\\') == 0;
        });
    };
    for (const SideFile &file : files) {
        if (!chosenFile(file))
            continue;
        if (settings.stop && settings.stop->load())
            return ExtractEnd::Stopped;
        std::string reason;
        const ExtractOutcome outcome = CopyFile(root, file, &reason);
        if (settings.result)
            settings.result(file.path, outcome, reason);
        if (outcome == ExtractOutcome::DiskFull)
            return ExtractEnd::DiskFull;
    }
    return ExtractEnd::Finished;
}

} // namespace

ExportEnd ExportDifferences(const CCompareSide &b, const std::vector<Difference> &differences,
                            const std::string &directory, const ExportSettings &settings)
{
    ExportEnd result;
    if (b.GetKind() == CCompareSide::Kind::HashList) {
        result.refused = "a hash list holds no bytes to export";
        return result;
    }
    const Folder root(PlatformOpenDirectory(directory), PlatformCloseDirectory);
    if (!root) {
        result.refused = PlatformLastFailure().text;
        return result;
    }
    Exported chosen = Choose(differences);
    std::sort(chosen.files.begin(), chosen.files.end(), PathLess);
    std::vector<const ArchiveNode *> nodes;
    std::string missing;
    if (b.Archive() && !NodesChosen(*b.Archive(), chosen, &nodes, &missing)) {
        result.refused = "the differences name " + ShownPath(missing) + ", which this pack does not hold";
        return result;
    }
    result.end = b.Archive() ? ExportFromPack(*b.Archive(), nodes, directory, settings)
                             : ExportFromFolder(b, chosen, root.get(), settings);
    if (result.end != ExtractEnd::Finished)
        return result;
    std::string reason;
    const ExtractOutcome listed = WriteNew(root.get(), kRemovedListName, nullptr, 0, chosen.removed, &reason);
    if (settings.result)
        settings.result(kRemovedListName, listed, reason);
    return result;
}

} // namespace zarnik
