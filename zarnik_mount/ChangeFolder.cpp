#include "ChangeFolder.h"

#include "PlatformFile.h"
#include "ZarnikArchive.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace zarnik_mount {

using zarnik::PlatformError;

namespace {

bool StampOf(const std::string &path, FileStamp *stamp)
{
    zarnik::PlatformFileStamp found;
    if (!zarnik::PlatformStampAt(path, &found))
        return false;
    *stamp = FileStamp{path, found.volume, found.file, found.size, found.written};
    return true;
}

std::string ReadText(const std::string &path)
{
    std::string text;
    zarnik::PlatformFile *file = zarnik::PlatformOpenRead(path);
    char buffer[65536];
    for (uint32_t got; file && (got = zarnik::PlatformReadAt(file, text.size(), buffer, sizeof buffer)) > 0;)
        text.append(buffer, got);
    zarnik::PlatformClose(file);
    return text;
}

std::string StampLine(const FileStamp &s)
{
    return JournalWord(s.path) + " " + std::to_string(s.device) + " " + std::to_string(s.inode) + " " +
           std::to_string(s.size) + " " + std::to_string(s.modified) + "\n";
}

const char kSavingMark[] = "saving";
// What the folder records of the pack; removed last, so that a folder whose
// removal was killed half way still tells whose it was.
const char kPackRecord[] = "pack";
// A folder being removed is first renamed to this and its name.
const char kRemovedPrefix[] = ".removed-";

// The name below `home` of the folder recorded for a pack of `path` and
// `inode` under another device number, or of a folder for `path` whose
// save was stopped (the new pack has an inode of its own); or empty.
std::string FoundByPath(const std::string &home, const FileStamp &pack)
{
    std::vector<zarnik::PlatformListed> entries;
    zarnik::PlatformListFolder(home, &entries);
    for (const zarnik::PlatformListed &entry : entries) {
        if (entry.kind != zarnik::PlatformListed::Kind::Folder || entry.name[0] == '.')
            continue;
        std::istringstream text(ReadText(home + "/" + entry.name + "/" + kPackRecord));
        std::string line;
        std::getline(text, line);
        const std::vector<std::string> words = JournalWords(line);
        zarnik::PlatformListed::Kind kind;
        if (words.size() == 5 && words[0] == pack.path &&
            (words[2] == std::to_string(pack.inode) ||
             zarnik::PlatformKindOf(home + "/" + entry.name + "/" + kSavingMark, &kind)))
            return entry.name;
    }
    return {};
}

// The change folder's name below `home` for `pack`: named by its device and
// inode, a folder recorded under an older device number taken over.
std::string FolderName(const std::string &home, const FileStamp &pack)
{
    const std::string name = std::to_string(pack.device) + "-" + std::to_string(pack.inode);
    zarnik::PlatformDirectory *parent = zarnik::PlatformMakePrivateFolders(home);
    std::string moved;
    if (parent && !zarnik::PlatformExistsAt(parent, name))
        moved = FoundByPath(home, pack);
    const bool renamed = !moved.empty() && zarnik::PlatformReplace(parent, moved, name);
    zarnik::PlatformCloseDirectory(parent);
    return moved.empty() || renamed ? name : moved;
}

std::string Failure()
{
    return zarnik::PlatformLastFailure().text;
}

} // namespace

int ChangeError()
{
    switch (zarnik::PlatformLastError()) {
    case PlatformError::NotFound:
        return ENOENT;
    case PlatformError::NoSpace:
        return ENOSPC;
    case PlatformError::TooLarge:
        return EFBIG;
    case PlatformError::Exists:
        return EEXIST;
    default:
        return EIO;
    }
}

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

