// What a pack path may be, and how a path the user typed becomes one.
//
// A pack path is Latin-1 with '\' between its names, and its first name is
// the root, kRootName. It may be written into a pack when a reader opens it
// back as that same path, and extraction can write it on this system.
// create, add, rename, the explorer's changes and the mount all ask here.
#pragma once

#include <optional>
#include <string>

namespace zarnik {

// Why a path cannot go into a pack as it is.
enum class PathProblem {
    None,
    NotBelowRoot,   // it does not begin with the root and a name below it
    EmptyName,      // two separators in a row, or one at the end
    DotName,        // "." or "..", which a disk takes for a climb
    RootFolder,     // a folder named as the root below it: a reader takes it for the root again
    TooLong,        // longer than a stored name holds (packformat::kMaxPathLength)
    NotLatin1,      // a character a pack cannot store (names are Latin-1)
    HoldsBackslash, // a name from a disk holding '\', which a pack reads as a separator
    UnsafeName,     // a name no file on this system can have (on Windows: CON, a:b.txt ...)
    CaseTwin,       // it differs only in case from an entry beside it
};

// The words for a name holding a character a pack cannot store.
extern const char kNotLatin1Reason[];

// The verdict on a path: no problem, or the problem and one sentence for
// people, to follow the path and a colon. Paths in it are UTF-8 with '/',
// to be made printable with the rest of the message where it is shown.
struct PathCheck
{
    PathProblem problem = PathProblem::None;
    std::string reason;
    explicit operator bool() const { return problem == PathProblem::None; }
};

// Whether `path` (the pack's form) may be written into a pack. Every name
// is checked but the names beside it: a case twin needs the pack, and is
// found by the caller that holds it (CaseTwinCheck says it in words).
PathCheck CheckPackPath(const std::string &path);

// Whether `path` may be a folder of a pack that files go into: the root,
// or a path below it whose every name is a folder's.
PathCheck CheckPackFolder(const std::string &path);

// The path of `diskName` (a name on a disk, in the disk's encoding) in the
// pack's folder `folder`, into `path`, and whether it may stand there as a
// file or, with `isFolder`, as a folder. A name holding a character a pack
// cannot store, or a '\' that a pack reads as a separator, is refused too.
PathCheck CheckDiskName(const std::string &folder, const std::string &diskName, bool isFolder, std::string *path);

// The verdict for `path`, whose name differs only in case from `twin`
// beside it (both the pack's form): Windows, where the game runs, takes
// the two for one file.
PathCheck CaseTwinCheck(const std::string &twin);

// A pack name (Latin-1) with another one, ignoring case as Windows does.
bool SameNameIgnoringCase(const std::string &a, const std::string &b);

// A path the user typed, read the way `list` prints paths: '/' between the
// names, and inside a name \n, \r, \t, \\ and \xHH (a Latin-1 code) for the
// characters `list` escapes; a '\' that starts none of these separates
// names. A path holding no '/' is in the pack's own form instead (and
// Windows'): every '\' separates names and nothing is an escape. One '/'
// or '\' at the end, as `list` marks a folder, is dropped. Text that is no
// UTF-8 is taken as the pack's own Latin-1 bytes.
//
// In the pack's form, or nothing when it holds a character a pack cannot
// store (PathProblem::NotLatin1).
std::optional<std::string> PackPathFromTyped(const std::string &typed);
// The same path in the form patterns match: UTF-8, '/' between the names.
std::string SlashPathFromTyped(const std::string &typed);

// A folder the user typed for things to go into (add --at, a mount's
// target), in the pack's form: a path below the root, or a path of folders
// taken to be below it ("gfx" is content\gfx). Nothing, with `reason`,
// when it is empty or cannot be such a folder.
std::optional<std::string> PackFolderFromTyped(const std::string &typed, std::string *reason);

} // namespace zarnik
