#include "ChangeFolder.h"

#include "ZarnikArchive.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zarnik_mount {

namespace {

bool StampOf(const std::string &path, FileStamp *stamp)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    *stamp = FileStamp{path, uint64_t(st.st_dev), uint64_t(st.st_ino), uint64_t(st.st_size),
                       int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    return true;
}

std::string ReadText(const std::string &path)
{
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[65536];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, size_t(got));
    close(fd);
    return text;
}

bool MakeFolders(const std::string &path)
{
    for (size_t at = 1; at != std::string::npos;) {
        at = path.find('/', at + 1);
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

std::string StampLine(const FileStamp &s)
{
    return JournalWord(s.path) + " " + std::to_string(s.device) + " " + std::to_string(s.inode) + " " +
           std::to_string(s.size) + " " + std::to_string(s.modified) + "\n";
}

// The folder below `home` recorded for a pack of `path` and `inode` under
// another device number, or empty.
std::string FoundByPath(const std::string &home, const FileStamp &pack)
{
    DIR *listing = opendir(home.c_str());
    if (!listing)
        return {};
    std::string found;
    while (const dirent *entry = readdir(listing)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string folder = home + "/" + entry->d_name;
        std::istringstream text(ReadText(folder + "/pack"));
        std::string line;
        std::getline(text, line);
        const std::vector<std::string> words = JournalWords(line);
        if (words.size() == 5 && words[0] == pack.path && words[2] == std::to_string(pack.inode)) {
            found = folder;
            break;
        }
    }
    closedir(listing);
    return found;
}

} // namespace

std::vector<FileStamp> StampsOf(const zarnik::CZarnikArchive &archive, const std::string &packPath)
{
    std::vector<FileStamp> stamps(1);
    StampOf(packPath, &stamps[0]);
    for (size_t i = 0; i < archive.GetDataFileCount(); ++i) {
        FileStamp stamp;
        if (StampOf(archive.GetDataFilePath(i), &stamp) && !(stamp.device == stamps[0].device && stamp.inode == stamps[0].inode))
            stamps.push_back(stamp);
    }
    return stamps;
}

std::string ChangesHome()
{
    const char *state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return std::string(state) + "/zarnik/changes";
    const char *home = std::getenv("HOME");
    return std::string(home && home[0] ? home : "/tmp") + "/.local/state/zarnik/changes";
}

std::unique_ptr<CChangeFolder> CChangeFolder::Take(const std::string &home, const std::string &packPath,
                                                   const std::vector<FileStamp> &stamps, std::string *why)
{
    const FileStamp &pack = stamps.at(0);
    std::string path = home + "/" + std::to_string(pack.device) + "-" + std::to_string(pack.inode);
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        const std::string moved = FoundByPath(home, pack);
        if (!moved.empty() && rename(moved.c_str(), path.c_str()) != 0)
            path = moved;
    }
    if (!MakeFolders(path + "/files")) {
        *why = "cannot make the change folder " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    const int lock = open((path + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0 || flock(lock, LOCK_EX | LOCK_NB) != 0) {
        *why = lock < 0 ? "cannot lock the change folder " + path + ": " + std::strerror(errno)
                        : packPath + " is mounted for writing already (its changes wait in " + path + ")";
        if (lock >= 0)
            close(lock);
        return nullptr;
    }
    std::unique_ptr<CChangeFolder> folder(new CChangeFolder(path, packPath, lock));
    folder->m_Journal = open((path + "/journal").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (folder->m_Journal < 0 || (!folder->ReadBase() && !folder->Rebase(stamps))) {
        *why = "cannot write in the change folder " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return folder;
}

CChangeFolder::~CChangeFolder()
{
    if (m_Journal >= 0)
        close(m_Journal);
    close(m_Lock);
}

bool CChangeFolder::ReadBase()
{
    std::istringstream text(ReadText(m_Path + "/pack"));
    m_Base.clear();
    for (std::string line; std::getline(text, line);) {
        const std::vector<std::string> w = JournalWords(line);
        if (w.size() != 5)
            return false;
        m_Base.push_back(FileStamp{w[0], std::strtoull(w[1].c_str(), nullptr, 10),
                                   std::strtoull(w[2].c_str(), nullptr, 10), std::strtoull(w[3].c_str(), nullptr, 10),
                                   std::strtoll(w[4].c_str(), nullptr, 10)});
    }
    return !m_Base.empty();
}

bool CChangeFolder::Rebase(const std::vector<FileStamp> &stamps)
{
    std::string text;
    for (const FileStamp &stamp : stamps)
        text += StampLine(stamp);
    if (!WriteWhole("pack", text))
        return false;
    m_Base = stamps;
    return true;
}

std::vector<std::string> CChangeFolder::Journal() const
{
    const std::string text = ReadText(m_Path + "/journal");
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

bool CChangeFolder::Append(const std::string &line)
{
    const std::string whole = line + "\n";
    return write(m_Journal, whole.data(), whole.size()) == ssize_t(whole.size());
}

std::string CChangeFolder::FilePath(uint64_t n) const
{
    return m_Path + "/files/" + std::to_string(n);
}

uint64_t CChangeFolder::HighestFile() const
{
    uint64_t highest = 0;
    if (DIR *listing = opendir((m_Path + "/files").c_str())) {
        while (const dirent *entry = readdir(listing))
            highest = std::max<uint64_t>(highest, std::strtoull(entry->d_name, nullptr, 10));
        closedir(listing);
    }
    return highest;
}

int CChangeFolder::MakeFile(uint64_t n) const
{
    return open(FilePath(n).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

int CChangeFolder::OpenFile(uint64_t n) const
{
    return open(FilePath(n).c_str(), O_RDWR | O_CLOEXEC);
}

void CChangeFolder::RemoveFile(uint64_t n) const
{
    unlink(FilePath(n).c_str());
}

bool CChangeFolder::WriteWhole(const std::string &name, const std::string &text) const
{
    const std::string temporary = m_Path + "/" + name + ".new";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool written = write(fd, text.data(), text.size()) == ssize_t(text.size()) && fsync(fd) == 0;
    close(fd);
    return written && rename(temporary.c_str(), (m_Path + "/" + name).c_str()) == 0;
}

bool CChangeFolder::Remove()
{
    std::vector<std::string> names;
    if (DIR *listing = opendir((m_Path + "/files").c_str())) {
        while (const dirent *entry = readdir(listing))
            if (entry->d_name[0] != '.')
                names.push_back("files/" + std::string(entry->d_name));
        closedir(listing);
    }
    for (const char *name : {"journal", "pack", "status", "lock"})
        names.push_back(name);
    for (const std::string &name : names)
        if (unlink((m_Path + "/" + name).c_str()) != 0 && errno != ENOENT)
            return false;
    return rmdir((m_Path + "/files").c_str()) == 0 && rmdir(m_Path.c_str()) == 0;
}

std::string JournalWord(const std::string &word)
{
    std::string out;
    for (const char c : word) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7F || c == '%') {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out.empty() ? "%" : out; // "%" alone: the empty word
}

std::vector<std::string> JournalWords(const std::string &line)
{
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string word; in >> word;) {
        std::string out;
        for (size_t i = 0; i < word.size(); ++i) {
            if (word[i] == '%' && i + 2 < word.size() && std::isxdigit(static_cast<unsigned char>(word[i + 1])) &&
                std::isxdigit(static_cast<unsigned char>(word[i + 2]))) {
                out += char(std::strtoul(word.substr(i + 1, 2).c_str(), nullptr, 16));
                i += 2;
            } else if (word[i] != '%') {
                out += word[i];
            }
        }
        words.push_back(out);
    }
    return words;
}

int ChangeFileSize(int fd, uint64_t *size)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return errno;
    *size = uint64_t(st.st_size);
    return 0;
}

int ChangeFileRead(int fd, uint64_t offset, char *buffer, size_t count)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t got = pread(fd, buffer + done, count - done, off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -errno;
        if (got == 0)
            break;
        done += size_t(got);
    }
    return int(done);
}

int ChangeFileWrite(int fd, uint64_t offset, const char *data, size_t count)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t put = pwrite(fd, data + done, count - done, off_t(offset + done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            return -errno;
        done += size_t(put);
    }
    return int(done);
}

int ChangeFileResize(int fd, uint64_t size)
{
    return ftruncate(fd, off_t(size)) == 0 ? 0 : errno;
}

int ChangeFileSync(int fd)
{
    return fdatasync(fd) == 0 ? 0 : errno;
}

void ChangeFileClose(int fd)
{
    close(fd);
}

struct timespec ChangeFileTime(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return {};
    return st.st_mtim;
}

} // namespace zarnik_mount
