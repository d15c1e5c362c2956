// A pack as the kernel sees it through a mount, in the kernel's terms
// (inodes, attributes, folder listings, open files) but without libfuse:
// the kernel shim only carries requests here and answers back.
//
// The tree's entries are the inodes: entry N is inode N + 1 (the top is
// FUSE's root, 1), so nothing needs counting or forgetting. A read-only
// mount never changes, so the kernel may keep all it is told; a writable
// one changes only through the kernel's own requests, which it keeps track
// of. Its changes are the write layer's (WriteLayer.h).
#pragma once

#include "KernelAgreement.h"
#include "MountFiles.h"
#include "MountTree.h"
#include "WriteLayer.h"
#include "ZarnikArchive.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <string_view>
#include <sys/stat.h>

namespace zarnik_mount {

class CMountControl;

class CMountFileSystem
{
public:
    struct Settings
    {
        size_t cacheBytes = size_t(64) << 20; // decoded bytes kept for the next reads
        unsigned aheadThreads = 0;            // decoding ahead of a reader; 0: none
        uid_t owner = 0;                      // of every file and folder
        gid_t group = 0;
        struct timespec time = {};            // of every file and folder: the pack's
    };

    // `archive` outlives this; `hidden` hears of every node left out of
    // the tree, `log` of every file that fails to read.
    CMountFileSystem(const zarnik::CZarnikArchive &archive, const Settings &settings,
                     const CMountTree::HiddenCallback &hidden, CMountFiles::FailureLog log);

    // Takes changes from now on, kept in `folder`; the changes waiting
    // there are taken up first: one line for each that could not be.
    std::vector<std::string> AllowChanges(std::unique_ptr<CChangeFolder> folder, uint64_t packLimit);
    // The changes, when it takes them; else null.
    CWriteLayer *Changes() { return m_Write.get(); }
    // Where the commands of other processes go (save, discard, status).
    void SetControl(CMountControl *control) { m_Control = control; }
    CMountControl *Control() { return m_Control; }

    // The entry of `inode` in the pack's tree, or null.
    const MountEntry *EntryOf(uint64_t inode) const;
    uint64_t InodeOf(const MountEntry &entry) const { return m_Tree.IndexOf(entry) + 1; }
    // The attributes of `inode`: 0, or ENOENT.
    int Attributes(uint64_t inode, struct stat *st) const;
    // The attributes of the child `name` of folder `parent`: 0, or ENOENT, ENOTDIR.
    int Lookup(uint64_t parent, std::string_view name, struct stat *st) const;

    // Adds one name of a listing at `place`, with `room` bytes left: the
    // bytes it needs, whether or not they fit (it adds it only when they
    // do). `st` is the child's, or for "." and ".." the folder's own;
    // `next` is the offset that lists from the name after it.
    using AddName = std::function<size_t(char *place, size_t room, const char *name, const struct stat &st,
                                         bool child, off_t next)>;
    // Lists folder `inode` from `offset` (0 first, then as `next` said)
    // into `buffer` of `size` bytes, as many names as fit: 0 with the bytes
    // used, or the error (ENOENT, ENOTDIR).
    int List(uint64_t inode, off_t offset, char *buffer, size_t size, const AddName &add, size_t *used) const;

    // One open file: the pack's bytes, or a changed file's in the change folder.
    struct COpenFile
    {
        CMountFiles::CHandle *pack = nullptr;
        zarnik::PlatformFile *changed = nullptr;
    };
    // Opens file `inode`: 0, or the error (ENOENT, EISDIR; EROFS for a
    // write where changes are not taken). `*directIo` says to read it
    // around the kernel's page cache.
    int Open(uint64_t inode, int flags, COpenFile **file, bool *directIo);
    // Reads as CMountFiles::Read does.
    int Read(COpenFile &file, uint64_t offset, size_t count, CMountFiles::CPieces *out);
    // The bytes written, or the error negated (EBADF for a file opened to read).
    int Write(COpenFile &file, uint64_t offset, const char *data, size_t count);
    int Sync(COpenFile &file);
    void Release(COpenFile *file);

    // The changes, with the attributes of what they made in `st`: 0 or the error.
    int Create(uint64_t parent, const std::string &name, int flags, struct stat *st, COpenFile **file);
    int MakeFolder(uint64_t parent, const std::string &name, struct stat *st);
    int Remove(uint64_t parent, const std::string &name, bool folder);
    int Rename(uint64_t parent, const std::string &name, uint64_t newParent, const std::string &newName,
               unsigned flags);
    int Resize(uint64_t inode, uint64_t size, struct stat *st);

    CMountFiles &Files() { return m_Files; }
    CKernelAgreement &Agreement() { return m_Agreement; }

private:
    void FillStat(const MountEntry &entry, struct stat *st) const;
    // Packed files with direct I/O, where the kernel agreed.
    bool DirectIo(const MountEntry &entry) const;
    COpenFile *Keep(std::unique_ptr<COpenFile> file);

    const CMountTree m_Tree;
    const Settings m_Settings;
    CMountFiles m_Files;
    CKernelAgreement m_Agreement;
    std::unique_ptr<CWriteLayer> m_Write;
    CMountControl *m_Control = nullptr;
    // Files stay this object's until released: a mount ended by a signal
    // may never hear of the files still open.
    std::mutex m_OpenLock;
    std::unordered_map<COpenFile *, std::unique_ptr<COpenFile>> m_Open;
};

} // namespace zarnik_mount
