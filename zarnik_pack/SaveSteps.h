// The steps every save shares, of a single pack, of a .vfs set and of a
// new pack alike: where the pack lies, holding it against other changes,
// writing the items into a writer, reading the written entries back, and
// putting the new file in the old one's place with its backup.
#pragma once

#include "OutputFile.h"
#include "PackEdit.h"
#include "PackLock.h"
#include "PackWriter.h"
#include "PlatformFile.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zarnik_pack {

struct FileCloser
{
    void operator()(zarnik::PlatformFile *file) const { zarnik::PlatformClose(file); }
};
using ReadFile = std::unique_ptr<zarnik::PlatformFile, FileCloser>;

struct DirectoryCloser
{
    void operator()(zarnik::PlatformDirectory *d) const { zarnik::PlatformCloseDirectory(d); }
};
using Folder = std::unique_ptr<zarnik::PlatformDirectory, DirectoryCloser>;

inline SaveOutcome Fail(EditProblem problem, const std::string &reason)
{
    SaveOutcome outcome;
    outcome.problem = problem;
    outcome.reason = reason;
    return outcome;
}

// What a backup's name adds to the name of the pack or index it keeps.
const char kBackupSuffix[] = ".bak";

// The stored form of `size` bytes is at most this long.
uint64_t MostStored(uint64_t size);

// A path's folder, with its last separator ("" for none), and its last
// segment.
struct PathParts
{
    std::string folder, name;
};
PathParts SplitPath(const std::string &path);

// A single pack's path, or the file its link leads to: a pack reached
// through a link is changed where it lies, in its own folder (the link
// stays and leads to the new pack).
std::string ResolvedPackPath(const std::string &path);

// The name a data file of a set had before saves renamed it: "data1~2.vfs"
// was "data1.vfs".
std::string DataNameBeforeSaves(const std::string &name);

// Why a file could not be written, in words for people.
std::string WriteFailureText(const zarnik::PlatformFailure &failure);

// For a save that changes the pack where it lies: its lock, unless the
// caller's options hold it (then `own` stays empty), then the check that
// the files it was opened from still stand as they were. None when the
// save may go on.
SaveOutcome HoldPack(const zarnik::CZarnikArchive &archive, const std::string &packPath,
                     const SaveOptions &options, PackLock &own);
// For PackLock::Take: taken at once, or not at all while another change
// holds the pack.
extern const std::atomic<bool> kNoWait;
// Removes what a killed save of the same pack left in `folder` (at
// `folderPath`): every file named as the file layer names a temporary file
// (TemporaryName) for a name `ours` takes, and nothing else. Called under
// the pack's lock, when no save of that pack is writing. A file that
// cannot be removed is noted in `leftOver`; else nothing is said.
void SweepPartials(zarnik::PlatformDirectory *folder, const std::string &folderPath,
                   const std::function<bool(const std::string &)> &ours, LeftOver &leftOver);
// None while every file `archive` was opened from stands as it was then;
// else the refusal that names the first that does not.
SaveOutcome StillAsOpened(const zarnik::CZarnikArchive &archive);

// The files of a pack as they stand, taken while the archive that opened
// them is still there, so that once it is let go a save can still tell
// whether one of them was replaced or rewritten since.
class StandingFiles
{
public:
    // Refused when `archive`'s files no longer stand as it opened them;
    // else `paths` (its files) are recorded as they stand.
    SaveOutcome Take(const zarnik::CZarnikArchive &archive, const std::vector<std::string> &paths);
    // None while each recorded file stands as it did.
    SaveOutcome Unchanged() const;

private:
    std::vector<std::pair<std::string, zarnik::PlatformFileStamp>> m_Files;
};

// What the items of a pack or a data file add up to, counted before they
// are written.
struct ItemTotals
{
    uint64_t count = 0;
    uint64_t pathBytes = 0;
    uint64_t mostStored = 0; // their stored bytes at most
    uint64_t entryBytes = 0; // their entries in a file table
    void Add(const PackEdit::Item &item);
};

