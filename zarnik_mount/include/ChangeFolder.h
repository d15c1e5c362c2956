// Where the changes made through a writable mount wait until they are saved
// into the pack or dropped: a folder of the pack's own below the user's
// state folder ($XDG_STATE_HOME/zarnik/changes, by default
// ~/.local/state/zarnik/changes), so that a killed mount or a restarted
// machine loses nothing.
//
// The folder belongs to the pack, not to the path it was reached by: it is
// named by the pack file's device and inode, so a link or another path to
// the same pack finds the same changes; should the device's number move
// (a restart), the pack's recorded path and inode find it again.
//
// What it holds:
//   pack     the pack's path and, for each of its files, what it was like
//            when the first change was made (to know when another program
//            changed it)
//   journal  one line for each change of the tree, in order
//   files/N  the bytes of each new or rewritten file
//   lock     held by the mount that writes, so that two never do at once
//   saving   while a save is under way: what the pack will hold after it
//
// It reaches the disk through the file layer (PlatformFile.h) alone.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace zarnik {
class CZarnikArchive;
struct PlatformDirectory;
struct PlatformFile;
} // namespace zarnik

namespace zarnik_mount {

// What a file of the pack was like: changed by another program when its
// inode, size or time moved. Neither the path it was reached by (a link,
// another path to it) nor the device's number (which a restart may give
// anew) makes it another file.
struct FileStamp
{
    std::string path;
    uint64_t device = 0, inode = 0, size = 0;
    int64_t modified = 0; // nanoseconds
    bool operator==(const FileStamp &o) const { return inode == o.inode && size == o.size && modified == o.modified; }
};

// The pack's files as they are now: its index, when it opened through one,
// and its data files.
std::vector<FileStamp> StampsOf(const zarnik::CZarnikArchive &archive, const std::string &packPath);

// The folder that holds every pack's change folder.
std::string ChangesHome();

class CChangeFolder
{
public:
    // The change folder of the pack at `packPath` (as the system reads it)
    // below `home`, made when there is none, and locked for this process.
    // Null with `why` when it cannot be made or another mount holds it.
    static std::unique_ptr<CChangeFolder> Take(const std::string &home, const std::string &packPath,
                                               const std::vector<FileStamp> &stamps, std::string *why);
    ~CChangeFolder();
    CChangeFolder(const CChangeFolder &) = delete;
    CChangeFolder &operator=(const CChangeFolder &) = delete;

    const std::string &Path() const { return m_Path; }
    // The pack's path as this mount reached it.
    const std::string &PackPath() const { return m_PackPath; }
    // What the pack's files were like when the first change waiting was made.
    const std::vector<FileStamp> &Base() const { return m_Base; }
    // The pack's files recorded anew as the base (when nothing waits).
    bool Rebase(const std::vector<FileStamp> &stamps);

    // The journal's lines; a last line cut short by a kill is left out.
    std::vector<std::string> Journal() const;
    // Appends one line; false (ChangeError says why) when it could not be
    // written.
    bool Append(const std::string &line);

    // The path of change file `n`.
    std::string FilePath(uint64_t n) const;
    // The highest number of a change file present, 0 when none is.
    uint64_t HighestFile() const;
    // Makes change file `n` empty and opens it for reading and writing;
    // null when it cannot (ChangeError says why).
    zarnik::PlatformFile *MakeFile(uint64_t n) const;
    // Opens change file `n` for reading and writing; null as above.
    zarnik::PlatformFile *OpenFile(uint64_t n) const;
    void RemoveFile(uint64_t n) const;

    // What the pack will hold once a save under way is done (SavedListing),
    // written before the save replaces the pack: a save stopped after that
    // step leaves its changes saved, and the mark tells the next mount so.
    bool MarkSaving(const std::string &listing);
    // The mark of a save that was begun and not finished; empty when none.
    std::string SavingMark() const;
    void DropSavingMark();

    // Removes the folder with everything in it (after a save or a discard).
    bool Remove();

private:
    CChangeFolder(std::string path, std::string packPath) : m_Path(std::move(path)), m_PackPath(std::move(packPath))
    {
    }
    bool ReadBase();
    // Writes `text` to `name` in the folder, whole, under a temporary name
    // first, flushed to the disk before it takes the name with `flush`.
    bool WriteWhole(const std::string &name, const std::string &text, bool flush) const;

    std::string m_Path;
    std::string m_PackPath;
    zarnik::PlatformDirectory *m_Folder = nullptr;
    zarnik::PlatformDirectory *m_Files = nullptr; // its files/
    zarnik::PlatformFile *m_Lock = nullptr;
    zarnik::PlatformFile *m_Journal = nullptr;
    std::vector<FileStamp> m_Base;
};

// Journal lines: words separated by one space, each with '%', space and the
// control characters written as %XX.
std::string JournalWord(const std::string &word);
std::vector<std::string> JournalWords(const std::string &line);

// The error a program understands (an errno value) for the last failed
// call on the change folder or a change file.
int ChangeError();

// What an open change file is, for reads and writes through the mount:
// 0 or the count done, else the error as ChangeError gives it (negated
// where a count is returned).
int ChangeFileSize(zarnik::PlatformFile *file, uint64_t *size);
int ChangeFileRead(zarnik::PlatformFile *file, uint64_t offset, char *buffer, size_t count);
int ChangeFileWrite(zarnik::PlatformFile *file, uint64_t offset, const char *data, size_t count);
int ChangeFileResize(zarnik::PlatformFile *file, uint64_t size);
int ChangeFileSync(zarnik::PlatformFile *file);
void ChangeFileClose(zarnik::PlatformFile *file);
// The change file's time of last change, for its attributes.
struct timespec ChangeFileTime(zarnik::PlatformFile *file);

} // namespace zarnik_mount
