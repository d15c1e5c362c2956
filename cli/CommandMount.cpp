// zarnik mount / unmount: a pack as a folder through FUSE, read-only or
// taking changes. The pack as a file system is zarnik_mount's and
// MountKernel carries the kernel's requests to it; here the command line's
// checks keep a mount from being half made, a mount of ours whose process
// died is cleared, and unmount hands the save or the discard to the
// process that holds the changes.
#include "ChangeFolder.h"
#include "Commands.h"
#include "MountFileSystem.h"
#include "MountKernel.h"
#include "MountSave.h"
#include "PackFormat.h"
#include "MountTable.h"
#include "OpenPack.h"
#include "PackText.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <malloc.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <syslog.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using zarnik::ArchiveNode;
using zarnik_mount::MountState;

namespace {

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

// The folder as the mount table names it: absolute, with the links above
// it resolved. The folder itself is not looked at: a mount whose process
// died answers no look.
std::string MountTablePath(const std::string &argument)
{
    fs::path path = fs::absolute(fs::u8path(argument)).lexically_normal();
    if (path.filename().empty() && path.has_relative_path())
        path = path.parent_path(); // a trailing '/'
    std::error_code ec;
    const fs::path parent = fs::weakly_canonical(path.parent_path(), ec);
    return (ec ? path : parent / path.filename()).string();
}

// Ends the mount at `dir` as its user may: through fusermount3.
bool Unmount(const std::string &dir)
{
    const pid_t child = fork();
    if (child == 0) {
        execlp("fusermount3", "fusermount3", "-u", "--", dir.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Where the mount's log goes: standard error in the foreground, else the
// system log.
void Log(bool foreground, const std::string &line)
{
    if (foreground)
        std::fprintf(stderr, "zarnik: %s\n", line.c_str());
    else
        syslog(LOG_WARNING, "%s", line.c_str());
}

// Runs the mounted session until it is unmounted or a signal ends it; in
// the background once the mount stands, so that the next command can use
// the folder. The exit status.
int Serve(struct fuse_session *session, bool foreground)
{
    if (!foreground)
        openlog("zarnik", LOG_PID, LOG_USER);
    int status = kExitOk;
    if (fuse_daemonize(foreground) != 0 || fuse_set_signal_handlers(session) != 0) {
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
    return status;
}

// The session on `dir` for `mounted`, or null with the reason printed.
struct fuse_session *MountSession(zarnik_mount::CMountFileSystem &mounted, const MountOptions &options,
                                  const std::string &dir)
{
    std::string escaped = "fsname="; // ',' separates FUSE's options
    for (char c : LibraryPath(options.pack))
        escaped += c == ',' ? std::string("\\,") : std::string(1, c);
    const std::string type = std::string(options.write ? "rw" : "ro") + ",subtype=" + zarnik_mount::kMountSubtype;
    const char *arguments[] = {"zarnik", "-o", type.c_str(), "-o", escaped.c_str()};
    struct fuse_args args = FUSE_ARGS_INIT(5, const_cast<char **>(arguments));
    const struct fuse_lowlevel_ops ops = MountOperations();
    struct fuse_session *session = fuse_session_new(&args, &ops, sizeof ops, &mounted);
    fuse_opt_free_args(&args);
    if (!session) {
        PrintError("cannot mount: FUSE refused the mount options");
        return nullptr;
    }
    if (fuse_session_mount(session, dir.c_str()) != 0) {
        fuse_session_destroy(session);
        PrintError("cannot mount on " + Printable(options.dir) + ": FUSE could not mount there");
        return nullptr;
    }
    AskForMappedDirectIo(session);
    return session;
}


// The changes the pack's change folder holds taken up, and the control that
// saves or drops them; null after a line saying why not.
std::unique_ptr<zarnik_mount::CMountControl> TakeChanges(zarnik_mount::CMountFileSystem &mounted,
                                                         const zarnik::CZarnikArchive &archive,
                                                         const std::string &packPath)
{
    std::string why, note;
    std::unique_ptr<zarnik_mount::CChangeFolder> folder =
        zarnik_mount::TakeChangeFolder(zarnik_mount::ChangesHome(), packPath, archive, &why, &note);
    std::stringstream lines(note);
    for (std::string line; std::getline(lines, line);)
        PrintError(Printable(line));
    if (!folder) {
        PrintError("cannot mount for writing: " + Printable(why));
        return nullptr;
    }
    const bool waiting = !folder->Journal().empty();
    if (!waiting && !folder->Rebase(zarnik_mount::StampsOf(archive, packPath))) {
        PrintError("cannot mount for writing: cannot write in " + Printable(folder->Path()));
        return nullptr;
    }
    const std::string where = folder->Path();
    for (const std::string &problem : mounted.AllowChanges(std::move(folder), zarnik::packformat::kMaxPackSize))
        PrintError("a change waiting could not be taken up: " + Printable(problem));
    zarnik_mount::CWriteLayer &layer = *mounted.Changes();
    auto control = std::make_unique<zarnik_mount::CMountControl>(layer, archive, packPath);
    mounted.SetControl(control.get());
    if (waiting) {
        const std::string status = control->StatusText();
        const size_t count = size_t(std::count(status.begin(), status.end(), '\n'));
        if (count > 0)
            PrintError("taking up " + std::to_string(count) + " change(s) made through an earlier mount of this pack (kept in " +
                       Printable(where) + ")");
        if (!layer.PackAsBefore())
            PrintError("the pack was changed by another program since then: these changes can be read and copied "
                       "out of the mount, but not saved into it");
    }
    return control;
}

// The value of the mount's extended attribute `name` at `dir`; false with errno.
bool MountAttribute(const std::string &dir, const std::string &name, std::string *value)
{
    static_assert(zarnik_mount::kStatusPiece <= 65536, "an attribute's value is at most 64 KiB");
    char buffer[65536];
    const ssize_t got = getxattr(dir.c_str(), name.c_str(), buffer, sizeof buffer);
    if (got < 0)
        return false;
    value->assign(buffer, size_t(got));
    return true;
}

// The lines of the changes waiting in the writable mount at `dir` (as diff
// prints them): 0, or the errno of asking (ENODATA: a read-only mount).
int WaitingLines(const std::string &dir, std::string *lines)
{
    const std::string status = zarnik_mount::kStatusAttribute;
    lines->clear();
    for (size_t n = 0;; ++n) {
        std::string piece;
        if (!MountAttribute(dir, n ? status + "." + std::to_string(n) : status, &piece))
            return errno == ENOTSUP ? ENODATA : errno;
        *lines += piece;
        if (piece.size() < zarnik_mount::kStatusPiece)
            return 0;
    }
}

// The line saying why the changes of the mount at `typed` could not be had.
void PrintNotWritable(const std::string &typed, int error)
{
    PrintError(Printable(typed) + ": " +
               (error == ENODATA ? std::string("not mounted for writing")
                                 : std::string("the mount does not answer: ") + std::strerror(error)));
}

int PrintStatus(const std::string &typed)
{
    const std::string dir = MountTablePath(typed);
    std::string lines;
    if (MountStateAt(dir) != MountState::Ours) {
        PrintError("cannot list the changes of " + Printable(typed) + ": no pack is mounted there");
        return kExitUsage;
    }
    if (const int error = WaitingLines(dir, &lines)) {
        PrintNotWritable(typed, error);
        return kExitUsage;
    }
    std::fwrite(lines.data(), 1, lines.size(), stdout);
    return kExitOk;
}

// Hands `command` to the writable mount at `dir`: kExitOk when done, else
// the exit status after the lines saying why (`undone`: what did not happen).
int CommandMount(const std::string &dir, const char *command, const std::string &value, const std::string &typed,
                 const char *undone)
{
    const bool done = setxattr(dir.c_str(), command, value.data(), value.size(), 0) == 0;
    const int error = errno;
    if (!done && (error == ENODATA || error == ENOTSUP)) {
        PrintNotWritable(typed, ENODATA);
        return kExitUsage;
    }
    std::string said;
    MountAttribute(dir, "user.zarnik.result", &said);
    std::stringstream lines(said);
    for (std::string line; std::getline(lines, line);)
        PrintError(Printable(line));
    if (done)
        return kExitOk;
    PrintError(std::string(undone) + ": " + std::strerror(error) + "; the changes are kept and " + Printable(typed) +
               " stays mounted");
    return kExitFileFailed;
}

// What becomes of the changes of the mount at `dir` before it is ended:
// saved or dropped as asked; else, with none waiting, the mount lets its
// change folder go (a read-only mount has none). kExitOk, or the exit
// status after the lines saying why the mount stays.
int EndChanges(const UnmountOptions &options, const std::string &dir)
{
    const std::string &typed = options.dir;
    if (options.save) {
        const std::string how = std::string(options.backup ? "backup " : "") + (options.sync ? "sync" : "");
        return CommandMount(dir, "user.zarnik.save", how, typed, "nothing was saved");
    }
    if (options.discard)
        return CommandMount(dir, "user.zarnik.discard", "", typed, "nothing was dropped");
    std::string lines;
    if (setxattr(dir.c_str(), "user.zarnik.release", "", 0, 0) == 0 || errno != EBUSY || WaitingLines(dir, &lines) != 0)
        return kExitOk;
    const size_t waiting = size_t(std::count(lines.begin(), lines.end(), '\n'));
    PrintError(std::to_string(waiting) + (waiting == 1 ? " change waits" : " changes wait") + " in " + Printable(typed) +
               ": 'zarnik unmount --save' writes them into the pack, 'zarnik unmount --discard' drops them");
    return kExitFileFailed;
}

} // namespace

int RunMount(const MountOptions &options)
{
    if (options.status)
        return PrintStatus(options.dir);
    const std::string dir = MountTablePath(options.dir);
    // A mount of ours whose process died leaves the folder answering
    // nothing; it is ended first, as the user would have to.
    if (MountStateAt(dir) == MountState::OursDead && !Unmount(dir)) {
        PrintError("cannot mount on " + Printable(options.dir) + ": a mount whose process died stands there, "
                   "and fusermount3 could not end it");
        return kExitUsage;
    }
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
    zarnik_mount::CMountFileSystem::Settings settings;
    struct stat packStat;
    if (stat(LibraryPath(options.pack).c_str(), &packStat) == 0)
        settings.time = packStat.st_mtim;
    settings.cacheBytes = size_t(options.cacheMiB) << 20;
    settings.aheadThreads = std::thread::hardware_concurrency();
    settings.owner = getuid();
    settings.group = getgid();
    const bool foreground = options.foreground;
    zarnik_mount::CMountFileSystem mounted(
        *archive, settings,
        [](const ArchiveNode &node, const char *why) {
            std::fprintf(stderr, "zarnik: not shown: %s: %s\n", ShownPath(node.m_Path).c_str(), why);
        },
        [foreground](const ArchiveNode &node, const std::string &why) {
            Log(foreground, ShownPath(node.m_Path) + ": " + why);
        });
    std::unique_ptr<zarnik_mount::CMountControl> control;
    if (options.write && !(control = TakeChanges(mounted, *archive, LibraryPath(options.pack))))
        return kExitUsage;
    // Stretches and their buffers are a few hundred KiB each, made and
    // freed by FUSE's many threads and the decoders ahead: with a heap for
    // each thread, what they freed piled up beside the cache's budget. A
    // mount reading 1 GiB with a 64 MiB cache peaked at 94-97 MiB so, and
    // at 71 MiB with one heap for the process (bench_mount). No member can
    // choose the heap the library's decoders allocate from.
    mallopt(M_ARENA_MAX, 1);
    struct fuse_session *session = MountSession(mounted, options, dir);
    if (!session)
        return kExitUsage;
    const int status = Serve(session, foreground);
    fuse_session_destroy(session);
    return status;
}

int RunUnmount(const UnmountOptions &options)
{
    const std::string &typed = options.dir;
    const std::string dir = MountTablePath(typed);
    const MountState state = MountStateAt(dir);
    if (state != MountState::Ours && state != MountState::OursDead) {
        PrintError("cannot unmount " + Printable(typed) + ": no pack is mounted there");
        return kExitUsage;
    }
    // A mount whose process died holds nothing but its folder: its changes
    // wait for the next `mount --write` of the pack.
    if (state == MountState::Ours)
        if (const int status = EndChanges(options, dir))
            return status;
    if (!Unmount(dir)) {
        PrintError("cannot unmount " + Printable(typed) + ": fusermount3 failed" +
                   (options.save ? " (the changes are saved into the pack)" : ""));
        return kExitUsage;
    }
    return kExitOk;
}
