// EditRecord: the new pack an edit makes of an opened one, kept as a layer
// over the archive's own tree.
//
// Nothing of the archive is copied. A node the edit renamed, moved or
// deleted has a place of its own (a folder and a name, or none); every other
// node stays where the archive put it, below its folder wherever that folder
// went, so that renaming a folder of 200,000 files is one step. The files
// and folders an edit adds are nodes of the record's own. A file whose bytes
// come from disk (added, or replacing an entry's) has its source.
//
// The record answers, for any node or path of the new pack, what it is and
// where it comes from; lists a folder with the entries deleted from it in
// their old places; and counts what each folder holds. Every change is kept
// as the steps that take it back, so that Undo costs what the change cost,
// and says which nodes it touched. It checks nothing: PackEdit checks a
// change before it makes it here.
#pragma once

#include "PackPath.h"
#include "StoredForm.h"
#include "ZarnikArchive.h"

#include <cstdint>
#include <cstddef>
#include <string_view>
#include <deque>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace zarnik_pack {

// The bytes of a file that come from disk: an added file's, or those that
// replace an entry's.
struct DiskSource
{
    std::string path;  // the file, in the system's form
    uint64_t size = 0; // its size when the change was made
    Storage storage = Storage::Auto;
    uint32_t dataFile = 0; // of a .vfs set: the data file an added file goes to
};

// What a node of the record's tree is now.
struct NodeState
{
    bool file = false;     // an entry of the pack or a file the edit added; else a folder
    bool kept = false;     // in the new pack (a folder: some file below it is)
    bool deleted = false;  // shown, but left out of the new pack
    bool added = false;    // a file the edit added, where the old pack held none at its path
    bool replaced = false; // its bytes come from disk in place of an entry's
    bool renamed = false;  // the old pack's, now at another path
};

// What a folder holds: in the new pack, and of the old pack's entries the new
// one leaves out. Totals as the library counts a tree (a stored size of 0 makes
// a folder); `files` below counts the pack's own entries and the files added.
struct FolderTotals
{
    zarnik::TreeTotals kept;    // storedBytes of the entries whose bytes are kept only
    zarnik::TreeTotals deleted;
    uint64_t newFiles = 0;      // of what is kept, the files whose stored size is known once saved
    uint64_t keptFiles = 0;
    uint64_t deletedFiles = 0;
};

// What a change, or its undo, touched: the nodes whose place, name, bytes or
// presence changed, and the folders a node left or entered.
struct EditTouch
{
    std::vector<const zarnik::ArchiveNode *> nodes;
    std::vector<const zarnik::ArchiveNode *> folders;
};

class EditRecord
{
public:
    using Node = zarnik::ArchiveNode;

    // Over the tree below `root`; `entries` are the pack's entries the new
    // pack starts from, in their order, and `excluded` the nodes of the tree
    // it leaves out from the start (what opening passed over).
    EditRecord(const Node *root, std::vector<const Node *> entries, std::unordered_set<const Node *> excluded);
    EditRecord(const EditRecord &) = delete;
    EditRecord &operator=(const EditRecord &) = delete;

