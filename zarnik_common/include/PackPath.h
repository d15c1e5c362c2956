// Paths and names of a pack, and how they meet the file system and people.
//
// A pack's paths are 8-bit Latin-1 with '\' between the folders; the tool
// and the tests write them with '/', and on disk a name is UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zarnik {

struct ArchiveNode;

// The name of a pack's root folder, the first name of every path in it. A
// reader takes any folder of this name as the root again.
inline constexpr char kRootName[] = "content";

// Every '\' turned into '/', and every '/' into '\'.
std::string WithSlashes(std::string path);
std::string WithBackslashes(std::string path);

// A name from a pack (8-bit, Latin-1) as a file-system name component: the
// file layer's names are UTF-8, so bytes of 0x80 and above become two.
std::string FileSystemName(const std::string &latin1);
// The way back: UTF-8 text as a pack's Latin-1; nothing when it is not valid
// UTF-8 or holds a character above U+00FF.
std::optional<std::string> Latin1FromUtf8(const std::string &utf8);

// UTF-8 text as it may reach a terminal: a name must neither steer the
// terminal nor split a line. Control characters (below 0x20, 0x7F and
// U+0080..U+009F) become \n, \r, \t or \xHH (the Latin-1 code, lower-case
// hex), a byte that is no UTF-8 becomes \xHH, and '\' becomes \\ so that
// every escape reads back one way (not on Windows, where '\' separates the
// folders of a path and no name holds a control character). Everything the
// tool prints and the explorer shows that comes from a pack or the file
// system goes through here.
std::string Printable(const std::string &utf8);
// Whether `text` is UTF-8 throughout.
bool IsUtf8(const std::string &text);

// A pack path or name in UTF-8 with '/' between the folders, for a message
// that is made printable as a whole where it is shown (the tool prints a
// library's messages through Printable).
std::string Utf8Path(const std::string &latin1);
// A pack path or name as people read it: Utf8Path, then Printable.
std::string ShownPath(const std::string &latin1);

// Whether a file-system name (UTF-8) may be joined onto a directory as one
// segment on this system. Everywhere: not empty, not "." or "..", no '/',
// and no longer than the file systems in use take (255 bytes; on Windows 255
// UTF-16 units). On Windows also none of \ : * ? " < > | or a control
// character, no '.' or ' ' at its end, and no device name (CON, PRN, AUX,
// NUL, COM1-9, LPT1-9, bare or with an extension): a name Windows would
// misread.
bool IsSafeName(const std::string &name);
// Whether `name` is a safe name on Linux and on Windows alike.
bool IsPortableName(const std::string &name);

// The name a file for `name` is written under until it is complete: NAME
// cut to at most 200 bytes (never inside a UTF-8 sequence), then
// ".zarnik-partial", then "-N" for the Nth attempt after the first.
std::string TemporaryName(const std::string &name, int attempt);

// `name` with its ASCII letters made small: names as a disk that ignores case
// compares them.
std::string CaseFolded(const std::string &name);

// `name` as this system's file systems tell names apart: on Windows, which
// ignores case, CaseFolded; elsewhere as it is. Two file names are one file
// when these are equal.
std::string NameAsSystemCompares(const std::string &name);

// A letter of a pack name (Latin-1) as Windows compares names ignoring
// case: it folds the capitals of Latin-1 (0xC0-0xDE, but 0xD7 is the sign
// of multiplication) to their small letters 0x20 above, as it does A-Z.
inline char FoldedLatin1(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    const bool capital = (u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7);
    return capital ? static_cast<char>(u + 0x20) : c;
}
// A whole pack name or path folded so.
std::string FoldedLatin1(std::string latin1);

// True when `name`, in letters of any case, could be a TemporaryName.
bool LooksTemporary(const std::string &name);

// Which files open as what, decided by the file's own name alone (never by
// the folders above it), compared as the system compares names.
enum class PackRoute {
    WholeIndex,      // "content.vfi": the index with every data file it names
    IndexedDataFile, // a name holding ".vfs": that data file through the index beside it
    SinglePack,      // anything else: a single pack
};
PackRoute RouteOf(const std::string &path);
// The name of a set's index: "content.vfi".
extern const char kIndexName[];
// File-dialog patterns for the names of the first two routes and the usual
// name of the third ("*.upk *.vfs* content.vfi"); any other file opens too.
extern const char kPackNamePatterns[];

// What a node holds: a file itself; a folder everything at every depth
// below it (the folder itself is not one of its `folders`).
struct TreeTotals
{
    uint64_t files = 0;
    uint64_t folders = 0;
    uint64_t packedFiles = 0;
    uint64_t storedBytes = 0;
    uint64_t unpackedBytes = 0;

    // A file's own numbers.
    static TreeTotals OfFile(const ArchiveNode &file);
    // Adds a child of the folder counted: what it holds, and itself when it
    // is a folder.
    void AddChild(const ArchiveNode &child, const TreeTotals &below);
    // Adds the totals of another node (several nodes chosen at once).
    TreeTotals &operator+=(const TreeTotals &other);
};
TreeTotals CountTree(const ArchiveNode *node);

} // namespace zarnik
