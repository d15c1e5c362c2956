#include "SourceTree.h"

#include "PackFormat.h"
#include "PackPath.h"
#include "PackText.h"
#include "PlatformFile.h"
#include "Progress.h"

#include <algorithm>
#include <optional>

namespace fs = std::filesystem;

namespace {

// Offsets and sizes are 32-bit: the stored bytes must stay below 4 GiB,
// with room left for the file table.
const uint64_t kMaxTotalBytes = 0xFFFFFFFFull - (64u << 20);
// The name of a pack's root folder. A reader takes every folder of this
// name as the root again, so no other folder may bear it.
const char kRootName[] = "content";

// The size of the regular file at `path`, read through the file layer,
// which tells a regular file from anything else (NotRegular).
bool RegularFileSize(const std::string &path, uint64_t *size)
{
    zarnik::PlatformFile *file = zarnik::PlatformOpenRead(path);
    if (!file)
        return false;
    const bool known = zarnik::PlatformFileSize(file, size);
    zarnik::PlatformClose(file);
    return known;
}

// The archive path of a file at `relative` ('/' form, UTF-8), or an error
// message naming why it cannot be stored.
std::optional<std::string> ArchivePath(std::string relative, std::string &error)
{
    const std::string shown = Printable(relative);
    const std::string root = std::string(kRootName) + "/";
    if (relative.compare(0, root.size(), root) == 0)
        relative.erase(0, root.size());
    if (relative.find('\\') != std::string::npos) {
        error = shown + ": a name holding '\\' cannot be stored in a pack";
        return std::nullopt;
    }
    if (("/" + relative).find("/" + root) != std::string::npos) {
        error = shown + ": a folder named \"" + kRootName + "\" below the top is read as the pack's root";
        return std::nullopt;
    }
    const std::optional<std::string> latin1 = Latin1FromUtf8(relative);
    if (!latin1) {
        error = shown + ": a pack stores names in Latin-1; this one has other characters";
        return std::nullopt;
    }
    const std::string archivePath = std::string(kRootName) + "\\" + zarnik::WithBackslashes(*latin1);
    if (!zarnik::packformat::FitsNameField(archivePath)) {
        error = shown + ": path longer than a pack allows (" + std::to_string(zarnik::packformat::kMaxPathLength) +
                " bytes with content\\)";
        return std::nullopt;
    }
    return archivePath;
}

// The sorted sources, checked as a whole: not empty, no path twice (a file
// beside the top "content" folder and one inside it), not too large.
void CheckWhole(SourceTree &tree, const std::string &shownDir)
{
    std::sort(tree.sources.begin(), tree.sources.end(),
              [](const Source &a, const Source &b) { return a.archivePath < b.archivePath; });
    const auto twice = std::adjacent_find(tree.sources.begin(), tree.sources.end(),
                                          [](const Source &a, const Source &b) { return a.archivePath == b.archivePath; });
    if (tree.sources.empty())
        tree.error = "no regular files below " + shownDir;
    else if (twice != tree.sources.end())
        tree.error = twice[1].shown + ": takes the path of " + twice->shown + " in the pack";
    else if (tree.total > kMaxTotalBytes)
        tree.error = "the files below " + shownDir + " hold " + HumanBytes(tree.total) +
                     ", more than a pack can address (4 GiB)";
    if (!tree.error.empty())
        tree.status = kExitUsage;
}

} // namespace

SourceTree CollectSources(const std::string &typed)
{
    SourceTree tree;
    const std::string shownDir = Printable(typed);
#ifdef _WIN32
    const char separator = '\\';
#else
    const char separator = '/';
#endif
    // Folders still to list: where they are on the disk, and their path
    // below `typed` ('/' between names). The file layer lists them, so a
    // tree past 260 characters, as extraction writes one, reads back whole.
    std::vector<std::pair<std::string, std::string>> folders{{typed, std::string()}};
    while (!folders.empty()) {
        const auto [disk, relative] = folders.back();
        folders.pop_back();
        std::vector<zarnik::PlatformListed> listed;
        if (!zarnik::PlatformListFolder(disk, &listed)) {
            tree.error = (relative.empty() ? "cannot read " : "cannot read below ") + shownDir + ": " +
                         zarnik::PlatformLastFailure().text;
            tree.status = kExitFileFailed;
            return tree;
        }
        for (const zarnik::PlatformListed &entry : listed) {
            const std::string path = disk + separator + entry.name;
            const std::string below = relative.empty() ? entry.name : relative + "/" + entry.name;
            if (entry.kind == zarnik::PlatformListed::Kind::Folder) {
                folders.emplace_back(path, below);
                continue;
            }
            const std::string shown = Printable(fs::u8path(typed).append(below).u8string());
            if (entry.kind == zarnik::PlatformListed::Kind::Link) {
                tree.passedOver.push_back(shown + ": a symbolic link; links are not followed");
                continue;
            }
            std::string error;
            const std::optional<std::string> archivePath = ArchivePath(below, error);
            if (!archivePath) {
                tree.error = error;
                tree.status = kExitUsage;
                return tree;
            }
            // Whether it is a regular file is asked of the file layer.
            uint64_t size = 0;
            if (!RegularFileSize(path, &size)) {
                tree.passedOver.push_back(shown + ": " +
                                          (zarnik::PlatformLastError() == zarnik::PlatformError::NotRegular
                                               ? std::string("not a regular file (a FIFO, socket or device)")
                                               : "cannot read it: " + zarnik::PlatformLastFailure().text));
                continue;
            }
            tree.total += size;
            tree.sources.push_back({*archivePath, fs::u8path(path), shown, size});
        }
    }
    CheckWhole(tree, shownDir);
    return tree;
}
