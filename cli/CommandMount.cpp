// zarnik mount / unmount: a pack as a read-only folder through FUSE. The
// tree and the reads are MountTree's and MountFiles'; here they meet the
// kernel, and the command line's checks keep a mount from being half made.
#define FUSE_USE_VERSION 312
#include "Commands.h"
#include "MountFiles.h"
#include "MountKernel.h"
#include "MountTree.h"
#include "OpenPack.h"
#include "PackText.h"

#include <fuse_lowlevel.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

namespace fs = std::filesystem;
using zarnik::ArchiveNode;

namespace {

// What every callback needs; FUSE hands it back with each request.
struct Mounted
{
    const CMountTree *tree;
    CMountFiles *files;
    struct timespec time; // the pack file's modification time
    uid_t uid;
    gid_t gid;
    bool kernelOpensFolders = false; // the kernel needs no word on opening a folder
};

// Nothing in the mount ever changes: the kernel may keep what it was told.
const double kKeep = 3600;

// What the kernel asks for at most in one read (libfuse's largest buffer).
const blksize_t kLargestRequest = 1 << 20;

Mounted &State(fuse_req_t request) { return *static_cast<Mounted *>(fuse_req_userdata(request)); }

// The tree's entries are the inodes: entry N is inode N + 1 (the top is
// FUSE's root, 1), so nothing needs counting or forgetting.
const MountEntry *EntryOf(const Mounted &state, fuse_ino_t inode)
{
    return inode >= 1 && inode <= state.tree->Size() ? &state.tree->At(uint32_t(inode - 1)) : nullptr;
}

void FillStat(const Mounted &state, const MountEntry &entry, struct stat *st)
{
    std::memset(st, 0, sizeof *st);
    st->st_ino = state.tree->IndexOf(entry) + 1;
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
        if (entry.node->IsPacked() && MappedDirectIoAgreed())
            st->st_blksize = kLargestRequest;
    }
    st->st_uid = state.uid;
    st->st_gid = state.gid;
    st->st_atim = st->st_mtim = st->st_ctim = state.time;
}

void Lookup(fuse_req_t request, fuse_ino_t parent, const char *name)
{
    const Mounted &state = State(request);
    const MountEntry *folder = EntryOf(state, parent);
    const MountEntry *entry = folder ? state.tree->Child(*folder, name) : nullptr;
    if (!entry) {
        // Remembered as absent for as long as the rest.
        struct fuse_entry_param none = {};
        none.entry_timeout = kKeep;
        fuse_reply_entry(request, &none);
        return;
    }
    struct fuse_entry_param found = {};
    found.ino = state.tree->IndexOf(*entry) + 1;
    found.attr_timeout = found.entry_timeout = kKeep;
    FillStat(state, *entry, &found.attr);
    fuse_reply_entry(request, &found);
}

void GetAttr(fuse_req_t request, fuse_ino_t inode, struct fuse_file_info *)
{
    const Mounted &state = State(request);
    const MountEntry *entry = EntryOf(state, inode);
    if (!entry) {
        fuse_reply_err(request, ENOENT);
        return;
    }
    struct stat st;
    FillStat(state, *entry, &st);
    fuse_reply_attr(request, &st, kKeep);
}

void Init(void *userdata, struct fuse_conn_info *connection)
{
    static_cast<Mounted *>(userdata)->kernelOpensFolders = connection->capable & FUSE_CAP_NO_OPENDIR_SUPPORT;
}

// Opening a folder keeps nothing: where the kernel can, it is told so once
// and opens folders itself, which spares `ls -R` two requests a folder.
void OpenDir(fuse_req_t request, fuse_ino_t, struct fuse_file_info *info)
{
    if (State(request).kernelOpensFolders)
        fuse_reply_err(request, ENOSYS);
    else
        fuse_reply_open(request, info);
}

