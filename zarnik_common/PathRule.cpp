// The one rule for pack paths, and the one reading of a typed path.
#include "PathRule.h"

#include "PackFormat.h"
#include "PackPath.h"

namespace zarnik {

const char kNotLatin1Reason[] = "a pack stores names in Latin-1, and this one holds other characters";

namespace {

const char kSeparator = '\\';

PathCheck Refused(PathProblem problem, std::string reason)
{
    return {problem, std::move(reason)};
}

// `name` quoted inside a sentence.
std::string Quoted(const std::string &latin1)
{
    return "'" + Utf8Path(latin1) + "'";
}

PathCheck CheckName(const std::string &name, bool isFolder)
{
    if (name.empty())
        return Refused(PathProblem::EmptyName, "an empty name (two separators in a row, or one at the end)");
    if (name == "." || name == "..")
        return Refused(PathProblem::DotName, Quoted(name) + " is no name in a pack");
    // A file may bear the root's name; a folder would take a reader back
    // to the root, and its files with it.
    if (isFolder && name == kRootName)
        return Refused(PathProblem::RootFolder, std::string("a folder named \"") + kRootName +
                                                    "\" below the root is read as the root again");
    // What extraction could never write here is no name for a pack.
    if (!IsSafeName(FileSystemName(name)))
        return Refused(PathProblem::UnsafeName, Quoted(name) + " is no name a file can have on this system");
    return {};
}

// Every name after the root; the last one is a folder's when `lastIsFolder`.
PathCheck CheckNames(const std::string &path, bool lastIsFolder)
{
    const std::string root = std::string(kRootName) + kSeparator;
    if (path.compare(0, root.size(), root) != 0 || path.size() == root.size())
        return Refused(PathProblem::NotBelowRoot,
                       std::string("a path in a pack begins with ") + kRootName + "/ and names something below it");
    if (!packformat::FitsNameField(path))
        return Refused(PathProblem::TooLong,
                       "longer than the " + std::to_string(packformat::kMaxPathLength) + " bytes a reader takes");
    for (size_t start = root.size();;) {
        const size_t end = path.find(kSeparator, start);
        const bool last = end == std::string::npos;
        const PathCheck name = CheckName(path.substr(start, last ? std::string::npos : end - start),
                                         !last || lastIsFolder);
        if (!name || last)
            return name;
        start = end + 1;
    }
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned HexValue(char c)
{
    return c <= '9' ? unsigned(c - '0') : unsigned((c | 0x20) - 'a' + 10);
}

// The character a list-form escape at `at` (a '\') stands for, with its
// length; a length of 0 when the '\' starts none and separates names.
std::string Unescaped(const std::string &text, size_t at, size_t *length)
{
    const char next = at + 1 < text.size() ? text[at + 1] : '\0';
    *length = 2;
    switch (next) {
    case 'n':
        return "\n";
    case 'r':
        return "\r";
    case 't':
        return "\t";
    case '\\':
        return "/"; // a '\' stands between names in a pack
    case 'x':
        if (at + 3 < text.size() && IsHexDigit(text[at + 2]) && IsHexDigit(text[at + 3])) {
            *length = 4;
            // A Latin-1 code, as UTF-8.
            return FileSystemName(std::string(1, char(HexValue(text[at + 2]) * 16 + HexValue(text[at + 3]))));
        }
        break;
    }
    *length = 0;
    return "/";
}

} // namespace

PathCheck CheckPackPath(const std::string &path)
{
    return CheckNames(path, false);
}

PathCheck CheckPackFolder(const std::string &path)
{
    return path == kRootName ? PathCheck() : CheckNames(path, true);
}

PathCheck CheckDiskName(const std::string &folder, const std::string &diskName, bool isFolder, std::string *path)
{
    const std::optional<std::string> latin1 = Latin1FromUtf8(diskName);
    if (!latin1)
        return Refused(PathProblem::NotLatin1, kNotLatin1Reason);
    if (latin1->find(kSeparator) != std::string::npos)
        return Refused(PathProblem::HoldsBackslash, "a name holding '\\' would be read as folders in a pack");
    *path = folder + kSeparator + *latin1;
    return isFolder ? CheckPackFolder(*path) : CheckPackPath(*path);
}

PathCheck CaseTwinCheck(const std::string &twin)
{
    return Refused(PathProblem::CaseTwin, "its name differs only in case from " + Utf8Path(twin) +
                                              " beside it, which Windows takes for the same");
}

bool SameNameIgnoringCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && FoldedLatin1(a) == FoldedLatin1(b);
}

std::string SlashPathFromTyped(const std::string &typed)
{
    // Text that is no UTF-8 holds the pack's own bytes.
    const std::string text = IsUtf8(typed) ? typed : FileSystemName(typed);
    const bool listForm = text.find('/') != std::string::npos;
    std::string path;
    path.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            path.push_back(text[i]);
            continue;
        }
        size_t length = 0;
        path += listForm ? Unescaped(text, i, &length) : "/";
        if (length > 0)
            i += length - 1;
    }
    if (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::optional<std::string> PackPathFromTyped(const std::string &typed)
{
    std::optional<std::string> latin1 = Latin1FromUtf8(SlashPathFromTyped(typed));
    if (latin1)
        *latin1 = WithBackslashes(std::move(*latin1));
    return latin1;
}

std::optional<std::string> PackFolderFromTyped(const std::string &typed, std::string *reason)
{
    std::optional<std::string> folder = PackPathFromTyped(typed);
    if (!folder) {
        *reason = kNotLatin1Reason;
        return std::nullopt;
    }
    while (!folder->empty() && folder->front() == kSeparator)
        folder->erase(0, 1);
    if (folder->empty()) {
        *reason = "an empty path names no folder";
        return std::nullopt;
    }
    const std::string root = std::string(kRootName) + kSeparator;
    if (*folder != kRootName && folder->compare(0, root.size(), root) != 0)
        folder = root + *folder;
    const PathCheck check = CheckPackFolder(*folder);
    if (!check) {
        *reason = check.reason;
        return std::nullopt;
    }
    return folder;
}

} // namespace zarnik
