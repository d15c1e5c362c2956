#include "PendingChanges.h"

#include "PackPath.h"
#include "ZarnikArchive.h"

using zarnik::ArchiveNode;

namespace {

std::string parentOf(const std::string &path)
{
    const size_t last = path.rfind('\\');
    return last == std::string::npos ? std::string() : path.substr(0, last);
}

bool isAtOrBelow(const std::string &path, const std::string &top)
{
    return path == top || (path.size() > top.size() && path.compare(0, top.size(), top) == 0
                           && path[top.size()] == '\\');
}

} // namespace

PendingChanges::PendingChanges(const zarnik::CZarnikArchive &archive, const std::string &packPath)
    : m_archive(archive)
    , m_packPath(packPath)
{
    replay();
    buildTree();
}

bool PendingChanges::apply(const std::vector<Step> &steps)
{
    for (const Step &step : steps) {
        if (applyStep(step))
            continue;
        // The steps taken so far go again: the edit and the marks as before,
        // and the tree shown stays.
        m_reason = QString::fromStdString(m_edit->Reason());
        replay();
        return false;
    }
    m_changes.push_back(steps);
    buildTree();
    return true;
}

void PendingChanges::undo()
{
    if (!m_changes.empty())
        m_changes.pop_back();
    replay();
    buildTree();
}

bool PendingChanges::applyStep(const Step &step)
{
    const std::string path = zarnik::WithBackslashes(step.path);
    switch (step.kind) {
    case Step::Add:
        if (!m_edit->Add(path, step.other, false))
            return false;
        m_origins[path] = {Added, nullptr, step.other};
        return true;
    case Step::Replace: {
        const ArchiveNode *original = nullptr;
        for (const zarnik_pack::PackEdit::Item &item : m_edit->Items())
            if (item.path == path)
                original = item.node;
        const auto known = m_origins.find(path);
        if (!m_edit->Add(path, step.other, true))
            return false;
        if (known == m_origins.end()) {
            m_origins[path] = {Replaced, original, step.other};
        } else {
            if (known->second.mark == Renamed)
                known->second.mark = Replaced;
            known->second.source = step.other;
        }
        return true;
    }
    case Step::Delete:
        if (!m_edit->Delete(path))
            return false;
        for (auto it = m_origins.begin(); it != m_origins.end();)
            it = isAtOrBelow(it->first, path) ? m_origins.erase(it) : std::next(it);
        return true;
    case Step::Rename: {
        const std::string to = zarnik::WithBackslashes(step.other);
        std::vector<std::pair<std::string, const ArchiveNode *>> moving;
        for (const zarnik_pack::PackEdit::Item &item : m_edit->Items())
            if (isAtOrBelow(item.path, path))
                moving.emplace_back(item.path, item.node);
        if (!m_edit->Rename(path, to))
            return false;
        std::map<std::string, Origin> moved;
        for (const auto &[oldPath, node] : moving) {
            const auto known = m_origins.find(oldPath);
            Origin origin = known != m_origins.end() ? known->second : Origin{Renamed, node, std::string()};
            if (known != m_origins.end())
                m_origins.erase(known);
            moved[to + oldPath.substr(path.size())] = origin;
        }
        for (auto &[newPath, origin] : moved)
            // Moved back where it was: unchanged again.
            if (!(origin.mark == Renamed && origin.original && origin.original->m_Path == newPath))
                m_origins[newPath] = origin;
        return true;
    }
    }
    return false;
}

void PendingChanges::replay()
{
    m_edit = std::make_unique<zarnik_pack::PackEdit>(m_archive, m_packPath, false);
    m_origins.clear();
    for (auto change = m_changes.begin(); change != m_changes.end();) {
        // A file added may have gone from the disk since: its change goes.
        bool taken = true;
        for (const Step &step : *change)
            taken = taken && applyStep(step);
        if (taken) {
            ++change;
            continue;
        }
        change = m_changes.erase(change);
        return replay();
    }
}

