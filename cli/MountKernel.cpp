#include "MountKernel.h"

#include "MountFileSystem.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <sys/stat.h>

using zarnik_mount::CMountFileSystem;
using zarnik_mount::CMountFiles;
using zarnik_mount::MountEntry;

namespace {

// Nothing in the mount ever changes: the kernel may keep what it was told.
const double kKeep = 3600;

CMountFileSystem &Mounted(fuse_req_t request) { return *static_cast<CMountFileSystem *>(fuse_req_userdata(request)); }

// Where libfuse can ask for mapped direct I/O itself (3.16 and later), it
// does; the kernel's folder opening is taken where it is offered.
void Init(void *userdata, struct fuse_conn_info *connection)
{
    CMountFileSystem &mounted = *static_cast<CMountFileSystem *>(userdata);
#ifdef FUSE_CAP_DIRECT_IO_ALLOW_MMAP
    if (connection->capable & FUSE_CAP_DIRECT_IO_ALLOW_MMAP) {
        connection->want |= FUSE_CAP_DIRECT_IO_ALLOW_MMAP;
        mounted.Agreement().AgreeDirectIo();
    }
#endif
    if (connection->capable & FUSE_CAP_NO_OPENDIR_SUPPORT)
        mounted.Agreement().AgreeKernelOpensFolders();
}

void Lookup(fuse_req_t request, fuse_ino_t parent, const char *name)
{
    const CMountFileSystem &mounted = Mounted(request);
    const MountEntry *entry = mounted.Lookup(parent, name);
    // Remembered as absent for as long as the rest.
    struct fuse_entry_param found = {};
    found.entry_timeout = kKeep;
    if (entry) {
        found.ino = mounted.InodeOf(*entry);
        found.attr_timeout = kKeep;
        mounted.FillStat(*entry, &found.attr);
    }
    fuse_reply_entry(request, &found);
}

void GetAttr(fuse_req_t request, fuse_ino_t inode, struct fuse_file_info *)
{
    const CMountFileSystem &mounted = Mounted(request);
    const MountEntry *entry = mounted.EntryOf(inode);
    if (!entry) {
        fuse_reply_err(request, ENOENT);
        return;
    }
    struct stat st;
    mounted.FillStat(*entry, &st);
    fuse_reply_attr(request, &st, kKeep);
}

// Opening a folder keeps nothing: where the kernel can, it is told so once
// and opens folders itself, which spares `ls -R` two requests a folder.
void OpenDir(fuse_req_t request, fuse_ino_t, struct fuse_file_info *info)
{
    if (Mounted(request).Agreement().KernelOpensFolders())
        fuse_reply_err(request, ENOSYS);
    else
        fuse_reply_open(request, info);
}

// With `plus` the kernel is also given each folder's attributes, as a
// lookup would give them, so that a walk into the folder needs no lookup
// (ls -R: a third of its requests); files go without, or the kernel would
// make an inode for every one of them (ls -R of 1,000,000 files took three
// times as long).
void ListFolder(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, bool plus)
{
    const CMountFileSystem &mounted = Mounted(request);
    const std::unique_ptr<char[]> buffer(new char[size]); // asked for 32 KiB at a time: left unfilled
    struct fuse_entry_param given = {};
    given.attr_timeout = given.entry_timeout = kKeep;
    const auto add = [&](char *place, size_t room, const char *name, const MountEntry &entry, bool child,
                         off_t next) {
        mounted.FillStat(entry, &given.attr);
        given.ino = child && entry.IsFolder() ? given.attr.st_ino : 0; // 0: no attributes given
        return plus ? fuse_add_direntry_plus(request, place, room, name, &given, next)
                    : fuse_add_direntry(request, place, room, name, &given.attr, next);
    };
    size_t used = 0;
    const int error = mounted.List(inode, offset, buffer.get(), size, add, &used);
    if (error)
        fuse_reply_err(request, error);
    else
        fuse_reply_buf(request, buffer.get(), used);
}

void ReadDir(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, struct fuse_file_info *)
{
    ListFolder(request, inode, size, offset, false);
}

void ReadDirPlus(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, struct fuse_file_info *)
{
    ListFolder(request, inode, size, offset, true);
}

void Open(fuse_req_t request, fuse_ino_t inode, struct fuse_file_info *info)
{
    CMountFiles::CHandle *handle = nullptr;
    bool directIo = false;
    int error = 0;
    try {
        error = Mounted(request).Open(inode, info->flags, &handle, &directIo);
    } catch (const std::bad_alloc &) {
        error = ENOMEM;
    }
    if (error) {
        fuse_reply_err(request, error);
        return;
    }
    info->fh = reinterpret_cast<uint64_t>(handle);
    info->direct_io = directIo;
    fuse_reply_open(request, info);
}

void Read(fuse_req_t request, fuse_ino_t, size_t size, off_t offset, struct fuse_file_info *info)
{
    if (offset < 0) {
        fuse_reply_err(request, EINVAL);
        return;
    }
    try {
        CMountFiles::CPieces read;
        const int got = Mounted(request).Files().Read(*reinterpret_cast<CMountFiles::CHandle *>(info->fh),
                                                      uint64_t(offset), size, &read);
        if (got < 0)
            fuse_reply_err(request, -got);
        else
            fuse_reply_iov(request, read.pieces.data(), int(read.pieces.size()));
    } catch (const std::bad_alloc &) {
        fuse_reply_err(request, ENOMEM);
    }
}

void Release(fuse_req_t request, fuse_ino_t, struct fuse_file_info *info)
{
    Mounted(request).Files().CloseFile(reinterpret_cast<CMountFiles::CHandle *>(info->fh));
    fuse_reply_err(request, 0);
}

#ifndef FUSE_CAP_DIRECT_IO_ALLOW_MMAP
ssize_t ReadRequest(int fd, void *buffer, size_t length, void *userdata)
{
    return static_cast<CMountFileSystem *>(userdata)->Agreement().ReadRequest(fd, buffer, length);
}

ssize_t WriteAnswer(int fd, struct iovec *pieces, int count, void *userdata)
{
    return static_cast<CMountFileSystem *>(userdata)->Agreement().WriteAnswer(fd, pieces, count);
}
#endif

} // namespace

struct fuse_lowlevel_ops MountOperations()
{
    struct fuse_lowlevel_ops ops;
    std::memset(&ops, 0, sizeof ops);
    ops.init = Init;
    ops.lookup = Lookup;
    ops.getattr = GetAttr;
    ops.opendir = OpenDir;
    ops.readdir = ReadDir;
    ops.readdirplus = ReadDirPlus;
    ops.open = Open;
    ops.read = Read;
    ops.release = Release;
    return ops;
}

void AskForMappedDirectIo(struct fuse_session *session)
{
#ifndef FUSE_CAP_DIRECT_IO_ALLOW_MMAP
    // Should libfuse not hand its traffic over, packed files are read
    // through the page cache like the rest.
    struct fuse_custom_io io;
    std::memset(&io, 0, sizeof io);
    io.read = ReadRequest;
    io.writev = WriteAnswer;
    fuse_session_custom_io(session, &io, fuse_session_fd(session));
#else
    (void)session;
#endif
}
