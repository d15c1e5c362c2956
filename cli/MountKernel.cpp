#include "MountKernel.h"

#include "MountFileSystem.h"
#include "MountSave.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <sstream>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

using zarnik_mount::CMountFileSystem;
using zarnik_mount::CMountFiles;
using OpenFile = zarnik_mount::CMountFileSystem::COpenFile;

namespace {

// Nothing in the mount changes but through the kernel, which keeps track:
// it may keep what it was told.
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
    // Writes of 1 MiB rather than 128 KiB: an eighth of the requests.
    if (mounted.Changes())
        connection->max_write = 1 << 20;
}

OpenFile &OpenOf(struct fuse_file_info *info) { return *reinterpret_cast<OpenFile *>(info->fh); }

void ReplyEntry(fuse_req_t request, int error, const struct stat &st)
{
    if (error && error != ENOENT) {
        fuse_reply_err(request, error);
        return;
    }
    // An absent name is remembered as absent for as long as the rest.
    struct fuse_entry_param found = {};
    found.entry_timeout = kKeep;
    if (!error) {
        found.ino = st.st_ino;
        found.attr_timeout = kKeep;
        found.attr = st;
    }
    fuse_reply_entry(request, &found);
}

void ReplyAttributes(fuse_req_t request, int error, const struct stat &st)
{
    if (error)
        fuse_reply_err(request, error);
    else
        fuse_reply_attr(request, &st, kKeep);
}

void Lookup(fuse_req_t request, fuse_ino_t parent, const char *name)
{
    struct stat st;
    ReplyEntry(request, Mounted(request).Lookup(parent, name, &st), st);
}

void GetAttr(fuse_req_t request, fuse_ino_t inode, struct fuse_file_info *)
{
    struct stat st;
    ReplyAttributes(request, Mounted(request).Attributes(inode, &st), st);
}

