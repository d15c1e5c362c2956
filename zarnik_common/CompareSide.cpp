#include "CompareSide.h"

#include "PackPath.h"
#include "PlatformFile.h"
#include "SourceWalk.h"

#include <algorithm>
#include <cctype>

namespace zarnik {

namespace {

// A hash list of a million files takes about 100 MiB; a larger file is no
// list of ours.
const uint64_t kMaxHashListSize = 1u << 30;

bool EndsWithFolded(const std::string &name, const std::string &suffix)
{
    return name.size() >= suffix.size() && CaseFolded(name.substr(name.size() - suffix.size())) == suffix;
}

// Up to `limit` bytes from the start of the file at `path`, or with `whole`
// none of a larger file; false when it cannot be read (PlatformLastFailure
// says why).
bool ReadStart(const std::string &path, uint64_t limit, std::string *text, uint64_t *size, bool whole = false)
{
    PlatformFile *file = PlatformOpenRead(path);
    if (!file)
        return false;
    bool read = PlatformFileSize(file, size);
    if (read && !(whole && *size > limit)) {
        text->resize(size_t(std::min(*size, limit)));
        read = PlatformReadAt(file, 0, &(*text)[0], uint32_t(text->size())) == text->size();
    }
    PlatformClose(file);
    return read;
}

CCompareSide::OpenResult HashListAt(const std::string &path)
{
    std::string text;
    uint64_t size = 0;
    CCompareSide::OpenResult opened;
    if (!ReadStart(path, kMaxHashListSize, &text, &size, true))
        opened.error = PlatformWhyUnreadable(path);
    else if (size > kMaxHashListSize)
        opened.error = "too large for a hash list";
    std::vector<HashListEntry> entries;
    if (opened.error.empty() && !ParseHashList(text, &entries, &opened.error))
        opened.error = "not a hash list: " + opened.error;
    if (opened.error.empty())
        opened.side = CCompareSide::OfHashList(entries);
    return opened;
}

} // namespace

bool PathLess(const std::string &a, const std::string &b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const unsigned rx = x == '\\' ? 0 : static_cast<unsigned char>(x);
        const unsigned ry = y == '\\' ? 0 : static_cast<unsigned char>(y);
        return rx < ry;
    });
}

CCompareSide::OpenResult CCompareSide::Open(const std::string &path)
{
    PlatformListed::Kind kind = PlatformListed::Kind::Other;
    if (PlatformKindOf(path, &kind) && kind == PlatformListed::Kind::Folder)
        return OpenFolder(path);
    const std::string name = path.substr(PlatformLastSeparator(path) + 1);
    std::string start;
    uint64_t size = 0;
    // A data file begins with the stored bytes of a file, which may be a
    // list itself: only a single pack's first bytes, a chunk header, tell.
    if (EndsWithFolded(name, ".sha256") || EndsWithFolded(name, ".json") ||
        (RouteOf(path) == PackRoute::SinglePack && ReadStart(path, 80, &start, &size) && LooksLikeHashList(start)))
        return HashListAt(path);
    CZarnikArchive::OpenResult opened = CZarnikArchive::Open(path);
    OpenResult result;
    if (opened.archive)
        result.side = OfArchive(std::move(opened.archive));
    else
        result.error = OpenFailureReason(path, opened);
    return result;
}

CCompareSide::OpenResult CCompareSide::OpenFolder(const std::string &folder)
{
    SourceWalk tree = WalkFolder(folder, kRootName);
    OpenResult opened;
    if (!tree.refused.empty() || tree.files.empty()) {
        opened.error = tree.refused.empty() ? "no regular files below it" : tree.refused.front().line;
        return opened;
    }
    std::vector<DiskFile> files;
    for (SourceFile &source : tree.files)
        files.push_back({std::move(source.packPath), std::move(source.diskPath), source.size});
    std::vector<SideProblem> passedOver;
    for (SourceSkip &skip : tree.passedOver)
        passedOver.push_back({{}, std::move(skip.line)});
    opened.side = OfFolder(std::move(files), std::move(passedOver));
    return opened;
}

std::unique_ptr<const CCompareSide> CCompareSide::OfArchive(std::unique_ptr<const CZarnikArchive> archive)
{
    std::unique_ptr<CCompareSide> side(new CCompareSide);
    side->m_Kind = Kind::Pack;
    std::vector<const ArchiveNode *> folders{archive->GetRoot()};
    while (!folders.empty()) {
        const ArchiveNode *folder = folders.back();
        folders.pop_back();
        for (const ArchiveNode *child : folder->m_Children) {
            if (child->IsFolder())
                folders.push_back(child);
            else if (!child->m_Duplicate && !child->m_Name.empty())
                side->m_Files.push_back({child->m_Path, child->m_UnpackedSize, child, {}, {}});
        }
    }
    for (const OpenReportItem &item : archive->GetOpenReport())
        if (item.entriesLost)
            side->m_Problems.push_back(
                {item.path, item.path.empty() ? "pack offset " + std::to_string(item.offset) + ": " + OpenReportText(item.kind)
                                              : OpenReportText(item.kind)});
    side->m_Archive = std::move(archive);
    side->Settle();
    return side;
}

std::unique_ptr<const CCompareSide> CCompareSide::OfFolder(std::vector<DiskFile> files,
                                                           std::vector<SideProblem> passedOver)
{
    std::unique_ptr<CCompareSide> side(new CCompareSide);
    side->m_Kind = Kind::Folder;
    for (DiskFile &file : files)
        side->m_Files.push_back({std::move(file.archivePath), file.size, nullptr, std::move(file.diskPath), {}});
    side->m_Problems = std::move(passedOver);
    side->Settle();
    return side;
}

std::unique_ptr<const CCompareSide> CCompareSide::OfHashList(const std::vector<HashListEntry> &entries)
{
    std::unique_ptr<CCompareSide> side(new CCompareSide);
    side->m_Kind = Kind::HashList;
    for (const HashListEntry &entry : entries)
        side->m_Files.push_back({entry.path, entry.size, nullptr, {}, entry.digest});
    side->Settle();
    return side;
}

void CCompareSide::Settle()
{
    std::sort(m_Files.begin(), m_Files.end(), [](const SideFile &a, const SideFile &b) { return PathLess(a.path, b.path); });
    // What lies in a folder is contiguous: the file before shares a folder
    // it stands in, and that folder was taken with it.
    const std::string *previous = nullptr;
    for (const SideFile &file : m_Files) {
        for (size_t cut = file.path.find('\\'); cut != std::string::npos; cut = file.path.find('\\', cut + 1))
            if (!previous || previous->compare(0, cut + 1, file.path, 0, cut + 1) != 0)
                m_Folders.push_back(file.path.substr(0, cut));
        previous = &file.path;
    }
    std::sort(m_Folders.begin(), m_Folders.end(), PathLess);
    m_Folders.erase(std::unique(m_Folders.begin(), m_Folders.end()), m_Folders.end());
}

} // namespace zarnik
