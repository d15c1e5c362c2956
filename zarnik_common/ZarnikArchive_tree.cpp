// The folder tree: the flat entry list becomes folders and files under the
// root "content", with every folder findable by its path.
#include "ZarnikArchive.h"

#include "Check.h"

#include <cstring>

bool CZarnikArchive::BuildTree(const std::vector<ArchiveNode *> &files)
{
    // A second build starts a fresh tree: folders of an earlier one must not
    // be found again through the map while the new root no longer leads to
    // them. Earlier nodes stay owned by the archive.
    m_Nodes.clear();
    m_LastFolder = nullptr;
    m_LastFolderKey.clear();

    m_Root = NewNode();
    m_Root->m_Name = "content";
    m_Root->m_Path = "content";
    m_Nodes["content"] = m_Root;

    for (ArchiveNode *file : files)
        AddNode(file->m_Path, file);
    return true;
}

ArchiveNode *CZarnikArchive::FindNode(const std::string &path) const
{
    const auto it = m_Nodes.find(path);
    return it == m_Nodes.end() ? nullptr : it->second;
}

// Places one file. The segments before the last backslash lead, folder by
// folder, to the folder that receives the file. The first segment, and any
// later segment "content", set the current path without a lookup; every
// other segment is a folder below the current path, made when first met.
// Where a folder has no parent (a path such as data\sub\x.bin) the check
// fails and the file is left out: it returns null.
ArchiveNode *CZarnikArchive::AddNode(std::string path, ArchiveNode *file)
{
    const size_t last = path.rfind('\\');
    ArchiveNode *lastDir = m_Root;

    if (last != std::string::npos) {
        // The walk depends only on the folder part and folders are never
        // removed, so a file in the same folder as the one before it lands
        // where that one did.
        if (m_LastFolder && m_LastFolderKey.size() == last + 1 &&
            path.compare(0, last + 1, m_LastFolderKey) == 0) {
            lastDir = m_LastFolder;
        } else {
            std::string current;
            size_t start = 0;
            while (start <= last) {
                const size_t pos = path.find('\\', start);
                const char *segment = path.data() + start;
                const size_t segmentLength = pos - start;
                if (current.empty() ||
                    (segmentLength == 7 && std::memcmp(segment, "content", 7) == 0)) {
                    current.assign(segment, segmentLength);
                } else {
                    ArchiveNode *parent = FindNode(current);
                    if (!ZARNIK_CHECK(NULL != parent))
                        return nullptr;
                    std::string folderPath;
                    folderPath.reserve(current.size() + 1 + segmentLength);
                    folderPath.append(current).append(1, '\\').append(segment, segmentLength);
                    ArchiveNode *folder = FindNode(folderPath);
                    if (!folder) {
                        folder = NewNode();
                        folder->m_Name.assign(segment, segmentLength);
                        folder->m_Path = folderPath;
                        parent->m_Children.push_back(folder);
                        m_Nodes.emplace(folderPath, folder);
                    }
                    lastDir = folder;
                    current.swap(folderPath);
                }
                start = pos + 1;
            }
            m_LastFolderKey.assign(path, 0, last + 1);
            m_LastFolder = lastDir;
        }
    }

    if (!ZARNIK_CHECK(NULL != lastDir))
        return nullptr;
    file->m_Name.assign(path, last == std::string::npos ? 0 : last + 1, std::string::npos);
    lastDir->m_Children.push_back(file);
    return file;
}