// Offsets: 1 after ".", 2 after "..", 3 + N after child N. With `plus` the
// kernel is also given each folder's attributes, as a lookup would give
// them, so that a walk into the folder needs no lookup (ls -R: a third of
// its requests); files go without, or the kernel would make an inode for
// every one of them (ls -R of 1,000,000 files took three times as long).
void ListFolder(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, bool plus)
{
    const Mounted &state = State(request);
    const MountEntry *folder = EntryOf(state, inode);
    if (!folder || !folder->IsFolder()) {
        fuse_reply_err(request, folder ? ENOTDIR : ENOENT);
        return;
    }
    const std::unique_ptr<char[]> buffer(new char[size]); // asked for 32 KiB at a time: left unfilled
    size_t used = 0;
    struct fuse_entry_param given = {};
    given.attr_timeout = given.entry_timeout = kKeep;
    for (off_t at = std::max<off_t>(offset, 0); at < off_t(folder->children) + 2; ++at) {
        const MountEntry *entry = at < 2 ? nullptr : &state.tree->At(folder->firstChild + uint32_t(at - 2));
        const char *name = at == 0 ? "." : at == 1 ? ".." : entry->name.c_str();
        FillStat(state, entry ? *entry : *folder, &given.attr);
        given.ino = entry && entry->IsFolder() ? given.attr.st_ino : 0; // 0: no attributes given
        char *place = buffer.get() + used;
        const size_t needed = plus ? fuse_add_direntry_plus(request, place, size - used, name, &given, at + 1)
                                   : fuse_add_direntry(request, place, size - used, name, &given.attr, at + 1);
        if (needed > size - used)
            break;
        used += needed;
    }
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
    Mounted &state = State(request);
    const MountEntry *entry = EntryOf(state, inode);
    if (!entry || entry->IsFolder()) {
        fuse_reply_err(request, entry ? EISDIR : ENOENT);
        return;
    }
    if ((info->flags & O_ACCMODE) != O_RDONLY) {
        fuse_reply_err(request, EROFS);
        return;
    }
    try {
        info->fh = reinterpret_cast<uint64_t>(state.files->OpenFile(*entry->node));
    } catch (const std::bad_alloc &) {
        fuse_reply_err(request, ENOMEM);
        return;
    }
    info->direct_io = entry->node->IsPacked() && MappedDirectIoAgreed();
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
        const int got =
            State(request).files->Read(*reinterpret_cast<CMountFiles::CHandle *>(info->fh), uint64_t(offset), size, &read);
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
    State(request).files->CloseFile(reinterpret_cast<CMountFiles::CHandle *>(info->fh));
    fuse_reply_err(request, 0);
}

struct fuse_lowlevel_ops Operations()
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

