// The changes of a writable mount, laid over the pack's tree: new and
// rewritten files (their bytes in the change folder), new folders, files
// and folders removed, renamed and moved. What did not change is the
// tree's own and is read from the pack as in a read-only mount.
//
// Inodes: the tree's entry N is inode N + 1 as in a read-only mount, and a
// file or folder made through the mount takes the next free number. A
// folder's children are the tree's until the first change among them;
// from then on the folder keeps its own list. Each change is written to
// the change folder's journal as it is made, so that taking the journal up
// again (after a kill, a restart) makes the same tree.
//
// Names a pack cannot hold are refused when they are made, with the error
// a program understands (EILSEQ, ENAMETOOLONG, EINVAL), and a pack that
// would grow past what a reader addresses with EFBIG.
#pragma once

#include "ChangeFolder.h"
#include "MountTree.h"
#include "ZarnikArchive.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zarnik_mount {

class CWriteLayer
{
public:
    // `archive` and `tree` outlive this. `packLimit`: the largest pack
    // (each data file of a set) the changes may lead to.
    CWriteLayer(const zarnik::CZarnikArchive &archive, const CMountTree &tree, std::unique_ptr<CChangeFolder> folder,
                uint64_t packLimit);

    // Makes the changes the journal holds again; one line for each that
    // could not be made (the pack changed meanwhile).
    std::vector<std::string> TakeUp();
    // Whether the pack's files are still as they were when the first
    // change waiting was made.
    bool PackAsBefore() const;
    CChangeFolder &Folder() { return *m_Folder; }

    struct Attributes
    {
        bool folder = false;
        bool pack = false; // a file whose bytes are its tree entry's in the pack
        uint64_t size = 0; // of a changed file
        struct timespec time = {};
    };
    // 0, or ENOENT.
    int AttributesOf(uint64_t inode, Attributes *attributes) const;
    // The child `name` of folder `parent`: 0 with its inode, or ENOENT, ENOTDIR.
    int Lookup(uint64_t parent, std::string_view name, uint64_t *inode) const;
    // Hands the children of folder `inode` from the `from`th on, in name
    // order, to `take` until it returns false: 0, or ENOENT, ENOTDIR.
    using Take = std::function<bool(const std::string &name, uint64_t child)>;
    int List(uint64_t inode, size_t from, const Take &take) const;
    // The tree entry whose bytes `inode` shows, or -1 for any other.
    int64_t PackEntryOf(uint64_t inode) const;

    // Each returns 0 or the error, and changes nothing on an error.
    int Create(uint64_t parent, const std::string &name, uint64_t *inode);
    int MakeFolder(uint64_t parent, const std::string &name, uint64_t *inode);
    int Remove(uint64_t parent, const std::string &name, bool folder);
    int Move(uint64_t parent, const std::string &name, uint64_t newParent, const std::string &newName,
             bool noReplace);
    // Opens the bytes of file `inode` for reading and writing: a file that
    // still shows the pack's bytes is copied into the change folder first,
    // unless `empty` asks for it emptied. The descriptor, for Write and
    // ChangeFileClose.
    int OpenChanged(uint64_t inode, bool forWriting, bool empty, zarnik::PlatformFile **fd);
    int Write(zarnik::PlatformFile *fd, uint64_t offset, const char *data, size_t count);
    int Resize(uint64_t inode, uint64_t size);

