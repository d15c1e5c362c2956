// One side of a comparison: the files a pack, a folder on disk or a saved
// hash list holds, each with its archive path, and the folders they stand
// in. A pack's files are read through the archive, a folder's through the
// file layer; a hash list holds digests only.
#pragma once

#include "HashList.h"
#include "Sha256.h"
#include "ZarnikArchive.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zarnik {

// Archive paths in the order the comparison lists them: byte by byte, with
// '\' before every other character, so that what lies in a folder follows
// the folder itself.
bool PathLess(const std::string &a, const std::string &b);

struct SideFile
{
    std::string path;                   // archive path: Latin-1, '\' separators
    std::optional<uint64_t> size;       // unpacked; unknown in a sha256sum list
    const ArchiveNode *node = nullptr;  // a pack's entry
    std::string diskPath;               // a folder's file, as the system reads it
    std::optional<Sha256Digest> digest; // a hash list's
};

// Something a side holds that cannot be compared: what opening a pack
// passed over, what a folder holds that a pack cannot (a link, a FIFO).
struct SideProblem
{
    std::string path; // archive or disk path; empty where there is none
    std::string text; // why, in a few words
};

// A file below a folder on disk with the path it takes in a pack.
struct DiskFile
{
    std::string archivePath;
    std::string diskPath;
    uint64_t size = 0;
};

class CCompareSide
{
public:
    enum class Kind { Pack, Folder, HashList };

    struct OpenResult
    {
        std::unique_ptr<const CCompareSide> side; // null when it could not be opened
        std::string error;                        // then: why, for people
    };
    // A folder on disk (see OpenFolder), a pack as CZarnikArchive::Open
    // takes it, or a saved hash list: a file named *.sha256 or *.json, or
    // one a single pack would be that begins like either form.
    static OpenResult Open(const std::string &path);
    // The files below `folder` as `create` packs them (WalkFolder: a folder
    // named as the root at its top is the root), so that an extraction
    // compares equal to its pack. What the walk passes over (links, FIFOs,
    // unreadable files) are the side's problems, named as `create` names
    // them; a path the pack could not hold, or no file at all, and there is
    // no side.
    static OpenResult OpenFolder(const std::string &folder);

    static std::unique_ptr<const CCompareSide> OfArchive(std::unique_ptr<const CZarnikArchive> archive);
    // The files a walk of a folder found, and what it passed over.
    static std::unique_ptr<const CCompareSide> OfFolder(std::vector<DiskFile> files,
                                                        std::vector<SideProblem> passedOver);
    static std::unique_ptr<const CCompareSide> OfHashList(const std::vector<HashListEntry> &entries);

    Kind GetKind() const { return m_Kind; }
    // Every file, in PathLess order. A pack's are those extraction writes:
    // a second entry of a path, and an entry without a name, are not.
    const std::vector<SideFile> &Files() const { return m_Files; }
    // Every folder the files stand in (the root too), in PathLess order.
    const std::vector<std::string> &Folders() const { return m_Folders; }
    const std::vector<SideProblem> &Problems() const { return m_Problems; }
    // A pack's archive; null for the other kinds.
    const CZarnikArchive *Archive() const { return m_Archive.get(); }

private:
    CCompareSide() = default;
    // Sorts the files and gathers the folders from their paths.
    void Settle();

    Kind m_Kind = Kind::Pack;
    std::unique_ptr<const CZarnikArchive> m_Archive;
    std::vector<SideFile> m_Files;
    std::vector<std::string> m_Folders;
    std::vector<SideProblem> m_Problems;
};

} // namespace zarnik
