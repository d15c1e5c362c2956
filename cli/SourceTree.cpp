#include "SourceTree.h"

#include "PackPath.h"
#include "PackText.h"
#include "PlatformFile.h"
#include "Progress.h"

#include <algorithm>
#include <optional>

namespace fs = std::filesystem;

namespace {

// A stored name with its terminator must fit the 260 bytes a reader allows.
const size_t kMaxArchivePath = 259;
// Offsets and sizes are 32-bit: the stored bytes must stay below 4 GiB,
// with room left for the file table.
const uint64_t kMaxTotalBytes = 0xFFFFFFFFull - (64u << 20);
// The name of a pack's root folder. A reader takes every folder of this
// name as the root again, so no other folder may bear it.
const char kRootName[] = "content";

// The folder as the system reads it: absolute, so that every source path
// starts with it.
fs::path ReadableFolder(const std::string &dir)
{
    std::error_code ec;
    const fs::path absolute = fs::absolute(fs::u8path(dir), ec);
    return ec ? fs::u8path(dir) : absolute;
}

// The size of the regular file at `path`, read through the file layer,
// which tells a regular file from anything else (NotRegular).
bool RegularFileSize(const fs::path &path, uint64_t *size)
{
    zarnik::PlatformFile *file = zarnik::PlatformOpenRead(path.u8string());
    if (!file)
        return false;
    const bool known = zarnik::PlatformFileSize(file, size);
    zarnik::PlatformClose(file);
    return known;
}

// The path of `file` below `dir`, '/' between its names. The walk makes
// every path by adding names to `dir` as given, so it starts with it.
std::string Relative(const fs::path &file, const fs::path &dir)
{
    const fs::path::string_type &whole = file.native();
    size_t start = dir.native().size();
    while (start < whole.size() && (whole[start] == '/' || whole[start] == fs::path::preferred_separator))
        ++start;
    return fs::path(whole.substr(start)).generic_u8string();
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
    if (archivePath.size() > kMaxArchivePath) {
        error = shown + ": path longer than a pack allows (" + std::to_string(kMaxArchivePath) +
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
    auto fail = [&tree](const std::string &message, int status) {
        tree.error = message;
        tree.status = status;
        return tree;
    };
    const fs::path dir = ReadableFolder(typed);
    const std::string shownDir = Printable(typed);
    std::error_code ec;
    fs::recursive_directory_iterator it(dir, ec), end;
    if (ec)
        return fail("cannot read " + shownDir + ": " + ec.message(), kExitFileFailed);
    for (; it != end; it.increment(ec)) {
        if (ec)
            return fail("cannot read below " + shownDir + ": " + ec.message(), kExitFileFailed);
        // Whether it is a regular file is asked of the file layer below.
        std::error_code typeError;
        const bool link = it->is_symlink(typeError);
        if (!link && it->is_directory(typeError))
            continue;
        std::string error;
        const std::string relative = Relative(it->path(), dir);
        const std::string shown = Printable(fs::u8path(typed).append(relative).u8string());
        if (link) {
            tree.passedOver.push_back(shown + ": a symbolic link; links are not followed");
            continue;
        }
        const std::optional<std::string> archivePath = ArchivePath(relative, error);
        if (!archivePath)
            return fail(error, kExitUsage);
        uint64_t size = 0;
        if (!RegularFileSize(it->path(), &size)) {
            tree.passedOver.push_back(shown + ": " +
                                      (zarnik::PlatformLastError() == zarnik::PlatformError::NotRegular
                                           ? std::string("not a regular file (a FIFO, socket or device)")
                                           : "cannot read it: " + zarnik::PlatformLastFailure().text));
            continue;
        }
        tree.total += size;
        tree.sources.push_back({*archivePath, it->path(), shown, size});
    }
    if (ec)
        return fail("cannot read below " + shownDir + ": " + ec.message(), kExitFileFailed);
    CheckWhole(tree, shownDir);
    return tree;
}