    // --- The tree: the new pack's folders and files, and the old pack's
    // entries it leaves out where they stood.
    const Node *Root() const { return m_Root; }
    // The children of `folder` shown: the archive's in its order (deleted
    // ones where they stood, renamed ones under their new names), then those
    // moved or added into it in the order they came. A folder with nothing
    // below it is left out, but one deleted itself.
    std::vector<const Node *> Children(const Node *folder) const;
    // The folder a node is shown in; null for the root.
    const Node *Parent(const Node *node) const;
    const std::string &Name(const Node *node) const;
    // Its path in the new pack ('\' between the folders); for a deleted node
    // its path in the old one.
    std::string Path(const Node *node) const;
    NodeState State(const Node *node) const;
    // Where its bytes come from when they come from disk, else null.
    const DiskSource *Source(const Node *node) const;
    // What a folder holds: counted when first asked for, then kept as the
    // record changes, each step amending the folders above what it touched.
    const FolderTotals &Totals(const Node *folder) const;
    // The node of the new pack at `path` ('\' between the folders), or null;
    // a folder may be one that holds no file any more.
    const Node *Find(const std::string &path) const;
    // The child of `folder` in the new pack named `name`, or null; an empty
    // folder only when nothing else has that name.
    const Node *Child(const Node *folder, const std::string &name) const;
    // The last file of the new pack at or below `folder`, in the tree's order.
    const Node *LastFile(const Node *folder) const;
    // Whether the node is a file of the new pack (or was one of the old):
    // an entry of the pack, whatever its stored size, or a file added.
    bool IsFile(const Node *node) const;
    // Whether the record made the node: a folder or file the edit added.
    bool Made(const Node *node) const { return IsOwn(node); }
    // The nodes moved or added into `folder` or a folder below it.
    std::vector<const Node *> MovedBelow(const Node *folder) const;
    // The length of the longest path of the new pack below `node`, counted
    // from the separator after it; 0 for a file.
    size_t LongestBelow(const Node *node) const;
    // Whether the new pack differs from the old one.
    bool Differs() const { return m_ArchivePlaced != 0 || m_ArchiveSourced != 0 || m_OwnFilesPlaced != 0; }

    // --- The new pack in order: the entries kept, in the old pack's order,
    // each file added after the one it was added behind. `visit` gets each
    // file with its path in the new pack.
    void ForEachFile(const std::function<void(const Node *node, const std::string &path)> &visit) const;
    // The entries the new pack started from, in their order.
    const std::vector<const Node *> &Entries() const { return m_Entries; }
    // Those of them it leaves out, in their order, but those a file added in
    // their place replaces.
    void ForEachDeleted(const std::function<void(const Node *entry)> &visit) const;
    // The old pack's entries that are deleted and stand where a file the
    // edit added stands now, each with that file, which replaces it.
    const std::unordered_map<const Node *, const Node *> &Superseded() const { return m_Superseded; }
    bool Replaces(const Node *file) const { return m_Replacing.count(file) != 0; }

    // --- Changes, each step recorded for Undo.
    const Node *MakeFolder(const Node *parent, const std::string &name);
    // A file of bytes from disk in `parent`, after `after` in the new pack's
    // order (null: at its end).
    const Node *MakeFile(const Node *parent, const std::string &name, const DiskSource &source, const Node *after);
    void Move(const Node *node, const Node *parent, const std::string &name);
    void Remove(const Node *node);
    void SetSource(const Node *node, const DiskSource &source);

    // Steps made between Begin() and End() are one change, which Undo takes
    // back whole; Cancel() takes back the steps made since Begin(). Begin and
    // End nest. Outside them, each step is a change of its own.
    void Begin();
    void End();
    void Cancel();
    bool CanUndo() const { return !m_Changes.empty(); }
    // Takes back the last change; false when there is none.
    bool Undo();
    // What the last change, cancel or undo touched.
    const EditTouch &Touched() const { return m_Touched; }

private:
    struct Place
    {
        const Node *parent = nullptr; // null: deleted (the archive's) or gone (the record's own)
        std::string name;
    };
    struct Step
    {
        enum Kind { Placed, Sourced, Made };
        Step(Kind kind, const Node *node) : kind(kind), node(node) {}
        Kind kind;
        const Node *node;
        bool had = false; // Placed: whether it had a place; Sourced: a source
        Place place;
        size_t movedAt = 0; // Placed: where it stood among its folder's moved nodes
        DiskSource source;
        const Node *after = nullptr; // Made: the node it was put after
    };
    struct NameKey
    {
        const Node *parent;
        std::string name;
        bool operator==(const NameKey &other) const { return parent == other.parent && name == other.name; }
    };
    struct NameHash
    {
        size_t operator()(const NameKey &key) const;
    };

