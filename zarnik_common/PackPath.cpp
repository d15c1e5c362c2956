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

uint64_t CountFiles(const ArchiveNode *node)
{
    if (!node->IsFolder())
        return 1;
    uint64_t count = 0;
    for (const ArchiveNode *child : node->m_Children)
        count += CountFiles(child);
    return count;
}

} // namespace zarnik
