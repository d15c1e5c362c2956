#include "MountFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace zarnik_mount {

namespace {

// What the kernel asks for at most in one read (libfuse's largest buffer).
const blksize_t kLargestRequest = 1 << 20;

} // namespace

CMountFileSystem::CMountFileSystem(const zarnik::CZarnikArchive &archive, const Settings &settings,
                                   const CMountTree::HiddenCallback &hidden, CMountFiles::FailureLog log)
    : m_Tree(archive.GetRoot(), hidden), m_Settings(settings),
      m_Files(archive, m_Tree, settings.cacheBytes, std::move(log), settings.aheadThreads)
{
}

const MountEntry *CMountFileSystem::EntryOf(uint64_t inode) const
{
    return inode >= 1 && inode <= m_Tree.Size() ? &m_Tree.At(uint32_t(inode - 1)) : nullptr;
}

const MountEntry *CMountFileSystem::Lookup(uint64_t parent, std::string_view name) const
{
    const MountEntry *folder = EntryOf(parent);
    return folder ? m_Tree.Child(*folder, name) : nullptr;
}

bool CMountFileSystem::DirectIo(const MountEntry &entry) const
{
    return !entry.IsFolder() && entry.node->IsPacked() && m_Agreement.DirectIoAgreed();
}

void CMountFileSystem::FillStat(const MountEntry &entry, struct stat *st) const
{
    std::memset(st, 0, sizeof *st);
    st->st_ino = InodeOf(entry);
    if (entry.IsFolder()) {
        st->st_mode = S_IFDIR | 0555;
        st->st_nlink = 2;
    } else {
        st->st_mode = S_IFREG | 0444;
        st->st_nlink = 1;
        st->st_size = entry.node->m_UnpackedSize;
        st->st_blocks = (st->st_size + 511) / 512;
        // Each read of a file opened for direct I/O is a request to the
        // mount: programs that size their reads by this ask for the most
        // one request carries.
        if (DirectIo(entry))
            st->st_blksize = kLargestRequest;
    }
    st->st_uid = m_Settings.owner;
    st->st_gid = m_Settings.group;
    st->st_atim = st->st_mtim = st->st_ctim = m_Settings.time;
}

// Offsets: 1 after ".", 2 after "..", 3 + N after child N.
int CMountFileSystem::List(uint64_t inode, off_t offset, char *buffer, size_t size, const AddName &add,
                           size_t *used) const
{
    *used = 0;
    const MountEntry *folder = EntryOf(inode);
    if (!folder || !folder->IsFolder())
        return folder ? ENOTDIR : ENOENT;
    for (off_t at = std::max<off_t>(offset, 0); at < off_t(folder->children) + 2; ++at) {
        const bool child = at >= 2;
        const MountEntry &entry = child ? m_Tree.At(folder->firstChild + uint32_t(at - 2)) : *folder;
        const char *name = at == 0 ? "." : at == 1 ? ".." : entry.name.c_str();
        const size_t needed = add(buffer + *used, size - *used, name, entry, child, at + 1);
        if (needed > size - *used)
            break;
        *used += needed;
    }
    return 0;
}

int CMountFileSystem::Open(uint64_t inode, int flags, CMountFiles::CHandle **handle, bool *directIo)
{
    const MountEntry *entry = EntryOf(inode);
    if (!entry || entry->IsFolder())
        return entry ? EISDIR : ENOENT;
    if ((flags & O_ACCMODE) != O_RDONLY)
        return EROFS;
    *handle = m_Files.OpenFile(m_Tree.IndexOf(*entry));
    *directIo = DirectIo(*entry);
    return 0;
}

} // namespace zarnik_mount
