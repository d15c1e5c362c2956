// The file layer: every system call of the archive library goes through here.
//
// It behaves like the Windows file calls the library was designed around
// (open for reading, size, positioned reads, create directory, create new,
// write), with one addition of our own: files are written below a directory
// handle, under a temporary name, and published under their final name only
// when complete. One implementation per platform: PlatformFile_posix.cpp and
// PlatformFile_win32.cpp.
//
// Paths are UTF-8. Those the user gives reach the system unchanged (on
// Windows as the same text in UTF-16); names below a directory handle are
// single segments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zarnik {

struct PlatformFile;      // an open file
struct PlatformDirectory; // an open directory, the anchor of names below it

// Why the last failed call of this thread failed, in the kinds the library
// acts on.
enum class PlatformError {
    None,
    NotFound,
    Exists,     // something already stands at the name
    NotRegular, // a FIFO, device, socket or directory where a file was wanted
    IsLink,     // a symbolic link (or reparse point) where a directory was wanted
    NoSpace,    // the disk or quota is full, or the file system is read-only
    TooLarge,   // past the largest file this process or file system may write
    UnsafeName, // a name IsSafeName refuses (PackPath.h): never joined onto a path
    Busy,       // another process holds it: a lock, or (Windows) a file it has open
    Other,
};
PlatformError PlatformLastError();

// The last failure of this thread as a user should read it: its kind and
// the system's own words for it (as strerror or FormatMessage give them).
struct PlatformFailure
{
    PlatformError kind = PlatformError::None;
    std::string text;
};
PlatformFailure PlatformLastFailure();

// Why a file that could not be read as a pack is unreadable, in words for
// people: "no such file", "it is a directory", "the file is empty", ...
std::string PlatformWhyUnreadable(const std::string &path);

// The position of the last separator in a path as the system reads it, or
// std::string::npos. On Windows both '\' and '/' separate, but in the
// "\\?\" form, which the system takes as it is, only '\' does.
size_t PlatformLastSeparator(const std::string &path);

// `path` made absolute against the working folder, in the form the system
// reads it: on Windows "\\?\C:\...", "\\server\share\..." and
// "\\?\UNC\..." stay what they are, and "C:x" is taken on C:'s own working
// folder. "" for "", and `path` itself when the working folder is unknown.
std::string PlatformAbsolutePath(const std::string &path);

// Reading side.

// Opens an existing regular file read-only without ever blocking: a FIFO, a
// device, a socket or a directory is refused (NotRegular) before anything is
// read from it.
PlatformFile *PlatformOpenRead(const std::string &path);

// The file's size in bytes; false when it cannot be queried.
bool PlatformFileSize(PlatformFile *file, uint64_t *size);

// What tells whether a file was changed since an earlier look: its size,
// its last write time, which a rewrite of the same size moves, and which
// file it is, which another file renamed into its place changes.
struct PlatformFileStamp
{
    uint64_t size = 0;
    int64_t written = 0; // in the system's own units
    // The device and inode (on Windows the volume and the file index).
    uint64_t volume = 0, file = 0;
    bool operator==(const PlatformFileStamp &other) const
    {
        return size == other.size && written == other.written && volume == other.volume &&
               file == other.file;
    }
    bool operator!=(const PlatformFileStamp &other) const { return !(*this == other); }
};
// False when it cannot be queried.
bool PlatformStampOf(PlatformFile *file, PlatformFileStamp *stamp);
// The same of the file at `path`, links followed as opening follows them;
// false when nothing stands there or it cannot be queried.
bool PlatformStampAt(const std::string &path, PlatformFileStamp *stamp);

// `path` with the links of its last segment followed to the file they
// lead to (an absolute path); `path` itself when it is no link, and ""
// when the link leads nowhere.
std::string PlatformFollowLinks(const std::string &path);

// What a folder holds, as the system lists it (links are never followed):
// each name, UTF-8, and what it is. A path past 260 characters is read in
// the system's long-path form, so a tree extraction wrote reads back whole.
struct PlatformListed
{
    enum class Kind { File, Folder, Link, Other };
    std::string name;
    Kind kind;
};
// False when the folder cannot be read (PlatformLastFailure says why).
bool PlatformListFolder(const std::string &path, std::vector<PlatformListed> *entries);

// What stands at a path the user named (a link there is followed, as the
// user chose it): a regular file, a folder or something else (Other). False
// when nothing can be found there (PlatformLastFailure says why).
bool PlatformKindOf(const std::string &path, PlatformListed::Kind *kind);

// The last name of `path` made absolute: for "." the current folder's own
// name, for "a/b/" "b". Empty for the top of a file system, which has none.
std::string PlatformNameOf(const std::string &path);

// Reads up to `count` bytes at `position`; returns the number delivered,
// which is short at the end of the file (also when the file shrank after it
// was opened) or on failure.
uint32_t PlatformReadAt(PlatformFile *file, uint64_t position, void *buffer, uint32_t count);

void PlatformClose(PlatformFile *file);

// Writing side.

// Opens a directory the user named; links are followed, as the user chose it.
PlatformDirectory *PlatformOpenDirectory(const std::string &path);

// The directory `name` inside `parent`, made first when `create` is set and
// nothing stands there. A link at `name` is never followed (IsLink), not
// even one that appears while this runs.
PlatformDirectory *PlatformEnterDirectory(PlatformDirectory *parent, const std::string &name,
                                          bool create);

void PlatformCloseDirectory(PlatformDirectory *directory);

// True when anything (file, directory, link) stands at `name` in `directory`.
bool PlatformExistsAt(PlatformDirectory *directory, const std::string &name);