namespace {

// Every file of `folder` (at `path`) removed, `last` after the others;
// false when one stays.
bool RemoveFilesOf(zarnik::PlatformDirectory *folder, const std::string &path, const std::string &last = {})
{
    std::vector<zarnik::PlatformListed> entries;
    if (!zarnik::PlatformListFolder(path, &entries))
        return false;
    for (const zarnik::PlatformListed &entry : entries)
        if (entry.kind != zarnik::PlatformListed::Kind::Folder && entry.name != last &&
            !zarnik::PlatformRemoveAt(folder, entry.name))
            return false;
    return last.empty() || zarnik::PlatformRemoveAt(folder, last);
}

// The folder `name` of `home` (at `homePath`) removed with its files and
// its files/ folder; false when something stays.
bool RemoveWhole(zarnik::PlatformDirectory *home, const std::string &homePath, const std::string &name)
{
    const std::string path = homePath + "/" + name;
    zarnik::PlatformDirectory *folder = zarnik::PlatformOpenDirectory(path);
    zarnik::PlatformDirectory *files = folder ? zarnik::PlatformEnterDirectory(folder, "files", false) : nullptr;
    const bool removed = folder && (!files || RemoveFilesOf(files, path + "/files")) &&
                         RemoveFilesOf(folder, path, kPackRecord) &&
                         (!files || zarnik::PlatformRemoveFolderAt(folder, "files")) &&
                         zarnik::PlatformRemoveFolderAt(home, name);
    zarnik::PlatformCloseDirectory(files);
    zarnik::PlatformCloseDirectory(folder);
    return removed;
}

// What removals of change folders of the pack at `packPath` left when they
// were killed half way: folders set aside for removal whose record names
// that pack, or that hold no record any more (then nothing but empty
// folders). One whose lock is held is being removed by its mount still.
void SweepRemoved(const std::string &home, const std::string &packPath)
{
    std::vector<zarnik::PlatformListed> entries;
    zarnik::PlatformListFolder(home, &entries);
    zarnik::PlatformDirectory *parent = zarnik::PlatformOpenDirectory(home);
    for (const zarnik::PlatformListed &entry : entries) {
        if (entry.kind != zarnik::PlatformListed::Kind::Folder || entry.name.rfind(kRemovedPrefix, 0) != 0)
            continue;
        const std::string path = home + "/" + entry.name;
        const std::string record = ReadText(path + "/" + kPackRecord);
        const std::vector<std::string> words = JournalWords(record.substr(0, record.find('\n')));
        if (!words.empty() && words[0] != packPath)
            continue;
        zarnik::PlatformDirectory *folder = zarnik::PlatformOpenDirectory(path);
        zarnik::PlatformFile *lock = folder ? zarnik::PlatformTakeLock(folder, "lock") : nullptr;
        if (lock)
            RemoveWhole(parent, home, entry.name);
        zarnik::PlatformReleaseLock(folder, "lock", lock);
        zarnik::PlatformCloseDirectory(folder);
    }
    zarnik::PlatformCloseDirectory(parent);
}

} // namespace

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
    const std::string path = home + "/" + FolderName(home, stamps.at(0));
    SweepRemoved(home, stamps.at(0).path);
    std::unique_ptr<CChangeFolder> folder(new CChangeFolder(path, packPath));
    folder->m_Files = zarnik::PlatformMakePrivateFolders(path + "/files");
    folder->m_Folder = folder->m_Files ? zarnik::PlatformOpenDirectory(path) : nullptr;
    if (!folder->m_Folder) {
        *why = "cannot make the change folder " + path + ": " + Failure();
        return nullptr;
    }
    folder->m_Lock = zarnik::PlatformTakeLock(folder->m_Folder, "lock");
    if (!folder->m_Lock) {
        const bool held = zarnik::PlatformLastError() == PlatformError::Busy;
        *why = held ? packPath + " is mounted for writing already (its changes wait in " + path + ")"
                    : "cannot lock the change folder " + path + ": " + Failure();
        return nullptr;
    }
    folder->m_Journal = zarnik::PlatformOpenAppending(folder->m_Folder, "journal");
    if (!folder->m_Journal || (!folder->ReadBase() && !folder->Rebase(stamps))) {
        *why = "cannot write in the change folder " + path + ": " + Failure();
        return nullptr;
    }
    return folder;
}

CChangeFolder::~CChangeFolder()
{
    zarnik::PlatformClose(m_Journal);
    zarnik::PlatformReleaseLock(m_Folder, "lock", m_Lock);
    zarnik::PlatformCloseDirectory(m_Files);
    zarnik::PlatformCloseDirectory(m_Folder);
}

bool CChangeFolder::ReadBase()
{
    std::istringstream text(ReadText(m_Path + "/" + kPackRecord));
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
    if (!WriteWhole(kPackRecord, text, true))
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
    return zarnik::PlatformWriteAll(m_Journal, whole.data(), whole.size());
}

std::string CChangeFolder::FilePath(uint64_t n) const
{
    return m_Path + "/files/" + std::to_string(n);
}

