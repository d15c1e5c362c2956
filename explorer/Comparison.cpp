#include "Comparison.h"

#include "ShownText.h"

#include <QCoreApplication>
#include <QLocale>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <unordered_set>

using zarnik::ArchiveNode;
using zarnik::CCompareSide;
using zarnik::Difference;
using zarnik::SideFile;

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Comparison", text);
}

// The colours of the kinds of change: a row's name, and its icon's disc.
QColor colourOf(Comparison::Kind kind)
{
    switch (kind) {
    case Comparison::Kind::Added:
        return QColor(0x1e, 0x8e, 0x3e);
    case Comparison::Kind::Removed:
        return QColor(0xc0, 0x1c, 0x28);
    case Comparison::Kind::Modified:
        return QColor(0xc2, 0x6a, 0x00);
    case Comparison::Kind::Renamed:
        return QColor(0x1a, 0x5f, 0xb4);
    case Comparison::Kind::Same:
        break;
    }
    return {};
}

// A disc of the kind's colour with its letter, as diff's letters name the
// kinds; drawn once for each kind, on the window's thread.
QIcon iconOf(Comparison::Kind kind)
{
    static QIcon icons[5];
    QIcon &icon = icons[int(kind)];
    if (icon.isNull() && kind != Comparison::Kind::Same) {
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colourOf(kind));
        painter.drawEllipse(QRectF(1, 1, 14, 14));
        QFont font = painter.font();
        font.setPixelSize(11);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, QString(QLatin1Char("?ADMR"[int(kind)])));
        painter.end();
        icon = QIcon(pixmap);
    }
    return icon;
}

// The file at `path` among a side's files (in PathLess order), or null.
const SideFile *fileAt(const CCompareSide &side, const std::string &path)
{
    const std::vector<SideFile> &files = side.Files();
    const auto at = std::lower_bound(files.begin(), files.end(), path,
                                     [](const SideFile &file, const std::string &p) { return zarnik::PathLess(file.path, p); });
    return at != files.end() && at->path == path ? &*at : nullptr;
}

QString sizeOf(const SideFile *file)
{
    return file && file->size ? sizeText(*file->size) : tr("size unknown");
}

} // namespace

Comparison::Comparison(std::unique_ptr<const CCompareSide> a, std::unique_ptr<const CCompareSide> b,
                       zarnik::CompareResult result)
    : m_a(std::move(a))
    , m_b(std::move(b))
    , m_result(std::move(result))
{
    build();
}

Comparison::~Comparison() = default;

void Comparison::build()
{
    // A's tree as a reader shows it: unnamed and second entries of a path
    // are no files of it.
    const zarnik::CZarnikArchive &archive = *m_a->Archive();
    std::vector<const Node *> entries;
    std::unordered_set<const Node *> excluded;
    for (const Node *entry : archive.GetEntries())
        entry->m_Name.empty() || entry->m_Duplicate ? (void)excluded.insert(entry) : entries.push_back(entry);
    m_record = std::make_unique<zarnik_pack::EditRecord>(archive.GetRoot(), std::move(entries), std::move(excluded));

    // Every node of A is found while the record is still A: a move or a
    // removal changes the paths below it. Then B's files are made where
    // the removals freed their paths.
    std::vector<std::pair<const Difference *, const Node *>> found;
    for (const Difference &d : m_result.differences)
        if (d.change != Difference::Change::Added)
            found.emplace_back(&d, m_record->Find(d.change == Difference::Change::Renamed ? d.from : d.path));
    for (const auto &[d, node] : found) {
        if (!node)
            continue;
        if (d->change == Difference::Change::Renamed) {
            const size_t cut = d->path.rfind('\\');
            m_record->Move(node, folderAt(d->path.substr(0, cut)), d->path.substr(cut + 1));
            note(node, Kind::Renamed);
        } else if (d->change == Difference::Change::Modified) {
            zarnik_pack::DiskSource bytes;
            bytes.size = d->sizeB.value_or(0);
            m_record->SetSource(node, bytes);
            note(node, Kind::Modified);
        } else {
            m_record->Remove(node);
            note(node, Kind::Removed);
        }
    }
    std::unordered_set<std::string> renamed;
    for (const Difference &d : m_result.differences)
        if (d.change == Difference::Change::Renamed)
            renamed.insert(d.path);
    for (const Difference &d : m_result.differences) {
        if (d.change != Difference::Change::Added)
            continue;
        if (d.folder) {
            note(folderAt(d.path), Kind::Added);
            addBelow(d.path, renamed);
        } else if (const SideFile *file = fileAt(*m_b, d.path)) {
            addFile(*file);
        }
    }
}

const Comparison::Node *Comparison::folderAt(const std::string &path)
{
    const Node *folder = m_record->Root();
    for (size_t start = path.find('\\'); start != std::string::npos;) {
        const size_t end = path.find('\\', start + 1);
        const std::string name = path.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
        const Node *child = m_record->Child(folder, name);
        folder = child && !m_record->IsFile(child) ? child : m_record->MakeFolder(folder, name);
        start = end;
    }
    return folder;
}