    const Place *PlaceOf(const Node *node) const;
    // A node of the record's own named `name`: a file (noted in m_OwnFiles) or a folder.
    Node *NewOwn(const std::string &name, bool file);
    // Every node of the archive below the root has a folder; the record's
    // own have their places here only.
    bool IsOwn(const Node *node) const { return !node->m_Parent && node != m_Root; }
    // The folder it stands in, in the new pack; null for the root and for a
    // node no longer in it.
    const Node *NewParent(const Node *node) const;
    bool IsRemoved(const Node *node) const;
    // Not in the new pack: removed itself, or below a folder that is.
    bool IsGone(const Node *node) const;
    // Whether a child ForEachChild gives is shown: a file unless a file
    // added in its place replaces it, a folder while anything is below it
    // or when it was deleted itself.
    bool IsShown(const Node *child) const;
    // The children of `folder` that may be shown there, in order.
    void ForEachChild(const Node *folder, const std::function<void(const Node *)> &visit) const;
    void AddFile(const Node *file, bool removed, FolderTotals &totals) const;
    // Each entry in order, whether it is gone, and its new path where it
    // differs from its own (else null).
    void ForEachEntry(const std::function<void(const Node *, bool gone, const std::string *path)> &visit) const;
    // The archive's own children of `folder` named `name`.
    void ForEachNamed(const Node *folder, const std::string &name,
                      const std::function<void(const Node *)> &visit) const;

    // The raw changes, recorded by their callers; SetPlace returns where the
    // node stood among its old folder's moved nodes.
    size_t SetPlace(const Node *node, bool has, const Place &place, size_t movedAt = SIZE_MAX);
    // One step of Move or Remove: `node` given `place` (or none), its old
    // place kept for Undo.
    void PlaceNode(const Node *node, bool has, const Place &place);
    void SetSourceOf(const Node *node, bool has, const DiskSource &source);
    void TakeBack(const Step &step);
    void Touch(const Node *node);
    // What `child` adds to the totals of the folder it is shown in.
    FolderTotals Share(const Node *child) const;
    // Before and after a change of `node`: its share taken out of, and put
    // into, the totals counted of the folder it is shown in and those above.
    void Withdraw(const Node *node);
    void Lodge(const Node *node);
    // The totals of `folder` and those above amended: a child's share was
    // `was` and is `now`.
    void Spread(const Node *folder, FolderTotals was, FolderTotals now);
    void RefreshSuperseded();

    const Node *m_Root;
    std::vector<const Node *> m_Entries;
    std::unordered_set<const Node *> m_Excluded;
    std::unordered_set<const Node *> m_ZeroSizedEntries; // entries a stored size of 0 shows as folders
    std::deque<Node> m_Own;
    std::unordered_set<const Node *> m_OwnFiles;

    std::unordered_map<const Node *, Place> m_Places;
    // Per folder: the nodes placed in it that the archive did not put there,
    // in the order they came.
    std::unordered_map<const Node *, std::vector<const Node *>> m_Moved;
    // Per folder of the archive: how many of its own children have a place.
    std::unordered_map<const Node *, uint32_t> m_PlacedChildren;
    std::unordered_multimap<NameKey, const Node *, NameHash> m_Named; // nodes with a place in a folder
    size_t m_Removed = 0;        // the archive's nodes deleted
    size_t m_ArchivePlaced = 0;  // the archive's nodes with a place
    size_t m_FoldersPlaced = 0;  // of them, folders
    size_t m_ArchiveSourced = 0; // the archive's entries with a source
    size_t m_OwnFilesPlaced = 0; // the files added, while they are in a folder
    std::unordered_map<const Node *, DiskSource> m_Sources;
    // The files added, by the node each follows in the new pack's order (null: the end).
    std::unordered_map<const Node *, std::vector<const Node *>> m_After;

    std::vector<Step> m_Steps;
    std::vector<size_t> m_Changes; // where each change's steps begin
    size_t m_Open = 0;             // where the open change's steps begin
    int m_Depth = 0;
    EditTouch m_Touched;

    mutable std::unordered_map<const Node *, FolderTotals> m_Totals;
    mutable std::unordered_map<const Node *, std::vector<std::pair<std::string_view, const Node *>>> m_NameIndex;
    std::unordered_map<const Node *, const Node *> m_Superseded;
    std::unordered_set<const Node *> m_Replacing; // the files of m_Superseded
};

} // namespace zarnik_pack
