#include "MountSave.h"

#include "Compare.h"
#include "PackPath.h"
#include "PlatformFile.h"

#include <algorithm>
#include <cstdlib>
#include <cerrno>
#include <map>
#include <set>

namespace zarnik_mount {

using zarnik::ArchiveNode;
using zarnik_pack::PackEdit;

namespace {

bool Refused(const PackEdit &edit, std::string *why)
{
    *why = edit.Reason();
    return false;
}

// Files of the pack that move: straight to their new paths where they are
// free, else through a free path of their own first, so that files that
// swap or follow one another in a chain all arrive.
bool MoveAll(const std::vector<std::pair<std::string, std::string>> &moves, PackEdit &edit, std::string *why)
{
    std::vector<std::pair<std::string, std::string>> parked;
    for (const auto &[from, to] : moves) {
        if (!edit.IsFile(to) && edit.Rename(from, to))
            continue;
        std::string aside;
        for (size_t n = parked.size(); aside.empty() || edit.IsFile(aside); ++n)
            aside = "content\\zarnik-moving-" + std::to_string(n);
        if (!edit.Rename(from, aside))
            return Refused(edit, why);
        parked.emplace_back(aside, to);
    }
    for (const auto &[aside, to] : parked)
        if (!edit.Rename(aside, to))
            return Refused(edit, why);
    return true;
}

} // namespace

bool EditOfChanges(const CWriteLayer::Snapshot &snapshot, PackEdit &edit, std::string *why)
{
    std::map<const ArchiveNode *, std::string> kept; // to its path now
    std::map<std::string, std::string> fresh;        // path to its bytes' file
    for (const CWriteLayer::File &file : snapshot.files) {
        if (file.node)
            kept.emplace(file.node, file.packPath);
        else
            fresh.emplace(file.packPath, file.changed);
    }
    std::vector<std::pair<std::string, std::string>> moves;
    for (const ArchiveNode *shown : snapshot.shown) {
        const auto stays = kept.find(shown);
        if (stays != kept.end()) {
            if (stays->second != shown->m_Path)
                moves.emplace_back(shown->m_Path, stays->second);
            continue;
        }
        // Rewritten where it stood: it stays in its data file.
        const auto rewritten = fresh.find(shown->m_Path);
        if (rewritten != fresh.end()) {
            if (!edit.Add(shown->m_Path, rewritten->second, true))
                return Refused(edit, why);
            fresh.erase(rewritten);
        } else if (!edit.Delete(shown->m_Path)) {
            return Refused(edit, why);
        }
    }
    if (!MoveAll(moves, edit, why))
        return false;
    for (const auto &[path, bytes] : fresh)
        if (!edit.Add(path, bytes, false))
            return Refused(edit, why);
    return true;
}

namespace {

std::string ListingLine(const std::string &path, uint64_t size)
{
    return JournalWord(path) + " " + std::to_string(size) + "\n";
}

std::string SortedText(std::vector<std::string> lines)
{
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string &line : lines)
        text += line;
    return text;
}

} // namespace

std::string SavedListing(const zarnik::CZarnikArchive &archive)
{
    std::vector<std::string> lines;
    for (const ArchiveNode *entry : archive.GetEntries())
        lines.push_back(ListingLine(entry->m_Path, entry->m_UnpackedSize));
    return SortedText(std::move(lines));
}

std::string SavedListing(const PackEdit &edit)
{
    std::vector<std::string> lines;
    edit.ForEachItem([&lines](const PackEdit::Item &item) {
        lines.push_back(ListingLine(item.path, item.node ? item.node->m_UnpackedSize : item.size));
    });
    return SortedText(std::move(lines));
}

namespace {

// Sweeps what a killed save of the pack left beside it; a sentence naming
// what stayed, or "".
std::string SweepKilledSaves(const zarnik::CZarnikArchive &archive, const std::string &packPath)
{
    std::string stayed;
    for (const std::string &path : PackEdit(archive, packPath, false).SweepLeftovers())
        stayed += (stayed.empty() ? "" : ", ") + path;
    return stayed.empty() ? stayed
                          : stayed + ": left by a save that was stopped, and could not be removed; nothing needs "
                                     "it, and it may be deleted";
}

// `line` after what `text` says already, on a line of its own.
void Say(std::string *text, const std::string &line)
{
    if (!line.empty())
        *text += (text->empty() ? "" : "\n") + line;
}

} // namespace

