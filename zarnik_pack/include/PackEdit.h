// PackEdit: changes to an opened pack, or to a pack not made yet, applied
// together as a new pack.
//
// The changes (add a file from disk, replace, delete a file or a folder,
// rename or move a file or a folder) are checked as they are made, so a
// change a reader could not take is refused before anything is written.
// Save writes the new pack: entries that did not change keep their stored
// bytes as they are (copied in the kernel where it can), new files are
// packed (StoredForm.h), and the entries keep their order. The new pack is
// written under a temporary name, opened again and compared with what was
// intended, and only then takes its name; over the original only when the
// caller asks, by one rename, under the pack's lock (PackLock.h) and only
// while the pack is still the one opened. A .vfs set is changed in place:
// only the data files holding changed entries are written again (under new
// names) and then content.vfi, whose rename is the one step that changes
// the set. A new pack is made the same way, never replacing anything.
//
// The changes are kept as a record over the opened pack (EditRecord.h):
// where each file of the new pack comes from, and the steps that take each
// change back, so that a change and its undo cost what they change.
#pragma once

#include "EditRecord.h"
#include "OutputFile.h"
#include "PackLock.h"
#include "StoredForm.h"
#include "ZarnikArchive.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zarnik_pack {

class CaseIndex;

enum class EditProblem {
    None,
    Refused,     // the pack, a change or the destination was refused; nothing was written
    ReadFailed,  // a file to add, or the pack itself, could not be read
    WriteFailed, // writing failed (a full disk, a read-only folder)
    CheckFailed, // the new pack did not read back as intended
    Stopped,     // a stop was requested
};

// What a save is doing, for a caller that shows it.
enum class SaveStage {
    Waiting,   // for another change of the pack to end (PackLock.h)
    Writing,   // the new pack under its temporary name
    Checking,  // reading it back
    Replacing, // checked; it is about to take the original's place (NAME.bak is made)
};

struct SaveOptions
{
    std::string out;     // the new pack's path; empty: over the original
    bool backup = false; // over the original: keep it as NAME.bak
    // Each file written on the disk itself before it takes its name, and
    // the names after: a power cut then leaves the old pack or the new.
    bool sync = false;
    // The pack's lock when the caller took it (from before the pack was
    // opened); else a save over the original takes it itself.
    const PackLock *lock = nullptr;
    const std::atomic<bool> *stop = nullptr;
    // Called once the new pack is written, before it is read back: from
    // then on the save touches the archive no more, so the caller may let
    // it go (its memory then serves the read-back, and Windows replaces no
    // file that is open). The edit's items still name their paths, not
    // their nodes.
    std::function<void()> releasePack;
    // Files and bytes written so far (of Items() and their stored bytes),
    // called between blocks; while checking, those read back.
    std::function<void(uint64_t filesDone, uint64_t bytesDone)> progress;
    // Called as the save enters each stage.
    std::function<void(SaveStage)> stage;
};

struct SaveOutcome
{
    EditProblem problem = EditProblem::None;
    std::string reason; // one sentence when problem is not None
    // When saved: the paths of the files that took their names, and the
    // size of each.
    std::vector<std::string> written;
    std::vector<uint64_t> writtenBytes;
    // Saved or not: files the save meant to remove and could not (another
    // program held them). Nothing needs them; they may be deleted.
    std::vector<std::string> leftOver;
};

// What an edit changes, by the archive paths of files.
struct EditChanges
{
    std::vector<std::string> added, replaced, deleted;
    std::vector<std::pair<std::string, std::string>> renamed; // from, to
};

// Where a file of the new pack comes from.
struct FileOrigin
{
    enum class Kind {
        None,      // no file there (a folder, or nothing)
        Kept,      // an entry of the pack, at its own path, its bytes as they are
        Renamed,   // an entry of the pack at another path, its bytes as they are
        Added,     // a file on disk, where the pack held nothing at that path
        Replacing, // a file on disk in place of an entry of the pack
    } kind = Kind::None;
    const zarnik::ArchiveNode *entry = nullptr; // the entry kept, or the one replaced
    std::string from;   // that entry's path in the pack as opened, where it is another
    std::string source; // Added, Replacing: the file on disk
    uint64_t size = 0;  // Added, Replacing: its size when the change was made
};

class PackEdit
{
public:
    // `archive` opened from `packPath` (the system's path) must outlive the
    // edit. A pack whose open report is not empty is refused (Usable() is
    // false) unless `dropPassedOver`: then what opening passed over is left
    // out of the new pack and Dropped() says what.
    PackEdit(const zarnik::CZarnikArchive &archive, const std::string &packPath, bool dropPassedOver);
    // An edit of an empty pack, which Save makes at `newPackPath`: a single
    // pack, or (a name holding ".vfs") a data file with a content.vfi of
    // its own beside it. Either is refused when anything stands there.
    explicit PackEdit(const std::string &newPackPath);
    ~PackEdit();
    // Its case index refers to its own record: an edit is never copied.
    PackEdit(const PackEdit &) = delete;
    PackEdit &operator=(const PackEdit &) = delete;

    bool Usable() const { return m_Usable; }
    // Why the pack or the last refused change was refused.
    const std::string &Reason() const { return m_Reason; }
    // One line for each thing opening passed over that the new pack leaves out.
    const std::vector<std::string> &Dropped() const { return m_Dropped; }