bool FoundOnPath(const std::string &program)
{
    const char *path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':'))
        if (!folder.empty() && access((folder + "/" + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

// Why nothing can be mounted at `dir`, or empty when it can.
std::string MountPointProblem(const fs::path &dir)
{
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        return fs::exists(dir, ec) ? "not a directory" : "no such directory";
    if (!fs::is_empty(dir, ec))
        return ec ? "cannot be read" : "not empty";
    return "";
}

// The mounts of this system at `dir` made by this tool.
bool IsZarnikMount(const std::string &dir)
{
    std::ifstream mounts("/proc/self/mounts");
    std::string device, where, type;
    std::string rest;
    while (mounts >> device >> where >> type && std::getline(mounts, rest))
        if (where == dir && type == "fuse.zarnik")
            return true;
    return false;
}

bool g_foreground = false;

void LogFailure(const ArchiveNode &node, const std::string &why)
{
    const std::string line = ShownPath(node.m_Path) + ": " + why;
    if (g_foreground)
        std::fprintf(stderr, "zarnik: %s\n", line.c_str());
    else
        syslog(LOG_WARNING, "%s", line.c_str());
}

} // namespace

int RunMount(const MountOptions &options)
{
    const fs::path dir = fs::absolute(fs::u8path(options.dir));
    const std::string problem = MountPointProblem(dir);
    if (!problem.empty()) {
        PrintError("cannot mount on " + Printable(options.dir) + ": " + problem);
        return kExitUsage;
    }
    if (access("/dev/fuse", F_OK) != 0 || !FoundOnPath("fusermount3")) {
        PrintError("cannot mount: FUSE is not available on this system (needs /dev/fuse and "
                   "fusermount3, from the fuse3 package)");
        return kExitUsage;
    }
    const auto archive = OpenPack(options.pack);
    if (!archive)
        return kExitUsage;
    struct stat packStat;
    if (stat(LibraryPath(options.pack).c_str(), &packStat) != 0)
        std::memset(&packStat, 0, sizeof packStat);

    const CMountTree tree(archive->GetRoot(), [](const ArchiveNode &node, const char *why) {
        std::fprintf(stderr, "zarnik: not shown: %s: %s\n", ShownPath(node.m_Path).c_str(), why);
    });
    CMountFiles files(*archive, size_t(options.cacheMiB) << 20, LogFailure);
    std::string why;
    if (!files.Open(&why)) {
        PrintError("cannot open " + Printable(why));
        return kExitUsage;
    }
    // Stretches and their buffers are a few hundred KiB each, made and
    // freed by FUSE's many threads: with a heap for each thread, what they
    // freed piled up beside the cache's budget (with a 64 MiB cache the
    // process reached 117 MiB; with one heap for all, 72 MiB).
    mallopt(M_ARENA_MAX, 1);
    Mounted state{&tree, &files, packStat.st_mtim, getuid(), getgid()};

    const std::string fsName = "fsname=" + LibraryPath(options.pack);
    std::string escaped; // ',' separates FUSE's options
    for (char c : fsName)
        escaped += c == ',' ? std::string("\\,") : std::string(1, c);
    const char *arguments[] = {"zarnik", "-o", "ro,subtype=zarnik", "-o", escaped.c_str()};
    struct fuse_args args = FUSE_ARGS_INIT(5, const_cast<char **>(arguments));
    const struct fuse_lowlevel_ops ops = Operations();
    struct fuse_session *session = fuse_session_new(&args, &ops, sizeof ops, &state);
    fuse_opt_free_args(&args);
    if (!session) {
        PrintError("cannot mount: FUSE refused the mount options");
        return kExitUsage;
    }
    if (fuse_session_mount(session, dir.c_str()) != 0) {
        fuse_session_destroy(session);
        PrintError("cannot mount on " + Printable(options.dir) + ": FUSE could not mount there");
        return kExitUsage;
    }
    AskForMappedDirectIo(session);
    // From here the mount stands; without -f the parent returns once the
    // child runs, so the next command can use the folder.
    g_foreground = options.foreground;
    if (!g_foreground)
        openlog("zarnik", LOG_PID, LOG_USER);
    int status = kExitOk;
    if (fuse_daemonize(options.foreground) != 0 || fuse_set_signal_handlers(session) != 0) {
        status = kExitUsage;
    } else {
        // A signal ends the loop with its number, an unmount from outside
        // with 0: both are the ordinary end; only a failure is negative.
        struct fuse_loop_config *loop = fuse_loop_cfg_create();
        if (!loop || fuse_session_loop_mt(session, loop) < 0)
            status = kExitFileFailed;
        if (loop)
            fuse_loop_cfg_destroy(loop);
        fuse_remove_signal_handlers(session);
    }
    fuse_session_unmount(session);
    fuse_session_destroy(session);
    return status;
}

int RunUnmount(const std::string &dirArgument)
{
    std::error_code ec;
    const std::string dir = fs::weakly_canonical(fs::absolute(fs::u8path(dirArgument)), ec).string();
    if (!IsZarnikMount(dir)) {
        PrintError("cannot unmount " + Printable(dirArgument) + ": no pack is mounted there");
        return kExitUsage;
    }
    const pid_t child = fork();
    if (child == 0) {
        execlp("fusermount3", "fusermount3", "-u", "--", dir.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        PrintError("cannot unmount " + Printable(dirArgument) + ": fusermount3 failed");
        return kExitUsage;
    }
    return kExitOk;
}