std::unique_ptr<CChangeFolder> TakeChangeFolder(const std::string &home, const std::string &packPath,
                                                const zarnik::CZarnikArchive &archive, std::string *why,
                                                std::string *note)
{
    *note = SweepKilledSaves(archive, packPath);
    const std::vector<FileStamp> stamps = StampsOf(archive, packPath);
    std::unique_ptr<CChangeFolder> folder = CChangeFolder::Take(home, packPath, stamps, why);
    const std::string mark = folder ? folder->SavingMark() : std::string();
    if (mark.empty())
        return folder;
    if (folder->Base() == stamps) {
        folder->DropSavingMark();
        Say(note, "a save of the changes waiting was stopped before it replaced the pack; they wait still");
        return folder;
    }
    // Replaced by another program, as the save would have refused.
    if (mark != SavedListing(archive))
        return folder;
    const std::string path = folder->Path();
    if (!folder->Remove()) {
        *why = "the changes kept in " + path + " were saved into the pack by a save that was stopped, "
               "and that folder cannot be removed: " + zarnik::PlatformLastFailure().text;
        return nullptr;
    }
    folder.reset();
    Say(note, "the changes kept in " + path + " were saved into the pack by a save that was stopped before it "
              "could remove them; they are removed now");
    return CChangeFolder::Take(home, packPath, stamps, why);
}

zarnik_pack::EditChanges WaitingChanges(CWriteLayer &layer, const zarnik::CZarnikArchive &archive,
                                        const std::string &packPath, std::string *why)
{
    PackEdit edit(archive, packPath, false);
    if (!edit.Usable() || !EditOfChanges(layer.TakeSnapshot(), edit, why)) {
        if (!edit.Usable())
            *why = edit.Reason();
        return {};
    }
    return edit.Changes();
}

MountSaveOutcome SaveChanges(CWriteLayer &layer, const zarnik::CZarnikArchive &archive, const std::string &packPath,
                             const zarnik_pack::SaveOptions &options)
{
    MountSaveOutcome outcome;
    const auto holding = layer.HoldChanges();
    if (!layer.PackAsBefore()) {
        outcome.error = EBUSY;
        outcome.reason = "the pack was changed by another program since these changes were made; "
                         "they are kept, and can be copied out of the mount before they are dropped";
        return outcome;
    }
    const CWriteLayer::Snapshot snapshot = layer.TakeSnapshot();
    for (const std::string &folder : snapshot.emptyFolders)
        outcome.notes.push_back(zarnik::ShownPath(folder) + "/: an empty folder is not kept, as a pack holds "
                                                            "folders through their files");
    PackEdit edit(archive, packPath, false);
    if (!edit.Usable() || !EditOfChanges(snapshot, edit, &outcome.reason)) {
        if (!edit.Usable())
            outcome.reason = edit.Reason();
        outcome.error = EINVAL;
        return outcome;
    }
    // Known again by the next mount should this one be killed once the
    // pack is replaced.
    if (!layer.Folder().MarkSaving(SavedListing(edit))) {
        outcome.error = ChangeError();
        outcome.reason = "cannot write in the change folder " + layer.Folder().Path() + ": " +
                         zarnik::PlatformLastFailure().text;
        return outcome;
    }
    const zarnik_pack::SaveOutcome saved = edit.Save(options);
    if (saved.problem != zarnik_pack::EditProblem::None) {
        layer.Folder().DropSavingMark();
        outcome.error = saved.problem == zarnik_pack::EditProblem::WriteFailed ? ENOSPC
                        : saved.problem == zarnik_pack::EditProblem::Stopped   ? EINTR
                                                                               : EIO;
        outcome.reason = saved.reason;
        return outcome;
    }
    layer.Close();
    if (!layer.Folder().Remove())
        outcome.notes.push_back("saved, but the change folder " + layer.Folder().Path() + " could not be removed");
    return outcome;
}

} // namespace zarnik_mount