    // Archive paths are "content\..." with '\' or '/'. Each returns false,
    // with Reason() and the edit as it was, when the change is refused:
    // among others a path the path rule refuses (PathRule.h), and a name
    // differing only in case from an entry beside it.
    // The file `diskPath` at `archivePath`; an existing file there (that
    // very path) is replaced only with `replace`.
    bool Add(const std::string &archivePath, const std::string &diskPath, bool replace,
             Storage storage = Storage::Auto);
    // A file, or a folder with everything below it.
    bool Delete(const std::string &archivePath);
    // A file or a folder (with everything below it) to a new path.
    bool Rename(const std::string &from, const std::string &to);

    // Changes made between BeginChange() and EndChange() are one: Undo()
    // takes them back together, and CancelChange() takes back those made
    // since BeginChange() (a change refused half-way leaves nothing behind).
    // Outside them, each change is one of its own.
    void BeginChange();
    void EndChange();
    void CancelChange();
    bool CanUndo() const;
    // Takes back the last change at the cost of that change; false when
    // there is none.
    bool Undo();
    // Whether the new pack differs from the one opened (a rename there and
    // back is no change).
    bool HasChanges() const;
    // The nodes of Record() the last change, or its undo, touched.
    const EditTouch &Touched() const;

    SaveOutcome Save(const SaveOptions &options) const;
    // Removes what a killed save of the pack opened left beside it (the
    // temporary files of its own saves), as every save over it does first,
    // when no other change holds the pack (that one sweeps them itself).
    // The files that could not be removed; none for an empty pack's edit.
    std::vector<std::string> SweepLeftovers() const;
    // The data file a save to a new file copies kept entries from that was
    // written to since the pack was opened, so that they can no longer be
    // copied as they were; "" when none was. Another program putting a new
    // pack at the pack's path does not count: the archive still reads the
    // one it opened, and a save to a new file copies from that.
    std::string ChangedSource() const;

    // A .vfs set: the data file (its file name, as the index names it) the
    // files added from now on go to; by default the last of the set.
    // False, with Reason(), when the set opened has no such data file.
    bool SetDataFile(const std::string &name);

    // Whether the new pack holds a file at `path` ('\' separators).
    bool IsFile(const std::string &path) const;
    // Where the file at `path` of the new pack comes from.
    FileOrigin OriginOf(const std::string &path) const;
    // The new pack as a tree over the archive's, with the entries it leaves
    // out where they stood (EditRecord.h).
    const EditRecord &Record() const { return *m_Record; }

    // The changes so far against the pack as opened (what Dropped() names
    // is not among them), each list in the new pack's order, deleted files
    // in the old one's. A file renamed and replaced is in both lists. Not
    // after a save that released the pack.
    EditChanges Changes() const;

    // The new pack's files in order, for the save and for callers that show
    // the pending listing; made from the record when asked.
    struct Item
    {
        std::string path;
        const zarnik::ArchiveNode *node = nullptr; // the entry whose bytes are kept, or null
        std::string diskPath;                      // a new or replaced file's source
        uint64_t size = 0;                         // its size when the change was made
        Storage storage = Storage::Auto;
        uint32_t dataFile = 0; // of a .vfs set: the data file it goes to (Archive()'s numbering)
    };
    std::vector<Item> Items() const;
    // The same one at a time, made as they are visited: a save that writes
    // them in turn holds none of them all at once.
    void ForEachItem(const std::function<void(const Item &)> &visit) const;
    // How many files the new pack holds.
    size_t FileCount() const;
    // The pack opened; not for an edit of an empty pack.
    const zarnik::CZarnikArchive &Archive() const { return *m_Archive; }
    const std::string &PackPath() const { return m_PackPath; }
    // The files on disk the pack opened lies in: the pack, or a set's index
    // and data files (some may be missing).
    std::vector<std::string> PackFiles() const;

private:
    SaveOutcome SavePack(const SaveOptions &options, LeftOver &leftOver) const;
    SaveOutcome SaveSet(const SaveOptions &options, LeftOver &leftOver) const;
    void SweepSetLeftovers(LeftOver &leftOver) const;
    bool Refuse(const std::string &reason);
    // A path a reader would take as it is, with '\' separators; empty after
    // Refuse when it would not.
    std::string CheckedPath(const std::string &path);
    // The node of the new pack at `path` that holds or is a file, or null.
    const zarnik::ArchiveNode *Kept(const std::string &path) const;
    // Refuses `path` when a name of it differs only in case from an entry
    // beside it other than `own` (the node being renamed, or null).
    bool NoCaseTwin(const std::string &path, const zarnik::ArchiveNode *own);
    // Refuses `path` when a file or folder stands there or a file stands
    // where one of its folders goes.
    bool PlaceFree(const std::string &path);
    // The folder at `path`, made with those above it where they are missing.
    const zarnik::ArchiveNode *MadeFolder(const std::string &path);
    // The file a new file at `path` goes after: the last of its folder, or
    // of the nearest folder above it that has files; null: at the end.
    const zarnik::ArchiveNode *InsertionPoint(const std::string &path) const;

    const zarnik::CZarnikArchive *m_Archive = nullptr; // null for an empty pack
    std::string m_PackPath;
    bool m_Usable = true;
    std::string m_Reason;
    std::vector<std::string> m_Dropped;
    uint32_t m_NewDataFile = 0;
    std::unique_ptr<zarnik::ArchiveNode> m_EmptyRoot; // the root of an empty pack's record
    std::unique_ptr<EditRecord> m_Record;
    std::unique_ptr<CaseIndex> m_CaseIndex; // over m_Record
};

} // namespace zarnik_pack