// A size is a change; modes, owners and times are taken and ignored, as a
// pack keeps none of them.
void SetAttr(fuse_req_t request, fuse_ino_t inode, struct stat *wanted, int which, struct fuse_file_info *)
{
    CMountFileSystem &mounted = Mounted(request);
    struct stat st;
    const int error = which & FUSE_SET_ATTR_SIZE ? mounted.Resize(inode, uint64_t(wanted->st_size), &st)
                                                 : mounted.Attributes(inode, &st);
    ReplyAttributes(request, error, st);
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
    const auto add = [&](char *place, size_t room, const char *name, const struct stat &st, bool child,
                         off_t next) {
        given.attr = st;
        given.ino = child && S_ISDIR(st.st_mode) ? st.st_ino : 0; // 0: no attributes given
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

void ReplyOpen(fuse_req_t request, int error, OpenFile *file, bool directIo, struct fuse_file_info *info)
{
    if (error) {
        fuse_reply_err(request, error);
        return;
    }
    info->fh = reinterpret_cast<uint64_t>(file);
    info->direct_io = directIo;
    fuse_reply_open(request, info);
}

void Open(fuse_req_t request, fuse_ino_t inode, struct fuse_file_info *info)
{
    OpenFile *file = nullptr;
    bool directIo = false;
    int error = 0;
    try {
        error = Mounted(request).Open(inode, info->flags, &file, &directIo);
    } catch (const std::bad_alloc &) {
        error = ENOMEM;
    }
    ReplyOpen(request, error, file, directIo, info);
}

void Read(fuse_req_t request, fuse_ino_t, size_t size, off_t offset, struct fuse_file_info *info)
{
    if (offset < 0) {
        fuse_reply_err(request, EINVAL);
        return;
    }
    try {
        CMountFiles::CPieces read;
        const int got = Mounted(request).Read(OpenOf(info), uint64_t(offset), size, &read);
        if (got < 0)
            fuse_reply_err(request, -got);
        else
            fuse_reply_iov(request, read.pieces.data(), int(read.pieces.size()));
    } catch (const std::bad_alloc &) {
        fuse_reply_err(request, ENOMEM);
    }
}

void Write(fuse_req_t request, fuse_ino_t, const char *data, size_t size, off_t offset,
           struct fuse_file_info *info)
{
    const int put = offset < 0 ? -EINVAL : Mounted(request).Write(OpenOf(info), uint64_t(offset), data, size);
    if (put < 0)
        fuse_reply_err(request, -put);
    else
        fuse_reply_write(request, size_t(put));
}

void Flush(fuse_req_t request, fuse_ino_t, struct fuse_file_info *)
{
    fuse_reply_err(request, 0);
}

void Sync(fuse_req_t request, fuse_ino_t, int, struct fuse_file_info *info)
{
    fuse_reply_err(request, Mounted(request).Sync(OpenOf(info)));
}

void Release(fuse_req_t request, fuse_ino_t, struct fuse_file_info *info)
{
    Mounted(request).Release(&OpenOf(info));
    fuse_reply_err(request, 0);
}

void Create(fuse_req_t request, fuse_ino_t parent, const char *name, mode_t mode, struct fuse_file_info *info)
{
    struct stat st;
    OpenFile *file = nullptr;
    // Links, FIFOs and devices have no place in a pack.
    const int error = S_ISREG(mode) ? Mounted(request).Create(parent, name, info->flags, &st, &file) : EPERM;
    if (error) {
        fuse_reply_err(request, error);
        return;
    }
    struct fuse_entry_param made = {};
    made.ino = st.st_ino;
    made.attr = st;
    made.attr_timeout = made.entry_timeout = kKeep;
    info->fh = reinterpret_cast<uint64_t>(file);
    fuse_reply_create(request, &made, info);
}

void MakeFolder(fuse_req_t request, fuse_ino_t parent, const char *name, mode_t)
{
    struct stat st;
    const int error = Mounted(request).MakeFolder(parent, name, &st);
    if (error)
        fuse_reply_err(request, error);
    else
        ReplyEntry(request, 0, st);
}

void Unlink(fuse_req_t request, fuse_ino_t parent, const char *name)
{
    fuse_reply_err(request, Mounted(request).Remove(parent, name, false));
}

void RemoveFolder(fuse_req_t request, fuse_ino_t parent, const char *name)
{
    fuse_reply_err(request, Mounted(request).Remove(parent, name, true));
}

void Rename(fuse_req_t request, fuse_ino_t parent, const char *name, fuse_ino_t newParent, const char *newName,
            unsigned int flags)
{
    fuse_reply_err(request, Mounted(request).Rename(parent, name, newParent, newName, flags));
}

void RaiseFlag(fuse_req_t, void *flag)
{
    static_cast<std::atomic<bool> *>(flag)->store(true);
}

// The commands of `zarnik unmount` and `zarnik mount --status`, on the top
// folder. The kernel interrupts the request when the program that made it
// is killed or stopped by a signal (it cannot end before the answer): that
// stops a save it asked for.
void SetXattr(fuse_req_t request, fuse_ino_t inode, const char *name, const char *value, size_t size, int)
{
    zarnik_mount::CMountControl *control = Mounted(request).Control();
    if (inode != FUSE_ROOT_ID || !control) {
        fuse_reply_err(request, ENOTSUP);
        return;
    }
    std::atomic<bool> askerGone{false};
    fuse_req_interrupt_func(request, RaiseFlag, &askerGone);
    const int error = control->Set(name, std::string(value, size), &askerGone);
    fuse_req_interrupt_func(request, nullptr, nullptr); // the flag ends here
    fuse_reply_err(request, error);
}

void GetXattr(fuse_req_t request, fuse_ino_t inode, const char *name, size_t size)
{
    zarnik_mount::CMountControl *control = Mounted(request).Control();
    std::string value;
    const int error = inode == FUSE_ROOT_ID && control ? control->Get(name, &value) : ENODATA;
    if (error)
        fuse_reply_err(request, error);
    else if (size == 0)
        fuse_reply_xattr(request, value.size());
    else if (size < value.size())
        fuse_reply_err(request, ERANGE);
    else
        fuse_reply_buf(request, value.data(), value.size());
}

#ifndef FUSE_CAP_DIRECT_IO_ALLOW_MMAP
ssize_t ReadRequest(int fd, void *buffer, size_t length, void *userdata)
{
    const ssize_t got = read(fd, buffer, length);
    static_cast<CMountFileSystem *>(userdata)->Agreement().NoteRequest(buffer, got);
    return got;
}

// An answer goes to the kernel in one write, as libfuse's writev does.
ssize_t WriteAnswer(int fd, struct iovec *pieces, int count, void *userdata)
{
    zarnik_mount::CKernelAgreement &agreement = static_cast<CMountFileSystem *>(userdata)->Agreement();
    const std::vector<unsigned char> amended = agreement.AmendedAnswer(pieces, count);
    if (amended.empty())
        return writev(fd, pieces, count);
    const ssize_t written = write(fd, amended.data(), amended.size());
    agreement.AmendedSent(written == ssize_t(amended.size()));
    return written;
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
    ops.getxattr = GetXattr;
    ops.setxattr = SetXattr;
    ops.setattr = SetAttr;
    ops.create = Create;
    ops.mkdir = MakeFolder;
    ops.unlink = Unlink;
    ops.rmdir = RemoveFolder;
    ops.rename = Rename;
    ops.write = Write;
    ops.flush = Flush;
    ops.fsync = Sync;
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

zarnik_mount::MountState MountStateAt(const std::string &dir)
{
    std::ifstream file("/proc/self/mounts");
    std::stringstream table;
    table << file.rdbuf();
    const zarnik_mount::MountState listed = zarnik_mount::ListedAt(table.str(), dir);
    struct stat st;
    if (listed == zarnik_mount::MountState::Ours && stat(dir.c_str(), &st) != 0 && errno == ENOTCONN)
        return zarnik_mount::MountState::OursDead;
    return listed;
}
