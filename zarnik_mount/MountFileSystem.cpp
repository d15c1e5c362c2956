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

std::vector<std::string> CMountFileSystem::AllowChanges(std::unique_ptr<CChangeFolder> folder, uint64_t packLimit)
{
    m_Write = std::make_unique<CWriteLayer>(m_Files.Archive(), m_Tree, std::move(folder), packLimit);
    return m_Write->TakeUp();
}

int CMountFileSystem::Attributes(uint64_t inode, struct stat *st) const
{
    CWriteLayer::Attributes changed;
    if (!m_Write) {
        const MountEntry *entry = EntryOf(inode);
        if (!entry)
            return ENOENT;
        FillStat(*entry, st);
        return 0;
    }
    if (const int error = m_Write->AttributesOf(inode, &changed))
        return error;
    if (changed.pack || (changed.folder && inode <= m_Tree.Size())) {
        FillStat(m_Tree.At(uint32_t(inode - 1)), st);
        return 0;
    }
    std::memset(st, 0, sizeof *st);
    st->st_ino = inode;
    st->st_mode = changed.folder ? S_IFDIR | 0755 : S_IFREG | 0644;
    st->st_nlink = changed.folder ? 2 : 1;
    st->st_size = off_t(changed.size);
    st->st_blocks = (st->st_size + 511) / 512;
    st->st_uid = m_Settings.owner;
    st->st_gid = m_Settings.group;
    st->st_atim = st->st_mtim = st->st_ctim = changed.time;
    return 0;
}

int CMountFileSystem::Lookup(uint64_t parent, std::string_view name, struct stat *st) const
{
    if (m_Write) {
        uint64_t inode = 0;
        const int error = m_Write->Lookup(parent, name, &inode);
        return error ? error : Attributes(inode, st);
    }
    const MountEntry *folder = EntryOf(parent);
    const MountEntry *child = folder ? m_Tree.Child(*folder, name) : nullptr;
    if (!child)
        return folder && !folder->IsFolder() ? ENOTDIR : ENOENT;
    FillStat(*child, st);
    return 0;
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
        st->st_mode = S_IFDIR | (m_Write ? 0755 : 0555);
        st->st_nlink = 2;
    } else {
        st->st_mode = S_IFREG | (m_Write ? 0644 : 0444);
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
    struct stat st;
    if (const int error = Attributes(inode, &st))
        return error;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    off_t at = std::max<off_t>(offset, 0);
    const auto put = [&](const char *name, const struct stat &of, bool child) {
        const size_t needed = add(buffer + *used, size - *used, name, of, child, at + 1);
        if (needed > size - *used)
            return false;
        *used += needed;
        ++at;
        return true;
    };
    for (; at < 2; )
        if (!put(at == 0 ? "." : "..", st, false))
            return 0;
    if (m_Write)
        return m_Write->List(inode, size_t(at - 2), [&](const std::string &name, uint64_t child) {
            struct stat of;
            return Attributes(child, &of) == 0 && put(name.c_str(), of, true);
        });
    const MountEntry &folder = *EntryOf(inode);
    for (struct stat of; at < off_t(folder.children) + 2;) {
        const MountEntry &child = m_Tree.At(folder.firstChild + uint32_t(at - 2));
        FillStat(child, &of);
        if (!put(child.name.c_str(), of, true))
            break;
    }
    return 0;
}

CMountFileSystem::COpenFile *CMountFileSystem::Keep(std::unique_ptr<COpenFile> file)
{
    COpenFile *kept = file.get();
    std::lock_guard<std::mutex> hold(m_OpenLock);
    m_Open.emplace(kept, std::move(file));
    return kept;
}

int CMountFileSystem::Open(uint64_t inode, int flags, COpenFile **file, bool *directIo)
{
    const bool writing = (flags & O_ACCMODE) != O_RDONLY || (flags & O_TRUNC);
    auto opened = std::make_unique<COpenFile>();
    *directIo = false;
    const int64_t packEntry = m_Write ? m_Write->PackEntryOf(inode) : EntryOf(inode) ? int64_t(inode - 1) : -1;
    if (m_Write && (writing || packEntry < 0)) {
        if (const int error = m_Write->OpenChanged(inode, writing, flags & O_TRUNC, &opened->changed))
            return error;
        *file = Keep(std::move(opened));
        return 0;
    }
    const MountEntry *entry = packEntry >= 0 ? &m_Tree.At(uint32_t(packEntry)) : nullptr;
    if (!entry || entry->IsFolder())
        return entry ? EISDIR : ENOENT;
    if (writing)
        return EROFS;
    opened->pack = m_Files.OpenFile(uint32_t(packEntry));
    *directIo = DirectIo(*entry);
    *file = Keep(std::move(opened));
    return 0;
}

int CMountFileSystem::Read(COpenFile &file, uint64_t offset, size_t count, CMountFiles::CPieces *out)
{
    if (file.pack)
        return m_Files.Read(*file.pack, offset, count, out);
    out->own.reset(new char[count]);
    const int got = ChangeFileRead(file.changed, offset, out->own.get(), count);
    if (got > 0)
        out->pieces.push_back({out->own.get(), size_t(got)});
    return got;
}

int CMountFileSystem::Write(COpenFile &file, uint64_t offset, const char *data, size_t count)
{
    return file.pack || !m_Write ? -EBADF : m_Write->Write(file.changed, offset, data, count);
}

int CMountFileSystem::Sync(COpenFile &file)
{
    return file.pack ? 0 : ChangeFileSync(file.changed);
}

void CMountFileSystem::Release(COpenFile *file)
{
    std::unique_ptr<COpenFile> released;
    {
        std::lock_guard<std::mutex> hold(m_OpenLock);
        const auto it = m_Open.find(file);
        if (it == m_Open.end())
            return;
        released = std::move(it->second);
        m_Open.erase(it);
    }
    if (released->pack)
        m_Files.CloseFile(released->pack);
    else
        ChangeFileClose(released->changed);
}

int CMountFileSystem::Create(uint64_t parent, const std::string &name, int flags, struct stat *st, COpenFile **file)
{
    uint64_t inode = 0;
    if (!m_Write)
        return EROFS;
    if (const int error = m_Write->Create(parent, name, &inode))
        return error;
    bool directIo = false;
    if (const int error = Open(inode, (flags & ~O_ACCMODE) | O_RDWR, file, &directIo))
        return error;
    return Attributes(inode, st);
}

int CMountFileSystem::MakeFolder(uint64_t parent, const std::string &name, struct stat *st)
{
    uint64_t inode = 0;
    const int error = m_Write ? m_Write->MakeFolder(parent, name, &inode) : EROFS;
    return error ? error : Attributes(inode, st);
}

int CMountFileSystem::Remove(uint64_t parent, const std::string &name, bool folder)
{
    return m_Write ? m_Write->Remove(parent, name, folder) : EROFS;
}

int CMountFileSystem::Rename(uint64_t parent, const std::string &name, uint64_t newParent,
                             const std::string &newName, unsigned flags)
{
    // RENAME_NOREPLACE is 1; an exchange or a whiteout has no place in a pack.
    if (flags & ~1u)
        return EINVAL;
    return m_Write ? m_Write->Move(parent, name, newParent, newName, flags & 1u) : EROFS;
}

int CMountFileSystem::Resize(uint64_t inode, uint64_t size, struct stat *st)
{
    const int error = m_Write ? m_Write->Resize(inode, size) : EROFS;
    return error ? error : Attributes(inode, st);
}

} // namespace zarnik_mount
