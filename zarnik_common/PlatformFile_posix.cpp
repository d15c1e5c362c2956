// POSIX implementation of the file layer.
#include "PlatformFile.h"
#include "PackPath.h"
#include "PlatformCommon.h"
#include "TestSeams.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <climits>
#include <cstdlib>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace zarnik {

struct PlatformFile {
    explicit PlatformFile(int fd_, PlatformDirectory *directory_ = nullptr, std::string tempName_ = {})
        : fd(fd_), directory(directory_), tempName(std::move(tempName_))
    {
    }
    int fd;
    // For a file PlatformCreateTemporary made: where it stands and under
    // which temporary name, so that closing it keeps it marked as in use.
    PlatformDirectory *directory = nullptr;
    std::string tempName;
};

struct PlatformDirectory {
    explicit PlatformDirectory(int fd_) : fd(fd_) {}
    int fd;
    // Temporary files written and closed but not yet published or removed,
    // each with a descriptor that keeps its lock: until its final name is
    // given, such a file is still ours, and nobody may take it for stale.
    std::mutex heldLock;
    std::unordered_map<std::string, int> held;
};

using namespace platform_common;

namespace {

const KindCodes kKinds[] = {
    {PlatformError::NotFound, {ENOENT}},
    {PlatformError::Exists, {EEXIST}},
    {PlatformError::IsLink, {ELOOP, ENOTDIR}},
    {PlatformError::NoSpace, {ENOSPC, EDQUOT, EROFS}},
    {PlatformError::TooLarge, {EFBIG}},
    {PlatformError::Busy, {EWOULDBLOCK}},
};

} // namespace

long platform_common::LastSystemError()
{
    return errno;
}

PlatformError platform_common::KindOf(long code)
{
    return FindKind(code, kKinds);
}

std::string platform_common::SystemErrorText(long code)
{
    return std::strerror(static_cast<int>(code));
}

