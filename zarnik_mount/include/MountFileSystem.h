// A pack as the kernel sees it through a mount, in the kernel's terms
// (inodes, attributes, folder listings, open files) but without libfuse:
// the kernel shim only carries requests here and answers back.
//
// The tree's entries are the inodes: entry N is inode N + 1 (the top is
// FUSE's root, 1), so nothing needs counting or forgetting. Nothing in the
// mount ever changes, so the kernel may keep all it is told.
#pragma once

#include "KernelAgreement.h"
#include "MountFiles.h"
#include "MountTree.h"
#include "ZarnikArchive.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string_view>
#include <sys/stat.h>

namespace zarnik_mount {

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

    // The entry of `inode`, or null.
    const MountEntry *EntryOf(uint64_t inode) const;
    uint64_t InodeOf(const MountEntry &entry) const { return m_Tree.IndexOf(entry) + 1; }
    // The child `name` of folder `parent`, or null.
    const MountEntry *Lookup(uint64_t parent, std::string_view name) const;
    void FillStat(const MountEntry &entry, struct stat *st) const;

    // Adds one name of a listing at `place`, with `room` bytes left: the
    // bytes it needs, whether or not they fit (it adds it only when they
    // do). `entry` is the child, or for "." and ".." the folder itself;
    // `next` is the offset that lists from the name after it.
    using AddName = std::function<size_t(char *place, size_t room, const char *name, const MountEntry &entry,
                                         bool child, off_t next)>;
    // Lists folder `inode` from `offset` (0 first, then as `next` said)
    // into `buffer` of `size` bytes, as many names as fit: 0 with the bytes
    // used, or the error (ENOENT, ENOTDIR).
    int List(uint64_t inode, off_t offset, char *buffer, size_t size, const AddName &add, size_t *used) const;

    // Opens file `inode` for reading: 0, or the error (ENOENT, EISDIR,
    // EROFS for a write). `*directIo` says to read it around the kernel's
    // page cache.
    int Open(uint64_t inode, int flags, CMountFiles::CHandle **handle, bool *directIo);
    CMountFiles &Files() { return m_Files; }
    CKernelAgreement &Agreement() { return m_Agreement; }

private:
    // Packed files with direct I/O, where the kernel agreed.
    bool DirectIo(const MountEntry &entry) const;

    const CMountTree m_Tree;
    const Settings m_Settings;
    CMountFiles m_Files;
    CKernelAgreement m_Agreement;
};

} // namespace zarnik_mount