void Comparison::addBelow(const std::string &folder, const std::unordered_set<std::string> &renamedHere)
{
    // What lies in a folder follows it, together, in B's order of paths.
    const std::string prefix = folder + '\\';
    const std::vector<SideFile> &files = m_b->Files();
    auto at = std::lower_bound(files.begin(), files.end(), prefix,
                               [](const SideFile &file, const std::string &p) { return zarnik::PathLess(file.path, p); });
    for (; at != files.end() && at->path.compare(0, prefix.size(), prefix) == 0; ++at)
        if (!renamedHere.count(at->path))
            addFile(*at);
}

void Comparison::addFile(const SideFile &file)
{
    const size_t cut = file.path.rfind('\\');
    zarnik_pack::DiskSource bytes;
    bytes.size = file.size.value_or(0);
    const Node *made = m_record->MakeFile(folderAt(file.path.substr(0, cut)), file.path.substr(cut + 1), bytes, nullptr);
    note(made, Kind::Added);
}

void Comparison::note(const Node *node, Kind kind)
{
    // Below an added folder only the folder is a difference, as the
    // library lists it.
    const bool listed = m_kinds.emplace(node, kind).second;
    bool belowAdded = false;
    for (const Node *up = m_record->Parent(node); up && !belowAdded; up = m_record->Parent(up))
        belowAdded = m_kinds.count(up) && m_kinds.at(up) == Kind::Added;
    if (!listed || belowAdded)
        return;
    for (const Node *at = node; at; at = m_record->Parent(at))
        ++m_below[at];
}

Comparison::Kind Comparison::kindOf(const Node *node) const
{
    // What lies below an added folder is B's too.
    const auto at = m_kinds.find(node);
    return at != m_kinds.end() ? at->second : m_record->Made(node) ? Kind::Added : Kind::Same;
}

int Comparison::changesBelow(const Node *node) const
{
    const auto at = m_below.find(node);
    return at != m_below.end() ? at->second : 0;
}

const SideFile *Comparison::fileInA(const Node *node) const
{
    return node && !m_record->Made(node) ? fileAt(*m_a, node->m_Path) : nullptr;
}

const SideFile *Comparison::fileInB(const Node *node) const
{
    return node && kindOf(node) != Kind::Removed ? fileAt(*m_b, m_record->Path(node)) : nullptr;
}

RowMarks Comparison::marks(const Node *node) const
{
    RowMarks marks;
    const Kind kind = kindOf(node);
    marks.colour = colourOf(kind);
    marks.icon = iconOf(kind);
    const SideFile *a = fileInA(node), *b = fileInB(node);
    // B's stored size where B is a pack; the record knows only A's.
    const auto fileStoredInB = [b] { return b && b->node ? sizeText(b->node->m_PackedSize) : QStringLiteral("-"); };
    const bool file = m_record->IsFile(node);
    switch (kind) {
    case Kind::Added:
        marks.bold = true;
        marks.stored = file ? fileStoredInB() : QString();
        marks.tips << (file ? tr("Added: only in the other version (%1)").arg(sizeOf(b))
                            : tr("Added: only in the other version"));
        break;
    case Kind::Removed:
        marks.struck = true;
        marks.tips << (file ? tr("Removed: only in this version (%1)").arg(sizeOf(a))
                            : tr("Removed: only in this version"));
        break;
    case Kind::Modified:
        marks.stored = fileStoredInB();
        marks.tips << tr("Modified: %1 here, %2 in the other version").arg(sizeOf(a), sizeOf(b));
        break;
    case Kind::Renamed:
        marks.italic = true;
        marks.tips << tr("Renamed from %1 (%2)").arg(shownText(node->m_Path), sizeOf(b));
        break;
    case Kind::Same:
        break;
    }
    const int below = changesBelow(node);
    if (!file && kind == Kind::Same && below > 0) {
        marks.note = QStringLiteral("  (%1)").arg(QLocale().toString(below));
        marks.tips << countText(quint64(below), tr("1 change below"), tr("%1 changes below"));
    }
    if (!file && storedIsB(node)) {
        const std::optional<uint64_t> stored = storedInB(node);
        marks.stored = stored ? sizeText(*stored) : QStringLiteral("-");
    }
    return marks;
}

bool Comparison::storedIsB(const Node *folder) const
{
    // A folder that holds B's files stores what B's folder stores; the
    // record knows A's stored sizes only.
    const Kind kind = kindOf(folder);
    return !m_record->IsFile(folder) && kind != Kind::Removed && (changesBelow(folder) > 0 || kind == Kind::Added);
}

std::optional<uint64_t> Comparison::storedInB(const Node *folder) const
{
    const zarnik::CZarnikArchive *archiveB = m_b->Archive();
    const Node *folderB = archiveB ? archiveB->FindFolder(m_record->Path(folder)) : nullptr;
    return folderB ? std::optional<uint64_t>(zarnik::CountTree(folderB).storedBytes) : std::nullopt;
}

int Comparison::filesToExport() const
{
    return int(std::count_if(m_kinds.begin(), m_kinds.end(), [this](const auto &kind) {
        return kind.second != Kind::Removed && m_record->IsFile(kind.first);
    }));
}
