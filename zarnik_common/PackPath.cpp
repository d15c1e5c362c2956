#include "PackPath.h"

#include "PlatformFile.h"
#include "ZarnikArchive.h"

namespace zarnik {

namespace {

std::string Swapped(std::string path, char from, char to)
{
    for (char &c : path)
        if (c == from)
            c = to;
    return path;
}

} // namespace

std::string WithSlashes(std::string path)
{
    return Swapped(std::move(path), '\\', '/');
}

std::string WithBackslashes(std::string path)
{
    return Swapped(std::move(path), '/', '\\');
}

std::string FileSystemName(const std::string &latin1)
{
    std::string out;
    out.reserve(latin1.size());
    for (unsigned char c : latin1) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::optional<std::string> Latin1FromUtf8(const std::string &utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        // Only the two-byte forms of U+0080..U+00FF have a Latin-1 byte.
        if ((c != 0xC2 && c != 0xC3) || i + 1 >= utf8.size())
            return std::nullopt;
        const unsigned char next = static_cast<unsigned char>(utf8[i + 1]);
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        out.push_back(static_cast<char>(((c & 0x03) << 6) | (next & 0x3F)));
        ++i;
    }
    return out;
}

namespace {

// A device name takes over any name whose part before the first '.' (spaces
// at its end aside) it is, whatever the case.
bool IsDeviceName(const std::string &name)
{
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char &c : stem)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL")
        return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

const char kTemporarySuffix[] = ".zarnik-partial";
// Room for the suffix and an attempt number within the usual 255-byte (or,
// on Windows, 255-character) limit of a name.
const size_t kTemporaryStem = 200;

// The longest name the file systems in use take: 255 bytes on Linux, 255
// UTF-16 units on Windows.
const size_t kLongestName = 255;

bool IsNameEverywhere(const std::string &name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool IsPosixName(const std::string &name)
{
    return IsNameEverywhere(name) && name.size() <= kLongestName;
}

bool IsWindowsName(const std::string &name)
{
    if (!IsNameEverywhere(name))
        return false;
    size_t units = 0;
    for (unsigned char c : name) {
        if (c < 0x20 || std::string("\\:*?\"<>|").find(static_cast<char>(c)) != std::string::npos)
            return false;
        // A UTF-16 unit for each character, two for one past U+FFFF.
        units += (c & 0xC0) != 0x80;
        units += c >= 0xF0;
    }
    return units <= kLongestName && name.back() != '.' && name.back() != ' ' && !IsDeviceName(name);
}

} // namespace

bool IsSafeName(const std::string &name)
{
#ifdef _WIN32
    return IsWindowsName(name);
#else
    return IsPosixName(name);
#endif
}

bool IsPortableName(const std::string &name)
{
    return IsPosixName(name) && IsWindowsName(name);
}

std::string TemporaryName(const std::string &name, int attempt)
{
    size_t keep = name.size() < kTemporaryStem ? name.size() : kTemporaryStem;
    // Back to the first byte of a sequence: a continuation byte is 10xxxxxx.
    while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    std::string temporary = name.substr(0, keep) + kTemporarySuffix;
    if (attempt > 1)
        temporary += '-' + std::to_string(attempt);
    return temporary;
}

std::string CaseFolded(const std::string &name)
{
    std::string folded = name;
    for (char &c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

std::string FoldedLatin1(std::string latin1)
{
    for (char &c : latin1)
        c = FoldedLatin1(c);
    return latin1;
}

bool LooksTemporary(const std::string &name)
{
    return CaseFolded(name).find(kTemporarySuffix) != std::string::npos;
}

const char kIndexName[] = "content.vfi";
const char kPackNamePatterns[] = "*.upk *.vfs* content.vfi";

std::string NameAsSystemCompares(const std::string &name)
{
#ifdef _WIN32
    return CaseFolded(name);
#else
    return name;
#endif
}

PackRoute RouteOf(const std::string &path)
{
    const size_t separator = PlatformLastSeparator(path);
    // DATA0.VFS is the file the index names data0.vfs where the disk
    // ignores case.
    const std::string name =
        NameAsSystemCompares(path.substr(separator == std::string::npos ? 0 : separator + 1));
    if (name == kIndexName)
        return PackRoute::WholeIndex;
    if (name.find(".vfs") != std::string::npos)
        return PackRoute::IndexedDataFile;
    return PackRoute::SinglePack;
}

TreeTotals TreeTotals::OfFile(const ArchiveNode &file)
{
    TreeTotals totals;
    totals.files = 1;
    totals.packedFiles = file.IsPacked();
    totals.storedBytes = file.m_PackedSize;
    totals.unpackedBytes = file.m_UnpackedSize;
    return totals;
}

void TreeTotals::AddChild(const ArchiveNode &child, const TreeTotals &below)
{
    *this += below;
    folders += child.IsFolder();
}

TreeTotals &TreeTotals::operator+=(const TreeTotals &other)
{
    files += other.files;
    folders += other.folders;
    packedFiles += other.packedFiles;
    storedBytes += other.storedBytes;
    unpackedBytes += other.unpackedBytes;
    return *this;
}

TreeTotals CountTree(const ArchiveNode *node)
{
    if (!node->IsFolder())
        return TreeTotals::OfFile(*node);
    // Names are at most 260 bytes, so the tree is at most 130 folders deep.
    TreeTotals totals;
    for (const ArchiveNode *child : node->m_Children)
        totals.AddChild(*child, CountTree(child));
    return totals;
}

namespace {

// Length of the UTF-8 sequence at `at`, or 0 when it is not one.
size_t SequenceLength(const std::string &text, size_t at)
{
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // bounds of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
    }
    if (length == 0 || at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[at + i]);
        if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF))
            return 0;
    }
    return length;
}

void AppendHex(std::string &out, unsigned char code)
{
    static const char digits[] = "0123456789abcdef";
    out += "\\x";
    out.push_back(digits[code >> 4]);
    out.push_back(digits[code & 0x0F]);
}

} // namespace

std::string Printable(const std::string &utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x80) {
            const size_t length = SequenceLength(utf8, i);
            const unsigned char next = length ? static_cast<unsigned char>(utf8[i + 1]) : 0;
            if (length == 0)
                AppendHex(out, c); // no UTF-8: the byte itself
            else if (c == 0xC2 && next <= 0x9F)
                AppendHex(out, next); // U+0080..U+009F, the C1 controls
            else
                out.append(utf8, i, length);
            i += length ? length : 1;
            continue;
        }
        if (c == '\\')
#ifdef _WIN32
            out += '\\'; // the separator of Windows paths; no name holds one
#else
            out += "\\\\";
#endif
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20 || c == 0x7F)
            AppendHex(out, c);
        else
            out.push_back(static_cast<char>(c));
        ++i;
    }
    return out;
}

bool IsUtf8(const std::string &text)
{
    for (size_t i = 0; i < text.size();) {
        const size_t length = static_cast<unsigned char>(text[i]) < 0x80 ? 1 : SequenceLength(text, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string Utf8Path(const std::string &latin1)
{
    return WithSlashes(FileSystemName(latin1));
}

std::string ShownPath(const std::string &latin1)
{
    return Printable(Utf8Path(latin1));
}

} // namespace zarnik
