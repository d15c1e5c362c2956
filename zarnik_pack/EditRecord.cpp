#include "EditRecord.h"

#include <algorithm>

namespace zarnik_pack {

using zarnik::TreeTotals;

namespace {

// A folder with more children than this is searched by name through an
// index made once, not child by child.
const size_t kIndexedFolder = 32;

} // namespace

size_t EditRecord::NameHash::operator()(const NameKey &key) const
{
    return std::hash<std::string>()(key.name) ^ (std::hash<const void *>()(key.parent) * 31);
}

EditRecord::EditRecord(const Node *root, std::vector<const Node *> entries, std::unordered_set<const Node *> excluded)
    : m_Root(root), m_Entries(std::move(entries)), m_Excluded(std::move(excluded))
{
    for (const Node *entry : m_Entries)
        if (entry->m_PackedSize == 0)
            m_ZeroSizedEntries.insert(entry);
}

// --- What the tree shows

const EditRecord::Place *EditRecord::PlaceOf(const Node *node) const
{
    if (m_Places.empty())
        return nullptr;
    const auto it = m_Places.find(node);
    return it == m_Places.end() ? nullptr : &it->second;
}

bool EditRecord::IsFile(const Node *node) const
{
    if (IsOwn(node))
        return m_OwnFiles.count(node) != 0;
    return node->m_PackedSize != 0 || (!m_ZeroSizedEntries.empty() && m_ZeroSizedEntries.count(node));
}

const EditRecord::Node *EditRecord::NewParent(const Node *node) const
{
    const Place *place = PlaceOf(node);
    return place ? place->parent : node->m_Parent;
}

bool EditRecord::IsRemoved(const Node *node) const
{
    const Place *place = PlaceOf(node);
    return place && !place->parent;
}

bool EditRecord::IsGone(const Node *node) const
{
    for (const Node *at = node; at != m_Root;) {
        const Place *place = PlaceOf(at);
        // A file added and taken back again has no place at all.
        if (place ? !place->parent : !at->m_Parent || IsOwn(at))
            return true;
        at = place ? place->parent : at->m_Parent;
    }
    return false;
}

const EditRecord::Node *EditRecord::Parent(const Node *node) const
{
    const Place *place = PlaceOf(node);
    if (!place)
        return node->m_Parent;
    // A deleted node is shown where it stood; a file added and taken away
    // is nowhere.
    return place->parent ? place->parent : IsOwn(node) ? nullptr : node->m_Parent;
}

const std::string &EditRecord::Name(const Node *node) const
{
    const Place *place = PlaceOf(node);
    return place && (place->parent || IsOwn(node)) ? place->name : node->m_Name;
}

std::string EditRecord::Path(const Node *node) const
{
    if (node == m_Root)
        return node->m_Path;
    if (const Place *place = PlaceOf(node)) {
        if (place->parent)
            return Path(place->parent) + '\\' + place->name;
        return node->m_Path;
    }
    // Below the folders the archive put it in, its path is the pack's own
    // unless one of them moved.
    for (const Node *folder = node->m_Parent; m_FoldersPlaced != 0 && folder; folder = folder->m_Parent)
        if (const Place *place = PlaceOf(folder))
            return place->parent ? Path(node->m_Parent) + '\\' + node->m_Name : node->m_Path;
    return node->m_Path;
}

const DiskSource *EditRecord::Source(const Node *node) const
{
    if (m_Sources.empty())
        return nullptr;
    const auto it = m_Sources.find(node);
    return it == m_Sources.end() ? nullptr : &it->second;
}

NodeState EditRecord::State(const Node *node) const
{
    NodeState state;
    state.file = IsFile(node);
    const bool gone = IsGone(node);
    if (!state.file) {
        const FolderTotals &totals = Totals(node);
        state.kept = !gone && totals.keptFiles != 0;
        // An empty pack's root, made to add to, loses nothing.
        state.deleted = !state.kept && !IsOwn(node) && !(node == m_Root && m_Entries.empty());
        state.renamed = state.kept && !IsOwn(node) && Path(node) != node->m_Path;
        return state;
    }
    state.kept = !gone;
    if (IsOwn(node)) {
        state.added = state.kept && !Replaces(node);
        state.replaced = state.kept && Replaces(node);
        return state;
    }
    state.deleted = gone;
    state.replaced = !gone && Source(node);
    state.renamed = !gone && Path(node) != node->m_Path;
    return state;
}

void EditRecord::ForEachChild(const Node *folder, const std::function<void(const Node *)> &visit) const
{
    if (!IsOwn(folder)) {
        const auto placed = m_PlacedChildren.find(folder);
        const bool anyPlaced = placed != m_PlacedChildren.end();
        for (const Node *child : folder->m_Children) {
            if (!m_Excluded.empty() && m_Excluded.count(child))
                continue;
            // A child moved to another folder is shown there; one renamed in
            // place or deleted, here.
            const Place *place = anyPlaced ? PlaceOf(child) : nullptr;
            if (!place || !place->parent || place->parent == folder)
                visit(child);
        }
    }
    const auto moved = m_Moved.find(folder);
    if (moved != m_Moved.end())
        for (const Node *child : moved->second)
            visit(child);
}

bool EditRecord::IsShown(const Node *child) const
{
    if (IsFile(child))
        return m_Superseded.empty() || !m_Superseded.count(child);
    // A folder deleted itself stays, struck out, even when everything it
    // held went elsewhere: its deletion is a change too.
    const FolderTotals &totals = Totals(child);
    return totals.keptFiles + totals.deletedFiles != 0 || (!IsOwn(child) && IsRemoved(child));
}

std::vector<const EditRecord::Node *> EditRecord::Children(const Node *folder) const
{
    std::vector<const Node *> children;
    ForEachChild(folder, [&](const Node *child) {
        if (IsShown(child))
            children.push_back(child);
    });
    return children;
}

void EditRecord::AddFile(const Node *file, bool removed, FolderTotals &totals) const
{
    zarnik::TreeTotals own = zarnik::TreeTotals::OfFile(*file);
    const DiskSource *source = removed ? nullptr : Source(file);
    if (source) {
        // Its stored size is known once it is saved.
        own = {};
        own.files = 1;
        own.unpackedBytes = source->size;
        ++totals.newFiles;
    } else if (file->IsFolder()) {
        // A stored size of 0 shows as a folder, as the library counts it.
        own = {};
        own.folders = 1;
    }
    (removed ? totals.deleted : totals.kept) += own;
    ++(removed ? totals.deletedFiles : totals.keptFiles);
}

namespace {

TreeTotals &operator-=(TreeTotals &totals, const TreeTotals &other)
{
    totals.files -= other.files;
    totals.folders -= other.folders;
    totals.packedFiles -= other.packedFiles;
    totals.storedBytes -= other.storedBytes;
    totals.unpackedBytes -= other.unpackedBytes;
    return totals;
}

// `folder` now holds `now` where it held `was`: what changed below it.
void Amend(FolderTotals &folder, const FolderTotals &was, const FolderTotals &now)
{
    folder.kept -= was.kept;
    folder.kept += now.kept;
    folder.deleted -= was.deleted;
    folder.deleted += now.deleted;
    folder.newFiles += now.newFiles - was.newFiles;
    folder.keptFiles += now.keptFiles - was.keptFiles;
    folder.deletedFiles += now.deletedFiles - was.deletedFiles;
}

// What a folder holding `below` adds to the folder it is shown in.
FolderTotals ShareOfFolder(const FolderTotals &below, bool removed)
{
    FolderTotals share;
    if (removed) {
        // A deleted folder's parent counts all of it as deleted.
        share.deleted = below.kept;
        share.deleted += below.deleted;
        share.deleted.folders += below.keptFiles + below.deletedFiles != 0;
        share.deletedFiles = below.keptFiles + below.deletedFiles;
        return share;
    }
    share.kept = below.kept;
    share.deleted = below.deleted;
    share.kept.folders += below.keptFiles != 0;
    share.deleted.folders += below.keptFiles == 0 && below.deletedFiles != 0;
    share.keptFiles = below.keptFiles;
    share.deletedFiles = below.deletedFiles;
    share.newFiles = below.newFiles;
    return share;
}

} // namespace

FolderTotals EditRecord::Share(const Node *child) const
{
    FolderTotals share;
    if (!IsFile(child))
        return ShareOfFolder(Totals(child), IsRemoved(child));
    if (IsShown(child))
        AddFile(child, IsRemoved(child), share);
    return share;
}

const FolderTotals &EditRecord::Totals(const Node *folder) const
{
    const auto known = m_Totals.find(folder);
    if (known != m_Totals.end())
        return known->second;
    // Counted as if the folder itself were kept. Counted once; each change
    // then amends the folders it touched (Withdraw, Lodge).
    FolderTotals totals;
    ForEachChild(folder, [&](const Node *child) { Amend(totals, {}, Share(child)); });
    return m_Totals.emplace(folder, totals).first->second;
}

void EditRecord::ForEachNamed(const Node *folder, const std::string &name,
                              const std::function<void(const Node *)> &visit) const
{
    const std::vector<const Node *> &children = folder->m_Children;
    if (children.size() <= kIndexedFolder) {
        for (const Node *child : children)
            if (child->m_Name == name)
                visit(child);
        return;
    }
    auto &index = m_NameIndex[folder];
    if (index.empty()) {
        index.reserve(children.size());
        for (const Node *child : children)
            index.emplace_back(child->m_Name, child);
        std::sort(index.begin(), index.end());
    }
    const auto first = std::lower_bound(index.begin(), index.end(), std::pair<std::string_view, const Node *>(name, nullptr));
    for (auto it = first; it != index.end() && it->first == name; ++it)
        visit(it->second);
}

const EditRecord::Node *EditRecord::Child(const Node *folder, const std::string &name) const
{
    const Node *file = nullptr, *full = nullptr, *empty = nullptr;
    const auto consider = [&](const Node *node) {
        if (IsFile(node))
            file = file ? file : node;
        else if (Totals(node).keptFiles != 0)
            full = full ? full : node;
        else
            empty = empty ? empty : node;
    };
    const auto named = m_Named.equal_range(NameKey{folder, name});
    for (auto it = named.first; it != named.second; ++it)
        consider(it->second);
    if (!IsOwn(folder))
        ForEachNamed(folder, name, [&](const Node *child) {
            if (!PlaceOf(child) && !(m_Excluded.size() && m_Excluded.count(child)))
                consider(child);
        });
    return file ? file : full ? full : empty;
}

const EditRecord::Node *EditRecord::Find(const std::string &path) const
{
    size_t end = path.find('\\');
    if (path.compare(0, end, m_Root->m_Name) != 0)
        return nullptr;
    const Node *node = m_Root;
    while (end != std::string::npos) {
        if (IsFile(node))
            return nullptr;
        const size_t start = end + 1;
        end = path.find('\\', start);
        node = Child(node, path.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (!node)
            return nullptr;
    }
    return node;
}

const EditRecord::Node *EditRecord::LastFile(const Node *folder) const
{
    // The tree's order backwards: the nodes moved in, then the archive's.
    const auto last = [this](const Node *child) -> const Node * {
        if (IsRemoved(child))
            return nullptr;
        return IsFile(child) ? child : LastFile(child);
    };
    const auto moved = m_Moved.find(folder);
    if (moved != m_Moved.end())
        for (auto it = moved->second.rbegin(); it != moved->second.rend(); ++it)
            if (const Node *found = last(*it))
                return found;
    if (IsOwn(folder))
        return nullptr;
    const auto &children = folder->m_Children;
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        const Place *place = PlaceOf(*it);
        if ((place && place->parent != folder) || (m_Excluded.size() && m_Excluded.count(*it)))
            continue;
        if (const Node *found = last(*it))
            return found;
    }
    return nullptr;
}

std::vector<const EditRecord::Node *> EditRecord::MovedBelow(const Node *folder) const
{
    std::vector<const Node *> moved;
    for (const auto &into : m_Moved) {
        const Node *at = into.first;
        while (at && at != folder)
            at = NewParent(at);
        if (at)
            moved.insert(moved.end(), into.second.begin(), into.second.end());
    }
    return moved;
}

size_t EditRecord::LongestBelow(const Node *node) const
{
    size_t longest = 0;
    if (!IsFile(node))
        ForEachChild(node, [&](const Node *child) {
            if (!IsRemoved(child))
                longest = std::max(longest, 1 + Name(child).size() + LongestBelow(child));
        });
    return longest;
}

void EditRecord::ForEachFile(const std::function<void(const Node *, const std::string &)> &visit) const
{
    // The files added after `anchor`, each followed by those added after it.
    const auto added = [&](const Node *anchor) {
        std::vector<std::pair<const std::vector<const Node *> *, size_t>> stack;
        const auto push = [&](const Node *node) {
            const auto after = m_After.find(node);
            if (after != m_After.end())
                stack.emplace_back(&after->second, 0);
        };
        push(anchor);
        while (!stack.empty()) {
            auto &top = stack.back();
            if (top.second == top.first->size()) {
                stack.pop_back();
                continue;
            }
            const Node *file = (*top.first)[top.second++];
            if (!IsGone(file))
                visit(file, Path(file));
            push(file);
        }
    };
    ForEachEntry([&](const Node *entry, bool gone, const std::string *path) {
        if (!gone)
            visit(entry, path ? *path : entry->m_Path);
        if (!m_After.empty())
            added(entry);
    });
    added(nullptr);
}

void EditRecord::ForEachEntry(const std::function<void(const Node *, bool, const std::string *)> &visit) const
{
    // Entries of one folder mostly come together: their folder is looked at
    // once for them all.
    const Node *folder = nullptr;
    bool folderGone = false, folderMoved = false;
    std::string folderPath, path;
    for (const Node *entry : m_Entries) {
        if (PlaceOf(entry)) {
            path = Path(entry);
            visit(entry, IsGone(entry), &path);
            continue;
        }
        if (entry->m_Parent != folder) {
            folder = entry->m_Parent;
            folderGone = IsGone(folder);
            folderPath = Path(folder);
            folderMoved = folderPath != folder->m_Path;
        }
        if (folderMoved)
            path = folderPath + '\\' + entry->m_Name;
        visit(entry, folderGone, folderMoved ? &path : nullptr);
    }
}

void EditRecord::ForEachDeleted(const std::function<void(const Node *)> &visit) const
{
    if (m_Removed == 0)
        return;
    ForEachEntry([&](const Node *entry, bool gone, const std::string *) {
        if (gone && !m_Superseded.count(entry))
            visit(entry);
    });
}

// --- Changes

size_t EditRecord::SetPlace(const Node *node, bool has, const Place &place, size_t movedAt)
{
    const bool own = IsOwn(node), file = IsFile(node);
    const Node *left = Parent(node);
    Withdraw(node);
    size_t wasAt = SIZE_MAX;
    const auto found = m_Places.find(node);
    if (found != m_Places.end()) {
        const Place &old = found->second;
        if (old.parent) {
            const auto named = m_Named.equal_range(NameKey{old.parent, old.name});
            for (auto it = named.first; it != named.second; ++it)
                if (it->second == node) {
                    m_Named.erase(it);
                    break;
                }
            if (own || old.parent != node->m_Parent) {
                auto &moved = m_Moved[old.parent];
                const auto at = std::find(moved.begin(), moved.end(), node);
                wasAt = size_t(at - moved.begin());
                moved.erase(at);
                if (moved.empty())
                    m_Moved.erase(old.parent);
            }
            m_OwnFilesPlaced -= own && file;
        } else {
            m_Removed -= !own;
        }
        if (!own) {
            --m_ArchivePlaced;
            m_FoldersPlaced -= !file;
            if (--m_PlacedChildren[node->m_Parent] == 0)
                m_PlacedChildren.erase(node->m_Parent);
        }
        m_Places.erase(found);
    }
    if (has) {
        m_Places.emplace(node, place);
        if (place.parent) {
            m_Named.emplace(NameKey{place.parent, place.name}, node);
            if (own || place.parent != node->m_Parent) {
                auto &moved = m_Moved[place.parent];
                moved.insert(movedAt < moved.size() ? moved.begin() + ptrdiff_t(movedAt) : moved.end(), node);
            }
            m_OwnFilesPlaced += own && file;
        } else {
            m_Removed += !own;
        }
        if (!own) {
            ++m_ArchivePlaced;
            m_FoldersPlaced += !file;
            ++m_PlacedChildren[node->m_Parent];
        }
    }
    Lodge(node);
    Touch(node);
    // The folder it left lists one child fewer, as the one it entered (which
    // Touch names) lists one more.
    if (left && left != Parent(node))
        m_Touched.folders.push_back(left);
    return wasAt;
}

void EditRecord::SetSourceOf(const Node *node, bool has, const DiskSource &source)
{
    const bool own = IsOwn(node);
    Withdraw(node);
    const auto found = m_Sources.find(node);
    if (found != m_Sources.end()) {
        m_ArchiveSourced -= !own;
        m_Sources.erase(found);
    }
    if (has) {
        m_Sources.emplace(node, source);
        m_ArchiveSourced += !own;
    }
    Lodge(node);
    Touch(node);
}

void EditRecord::Touch(const Node *node)
{
    m_Touched.nodes.push_back(node);
    if (const Node *folder = Parent(node))
        m_Touched.folders.push_back(folder);
}

void EditRecord::Withdraw(const Node *node)
{
    const Node *folder = Parent(node);
    if (folder && m_Totals.count(folder))
        Spread(folder, Share(node), {});
}

void EditRecord::Lodge(const Node *node)
{
    const Node *folder = Parent(node);
    if (folder && m_Totals.count(folder))
        Spread(folder, {}, Share(node));
}

void EditRecord::Spread(const Node *folder, FolderTotals was, FolderTotals now)
{
    // A folder counted holds every folder below it counted: the first one
    // not counted ends the walk.
    for (const Node *at = folder; at; at = Parent(at)) {
        const auto known = m_Totals.find(at);
        if (known == m_Totals.end())
            return;
        const bool removed = IsRemoved(at);
        const FolderTotals before = ShareOfFolder(known->second, removed);
        Amend(known->second, was, now);
        was = before;
        now = ShareOfFolder(known->second, removed);
    }
}

void EditRecord::RefreshSuperseded()
{
    std::unordered_map<const Node *, const Node *> now;
    if (m_Removed != 0 && m_OwnFilesPlaced != 0) {
        // An added file stands where the old pack had an entry that is gone:
        // that entry's path, looked up in the old pack's own tree.
        for (const Node *file : m_OwnFiles) {
            if (IsGone(file))
                continue;
            const std::string path = Path(file);
            const Node *old = m_Root;
            for (size_t start = m_Root->m_Name.size() + 1; old && start <= path.size();) {
                const size_t end = std::min(path.find('\\', start), path.size());
                const Node *next = nullptr;
                ForEachNamed(old, path.substr(start, end - start), [&](const Node *child) {
                    next = next ? next : child;
                });
                old = next;
                start = end + 1;
            }
            if (old && IsFile(old) && old->m_Path == path && IsGone(old))
                now.emplace(old, file);
        }
    }
    if (now == m_Superseded)
        return;
    m_Replacing.clear();
    for (const auto &entry : now)
        m_Replacing.insert(entry.second);
    // An entry a file added replaces is not shown, and counts nowhere.
    std::vector<const Node *> changing;
    for (const auto &entry : m_Superseded)
        if (!now.count(entry.first))
            changing.push_back(entry.first);
    for (const auto &entry : now)
        if (!m_Superseded.count(entry.first))
            changing.push_back(entry.first);
    for (const Node *entry : changing)
        Withdraw(entry);
    for (const auto &entry : m_Superseded)
        Touch(entry.first);
    m_Superseded.swap(now);
    for (const Node *entry : changing)
        Lodge(entry);
    for (const auto &entry : m_Superseded)
        Touch(entry.first);
}

EditRecord::Node *EditRecord::NewOwn(const std::string &name, bool file)
{
    m_Own.emplace_back();
    Node *node = &m_Own.back();
    node->m_Name = name;
    if (file)
        m_OwnFiles.insert(node);
    return node;
}

const EditRecord::Node *EditRecord::MakeFolder(const Node *parent, const std::string &name)
{
    Node *folder = NewOwn(name, false);
    Begin();
    m_Steps.emplace_back(Step::Placed, folder);
    SetPlace(folder, true, Place{parent, name});
    End();
    return folder;
}

const EditRecord::Node *EditRecord::MakeFile(const Node *parent, const std::string &name, const DiskSource &source,
                                             const Node *after)
{
    Node *file = NewOwn(name, true);
    Begin();
    Step step(Step::Made, file);
    step.after = after;
    m_Steps.push_back(step);
    SetPlace(file, true, Place{parent, name});
    SetSourceOf(file, true, source);
    // Right after the file it follows; at the end after all the others.
    auto &followers = m_After[after];
    followers.insert(after ? followers.begin() : followers.end(), file);
    End();
    return file;
}

void EditRecord::Move(const Node *node, const Node *parent, const std::string &name)
{
    // Back where the archive put it, it has no place of its own.
    const bool home = !IsOwn(node) && parent == node->m_Parent && name == node->m_Name;
    PlaceNode(node, !home, Place{parent, name});
}

void EditRecord::Remove(const Node *node)
{
    PlaceNode(node, true, Place{nullptr, IsOwn(node) ? Name(node) : std::string()});
}

void EditRecord::PlaceNode(const Node *node, bool has, const Place &place)
{
    Begin();
    // The place it had, for Undo, and where it stood among its folder's
    // moved nodes.
    Step step(Step::Placed, node);
    if (const Place *had = PlaceOf(node))
        step.had = true, step.place = *had;
    const size_t at = m_Steps.size();
    m_Steps.push_back(step);
    m_Steps[at].movedAt = SetPlace(node, has, place);
    End();
}

void EditRecord::SetSource(const Node *node, const DiskSource &source)
{
    Begin();
    Step step(Step::Sourced, node);
    if (const DiskSource *old = Source(node))
        step.had = true, step.source = *old;
    m_Steps.push_back(step);
    SetSourceOf(node, true, source);
    End();
}

void EditRecord::TakeBack(const Step &step)
{
    switch (step.kind) {
    case Step::Placed:
        SetPlace(step.node, step.had, step.place, step.movedAt);
        break;
    case Step::Sourced:
        SetSourceOf(step.node, step.had, step.source);
        break;
    case Step::Made: {
        SetPlace(step.node, false, {});
        SetSourceOf(step.node, false, {});
        auto &followers = m_After[step.after];
        followers.erase(std::find(followers.begin(), followers.end(), step.node));
        if (followers.empty())
            m_After.erase(step.after);
        break;
    }
    }
}

void EditRecord::Begin()
{
    if (m_Depth++ == 0) {
        m_Open = m_Steps.size();
        m_Touched = {};
    }
}

void EditRecord::End()
{
    if (m_Depth == 0 || --m_Depth != 0)
        return;
    if (m_Steps.size() > m_Open)
        m_Changes.push_back(m_Open);
    RefreshSuperseded();
}

void EditRecord::Cancel()
{
    while (m_Steps.size() > m_Open) {
        TakeBack(m_Steps.back());
        m_Steps.pop_back();
    }
    m_Depth = 0;
    RefreshSuperseded();
}

bool EditRecord::Undo()
{
    if (m_Depth != 0 || m_Changes.empty())
        return false;
    m_Touched = {};
    const size_t start = m_Changes.back();
    m_Changes.pop_back();
    while (m_Steps.size() > start) {
        TakeBack(m_Steps.back());
        m_Steps.pop_back();
    }
    RefreshSuperseded();
    return true;
}

} // namespace zarnik_pack