namespace {

int OpenRetrying(int dirfd, const char *path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::openat(dirfd, path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// A write past the process's file-size limit must come back as a failed
// write that we can clean up after, not as SIGXFSZ ending the program.
void IgnoreFileSizeSignal()
{
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

} // namespace

size_t PlatformLastSeparator(const std::string &path)
{
    return path.rfind('/');
}

std::string PlatformAbsolutePath(const std::string &path)
{
    if (path.empty() || path[0] == '/')
        return path;
    std::string folder(4096, '\0');
    while (!::getcwd(&folder[0], folder.size())) {
        if (errno != ERANGE)
            return Fail(path);
        folder.resize(folder.size() * 2);
    }
    folder.resize(std::strlen(folder.c_str()));
    return folder + (folder.back() == '/' ? "" : "/") + path;
}

PlatformFile *PlatformOpenRead(const std::string &path)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
    // writer. Regular files ignore the flag, so it can stay set.
    const int fd = OpenRetrying(AT_FDCWD, path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return Fail<PlatformFile *>(nullptr);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return FailWith<PlatformFile *>(PlatformError::NotRegular, nullptr);
    }
    return new PlatformFile{fd};
}

bool PlatformFileSize(PlatformFile *file, uint64_t *size)
{
    struct stat st;
    if (!file || ::fstat(file->fd, &st) != 0)
        return Fail(false);
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

namespace {

PlatformFileStamp StampFrom(const struct stat &st)
{
    PlatformFileStamp stamp;
    stamp.size = static_cast<uint64_t>(st.st_size);
    stamp.written = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.volume = static_cast<uint64_t>(st.st_dev);
    stamp.file = static_cast<uint64_t>(st.st_ino);
    return stamp;
}

} // namespace

bool PlatformStampOf(PlatformFile *file, PlatformFileStamp *stamp)
{
    struct stat st;
    if (!file || ::fstat(file->fd, &st) != 0)
        return Fail(false);
    *stamp = StampFrom(st);
    return true;
}

bool PlatformStampAt(const std::string &path, PlatformFileStamp *stamp)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return Fail(false);
    *stamp = StampFrom(st);
    return true;
}

std::string PlatformFollowLinks(const std::string &path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : Fail(std::string());
}

bool PlatformListFolder(const std::string &path, std::vector<PlatformListed> *entries)
{
    entries->clear();
    const int fd = OpenRetrying(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    DIR *dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return Fail(false);
    }
    errno = 0;
    while (const struct dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        unsigned char type = entry->d_type;
        struct stat st;
        if (type == DT_UNKNOWN && ::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
            type = S_ISREG(st.st_mode) ? DT_REG : S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_FIFO;
        entries->push_back({name, type == DT_REG   ? PlatformListed::Kind::File
                                  : type == DT_DIR ? PlatformListed::Kind::Folder
                                  : type == DT_LNK ? PlatformListed::Kind::Link
                                                   : PlatformListed::Kind::Other});
        errno = 0;
    }
    const bool whole = errno == 0;
    const int error = errno;
    ::closedir(dir);
    errno = error;
    return whole || Fail(false);
}

bool PlatformKindOf(const std::string &path, PlatformListed::Kind *kind)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return Fail(false);
    *kind = S_ISREG(st.st_mode)   ? PlatformListed::Kind::File
            : S_ISDIR(st.st_mode) ? PlatformListed::Kind::Folder
                                  : PlatformListed::Kind::Other;
    return true;
}

uint32_t platform_common::ReadOnce(PlatformFile *file, uint64_t position, void *buffer,
                                   uint32_t count)
{
    ssize_t n;
    do {
        n = ::pread(file->fd, buffer, count, static_cast<off_t>(position));
    } while (n < 0 && errno == EINTR);
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

void PlatformClose(PlatformFile *file)
{
    if (file) {
        ::close(file->fd);
        delete file;
    }
}

PlatformDirectory *PlatformOpenDirectory(const std::string &path)
{
    const int fd = OpenRetrying(AT_FDCWD, path.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return Fail<PlatformDirectory *>(nullptr);
    return new PlatformDirectory{fd};
}

PlatformDirectory *PlatformEnterDirectory(PlatformDirectory *parent, const std::string &name,
                                          bool create)
{
    if (!parent)
        return FailWith<PlatformDirectory *>(PlatformError::Other, nullptr);
    if (create && ::mkdirat(parent->fd, name.c_str(), 0777) != 0 && errno != EEXIST)
        return Fail<PlatformDirectory *>(nullptr);
    // O_NOFOLLOW refuses a link at the last component even when it was put
    // there after the mkdirat above; O_DIRECTORY refuses anything but a
    // directory.
    const int fd = OpenRetrying(parent->fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) {
        const int error = errno;
        struct stat st;
        if ((error == ELOOP || error == ENOTDIR) &&
            ::fstatat(parent->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISLNK(st.st_mode))
            return FailWith<PlatformDirectory *>(PlatformError::Exists, nullptr);
        errno = error;
        return Fail<PlatformDirectory *>(nullptr);
    }
    return new PlatformDirectory{fd};
}

void PlatformCloseDirectory(PlatformDirectory *directory)
{
    if (directory) {
        for (const auto &held : directory->held)
            ::close(held.second);
        ::close(directory->fd);
        delete directory;
    }
}

bool PlatformExistsAt(PlatformDirectory *directory, const std::string &name)
{
    struct stat st;
    return directory && ::fstatat(directory->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool PlatformSameEntry(PlatformDirectory *directory, const std::string &a, const std::string &b)
{
    struct stat first, second;
    return directory && ::fstatat(directory->fd, a.c_str(), &first, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::fstatat(directory->fd, b.c_str(), &second, AT_SYMLINK_NOFOLLOW) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

namespace {

bool LockedWithoutWaiting(int fd)
{
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

// True when `name` in `dirfd` still is the file open as `fd`.
bool StillStandsAt(int fd, int dirfd, const char *name)
{
    struct stat held, standing;
    return ::fstat(fd, &held) == 0 && ::fstatat(dirfd, name, &standing, AT_SYMLINK_NOFOLLOW) == 0 &&
           held.st_dev == standing.st_dev && held.st_ino == standing.st_ino;
}

// Removes the file at the temporary name `name` when it is one nobody
// writes any more: a regular file (links are never followed, nor is
// anything else opened that could block or stir a device) whose lock its
// writer held until the end and the system let go when that writer died.
// One still in use, one on a file system without locks, and anything that
// is not a plain file are kept. True when the name is free to try again.
bool ReclaimedStale(int dirfd, const char *name)
{
    struct stat seen;
    if (::fstatat(dirfd, name, &seen, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISREG(seen.st_mode))
        return false;
    const int fd = OpenRetrying(dirfd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT;
    struct stat opened;
    bool freed = false;
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && LockedWithoutWaiting(fd)) {
        // Removed by name while its lock is ours, and only while the name
        // still is that file.
        freed = !StillStandsAt(fd, dirfd, name) || ::unlinkat(dirfd, name, 0) == 0 || errno == ENOENT;
    }
    ::close(fd);
    return freed;
}

// Creates the temporary file `name` new and marks it as in use: an
// exclusive lock, which the system lets go when the last descriptor of the
// file closes, however this process ends. A stale file at the name is
// removed first. -1 with EEXIST when something else stands there.
int CreateMarked(int dirfd, const char *name)
{
    for (int round = 1; round <= 100; ++round) {
        const int fd = OpenRetrying(dirfd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        if (fd < 0) {
            if (errno != EEXIST)
                return -1;
            if (!ReclaimedStale(dirfd, name)) {
                errno = EEXIST;
                return -1;
            }
            continue;
        }
        // Between the create and the lock, another run may have taken the
        // new, unlocked file for stale and removed it: then the name is
        // tried again. A reclaimer removes only under the lock and the file
        // never has another name, so a file with a name still stands at
        // this one. Where the file system has no locks the file stays
        // unmarked, and nobody reclaims it either.
        const bool marked = LockedWithoutWaiting(fd);
        struct stat created;
        if ((marked || errno != EWOULDBLOCK) && ::fstat(fd, &created) == 0 && created.st_nlink > 0)
            return fd;
        ::close(fd);
    }
    errno = EEXIST;
    return -1;
}

} // namespace

PlatformFile *PlatformCreateTemporary(PlatformDirectory *directory, const std::string &name,
                                      std::string *tempName)
{
    return PlatformCreateTemporary(directory, name, tempName, nullptr);
}

PlatformFile *PlatformCreateTemporary(PlatformDirectory *directory, const std::string &name,
                                      std::string *tempName,
                                      const std::function<bool(const std::string &)> &taken)
{
    IgnoreFileSizeSignal();
    if (!directory || Injected(PlatformStep::CreateTemporary, name))
        return FailWith<PlatformFile *>(PlatformError::Other, nullptr);
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        std::string candidate = TemporaryName(name, attempt);
        if (taken && taken(candidate))
            continue;
        const int fd = CreateMarked(directory->fd, candidate.c_str());
        if (fd >= 0) {
            *tempName = candidate;
            return new PlatformFile{fd, directory, std::move(candidate)};
        }
        if (errno != EEXIST)
            return Fail<PlatformFile *>(nullptr);
    }
    return FailWith<PlatformFile *>(PlatformError::Exists, nullptr);
}

namespace {

// Lets go of the lock kept for the temporary file `tempName` once that
// name no longer is ours: published, replaced or removed.
void LetGoOf(PlatformDirectory *directory, const std::string &tempName)
{
    std::lock_guard<std::mutex> guard(directory->heldLock);
    const auto found = directory->held.find(tempName);
    if (found == directory->held.end())
        return;
    ::close(found->second);
    directory->held.erase(found);
}

int SystemRenameNoReplace(int fromDir, const char *from, int toDir, const char *to, unsigned flags)
{
    return ::renameat2(fromDir, from, toDir, to, flags);
}

std::atomic<RenameNoReplaceCall> g_RenameNoReplace{nullptr};

} // namespace

RenameNoReplaceCall SetRenameNoReplaceCall(RenameNoReplaceCall call)
{
    return g_RenameNoReplace.exchange(call);
}

bool PlatformPublish(PlatformDirectory *directory, const std::string &tempName,
                     const std::string &name)
{
    if (!directory || Injected(PlatformStep::Publish, name))
        return FailWith(PlatformError::Other, false);
    const RenameNoReplaceCall seam = g_RenameNoReplace.load();
    const RenameNoReplaceCall rename = seam ? seam : SystemRenameNoReplace;
    if (rename(directory->fd, tempName.c_str(), directory->fd, name.c_str(), RENAME_NOREPLACE) == 0) {
        LetGoOf(directory, tempName);
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return Fail(false);
    // A file system without RENAME_NOREPLACE: a hard link never replaces
    // anything either.
    if (::linkat(directory->fd, tempName.c_str(), directory->fd, name.c_str(), 0) != 0)
        return Fail(false);
    ::unlinkat(directory->fd, tempName.c_str(), 0);
    LetGoOf(directory, tempName);
    return true;
}

bool PlatformReplace(PlatformDirectory *directory, const std::string &tempName,
                     const std::string &name)
{
    if (!directory || Injected(PlatformStep::Replace, name))
        return FailWith(PlatformError::Other, false);
    if (::renameat(directory->fd, tempName.c_str(), directory->fd, name.c_str()) != 0)
        return Fail(false);
    LetGoOf(directory, tempName);
    return true;
}

bool PlatformLinkAt(PlatformDirectory *directory, const std::string &name,
                    const std::string &linkName)
{
    if (!directory || Injected(PlatformStep::Link, linkName))
        return FailWith(PlatformError::Other, false);
    if (::linkat(directory->fd, name.c_str(), directory->fd, linkName.c_str(), 0) != 0)
        return Fail(false);
    return true;
}

bool PlatformRemoveAt(PlatformDirectory *directory, const std::string &name)
{
    if (!directory || Injected(PlatformStep::Remove, name) ||
        (::unlinkat(directory->fd, name.c_str(), 0) != 0 && errno != ENOENT))
        return false;
    LetGoOf(directory, name);
    return true;
}

namespace {

// Writes every byte, at `position` when it is given, else where the file
// stands; partial writes and interruptions are carried on.
bool WriteEvery(PlatformFile *file, const void *data, size_t count, const uint64_t *position)
{
    if (!file)
        return FailWith(PlatformError::Other, false);
    const char *p = static_cast<const char *>(data);
    uint64_t at = position ? *position : 0;
    while (count > 0) {
        const ssize_t n = position ? ::pwrite(file->fd, p, count, static_cast<off_t>(at))
                                   : ::write(file->fd, p, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Fail(false);
        if (n == 0)
            return FailWith(PlatformError::Other, false);
        p += n;
        at += static_cast<uint64_t>(n);
        count -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool PlatformWriteAll(PlatformFile *file, const void *data, size_t count)
{
    return WriteEvery(file, data, count, nullptr);
}

uint64_t PlatformCopyRange(PlatformFile *from, uint64_t offset, PlatformFile *to, uint64_t count)
{
    if (!from || !to)
        return FailWith<uint64_t>(PlatformError::Other, 0);
    ClearLastError();
    // copy_file_range keeps the bytes in the kernel, as cp does. Where the
    // file systems or the kernel do not support it, copy through a buffer.
    off_t in = static_cast<off_t>(offset);
    uint64_t done = 0;
    while (done < count) {
        const uint64_t left = count - done;
        const size_t chunk = left < (1u << 30) ? static_cast<size_t>(left) : (1u << 30);
        const ssize_t n = ::copy_file_range(from->fd, &in, to->fd, nullptr, chunk, 0);
        if (n > 0) {
            done += static_cast<uint64_t>(n);
            continue;
        }
        if (n == 0)
            return done; // the source ended early
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP &&
            errno != EPERM)
            return Fail(done);
        char buffer[1 << 16];
        while (done < count) {
            const uint64_t rest = count - done;
            const uint32_t want = rest < sizeof buffer ? static_cast<uint32_t>(rest) : sizeof buffer;
            const uint32_t got = PlatformReadAt(from, static_cast<uint64_t>(in), buffer, want);
            if (got == 0)
                return done;
            if (!PlatformWriteAll(to, buffer, got))
                return done;
            in += got;
            done += got;
        }
    }
    return done;
}

bool PlatformCloseWritten(PlatformFile *file)
{
    if (!file)
        return false;
    const bool injected = Injected(PlatformStep::CloseWritten, "");
    // A temporary file stays marked as in use until it is published or
    // removed: a second descriptor of it keeps the lock past this close.
    const bool temporary = file->directory != nullptr;
    const int keeper = temporary ? ::fcntl(file->fd, F_DUPFD_CLOEXEC, 0) : -1;
    const int keepFailure = errno;
    bool ok = ::close(file->fd) == 0;
    if (!ok) {
        Fail(false);
    } else if (temporary && keeper < 0) {
        errno = keepFailure;
        ok = Fail(false);
    } else if (injected) {
        ok = FailWith(PlatformError::Other, false);
    }
    if (keeper >= 0) {
        std::lock_guard<std::mutex> guard(file->directory->heldLock);
        const auto placed = file->directory->held.emplace(file->tempName, keeper);
        if (!placed.second) {
            ::close(placed.first->second);
            placed.first->second = keeper;
        }
    }
    delete file;
    return ok;
}

bool PlatformCopyAccess(PlatformFile *from, PlatformFile *to)
{
    struct stat status;
    if (::fstat(from->fd, &status) != 0)
        return Fail(false);
    mode_t mode = status.st_mode & 07777;
    // As cp -p: what this process may not give is left its own, and the
    // set-id bits go with an owner or group that could not be given, or the
    // file would run as this process's user.
    if (::fchown(to->fd, status.st_uid, status.st_gid) != 0) {
        mode &= ~mode_t(S_ISUID);
        if (::fchown(to->fd, static_cast<uid_t>(-1), status.st_gid) != 0)
            mode &= ~mode_t(S_ISGID);
    }
    return ::fchmod(to->fd, mode) == 0 || Fail(false);
}

bool PlatformFlush(PlatformFile *file)
{
    if (Injected(PlatformStep::Flush, ""))
        return false;
    return ::fsync(file->fd) == 0 || Fail(false);
}

bool PlatformFlushDirectory(PlatformDirectory *directory)
{
    if (!directory || Injected(PlatformStep::FlushDirectory, ""))
        return FailWith(PlatformError::Other, false);
    return ::fsync(directory->fd) == 0 || Fail(false);
}

bool PlatformWriteAt(PlatformFile *file, uint64_t position, const void *data, size_t count)
{
    return WriteEvery(file, data, count, &position);
}

PlatformFile *PlatformTakeLock(PlatformDirectory *directory, const std::string &name)
{
    if (!directory)
        return FailWith<PlatformFile *>(PlatformError::Other, nullptr);
    // A holder removes the file before it lets the lock go: whoever took
    // the lock of a file removed meanwhile holds nothing, and tries the
    // file that stands there now.
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        const int fd = OpenRetrying(directory->fd, name.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW, 0666);
        if (fd < 0)
            return Fail<PlatformFile *>(nullptr);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return Fail<PlatformFile *>(nullptr);
        }
        struct stat held, standing;
        if (::fstat(fd, &held) == 0 && ::fstatat(directory->fd, name.c_str(), &standing, AT_SYMLINK_NOFOLLOW) == 0 &&
            held.st_dev == standing.st_dev && held.st_ino == standing.st_ino)
            return new PlatformFile{fd};
        ::close(fd);
    }
    return FailWith<PlatformFile *>(PlatformError::Busy, nullptr);
}

void PlatformReleaseLock(PlatformDirectory *directory, const std::string &name, PlatformFile *lock)
{
    if (!lock)
        return;
    if (directory)
        ::unlinkat(directory->fd, name.c_str(), 0);
    PlatformClose(lock);
}

PlatformDirectory *PlatformMakePrivateFolders(const std::string &path)
{
    for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string part = path.substr(0, end);
        if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return Fail<PlatformDirectory *>(nullptr);
        if (end == std::string::npos)
            break;
    }
    return PlatformOpenDirectory(path);
}

PlatformFile *PlatformOpenChangeable(PlatformDirectory *directory, const std::string &name,
                                     bool makeEmpty)
{
    if (!directory)
        return FailWith<PlatformFile *>(PlatformError::Other, nullptr);
    const int flags = O_RDWR | O_NOFOLLOW | (makeEmpty ? O_CREAT | O_TRUNC : 0);
    const int fd = OpenRetrying(directory->fd, name.c_str(), flags, 0600);
    return fd < 0 ? Fail<PlatformFile *>(nullptr) : new PlatformFile{fd};
}

PlatformFile *PlatformOpenAppending(PlatformDirectory *directory, const std::string &name)
{
    if (!directory)
        return FailWith<PlatformFile *>(PlatformError::Other, nullptr);
    const int fd = OpenRetrying(directory->fd, name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW, 0600);
    return fd < 0 ? Fail<PlatformFile *>(nullptr) : new PlatformFile{fd};
}

bool PlatformResize(PlatformFile *file, uint64_t size)
{
    IgnoreFileSizeSignal();
    return file && (::ftruncate(file->fd, static_cast<off_t>(size)) == 0 || Fail(false));
}

bool PlatformRemoveFolderAt(PlatformDirectory *directory, const std::string &name)
{
    return directory && (::unlinkat(directory->fd, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT ||
                         Fail(false));
}

} // namespace zarnik