namespace zarnik_mount {

std::string CMountControl::StatusText()
{
    // Saved or dropped: nothing waits, though the tree shows the changes
    // until the mount ends (a busy folder may keep it a while).
    if (m_Layer.Closed())
        return {};
    using Change = zarnik::Difference::Change;
    std::string why;
    const zarnik_pack::EditChanges changes = WaitingChanges(m_Layer, m_Archive, m_PackPath, &why);
    std::vector<zarnik::Difference> differences;
    const auto add = [&](Change change, const std::string &path, const std::string &from) {
        zarnik::Difference d;
        d.change = change, d.path = path, d.from = from;
        differences.push_back(std::move(d));
    };
    for (const std::string &path : changes.added)
        add(Change::Added, path, {});
    for (const std::string &path : changes.deleted)
        add(Change::Removed, path, {});
    for (const std::string &path : changes.replaced)
        add(Change::Modified, path, {});
    for (const auto &[from, to] : changes.renamed)
        add(Change::Renamed, to, from);
    // As diff lists them: in path order, a removal before an addition at one path.
    std::stable_sort(differences.begin(), differences.end(), [](const zarnik::Difference &a, const zarnik::Difference &b) {
        if (a.path != b.path)
            return zarnik::PathLess(a.path, b.path);
        return a.change == Change::Removed && b.change != Change::Removed;
    });
    std::string text = why.empty() ? std::string() : "!\t" + why + "\n";
    for (const zarnik::Difference &d : differences)
        text += zarnik::DifferenceText(d);
    return text;
}

int CMountControl::Set(const std::string &name, const std::string &value, const std::atomic<bool> *askerGone)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    if (name == "user.zarnik.save") {
        // The words of `zarnik unmount --save`'s options, as the tool's
        // changes take them.
        const std::vector<std::string> how = JournalWords(value);
        zarnik_pack::SaveOptions options;
        options.backup = std::count(how.begin(), how.end(), "backup") > 0;
        options.sync = std::count(how.begin(), how.end(), "sync") > 0;
        options.stop = askerGone;
        const MountSaveOutcome saved = SaveChanges(m_Layer, m_Archive, m_PackPath, options);
        m_Result.clear();
        for (const std::string &note : saved.notes)
            m_Result += note + "\n";
        if (saved.error)
            m_Result += saved.reason + "\n";
        return saved.error;
    }
    if (name == "user.zarnik.discard" || name == "user.zarnik.release") {
        const auto holding = m_Layer.HoldChanges();
        if (name == "user.zarnik.release" && !StatusText().empty())
            return EBUSY;
        m_Layer.Close();
        m_Result = m_Layer.Folder().Remove() ? "" : "the change folder " + m_Layer.Folder().Path() +
                                                       " could not be removed\n";
        Say(&m_Result, SweepKilledSaves(m_Archive, m_PackPath));
        return 0;
    }
    return ENODATA;
}

int CMountControl::Get(const std::string &name, std::string *value)
{
    std::lock_guard<std::mutex> hold(m_Lock);
    if (name == "user.zarnik.result") {
        *value = m_Result;
        return 0;
    }
    // Handed over in pieces, as an attribute's value is at most 64 KiB:
    // asking for the first piece makes the list anew. Nothing is written
    // for it, so that it answers on a full disk too.
    const std::string status = kStatusAttribute;
    if (name == status)
        m_Status = StatusText();
    if (name.compare(0, status.size(), status) != 0)
        return ENODATA;
    const unsigned long piece = name == status ? 0 : std::strtoul(name.c_str() + status.size() + 1, nullptr, 10);
    if (name != status && name != status + "." + std::to_string(piece))
        return ENODATA;
    *value = piece <= m_Status.size() / kStatusPiece ? m_Status.substr(piece * kStatusPiece, kStatusPiece) : "";
    return 0;
}

} // namespace zarnik_mount