    // Every file of the tree as it stands, in path order, and the folders
    // that hold none.
    struct File
    {
        std::string packPath;                      // the pack's form
        const zarnik::ArchiveNode *node = nullptr; // the pack's entry whose bytes it shows, or null
        std::string changed;                       // else its bytes' file in the change folder
    };
    struct Snapshot
    {
        std::vector<File> files;
        std::vector<std::string> emptyFolders; // the pack's form
        std::vector<const zarnik::ArchiveNode *> shown; // the pack's files the mount showed at the start
        std::vector<std::string> problems;     // names a pack could not hold
    };
    Snapshot TakeSnapshot() const;
    // Stops changes until the hold ends, for a save to read a still tree.
    std::unique_lock<std::shared_mutex> HoldChanges() { return std::unique_lock<std::shared_mutex>(m_Writes); }
    // From now on every change is refused (EROFS): saved or dropped.
    void Close() { m_Closed = true; }
    bool Closed() const { return m_Closed; }

private:
    struct Node
    {
        uint64_t parent = 0;
        std::string name;
        bool folder = false;
        bool listed = false;                      // a folder whose children are `children`
        std::map<std::string, uint64_t> children; // name to inode
        uint64_t changed = 0;                     // a file's change file, 0: the pack's bytes
        struct timespec time = {};
    };
    bool IsTreeInode(uint64_t inode) const { return inode >= 1 && inode <= m_Tree.Size(); }
    const Node *Find(uint64_t inode) const;
    Node &Touch(uint64_t inode);
    // The children of a folder, as its own from now on.
    std::map<std::string, uint64_t> &Children(uint64_t folder);
    bool Exists(uint64_t inode) const;
    bool IsFolder(uint64_t inode) const;
    std::string NameOf(uint64_t inode) const;
    uint64_t ParentOf(uint64_t inode) const;
    // '/'-separated, below the top ("content/a.txt").
    std::string MountPath(uint64_t inode) const;
    std::string ChildPath(uint64_t parent, const std::string &name) const;
    // Lookup and List for a caller that holds the lock.
    int Child(uint64_t parent, std::string_view name, uint64_t *inode) const;
    int Each(uint64_t inode, size_t from, const Take &take) const;
    int ResolvePath(const std::string &path, uint64_t *inode) const;
    // 0 when a file or (`isFolder`) a folder named `name` may stand in
    // `parent` in place of `self` (0: a new one), whose longest path below
    // it is `below` bytes.
    int NameProblem(uint64_t parent, const std::string &name, uint64_t self, bool isFolder, size_t below) const;
    size_t LongestBelow(uint64_t inode) const;
    void Detach(uint64_t inode);
    // The size of change file `file`, 0 when it cannot be had.
    int64_t ChangedSize(uint64_t file) const;
    // The bytes a changed file holds no longer count.
    void Drop(uint64_t inode);
    int Record(const std::string &line);
    int Changing() const;

    // The changes themselves, as Create ... Move make them and TakeUp again.
    // `record` writes the change to the journal once it is known to be
    // possible and before anything changes; none when taking it up.
    using Recorder = std::function<int()>;
    int DoCreate(uint64_t parent, const std::string &name, uint64_t changed, uint64_t *inode,
                 const Recorder &record);
    int DoMakeFolder(uint64_t parent, const std::string &name, uint64_t *inode, const Recorder &record);
    int DoRemove(uint64_t parent, const std::string &name, bool folder, const Recorder &record);
    int DoMove(uint64_t parent, const std::string &name, uint64_t newParent, const std::string &newName,
               bool noReplace, const Recorder &record);
    int CopyOut(uint64_t inode, bool empty, uint64_t *changed);
    void Walk(uint64_t inode, const std::string &packPath, Snapshot &out) const;

    const zarnik::CZarnikArchive &m_Archive;
    const CMountTree &m_Tree;
    std::unique_ptr<CChangeFolder> m_Folder;
    const uint64_t m_PackLimit;
    std::vector<uint32_t> m_TreeParent; // each tree entry's parent's inode
    mutable std::shared_mutex m_Lock;   // the tree of nodes
    std::shared_mutex m_Writes;         // shared by changes, whole for a save
    std::unordered_map<uint64_t, Node> m_Nodes; // every node changed or made
    uint64_t m_NextInode;
    uint64_t m_NextFile;
    std::atomic<int64_t> m_Projected; // the pack's size as the changes would make it
    std::atomic<bool> m_Closed{false};
};

} // namespace zarnik_mount
