// POSIX implementation of the file layer.
#include "PlatformFile.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zarnik {

struct PlatformFile {
    int fd;
};

struct PlatformMapping {
    int fd;
    uint64_t size;
    uint64_t viewLength;
};

std::string PlatformNativePath(const std::string &path)
{
    std::string native(path);
    for (char &c : native) {
        if (c == '\\')
            c = '/';
    }
    return native;
}

std::string PlatformNameFromLatin1(const std::string &name)
{
    std::string out;
    out.reserve(name.size());
    for (unsigned char c : name) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

PlatformFile *PlatformOpenRead(const std::string &path)
{
    const std::string native = PlatformNativePath(path);
    int fd;
    do {
        fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return nullptr;
    // A directory or a device opens for reading on POSIX but is no pack.
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return new PlatformFile{fd};
}

bool PlatformFileSize(PlatformFile *file, uint64_t *size)
{
    struct stat st;
    if (!file || ::fstat(file->fd, &st) != 0)
        return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

PlatformMapping *PlatformCreateMapping(PlatformFile *file, uint64_t size)
{
    // As on Windows, an empty file has nothing to map.
    if (!file || size == 0)
        return nullptr;
    return new PlatformMapping{file->fd, size, 0};
}

const unsigned char *PlatformMapView(PlatformMapping *mapping, uint64_t length)
{
    if (!mapping || length == 0 || length > mapping->size)
        return nullptr;
    void *view = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, mapping->fd, 0);
    if (view == MAP_FAILED)
        return nullptr;
    mapping->viewLength = length;
    return static_cast<const unsigned char *>(view);
}

void PlatformUnmapView(PlatformMapping *mapping, const unsigned char *view)
{
    if (mapping && view)
        ::munmap(const_cast<unsigned char *>(view), mapping->viewLength);
}

void PlatformCloseMapping(PlatformMapping *mapping)
{
    delete mapping;
}

uint32_t PlatformReadAt(PlatformFile *file, uint64_t position, void *buffer, uint32_t count)
{
    if (!file)
        return 0;
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(file->fd, static_cast<char *>(buffer) + done, count - done,
                                  static_cast<off_t>(position + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<uint32_t>(n);
    }
    return done;
}

void PlatformClose(PlatformFile *file)
{
    if (file) {
        ::close(file->fd);
        delete file;
    }
}

bool PlatformCreateDirectory(const std::string &path)
{
    const std::string native = PlatformNativePath(path);
    if (::mkdir(native.c_str(), 0777) == 0)
        return true;
    struct stat st;
    return errno == EEXIST && ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

PlatformFile *PlatformCreateNew(const std::string &path)
{
    // A write past the process's file-size limit must come back as a failed
    // write that we can clean up after, not as SIGXFSZ ending the program.
    static std::once_flag ignoreFileSizeSignal;
    std::call_once(ignoreFileSizeSignal, [] { std::signal(SIGXFSZ, SIG_IGN); });

    const std::string native = PlatformNativePath(path);
    int fd;
    do {
        fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return nullptr;
    return new PlatformFile{fd};
}

bool PlatformWriteAll(PlatformFile *file, const void *data, size_t count)
{
    if (!file)
        return false;
    const char *p = static_cast<const char *>(data);
    while (count > 0) {
        const ssize_t n = ::write(file->fd, p, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

bool PlatformCopyRange(PlatformFile *from, uint64_t offset, PlatformFile *to, uint64_t count)
{
    if (!from || !to)
        return false;
    // copy_file_range keeps the bytes in the kernel, as cp does. Where the
    // file systems or the kernel do not support it, copy through a buffer.
    off_t in = static_cast<off_t>(offset);
    while (count > 0) {
        const size_t chunk = count < (1u << 30) ? static_cast<size_t>(count) : (1u << 30);
        const ssize_t n = ::copy_file_range(from->fd, &in, to->fd, nullptr, chunk, 0);
        if (n > 0) {
            count -= static_cast<uint64_t>(n);
            continue;
        }
        if (n == 0)
            return false; // the source ended early
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP &&
            errno != EPERM)
            return false;
        char buffer[1 << 16];
        while (count > 0) {
            const uint32_t want = count < sizeof buffer ? static_cast<uint32_t>(count) : sizeof buffer;
            const uint32_t got = PlatformReadAt(from, static_cast<uint64_t>(in), buffer, want);
            if (got == 0 || !PlatformWriteAll(to, buffer, got))
                return false;
            in += got;
            count -= got;
        }
    }
    return true;
}

bool PlatformCloseWritten(PlatformFile *file)
{
    if (!file)
        return false;
    const bool ok = ::close(file->fd) == 0;
    delete file;
    return ok;
}

bool PlatformRemoveFile(const std::string &path)
{
    const std::string native = PlatformNativePath(path);
    return ::unlink(native.c_str()) == 0 || errno == ENOENT;
}

bool PlatformExists(const std::string &path)
{
    const std::string native = PlatformNativePath(path);
    struct stat st;
    return ::lstat(native.c_str(), &st) == 0;
}

} // namespace zarnik
