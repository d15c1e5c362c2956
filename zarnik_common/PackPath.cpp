#include "PackPath.h"

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

bool IsSafeName(const std::string &name)
{
    return name != "." && name != ".." && name.find('/') == std::string::npos;
}

TreeTotals CountTree(const ArchiveNode *node)
{
    TreeTotals totals;
    // Names are at most 260 bytes, so the tree is at most 130 folders deep.
    const auto add = [&totals](const ArchiveNode *n, const auto &self) -> void {
        if (n->IsFolder()) {
            ++totals.folders;
            for (const ArchiveNode *child : n->m_Children)
                self(child, self);
            return;
        }
        ++totals.files;
        totals.packedFiles += n->IsPacked();
        totals.storedBytes += n->m_PackedSize;
        totals.unpackedBytes += n->m_UnpackedSize;
    };
    add(node, add);
    return totals;
}

} // namespace zarnik