void PendingChanges::buildTree()
{
    // The window's items point at the last tree's nodes until it shows
    // this one: they stay one tree longer.
    m_shownNodes.swap(m_nodes);
    m_nodes.clear();
    m_folders.clear();
    m_marks.clear();
    m_renamedFrom.clear();
    m_nodes.emplace_back();
    ArchiveNode &root = m_nodes.back();
    root.m_Name = root.m_Path = zarnik::kRootName;
    m_root = &root;
    m_folders[zarnik::kRootName] = &root;
    if (!m_edit->Usable())
        return;

    // What the pack held and the new one will not shows in its old place:
    // before the first entry kept from after it.
    const std::vector<zarnik_pack::PackEdit::Item> openedItems =
        zarnik_pack::PackEdit(m_archive, m_packPath, false).Items();
    const std::vector<zarnik_pack::PackEdit::Item> items = m_edit->Items();
    QHash<const ArchiveNode *, size_t> order;
    for (const zarnik_pack::PackEdit::Item &item : openedItems)
        order.insert(item.node, order.size());
    QSet<const ArchiveNode *> kept;
    for (const zarnik_pack::PackEdit::Item &item : items) {
        const auto known = m_origins.find(item.path);
        kept.insert(item.node ? item.node : known->second.original);
    }
    size_t next = 0; // of the opened pack's entries, the first not yet placed
    const auto placeDeleted = [&](size_t upTo) {
        for (; next < upTo && next < openedItems.size(); ++next)
            if (!kept.contains(openedItems[next].node))
                addFile(openedItems[next].node, Deleted);
    };
    for (const zarnik_pack::PackEdit::Item &item : items) {
        const auto known = m_origins.find(item.path);
        if (item.node && order.contains(item.node) && order.value(item.node) >= next)
            placeDeleted(order.value(item.node));
        if (known == m_origins.end() && item.node) {
            addFile(item.node, Unchanged);
            continue;
        }
        m_nodes.emplace_back();
        ArchiveNode &node = m_nodes.back();
        if (item.node) {
            node = *item.node;
            node.m_Children.clear();
            m_renamedFrom.insert(&node, item.node);
        } else {
            // Stored as it is until the save packs it.
            node.m_PackedSize = node.m_UnpackedSize = uint32_t(item.size);
        }
        node.m_Path = item.path;
        node.m_Name = item.path.substr(item.path.rfind('\\') + 1);
        addFile(&node, known == m_origins.end() ? Unchanged : known->second.mark);
    }
    placeDeleted(openedItems.size());
    // A folder whose every file goes, goes.
    for (auto it = m_folders.rbegin(); it != m_folders.rend(); ++it) {
        const ArchiveNode *folderNode = it->second;
        bool allDeleted = !folderNode->m_Children.empty() && folderNode != m_root;
        for (const ArchiveNode *child : folderNode->m_Children)
            allDeleted = allDeleted && m_marks.value(child) == Deleted;
        if (allDeleted)
            m_marks.insert(folderNode, Deleted);
    }
}

const ArchiveNode *PendingChanges::folder(const std::string &path)
{
    const auto known = m_folders.find(path);
    if (known != m_folders.end())
        return known->second;
    const ArchiveNode *parent = folder(parentOf(path));
    m_nodes.emplace_back();
    ArchiveNode &node = m_nodes.back();
    node.m_Path = path;
    node.m_Name = path.substr(path.rfind('\\') + 1);
    const_cast<ArchiveNode *>(parent)->m_Children.push_back(&node);
    m_folders[path] = &node;
    return &node;
}

void PendingChanges::addFile(const ArchiveNode *file, Mark mark)
{
    const_cast<ArchiveNode *>(folder(parentOf(file->m_Path)))->m_Children.push_back(file);
    if (mark != Unchanged)
        m_marks.insert(file, mark);
}

std::string PendingChanges::oldPath(const ArchiveNode *node) const
{
    const ArchiveNode *original = m_renamedFrom.value(node);
    return original ? original->m_Path : std::string();
}

std::string PendingChanges::sourceOf(const ArchiveNode *node) const
{
    const auto it = m_origins.find(node->m_Path);
    return it == m_origins.end() ? std::string() : it->second.source;
}

QSet<const ArchiveNode *> PendingChanges::deleted() const
{
    QSet<const ArchiveNode *> nodes;
    for (auto it = m_marks.begin(); it != m_marks.end(); ++it)
        if (it.value() == Deleted)
            nodes.insert(it.key());
    return nodes;
}
