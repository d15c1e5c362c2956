#include "WriteLayer.h"

#include "MountNames.h"
#include "PackPath.h"
#include "PackFormat.h"

#include <cerrno>
#include <cstring>
#include <mutex>

namespace zarnik_mount {

using zarnik::ArchiveNode;

namespace {

// What an entry adds to a pack beside its bytes: its header and name, once
// in the data and once in the table.
int64_t EntryCost(const std::string &packPath)
{
    return 2 * int64_t(zarnik::packformat::EncodedEntrySize(packPath));
}

// "a/b/c" as "a/b" and "c".
std::pair<std::string, std::string> SplitLast(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {std::string(), path};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

} // namespace

CWriteLayer::CWriteLayer(const zarnik::CZarnikArchive &archive, const CMountTree &tree,
                         std::unique_ptr<CChangeFolder> folder, uint64_t packLimit)
    : m_Archive(archive), m_Tree(tree), m_Folder(std::move(folder)), m_PackLimit(packLimit),
      m_TreeParent(tree.Size(), 0), m_NextInode(tree.Size() + 1), m_NextFile(m_Folder->HighestFile() + 1)
{
    for (uint32_t i = 0; i < tree.Size(); ++i) {
        const MountEntry &entry = tree.At(i);
        for (uint32_t c = 0; entry.IsFolder() && c < entry.children; ++c)
            m_TreeParent[entry.firstChild + c] = i + 1;
    }
    // New files go to the set's last data file, the one that grows.
    const size_t files = archive.GetDataFileCount();
    m_Projected = files ? int64_t(archive.GetDataFileSize(files - 1)) : 0;
}

bool CWriteLayer::PackAsBefore() const
{
    // Deleted originals must be read no more: a pack replaced under its
    // name by another program is another pack.
    return StampsOf(m_Archive, m_Folder->PackPath()) == m_Folder->Base();
}

const CWriteLayer::Node *CWriteLayer::Find(uint64_t inode) const
{
    const auto it = m_Nodes.find(inode);
    return it == m_Nodes.end() ? nullptr : &it->second;
}

CWriteLayer::Node &CWriteLayer::Touch(uint64_t inode)
{
    auto it = m_Nodes.find(inode);
    if (it != m_Nodes.end())
        return it->second;
    Node &node = m_Nodes[inode];
    const MountEntry &entry = m_Tree.At(uint32_t(inode - 1));
    node.parent = m_TreeParent[inode - 1];
    node.name = entry.name;
    node.folder = entry.IsFolder();
    return node;
}

std::map<std::string, uint64_t> &CWriteLayer::Children(uint64_t folder)
{
    Node &node = Touch(folder);
    if (!node.listed && IsTreeInode(folder)) {
        const MountEntry &entry = m_Tree.At(uint32_t(folder - 1));
        for (uint32_t c = 0; c < entry.children; ++c)
            node.children.emplace(m_Tree.At(entry.firstChild + c).name, entry.firstChild + c + 1);
    }
    node.listed = true;
    return node.children;
}

bool CWriteLayer::Exists(uint64_t inode) const
{
    if (inode == 1)
        return true;
    const uint64_t parent = ParentOf(inode);
    uint64_t found = 0;
    return parent && Child(parent, NameOf(inode), &found) == 0 && found == inode && Exists(parent);
}

bool CWriteLayer::IsFolder(uint64_t inode) const
{
    const Node *node = Find(inode);
    return node ? node->folder : IsTreeInode(inode) && m_Tree.At(uint32_t(inode - 1)).IsFolder();
}

std::string CWriteLayer::NameOf(uint64_t inode) const
{
    const Node *node = Find(inode);
    return node ? node->name : IsTreeInode(inode) ? m_Tree.At(uint32_t(inode - 1)).name : std::string();
}

uint64_t CWriteLayer::ParentOf(uint64_t inode) const
{
    const Node *node = Find(inode);
    return node ? node->parent : IsTreeInode(inode) ? m_TreeParent[inode - 1] : 0;
}

std::string CWriteLayer::MountPath(uint64_t inode) const
{
    std::string path;
    for (; inode > 1; inode = ParentOf(inode))
        path = NameOf(inode) + (path.empty() ? "" : "/") + path;
    return path;
}

std::string CWriteLayer::ChildPath(uint64_t parent, const std::string &name) const
{
    const std::string path = MountPath(parent);
    return path.empty() ? name : path + "/" + name;
}

int CWriteLayer::ResolvePath(const std::string &path, uint64_t *inode) const
{
    *inode = 1;
    for (size_t at = 0; at <= path.size();) {
        const size_t end = std::min(path.find('/', at), path.size());
        if (Child(*inode, std::string_view(path).substr(at, end - at), inode) != 0)
            return ENOENT;
        at = end + 1;
    }
    return 0;
}

int CWriteLayer::AttributesOf(uint64_t inode, Attributes *attributes) const
{
    std::shared_lock<std::shared_mutex> hold(m_Lock);
    const Node *node = Find(inode);
    if (!node && !IsTreeInode(inode))
        return ENOENT;
    attributes->folder = IsFolder(inode);
    attributes->pack = !attributes->folder && (!node || node->changed == 0);
    attributes->time = node ? node->time : timespec{};
    if (node && node->changed) {
        zarnik::PlatformFile *const fd = m_Folder->OpenFile(node->changed);
        if (fd) {
            ChangeFileSize(fd, &attributes->size);
            attributes->time = ChangeFileTime(fd);
            ChangeFileClose(fd);
        }
    }
    return 0;
}

int CWriteLayer::Lookup(uint64_t parent, std::string_view name, uint64_t *inode) const
{
    std::shared_lock<std::shared_mutex> hold(m_Lock);
    return Child(parent, name, inode);
}

int CWriteLayer::Child(uint64_t parent, std::string_view name, uint64_t *inode) const
{
    if (!IsFolder(parent))
        return Find(parent) || IsTreeInode(parent) ? ENOTDIR : ENOENT;
    const Node *node = Find(parent);
    if (node && node->listed) {
        const auto it = node->children.find(std::string(name));
        if (it == node->children.end())
            return ENOENT;
        *inode = it->second;
        return 0;
    }
    const MountEntry *child = m_Tree.Child(m_Tree.At(uint32_t(parent - 1)), name);
    if (!child)
        return ENOENT;
    *inode = m_Tree.IndexOf(*child) + 1;
    return 0;
}

int CWriteLayer::List(uint64_t inode, size_t from, const Take &take) const
{
    std::shared_lock<std::shared_mutex> hold(m_Lock);
    return Each(inode, from, take);
}

int CWriteLayer::Each(uint64_t inode, size_t from, const Take &take) const
{
    if (!IsFolder(inode))
        return Find(inode) || IsTreeInode(inode) ? ENOTDIR : ENOENT;
    const Node *node = Find(inode);
    if (node && node->listed) {
        if (from >= node->children.size())
            return 0;
        for (auto it = std::next(node->children.begin(), ptrdiff_t(from)); it != node->children.end(); ++it)
            if (!take(it->first, it->second))
                break;
        return 0;
    }
    const MountEntry &folder = m_Tree.At(uint32_t(inode - 1));
    for (size_t c = from; c < folder.children; ++c)
        if (!take(m_Tree.At(folder.firstChild + uint32_t(c)).name, folder.firstChild + c + 1))
            break;
    return 0;
}

int64_t CWriteLayer::PackEntryOf(uint64_t inode) const
{
    std::shared_lock<std::shared_mutex> hold(m_Lock);
    const Node *node = Find(inode);
    if (!IsTreeInode(inode) || (node && node->changed) || IsFolder(inode))
        return -1;
    return int64_t(inode - 1);
}

size_t CWriteLayer::LongestBelow(uint64_t inode) const
{
    size_t longest = 0;
    Each(inode, 0, [&](const std::string &name, uint64_t child) {
        const std::optional<std::string> latin1 = zarnik::Latin1FromUtf8(name);
        longest = std::max(longest, 1 + (latin1 ? latin1->size() : name.size()) +
                                        (IsFolder(child) ? LongestBelow(child) : 0));
        return true;
    });
    return longest;
}

int CWriteLayer::NameProblem(uint64_t parent, const std::string &name, uint64_t self, bool isFolder,
                             size_t below) const
{
    if (parent == 1)
        return EPERM; // the top holds the pack's root folder alone
    std::vector<std::string> siblings;
    Each(parent, 0, [&](const std::string &sibling, uint64_t child) {
        if (child != self)
            siblings.push_back(sibling);
        return true;
    });
    return NameErrno(MountPath(parent), name, isFolder, below, siblings);
}

int CWriteLayer::Changing() const
{
    return m_Closed ? EROFS : 0;
}

int CWriteLayer::Record(const std::string &line)
{
    return m_Folder->Append(line) ? 0 : ChangeError();
}

void CWriteLayer::Detach(uint64_t inode)
{
    Children(ParentOf(inode)).erase(NameOf(inode));
}

int64_t CWriteLayer::ChangedSize(uint64_t file) const
{
    uint64_t size = 0;
    zarnik::PlatformFile *const fd = m_Folder->OpenFile(file);
    if (fd && ChangeFileSize(fd, &size) != 0)
        size = 0;
    if (fd)
        ChangeFileClose(fd);
    return int64_t(size);
}

void CWriteLayer::Drop(uint64_t inode)
{
    const Node *node = Find(inode);
    const std::string path = MountPath(inode);
    if (node && node->changed) {
        m_Projected -= ChangedSize(node->changed);
        m_Folder->RemoveFile(node->changed);
    } else if (IsTreeInode(inode)) {
        m_Projected -= int64_t(m_Tree.At(uint32_t(inode - 1)).node->m_PackedSize);
    }
    m_Projected -= EntryCost(path);
}

int CWriteLayer::DoCreate(uint64_t parent, const std::string &name, uint64_t changed, uint64_t *inode,
                          const Recorder &record)
{
    uint64_t existing = 0;
    if (Child(parent, name, &existing) == 0) {
        if (IsFolder(existing))
            return EISDIR;
        if (const int error = record ? record() : 0)
            return error;
        Drop(existing);
        m_Projected += EntryCost(MountPath(existing));
        Touch(existing).changed = changed;
        *inode = existing;
        return 0;
    }
    if (!IsFolder(parent))
        return ENOTDIR;
    if (const int problem = NameProblem(parent, name, 0, false, 0))
        return problem;
    if (const int error = record ? record() : 0)
        return error;
    *inode = m_NextInode++;
    Node &node = m_Nodes[*inode];
    node.parent = parent, node.name = name, node.changed = changed;
    Children(parent)[name] = *inode;
    m_Projected += EntryCost(MountPath(*inode));
    return 0;
}

int CWriteLayer::DoMakeFolder(uint64_t parent, const std::string &name, uint64_t *inode, const Recorder &record)
{
    uint64_t existing = 0;
    if (Child(parent, name, &existing) == 0)
        return EEXIST;
    if (!IsFolder(parent))
        return ENOTDIR;
    if (const int problem = NameProblem(parent, name, 0, true, 1))
        return problem;
    if (const int error = record ? record() : 0)
        return error;
    *inode = m_NextInode++;
    Node &node = m_Nodes[*inode];
    node.parent = parent, node.name = name, node.folder = node.listed = true;
    clock_gettime(CLOCK_REALTIME, &node.time);
    Children(parent)[name] = *inode;
    return 0;
}

int CWriteLayer::DoRemove(uint64_t parent, const std::string &name, bool folder, const Recorder &record)
{
    uint64_t inode = 0;
    if (const int error = Child(parent, name, &inode))
        return error;
    if (inode <= 2)
        return EBUSY; // the top and the pack's root stay
    if (IsFolder(inode) != folder)
        return folder ? ENOTDIR : EISDIR;
    bool empty = true;
    Each(inode, 0, [&](const std::string &, uint64_t) { return empty = false; });
    if (!empty)
        return ENOTEMPTY;
    if (const int error = record ? record() : 0)
        return error;
    if (!folder)
        Drop(inode);
    Detach(inode);
    return 0;
}

int CWriteLayer::DoMove(uint64_t parent, const std::string &name, uint64_t newParent, const std::string &newName,
                        bool noReplace, const Recorder &record)
{
    uint64_t inode = 0, target = 0;
    if (const int error = Child(parent, name, &inode))
        return error;
    if (inode <= 2)
        return EBUSY;
    if (!IsFolder(newParent))
        return ENOTDIR;
    for (uint64_t up = newParent; up > 1; up = ParentOf(up))
        if (up == inode)
            return EINVAL; // a folder into itself
    const bool replacing = Child(newParent, newName, &target) == 0;
    if (replacing && target == inode)
        return 0;
    if (replacing && noReplace)
        return EEXIST;
    if (replacing && IsFolder(target) != IsFolder(inode))
        return IsFolder(target) ? EISDIR : ENOTDIR;
    if (const int problem = NameProblem(newParent, newName, replacing ? target : inode, IsFolder(inode),
                                        IsFolder(inode) ? LongestBelow(inode) : 0))
        return problem;
    bool empty = true;
    if (replacing)
        Each(target, 0, [&](const std::string &, uint64_t) { return empty = false; });
    if (!empty)
        return ENOTEMPTY;
    if (const int error = record ? record() : 0)
        return error;
    if (replacing) {
        if (!IsFolder(target))
            Drop(target);
        Detach(target);
    }
    Detach(inode);
    Node &node = Touch(inode);
    node.parent = newParent, node.name = newName;
    Children(newParent)[newName] = inode;
    return 0;
}

int CWriteLayer::Create(uint64_t parent, const std::string &name, uint64_t *inode)
{
    std::shared_lock<std::shared_mutex> writing(m_Writes);
    std::unique_lock<std::shared_mutex> hold(m_Lock);
    if (const int error = Changing())
        return error;
    const uint64_t file = m_NextFile++;
    zarnik::PlatformFile *const fd = m_Folder->MakeFile(file);
    if (!fd)
        return ChangeError();
    ChangeFileClose(fd);
    const int error = DoCreate(parent, name, file, inode, [&] {
        return Record("file " + std::to_string(file) + " " + JournalWord(ChildPath(parent, name)));
    });
    if (error)
        m_Folder->RemoveFile(file);
    return error;
}

int CWriteLayer::MakeFolder(uint64_t parent, const std::string &name, uint64_t *inode)
{
    std::shared_lock<std::shared_mutex> writing(m_Writes);
    std::unique_lock<std::shared_mutex> hold(m_Lock);
    if (const int error = Changing())
        return error;
    return DoMakeFolder(parent, name, inode,
                        [&] { return Record("folder " + JournalWord(ChildPath(parent, name))); });
}

int CWriteLayer::Remove(uint64_t parent, const std::string &name, bool folder)
{
    std::shared_lock<std::shared_mutex> writing(m_Writes);
    std::unique_lock<std::shared_mutex> hold(m_Lock);
    if (const int error = Changing())
        return error;
    return DoRemove(parent, name, folder,
                    [&] { return Record("remove " + JournalWord(ChildPath(parent, name))); });
}

int CWriteLayer::Move(uint64_t parent, const std::string &name, uint64_t newParent, const std::string &newName,
                      bool noReplace)
{
    std::shared_lock<std::shared_mutex> writing(m_Writes);
    std::unique_lock<std::shared_mutex> hold(m_Lock);
    if (const int error = Changing())
        return error;
    return DoMove(parent, name, newParent, newName, noReplace, [&] {
        return Record("move " + JournalWord(ChildPath(parent, name)) + " " +
                      JournalWord(ChildPath(newParent, newName)));
    });
}

// Copies the pack's bytes of file `inode` into a new change file (none
// with `empty`), outside the lock: a big file takes a while.
int CWriteLayer::CopyOut(uint64_t inode, bool empty, uint64_t *changed)
{
    const ArchiveNode &node = *m_Tree.At(uint32_t(inode - 1)).node;
    uint64_t file = 0;
    {
        std::unique_lock<std::shared_mutex> hold(m_Lock);
        file = m_NextFile++;
    }
    zarnik::PlatformFile *const fd = m_Folder->MakeFile(file);
    if (!fd)
        return ChangeError();
    int error = 0;
    uint64_t at = 0;
    if (!empty) {
        const int64_t growth = int64_t(node.m_UnpackedSize) - int64_t(node.m_PackedSize);
        if (m_Projected + growth > int64_t(m_PackLimit))
            error = EFBIG;
        const zarnik::ReadOutcome read =
            error ? zarnik::ReadOutcome::Sound
                  : m_Archive.StreamFileData(node,
                                             [&](const unsigned char *data, size_t size) {
                                                 const int put = ChangeFileWrite(fd, at, reinterpret_cast<const char *>(data), size);
                                                 at += size;
                                                 error = put < 0 ? -put : 0;
                                                 return put >= 0;
                                             },
                                             {});
        if (!error && read != zarnik::ReadOutcome::Sound)
            error = EIO;
    }
    ChangeFileClose(fd);
    std::unique_lock<std::shared_mutex> hold(m_Lock);
    const Node *now = Find(inode);
    if (!error && (now && now->changed)) // another open copied it first
        error = EAGAIN;
    if (!error && !Exists(inode))
        error = ENOENT;
    if (!error)
        error = Record("file " + std::to_string(file) + " " + JournalWord(MountPath(inode)));
    if (error) {
        m_Folder->RemoveFile(file);
        return error == EAGAIN ? 0 : error;
    }
    m_Projected += int64_t(at) - int64_t(node.m_PackedSize);
    Touch(inode).changed = file;
    *changed = file;
    return 0;
}

int CWriteLayer::OpenChanged(uint64_t inode, bool forWriting, bool empty, zarnik::PlatformFile **fd)
{
    std::shared_lock<std::shared_mutex> writing(m_Writes, std::defer_lock);
    if (forWriting) {
        writing.lock();
        if (const int error = Changing())
            return error;
    }
    uint64_t changed = 0;
    {
        std::shared_lock<std::shared_mutex> hold(m_Lock);
        const Node *node = Find(inode);
        if (!node && !IsTreeInode(inode))
            return ENOENT;
        if (IsFolder(inode))
            return EISDIR;
        changed = node ? node->changed : 0;
    }
    if (!changed && !forWriting)
        return EINVAL; // read from the pack
    if (!changed)
        if (const int error = CopyOut(inode, empty, &changed))
            return error;
    if (!changed) { // copied by another open meanwhile
        std::shared_lock<std::shared_mutex> hold(m_Lock);
        changed = Find(inode)->changed;
    }
    *fd = m_Folder->OpenFile(changed);
    if (!*fd)
        return ChangeError();
    if (empty) {
        uint64_t size = 0;
        ChangeFileSize(*fd, &size);
        ChangeFileResize(*fd, 0);
        m_Projected -= int64_t(size);
    }
    return 0;
}

int CWriteLayer::Write(zarnik::PlatformFile *fd, uint64_t offset, const char *data, size_t count)
{
    std::shared_lock<std::shared_mutex> writing(m_Writes);
    if (const int error = Changing())
        return -error;
    uint64_t size = 0;
    if (const int error = ChangeFileSize(fd, &size))
        return -error;
    const uint64_t end = offset + count;
    const int64_t growth = end > size ? int64_t(end - size) : 0;
    // A file, or the pack, past what a reader addresses could never be saved.
    if (end > m_PackLimit || m_Projected + growth > int64_t(m_PackLimit))
        return -EFBIG;
    m_Projected += growth;
    const int written = ChangeFileWrite(fd, offset, data, count);
    if (written < 0)
        m_Projected -= growth;
    return written;
}

int CWriteLayer::Resize(uint64_t inode, uint64_t size)
{
    zarnik::PlatformFile *fd = nullptr;
    if (const int error = OpenChanged(inode, true, size == 0, &fd))
        return error;
    std::shared_lock<std::shared_mutex> writing(m_Writes);
    uint64_t old = 0;
    int error = Changing();
    if (!error)
        error = ChangeFileSize(fd, &old);
    const int64_t growth = int64_t(size) - int64_t(old);
    if (!error && (size > m_PackLimit || m_Projected + growth > int64_t(m_PackLimit)))
        error = EFBIG;
    if (!error)
        error = ChangeFileResize(fd, size);
    if (!error)
        m_Projected += growth;
    ChangeFileClose(fd);
    return error;
}

std::vector<std::string> CWriteLayer::TakeUp()
{
    std::unique_lock<std::shared_mutex> hold(m_Lock);
    std::vector<std::string> problems;
    for (const std::string &line : m_Folder->Journal()) {
        const std::vector<std::string> w = JournalWords(line);
        uint64_t parent = 0, newParent = 0, inode = 0;
        int error = EINVAL;
        const auto at = [&](const std::string &path, uint64_t *folder) {
            return ResolvePath(SplitLast(path).first, folder);
        };
        if (w.size() == 3 && w[0] == "file" && !(error = at(w[2], &parent))) {
            const uint64_t file = std::strtoull(w[1].c_str(), nullptr, 10);
            // The bytes an earlier mount wrote count toward the pack's size
            // as much as this one's will.
            if (!(error = DoCreate(parent, SplitLast(w[2]).second, file, &inode, {})))
                m_Projected += ChangedSize(file);
        }
        else if (w.size() == 2 && w[0] == "folder" && !(error = at(w[1], &parent)))
            error = DoMakeFolder(parent, SplitLast(w[1]).second, &inode, {});
        else if (w.size() == 2 && w[0] == "remove" && !(error = at(w[1], &parent)))
            error = ResolvePath(w[1], &inode) == 0 ? DoRemove(parent, SplitLast(w[1]).second, IsFolder(inode), {}) : ENOENT;
        else if (w.size() == 3 && w[0] == "move" && !(error = at(w[1], &parent)) && !(error = at(w[2], &newParent)))
            error = DoMove(parent, SplitLast(w[1]).second, newParent, SplitLast(w[2]).second, false, {});
        if (error)
            problems.push_back(line + ": " + std::strerror(error));
    }
    return problems;
}

void CWriteLayer::Walk(uint64_t inode, const std::string &packPath, Snapshot &out) const
{
    bool empty = true;
    Each(inode, 0, [&](const std::string &name, uint64_t child) {
        empty = false;
        const Node *node = Find(child);
        const bool inPlace = IsTreeInode(child) &&
                             (!node || (node->parent == m_TreeParent[child - 1] && node->name == m_Tree.At(uint32_t(child - 1)).name));
        std::string path;
        if (inPlace && !packPath.empty() && packPath == m_Tree.At(uint32_t(m_TreeParent[child - 1] - 1)).node->m_Path)
            path = m_Tree.At(uint32_t(child - 1)).node->m_Path;
        else if (const std::optional<std::string> latin1 = zarnik::Latin1FromUtf8(name))
            path = packPath + "\\" + *latin1;
        else
            out.problems.push_back(ChildPath(inode, name));
        if (path.empty())
            return true;
        if (IsFolder(child)) {
            Walk(child, path, out);
        } else {
            File file{path, nullptr, {}};
            if (node && node->changed)
                file.changed = m_Folder->FilePath(node->changed);
            else
                file.node = m_Tree.At(uint32_t(child - 1)).node;
            out.files.push_back(std::move(file));
        }
        return true;
    });
    if (empty)
        out.emptyFolders.push_back(packPath);
}

CWriteLayer::Snapshot CWriteLayer::TakeSnapshot() const
{
    std::shared_lock<std::shared_mutex> hold(m_Lock);
    Snapshot out;
    Walk(2, m_Tree.At(1).node->m_Path, out);
    for (uint32_t i = 0; i < m_Tree.Size(); ++i)
        if (!m_Tree.At(i).IsFolder())
            out.shown.push_back(m_Tree.At(i).node);
    return out;
}

} // namespace zarnik_mount