// What the read-back expects of each file written, kept once the archive
// that held the kept ones is let go: its path, and a kept entry's sizes or
// a new file's source and size. A path is kept as a 64-bit digest: the
// writer holds every path for its table already, and a pack of a million
// files need not hold them twice.
class ExpectedFiles
{
public:
    void Add(const PackEdit::Item &item);
    // Room for `count` more files, so that a million of them are not
    // copied over as the list grows.
    void Reserve(size_t count) { m_Files.reserve(m_Files.size() + count); }
    size_t Count() const { return m_Files.size(); }
    bool PathIs(size_t i, const std::string &path) const { return m_Files[i].pathDigest == Digest(path); }
    bool Kept(size_t i) const { return m_Files[i].source == kKept; }
    // A kept entry's stored size (another writer may store an empty file
    // in 0 bytes, so a size of 0 says nothing).
    uint32_t Packed(size_t i) const { return m_Files[i].packed; }
    uint64_t Size(size_t i) const { return m_Files[i].size; }
    // A new file's source on disk.
    const std::string &Source(size_t i) const { return m_Sources[m_Files[i].source]; }

private:
    static const uint32_t kKept = UINT32_MAX;
    static uint64_t Digest(const std::string &path) { return std::hash<std::string>()(path); }
    struct File
    {
        uint64_t pathDigest;
        uint64_t size; // the size unpacked
        uint32_t packed;
        uint32_t source; // in m_Sources, or kKept
    };
    std::vector<File> m_Files;
    std::vector<std::string> m_Sources;
};

// Writes items one after another into `writer`, the kept ones' stored bytes
// from `source`; counts files and bytes across calls.
class ItemWriter
{
public:
    explicit ItemWriter(const SaveOptions &options) : m_Options(options) {}
    bool Stopped() const { return m_Options.stop && m_Options.stop->load(); }
    // False when the writer failed or a stop was asked for.
    bool Write(DataWriter &writer, const PackEdit::Item &item, zarnik::PlatformFile *source);
    // The items of `edit` (those of the data file `dataFile` of a set, all
    // of a single pack for kAllDataFiles) into `writer` in turn, each added
    // to `expected` once written, taken from the record one at a time;
    // false as Write.
    bool WriteAll(DataWriter &writer, const PackEdit &edit, uint32_t dataFile, const ItemTotals &totals,
                  zarnik::PlatformFile *source, ExpectedFiles &expected);
    // After the last Write: None, or what went wrong.
    SaveOutcome Outcome(const DataWriter &writer, const PackSink &sink) const;

private:
    void Report() const;

    const SaveOptions &m_Options;
    uint64_t m_Files = 0;
    uint64_t m_Bytes = 0;
    std::string m_ReadFailure; // the source that could not be read
};

// Every data file of a pack, for WriteAll and TotalsOf.
const uint32_t kAllDataFiles = UINT32_MAX;
// The totals of the items of `edit` in the data file `dataFile` (or all).
ItemTotals TotalsOf(const PackEdit &edit, uint32_t dataFile);

// The entries of a new pack or data file (`file`, `fileSize` bytes)
// compared with the files they were written from: the same paths in order,
// kept entries with their sizes, new ones reading back as their sources.
// Empty when they match, else what differs; a stop asked for ends it with
// Stopped. `files` and `bytes` count across calls.
SaveOutcome CheckEntries(const std::vector<const zarnik::ArchiveNode *> &entries, const ExpectedFiles &expected,
                         zarnik::PlatformFile *file, uint64_t fileSize, const SaveOptions &options, uint64_t &files,
                         uint64_t &bytes);

// The outcome of a save the options asked to stop.
SaveOutcome StoppedOutcome();

// Refused when the options' backup of `name` in `folder` cannot be made:
// NAME.bak stands there and is not NAME itself (a save stopped after
// linking it leaves that).
SaveOutcome BackupFree(zarnik::PlatformDirectory *folder, const std::string &name, const SaveOptions &options);

// Puts `temp` in the place of `name` in `folder` by one rename; with the
// options' backup, `name` is first linked as NAME.bak, so that a stop at
// any point leaves the old pack under its own name or as NAME.bak. Calls
// the options' stage(Replacing) on the way, and with sync has the folder's
// names on the disk after. `replaced` tells whether the
// rename was made: then a failure is the flush's alone.
SaveOutcome ReplaceOriginal(zarnik::PlatformDirectory *folder, OutputFile &temp, const std::string &name,
                            const SaveOptions &options, LeftOver &leftOver, bool &replaced);

// Gives `temp` its name beside nothing that stands there, with sync the
// folder's names on the disk after; `what` names it in a failure.
SaveOutcome PublishNew(zarnik::PlatformDirectory *folder, OutputFile &temp, const std::string &what,
                       const SaveOptions &options);

} // namespace zarnik_pack
