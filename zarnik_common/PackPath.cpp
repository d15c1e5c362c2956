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

namespace {

#ifdef _WIN32
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
#endif

const char kTemporarySuffix[] = ".zarnik-partial";
// Room for the suffix and an attempt number within the usual 255-byte (or,
// on Windows, 255-character) limit of a name.
const size_t kTemporaryStem = 200;
const char kIndexName[] = "content.vfi";

} // namespace

bool IsSafeName(const std::string &name)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return false;
#ifdef _WIN32
    for (unsigned char c : name)
        if (c < 0x20 || std::string("\\:*?\"<>|").find(static_cast<char>(c)) != std::string::npos)
            return false;
    if (name.back() == '.' || name.back() == ' ' || IsDeviceName(name))
        return false;
#endif
    return true;
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

bool LooksTemporary(const std::string &name)
{
    return CaseFolded(name).find(kTemporarySuffix) != std::string::npos;
}

const char kPackNamePatterns[] = "*.upk *.vfs* content.vfi";

PackRoute RouteOf(const std::string &path)
{
    const size_t separator = PlatformLastSeparator(path);
    const std::string name = path.substr(separator == std::string::npos ? 0 : separator + 1);
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

} // namespace zarnik
