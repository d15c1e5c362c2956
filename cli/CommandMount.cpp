// zarnik mount / unmount: a pack as a read-only folder through FUSE. The
// tree and the reads are MountTree's and MountFiles'; here they meet the
// kernel, and the command line's checks keep a mount from being half made.
#define FUSE_USE_VERSION 31
#include "Commands.h"
#include "MountFiles.h"
#include "MountTree.h"
#include "OpenPack.h"
#include "PackText.h"

#include <fuse.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

namespace fs = std::filesystem;
using zarnik::ArchiveNode;

namespace {

// What every callback needs; FUSE hands it back as its private data.
struct Mounted
{
    const CMountTree *tree;
    CMountFiles *files;
    struct timespec time; // the pack file's modification time
    uid_t uid;
    gid_t gid;
};

Mounted &State() { return *static_cast<Mounted *>(fuse_get_context()->private_data); }

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
    }
    st->st_uid = state.uid;
    st->st_gid = state.gid;
    st->st_atim = st->st_mtim = st->st_ctim = state.time;
}

void *Init(struct fuse_conn_info *, struct fuse_config *config)
{
    // Nothing in the mount ever changes: the kernel may keep what it was told.
    config->use_ino = 1;
    config->entry_timeout = config->attr_timeout = config->negative_timeout = 3600;
    return fuse_get_context()->private_data;
}

int GetAttr(const char *path, struct stat *st, struct fuse_file_info *)
{
    const Mounted &state = State();
    const MountEntry *entry = state.tree->Find(path);
    if (!entry)
        return -ENOENT;
    FillStat(state, *entry, st);
    return 0;
}

int ReadDir(const char *path, void *buffer, fuse_fill_dir_t fill, off_t, struct fuse_file_info *,
            enum fuse_readdir_flags)
{
    const Mounted &state = State();
    const MountEntry *entry = state.tree->Find(path);
    if (!entry)
        return -ENOENT;
    if (!entry->IsFolder())
        return -ENOTDIR;
    fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags(0));
    fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags(0));
    struct stat st;
    for (uint32_t i = 0; i < entry->children; ++i) {
        const MountEntry &child = state.tree->At(entry->firstChild + i);
        FillStat(state, child, &st);
        if (fill(buffer, child.name.c_str(), &st, 0, FUSE_FILL_DIR_PLUS))
            break;
    }
    return 0;
}

int Open(const char *path, struct fuse_file_info *info)
{
    const Mounted &state = State();
    const MountEntry *entry = state.tree->Find(path);
    if (!entry)
        return -ENOENT;
    if (entry->IsFolder())
        return -EISDIR;
    if ((info->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    try {
        info->fh = reinterpret_cast<uint64_t>(state.files->OpenFile(*entry->node).release());
    } catch (const std::bad_alloc &) {
        return -ENOMEM;
    }
    return 0;
}

int Read(const char *, char *buffer, size_t size, off_t offset, struct fuse_file_info *info)
{
    if (offset < 0)
        return -EINVAL;
    try {
        return State().files->Read(*reinterpret_cast<CMountFiles::CHandle *>(info->fh), uint64_t(offset),
                                   buffer, size);
    } catch (const std::bad_alloc &) {
        return -ENOMEM;
    }
}

int Release(const char *, struct fuse_file_info *info)
{
    delete reinterpret_cast<CMountFiles::CHandle *>(info->fh);
    return 0;
}

struct fuse_operations Operations()
{
    struct fuse_operations ops;
    std::memset(&ops, 0, sizeof ops);
    ops.init = Init;
    ops.getattr = GetAttr;
    ops.readdir = ReadDir;
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
    Mounted state{&tree, &files, packStat.st_mtim, getuid(), getgid()};

    const std::string fsName = "fsname=" + LibraryPath(options.pack);
    std::string escaped; // ',' separates FUSE's options
    for (char c : fsName)
        escaped += c == ',' ? std::string("\\,") : std::string(1, c);
    const char *arguments[] = {"zarnik", "-o", "ro,subtype=zarnik", "-o", escaped.c_str()};
    struct fuse_args args = FUSE_ARGS_INIT(5, const_cast<char **>(arguments));
    const struct fuse_operations ops = Operations();
    struct fuse *fuse = fuse_new(&args, &ops, sizeof ops, &state);
    if (!fuse) {
        PrintError("cannot mount: FUSE refused the mount options");
        return kExitUsage;
    }
    if (fuse_mount(fuse, dir.c_str()) != 0) {
        fuse_destroy(fuse);
        PrintError("cannot mount on " + Printable(options.dir) + ": FUSE could not mount there");
        return kExitUsage;
    }
    // From here the mount stands; without -f the parent returns once the
    // child runs, so the next command can use the folder.
    g_foreground = options.foreground;
    if (!g_foreground)
        openlog("zarnik", LOG_PID, LOG_USER);
    struct fuse_session *session = fuse_get_session(fuse);
    int status = kExitOk;
    if (fuse_daemonize(options.foreground) != 0 || fuse_set_signal_handlers(session) != 0) {
        status = kExitUsage;
    } else {
        // A signal ends the loop with its number, an unmount from outside
        // with 0: both are the ordinary end; only a failure is negative.
        if (fuse_loop_mt(fuse, 0) < 0)
            status = kExitFileFailed;
        fuse_remove_signal_handlers(session);
    }
    fuse_unmount(fuse);
    fuse_destroy(fuse);
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