// True when `a` and `b` in `directory` both stand and are one and the same
// file or directory: a disk that ignores case takes names differing only in
// case for one. Links are not followed.
bool PlatformSameEntry(PlatformDirectory *directory, const std::string &a, const std::string &b);

// Creates a new, empty file for the final name `name` under a temporary name
// (TemporaryName in PackPath.h: NAME.zarnik-partial, NAME.zarnik-partial-2
// ... when that is taken), returned in `tempName`. Links are never followed.
// The file is marked as in use until its temporary name is published,
// replaced or removed, or its directory closed, and the system drops the
// mark when this process ends, however it ends. A plain file at a temporary
// name that nobody marks any more (one a killed run left behind) is removed
// and its name taken; anything else there (a file in use, a link, a FIFO, a
// folder) is left as it is.
PlatformFile *PlatformCreateTemporary(PlatformDirectory *directory, const std::string &name,
                                      std::string *tempName);
// The same, passing over every temporary name for which `taken` is true,
// before anything standing there is looked at: a name some other file of
// the same run is yet to be written under.
PlatformFile *PlatformCreateTemporary(PlatformDirectory *directory, const std::string &name,
                                      std::string *tempName,
                                      const std::function<bool(const std::string &)> &taken);

// Gives the temporary file its final name, never replacing anything: false
// with Exists when something stands at `name` (the temporary file stays).
bool PlatformPublish(PlatformDirectory *directory, const std::string &tempName,
                     const std::string &name);

// Gives the temporary file the name `name`, replacing the file standing
// there in one step: a reader sees the old file or the new, never neither.
bool PlatformReplace(PlatformDirectory *directory, const std::string &tempName,
                     const std::string &name);

// A second name `linkName` for the file `name` (a hard link), never
// replacing anything: Exists when something stands there.
bool PlatformLinkAt(PlatformDirectory *directory, const std::string &name,
                    const std::string &linkName);

// Removes the file `name` in `directory`; true when it is gone.
bool PlatformRemoveAt(PlatformDirectory *directory, const std::string &name);

// Writes every byte (looping over partial writes); false on any failure.
bool PlatformWriteAll(PlatformFile *file, const void *data, size_t count);

// Copies `count` bytes of `from`, starting at `offset`, to the end of what
// has been written to `to`; in the kernel where it can. Returns the number of
// bytes copied: short when the source ends early (PlatformLastError() is
// None then) or a write fails.
uint64_t PlatformCopyRange(PlatformFile *from, uint64_t offset, PlatformFile *to, uint64_t count);

// Has every byte written so far on the disk itself, past the system's
// caches (fsync, FlushFileBuffers); false when the disk reports an error.
bool PlatformFlush(PlatformFile *file);
// The same for the names made, replaced and removed in `directory`, so
// that a rename survives a power cut; Windows writes a rename through
// itself, and there this does nothing.
bool PlatformFlushDirectory(PlatformDirectory *directory);

// Gives the file being written `to` what says who may use the file `from`
// (a pack changed in place keeps them): its owner and group where this
// process may give them, and its permission bits, setgid and sticky
// included (setuid and setgid only with the owner and group they were
// for); on Windows its read-only attribute. False when the bits cannot be
// set.
bool PlatformCopyAccess(PlatformFile *from, PlatformFile *to);

// Closes a file that was written; false when the close reports an error
// (the data may not have reached the disk). A temporary file stays marked as
// in use (PlatformCreateTemporary) until it is published or removed.
bool PlatformCloseWritten(PlatformFile *file);

// Writes every byte at `position` of a file being written, over bytes
// written before (a size field filled in once known); where the next
// PlatformWriteAll writes does not change. False on any failure.
bool PlatformWriteAt(PlatformFile *file, uint64_t position, const void *data, size_t count);

// Locks: one change of a pack at a time among the processes that take the
// lock (flock, LockFileEx); readers take none.

// Takes the lock file `name` in `directory` (made when missing) without
// waiting: null with Busy while another process holds it. The file taken
// is the one standing at the name: one its holder removed meanwhile is let
// go and the new one tried. The system lets a lock go when its process
// ends, however it ends.
PlatformFile *PlatformTakeLock(PlatformDirectory *directory, const std::string &name);
// Removes the lock file, then lets the lock go.
void PlatformReleaseLock(PlatformDirectory *directory, const std::string &name, PlatformFile *lock);

// Files kept open and changed in place (the change files of a writable
// mount). Windows has no writable mount: there these fail with Other.

// Makes every missing folder of `path` for this user alone (the changes it
// will hold may be private) and opens the last; links on the way are
// followed, as the user chose them.
PlatformDirectory *PlatformMakePrivateFolders(const std::string &path);

// Opens the file `name` in `directory` for reading and writing, links
// never followed: made, or cut to nothing, when `makeEmpty` is set, else it
// must exist.
PlatformFile *PlatformOpenChangeable(PlatformDirectory *directory, const std::string &name,
                                     bool makeEmpty);

// Opens the file `name` in `directory` (made when missing, links never
// followed) so that every write lands at its end, whole lines never
// interleaved with another writer's.
PlatformFile *PlatformOpenAppending(PlatformDirectory *directory, const std::string &name);

// Makes the file `size` bytes long, cutting or adding zeros at its end.
bool PlatformResize(PlatformFile *file, uint64_t size);

// Removes the empty folder `name` in `directory`; true when it is gone.
bool PlatformRemoveFolderAt(PlatformDirectory *directory, const std::string &name);

} // namespace zarnik