uint64_t CChangeFolder::HighestFile() const
{
    uint64_t highest = 0;
    std::vector<zarnik::PlatformListed> entries;
    zarnik::PlatformListFolder(m_Path + "/files", &entries);
    for (const zarnik::PlatformListed &entry : entries)
        highest = std::max<uint64_t>(highest, std::strtoull(entry.name.c_str(), nullptr, 10));
    return highest;
}

zarnik::PlatformFile *CChangeFolder::MakeFile(uint64_t n) const
{
    return zarnik::PlatformOpenChangeable(m_Files, std::to_string(n), true);
}

zarnik::PlatformFile *CChangeFolder::OpenFile(uint64_t n) const
{
    return zarnik::PlatformOpenChangeable(m_Files, std::to_string(n), false);
}

void CChangeFolder::RemoveFile(uint64_t n) const
{
    zarnik::PlatformRemoveAt(m_Files, std::to_string(n));
}

bool CChangeFolder::WriteWhole(const std::string &name, const std::string &text, bool flush) const
{
    std::string temporary;
    zarnik::PlatformFile *file = zarnik::PlatformCreateTemporary(m_Folder, name, &temporary);
    if (!file)
        return false;
    const bool written =
        zarnik::PlatformWriteAll(file, text.data(), text.size()) && (!flush || zarnik::PlatformFlush(file));
    if (zarnik::PlatformCloseWritten(file) && written && zarnik::PlatformReplace(m_Folder, temporary, name))
        return true;
    zarnik::PlatformRemoveAt(m_Folder, temporary);
    return false;
}


bool CChangeFolder::MarkSaving(const std::string &listing)
{
    // Not flushed, as the flush waits on the disk's journal at every save:
    // a power cut that loses it leaves no more behind than a save without
    // it would (a pack that holds the changes, and their folder unfound).
    return WriteWhole(kSavingMark, listing, false);
}

std::string CChangeFolder::SavingMark() const
{
    return ReadText(m_Path + "/" + kSavingMark);
}

void CChangeFolder::DropSavingMark()
{
    zarnik::PlatformRemoveAt(m_Folder, kSavingMark);
}

bool CChangeFolder::Remove()
{
    const size_t slash = m_Path.rfind('/');
    const std::string homePath = m_Path.substr(0, slash), name = m_Path.substr(slash + 1);
    const std::string aside = kRemovedPrefix + name;
    zarnik::PlatformDirectory *home = zarnik::PlatformOpenDirectory(homePath);
    // What a removal killed half way left.
    if (home && zarnik::PlatformExistsAt(home, aside))
        RemoveWhole(home, homePath, aside);
    // Out of sight in one step first: a removal killed half way then leaves
    // nothing a mount would take up as changes.
    const bool removed = home && zarnik::PlatformReplace(home, name, aside) && RemoveWhole(home, homePath, aside);
    zarnik::PlatformCloseDirectory(home);
    return removed;
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

int ChangeFileSize(zarnik::PlatformFile *file, uint64_t *size)
{
    return zarnik::PlatformFileSize(file, size) ? 0 : ChangeError();
}

int ChangeFileRead(zarnik::PlatformFile *file, uint64_t offset, char *buffer, size_t count)
{
    const uint32_t got = zarnik::PlatformReadAt(file, offset, buffer, uint32_t(count));
    // Short of the end the file has, the read failed: no reader may take it
    // for the file's end.
    uint64_t size = 0;
    if (got < count && (!zarnik::PlatformFileSize(file, &size) || size > offset + got))
        return -EIO;
    return int(got);
}

int ChangeFileWrite(zarnik::PlatformFile *file, uint64_t offset, const char *data, size_t count)
{
    return zarnik::PlatformWriteAt(file, offset, data, count) ? int(count) : -ChangeError();
}

int ChangeFileResize(zarnik::PlatformFile *file, uint64_t size)
{
    return zarnik::PlatformResize(file, size) ? 0 : ChangeError();
}

int ChangeFileSync(zarnik::PlatformFile *file)
{
    return zarnik::PlatformFlush(file) ? 0 : ChangeError();
}

void ChangeFileClose(zarnik::PlatformFile *file)
{
    zarnik::PlatformClose(file);
}

struct timespec ChangeFileTime(zarnik::PlatformFile *file)
{
    zarnik::PlatformFileStamp stamp;
    if (!zarnik::PlatformStampOf(file, &stamp))
        return {};
    return timespec{time_t(stamp.written / 1000000000), long(stamp.written % 1000000000)};
}

} // namespace zarnik_mount
