// Saving the changes of a writable mount into its pack: one edit of the
// pack (PackEdit) made of every change, saved whole or not at all as every
// change of a pack is, with what did not change copied as it is stored.
#pragma once

#include "PackEdit.h"
#include "WriteLayer.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace zarnik_mount {

// Makes `edit` (of the mounted pack) the changes `snapshot` holds against
// the pack: deletions, renames and moves of the pack's files, rewritten
// files in their places, new files. False with `why` when the edit
// refuses one.
bool EditOfChanges(const CWriteLayer::Snapshot &snapshot, zarnik_pack::PackEdit &edit, std::string *why);

struct MountSaveOutcome
{
    int error = 0;      // 0: saved; else for the kernel: EIO, ENOSPC, EBUSY (the pack changed)...
    std::string reason; // one sentence when not saved
    std::vector<std::string> notes; // what a pack cannot keep (empty folders)
};

// Saves every change waiting in `layer` into the pack at `packPath` (opened
// as `archive`) as `options` say (backup: keep the old pack as NAME.bak).
// Changes wait while it saves; once saved the change folder goes and the
// layer takes no more changes. On failure all stays as it was.
MountSaveOutcome SaveChanges(CWriteLayer &layer, const zarnik::CZarnikArchive &archive, const std::string &packPath,
                             const zarnik_pack::SaveOptions &options);

// What a pack holds, to know it again: one line for each file, its path
// and size, in path order; of the pack `archive`, or of the pack an edit
// makes.
std::string SavedListing(const zarnik::CZarnikArchive &archive);
std::string SavedListing(const zarnik_pack::PackEdit &edit);

// The change folder of the pack at `packPath` (opened as `archive`) below
// `home`, as CChangeFolder::Take gives it, once a save of its changes that
// was stopped is settled: when it had replaced the pack, its changes are
// in the pack and the folder is made anew; when it had not, they wait
// still. What a killed save left beside the pack is swept first. `note`
// says what became of either, a line each, and is left empty when no save
// was stopped.
std::unique_ptr<CChangeFolder> TakeChangeFolder(const std::string &home, const std::string &packPath,
                                                const zarnik::CZarnikArchive &archive, std::string *why,
                                                std::string *note);

// The changes waiting, as the pack's edit names them.
zarnik_pack::EditChanges WaitingChanges(CWriteLayer &layer, const zarnik::CZarnikArchive &archive,
                                        const std::string &packPath, std::string *why);

} // namespace zarnik_mount

namespace zarnik_mount {

// The commands a writable mount takes through extended attributes of its
// top folder, so that `zarnik unmount` and `zarnik mount --status`, other
// processes, reach the one that holds the changes:
//   set  user.zarnik.save     save (value "backup": keep NAME.bak)
//   set  user.zarnik.discard  drop every change
//   set  user.zarnik.release  drop the change folder when no change waits
//                             (changes that came to nothing), else EBUSY
//   get  user.zarnik.status   the changes waiting (StatusText), its first
//                             kStatusPiece bytes; user.zarnik.status.N the
//                             Nth piece of the same list, until one is short
//   get  user.zarnik.result   what the last save or discard said
const char kStatusAttribute[] = "user.zarnik.status";
const size_t kStatusPiece = 65536;

class CMountControl
{
public:
    // `layer` and `archive` (opened from `packPath`) outlive this.
    CMountControl(CWriteLayer &layer, const zarnik::CZarnikArchive &archive, std::string packPath)
        : m_Layer(layer), m_Archive(archive), m_PackPath(std::move(packPath))
    {
    }
    // 0, or the error: ENODATA for a name it does not know. `askerGone`,
    // raised when the program that asked goes away, stops a save as a
    // stopped change of the tool stops (EINTR): the pack as it was and the
    // changes waiting. A save that had replaced the pack is done, stop or not.
    int Set(const std::string &name, const std::string &value, const std::atomic<bool> *askerGone = nullptr);
    int Get(const std::string &name, std::string *value);
    // The changes waiting, one line each as `zarnik diff` prints them.
    std::string StatusText();

private:
    CWriteLayer &m_Layer;
    const zarnik::CZarnikArchive &m_Archive;
    const std::string m_PackPath;
    std::mutex m_Lock;
    std::string m_Result;
    std::string m_Status; // the list whose pieces are being asked for
};

} // namespace zarnik_mount
