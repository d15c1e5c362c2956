// Win32 implementation of the file layer.
//
// Paths arrive as UTF-8 and go to the system as UTF-16, so every name opens
// whatever the ANSI code page. A directory is held as an open handle that
// denies deletion (so it cannot be renamed away and replaced by a junction
// while we work below it) together with its full path in the "\\?\" form:
// names joined onto that path reach the file system as they are, with no
// device names, no trailing-dot trimming and no MAX_PATH limit.
#include "PlatformFile.h"
#include "PackPath.h"
#include "PlatformCommon.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace zarnik {

struct PlatformFile {
    explicit PlatformFile(HANDLE handle_, PlatformDirectory *directory_ = nullptr, std::string tempName_ = {})
        : handle(handle_), directory(directory_), tempName(std::move(tempName_))
    {
    }
    HANDLE handle;
    // For a file PlatformCreateTemporary made: where it stands and under
    // which temporary name, so that closing it keeps it marked as in use.
    PlatformDirectory *directory = nullptr;
    std::string tempName;
};

struct PlatformDirectory {
    PlatformDirectory(HANDLE handle_, std::wstring path_) : handle(handle_), path(std::move(path_)) {}
    HANDLE handle;
    std::wstring path; // "\\?\C:\..." without a trailing separator
    // Temporary files written and closed but not yet published or removed,
    // each with a handle that keeps it in use: until its final name is
    // given, such a file is still ours, and nobody may take it for stale.
    std::mutex heldLock;
    std::unordered_map<std::string, HANDLE> held;
};

using namespace platform_common;

namespace {

const KindCodes kKinds[] = {
    {PlatformError::NotFound,
     {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_INVALID_DRIVE, ERROR_BAD_NETPATH,
      ERROR_BAD_NET_NAME}},
    {PlatformError::Exists, {ERROR_FILE_EXISTS, ERROR_ALREADY_EXISTS}},
    {PlatformError::IsLink, {ERROR_CANT_ACCESS_FILE, ERROR_CANT_RESOLVE_FILENAME}},
    {PlatformError::NoSpace, {ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL, ERROR_WRITE_PROTECT}},
    {PlatformError::TooLarge, {ERROR_FILE_TOO_LARGE}},
    {PlatformError::Busy, {ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION}},
};

} // namespace

long platform_common::LastSystemError()
{
    return static_cast<long>(GetLastError());
}

PlatformError platform_common::KindOf(long code)
{
    return FindKind(code, kKinds);
}

std::string platform_common::SystemErrorText(long code)
{
    wchar_t text[512];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(code), 0, text, 512, nullptr);
    // The system's sentences end in ".\r\n"; the caller's message goes on.
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                          text[length - 1] == L' ' || text[length - 1] == L'.'))
        --length;
    const int size = length ? WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr,
                                                  0, nullptr, nullptr)
                            : 0;
    if (size <= 0)
        return "system error " + std::to_string(code);
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &utf8[0], size, nullptr, nullptr);
    return utf8;
}

namespace {

// UTF-8 to UTF-16; false for text that is not UTF-8.
bool Wide(const std::string &text, std::wstring *out)
{
    out->clear();
    if (text.empty())
        return true;
    const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                         static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0)
        return false;
    out->resize(static_cast<size_t>(size));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                               static_cast<int>(text.size()), &(*out)[0], size) == size;
}

// `name` joined onto the directory's path; a name IsSafeName refuses (one
// Windows would read as something else: a:b writes into a hidden stream of
// a, NUL.txt is the null device) fails as UnsafeName.
bool Join(const PlatformDirectory *directory, const std::string &name, std::wstring *out)
{
    std::wstring wide;
    if (!directory)
        return FailWith(PlatformError::Other, false);
    if (!IsSafeName(name) || !Wide(name, &wide))
        return FailWith(PlatformError::UnsafeName, false);
    *out = directory->path + L'\\' + wide;
    return true;
}

// The handle's file attributes, or INVALID_FILE_ATTRIBUTES.
DWORD Attributes(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(handle, &info) ? info.dwFileAttributes
                                                     : INVALID_FILE_ATTRIBUTES;
}

// A directory handle for the library: no data access, and others may read
// and write inside but neither delete nor rename the directory itself.
HANDLE OpenDirectoryHandle(const std::wstring &path, DWORD flags)
{
    return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

// `given` made absolute by the system's own reading, which knows every form
// a path may take ("\\?\", UNC, "C:x" on C:'s working folder).
bool FullPath(const std::wstring &given, std::wstring *out)
{
    const DWORD n = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return false;
    out->assign(n, L'\0');
    const DWORD m = GetFullPathNameW(given.c_str(), n, &(*out)[0], nullptr);
    if (m == 0 || m >= n)
        return false;
    out->resize(m);
    return true;
}

// `given` made absolute in the "\\?\" form, which reaches paths past 260
// characters.
bool LongForm(const std::wstring &given, std::wstring *out)
{
    std::wstring full;
    if (!FullPath(given, &full))
        return false;
    while (!full.empty() && full.back() == L'\\')
        full.pop_back();
    if (full.compare(0, 4, L"\\\\?\\") == 0)
        *out = full;
    else if (full.compare(0, 2, L"\\\\") == 0)
        *out = L"\\\\?\\UNC\\" + full.substr(2);
    else
        *out = L"\\\\?\\" + full;
    return true;
}

// UTF-16 to UTF-8.
std::string Narrow(const wchar_t *text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], size, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(size) - 1);
    return utf8;
}

// The full "\\?\" path of an open directory.
bool FinalPath(HANDLE handle, const std::wstring &given, std::wstring *out)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetFinalPathNameByHandleW(handle, buffer.data(),
                                                  static_cast<DWORD>(buffer.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0)
            break;
        if (n < buffer.size()) {
            out->assign(buffer.data(), n);
            while (out->size() > 4 && out->back() == L'\\')
                out->pop_back();
            return true;
        }
        buffer.resize(n + 1);
    }
    // Without the final path: the given one made absolute.
    return LongForm(given, out);
}

} // namespace

size_t PlatformLastSeparator(const std::string &path)
{
    // "\\?\" hands the rest to the file system as it is, where '/' is no
    // separator.
    return path.compare(0, 4, "\\\\?\\") == 0 ? path.rfind('\\') : path.find_last_of("\\/");
}

std::string PlatformAbsolutePath(const std::string &path)
{
    std::wstring wide, full;
    if (path.empty() || !Wide(path, &wide))
        return path;
    return FullPath(wide, &full) ? Narrow(full.c_str()) : Fail(path);
}

bool PlatformListFolder(const std::string &path, std::vector<PlatformListed> *entries)
{
    entries->clear();
    std::wstring wide, folder;
    if (!Wide(path, &wide) || !LongForm(wide, &folder))
        return FailWith(PlatformError::NotFound, false);
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return Fail(false);
    do {
        const std::string name = Narrow(found.cFileName);
        if (name.empty() || name == "." || name == "..")
            continue;
        const DWORD a = found.dwFileAttributes;
        entries->push_back({name, (a & FILE_ATTRIBUTE_REPARSE_POINT) ? PlatformListed::Kind::Link
                                  : (a & FILE_ATTRIBUTE_DIRECTORY)   ? PlatformListed::Kind::Folder
                                  : (a & FILE_ATTRIBUTE_DEVICE)      ? PlatformListed::Kind::Other
                                                                     : PlatformListed::Kind::File});
    } while (FindNextFileW(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    SetLastError(error);
    return error == ERROR_NO_MORE_FILES || Fail(false);
}

bool PlatformKindOf(const std::string &path, PlatformListed::Kind *kind)
{
    std::wstring wide, reaching;
    if (!Wide(path, &wide) || !LongForm(wide, &reaching))
        return FailWith(PlatformError::NotFound, false);
    // The attributes of what a link leads to, as opening it would see them.
    const HANDLE handle = OpenDirectoryHandle(reaching, 0);
    if (handle == INVALID_HANDLE_VALUE)
        return Fail(false);
    const DWORD attributes = GetFileType(handle) == FILE_TYPE_DISK ? Attributes(handle) : INVALID_FILE_ATTRIBUTES;
    CloseHandle(handle);
    *kind = attributes == INVALID_FILE_ATTRIBUTES           ? PlatformListed::Kind::Other
            : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PlatformListed::Kind::Folder
                                                            : PlatformListed::Kind::File;
    return true;
}

PlatformFile *PlatformOpenRead(const std::string &path)
{
    std::wstring wide;
    if (!Wide(path, &wide))
        return FailWith<PlatformFile *>(PlatformError::NotFound, nullptr);
    std::wstring reaching;
    if (wide.size() >= MAX_PATH && LongForm(wide, &reaching))
        wide = reaching;
    // Others may go on writing or renaming the pack; a directory fails here
    // (without FILE_FLAG_BACKUP_SEMANTICS) and pipes and devices fail the
    // disk-file check below before anything is read from them.
    const HANDLE handle =
        CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return FailWith<PlatformFile *>(PlatformError::NotRegular, nullptr);
        SetLastError(error); // the attribute query may have replaced it
        return Fail<PlatformFile *>(nullptr);
    }
    const DWORD attributes = GetFileType(handle) == FILE_TYPE_DISK ? Attributes(handle)
                                                                   : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(handle);
        return FailWith<PlatformFile *>(PlatformError::NotRegular, nullptr);
    }
    return new PlatformFile{handle};
}

bool PlatformFileSize(PlatformFile *file, uint64_t *size)
{
    LARGE_INTEGER value;
    if (!file || !GetFileSizeEx(file->handle, &value))
        return Fail(false);
    *size = static_cast<uint64_t>(value.QuadPart);
    return true;
}

namespace {

bool StampOfHandle(HANDLE handle, PlatformFileStamp *stamp)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return Fail(false);
    stamp->size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    stamp->written = int64_t((uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32) |
                             info.ftLastWriteTime.dwLowDateTime);
    stamp->volume = info.dwVolumeSerialNumber;
    stamp->file = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

// A handle for asking about the file at `path` (links followed), or
// INVALID_HANDLE_VALUE.
HANDLE OpenForQuery(const std::string &path)
{
    std::wstring wide, reaching;
    if (!Wide(path, &wide))
        return FailWith(PlatformError::NotFound, INVALID_HANDLE_VALUE);
    if (wide.size() >= MAX_PATH && LongForm(wide, &reaching))
        wide = reaching;
    const HANDLE handle = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return handle == INVALID_HANDLE_VALUE ? Fail(INVALID_HANDLE_VALUE) : handle;
}

} // namespace

bool PlatformStampOf(PlatformFile *file, PlatformFileStamp *stamp)
{
    return file ? StampOfHandle(file->handle, stamp) : FailWith(PlatformError::Other, false);
}

bool PlatformStampAt(const std::string &path, PlatformFileStamp *stamp)
{
    const HANDLE handle = OpenForQuery(path);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool known = StampOfHandle(handle, stamp);
    CloseHandle(handle);
    return known;
}

std::string PlatformFollowLinks(const std::string &path)
{
    std::wstring wide;
    if (!Wide(path, &wide))
        return path;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return path;
    const HANDLE handle = OpenForQuery(path);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    std::wstring final;
    const bool known = FinalPath(handle, wide, &final);
    CloseHandle(handle);
    if (!known)
        return {};
    // The "\\?\" form back to the one people and the layer's own paths use.
    if (final.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        final = L"\\\\" + final.substr(8);
    else if (final.compare(0, 4, L"\\\\?\\") == 0)
        final = final.substr(4);
    return Narrow(final.c_str());
}

uint32_t platform_common::ReadOnce(PlatformFile *file, uint64_t position, void *buffer,
                                   uint32_t count)
{
    OVERLAPPED overlapped = {};
    overlapped.Offset = static_cast<DWORD>(position);
    overlapped.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD n = 0;
    // ERROR_HANDLE_EOF past the end, or a failure: nothing read.
    if (!ReadFile(file->handle, buffer, count, &n, &overlapped))
        return 0;
    return n;
}

void PlatformClose(PlatformFile *file)
{
    if (file) {
        CloseHandle(file->handle);
        delete file;
    }
}

PlatformDirectory *PlatformOpenDirectory(const std::string &path)
{
    std::wstring wide;
    if (!Wide(path, &wide))
        return FailWith<PlatformDirectory *>(PlatformError::NotFound, nullptr);
    const HANDLE handle = OpenDirectoryHandle(wide, 0);
    if (handle == INVALID_HANDLE_VALUE)
        return Fail<PlatformDirectory *>(nullptr);
    std::wstring full;
    const DWORD attributes = Attributes(handle);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !FinalPath(handle, wide, &full)) {
        CloseHandle(handle);
        return FailWith<PlatformDirectory *>(PlatformError::Other, nullptr);
    }
    return new PlatformDirectory{handle, full};
}

PlatformDirectory *PlatformEnterDirectory(PlatformDirectory *parent, const std::string &name,
                                          bool create)
{
    std::wstring path;
    if (!Join(parent, name, &path))
        return nullptr;
    if (create && !CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return Fail<PlatformDirectory *>(nullptr);
    // FILE_FLAG_OPEN_REPARSE_POINT opens a junction or link itself, also one
    // put there after CreateDirectoryW above, so it is seen and refused;
    // once open, the directory cannot be replaced.
    const HANDLE handle = OpenDirectoryHandle(path, FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE)
        return Fail<PlatformDirectory *>(nullptr);
    const DWORD attributes = Attributes(handle);
    PlatformError refusal = PlatformError::None;
    if (attributes == INVALID_FILE_ATTRIBUTES)
        refusal = PlatformError::Other;
    else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        refusal = PlatformError::IsLink;
    else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        refusal = PlatformError::Exists;
    if (refusal != PlatformError::None) {
        CloseHandle(handle);
        return FailWith<PlatformDirectory *>(refusal, nullptr);
    }
    return new PlatformDirectory{handle, path};
}

void PlatformCloseDirectory(PlatformDirectory *directory)
{
    if (directory) {
        for (const auto &held : directory->held)
            CloseHandle(held.second);
        CloseHandle(directory->handle);
        delete directory;
    }
}

bool PlatformExistsAt(PlatformDirectory *directory, const std::string &name)
{
    // GetFileAttributesW reports a link or junction itself, not its target.
    std::wstring path;
    return Join(directory, name, &path) &&
           GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// The volume and file index of what stands at `path`, a link itself and not
// its target; false when nothing does.
bool Identity(const std::wstring &path, BY_HANDLE_FILE_INFORMATION *info)
{
    const HANDLE handle = OpenDirectoryHandle(path, FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool known = GetFileInformationByHandle(handle, info) != 0;
    CloseHandle(handle);
    return known;
}

} // namespace

bool PlatformSameEntry(PlatformDirectory *directory, const std::string &a, const std::string &b)
{
    std::wstring first, second;
    BY_HANDLE_FILE_INFORMATION one, other;
    return Join(directory, a, &first) && Join(directory, b, &second) && Identity(first, &one) &&
           Identity(second, &other) && one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
           one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}

namespace {

// Removes the file at the temporary name `path` when it is one nobody
// writes any more: a plain file (a link or junction is opened as itself,
// never followed; a folder does not open as a file) that no handle holds.
// A writer's handle shares no deletion and a kept one (PlatformCloseWritten)
// reads, so this exclusive open fails on either with a sharing violation:
// such a file is kept, as is anything that cannot be opened so. True when
// the name is free to try again.
bool ReclaimedStale(const std::wstring &path)
{
    const HANDLE handle = CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    const DWORD attributes = Attributes(handle);
    const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    FILE_DISPOSITION_INFO disposition = {TRUE};
    const bool removed = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & notPlain) &&
                         SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                                    sizeof disposition);
    CloseHandle(handle);
    return removed;
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
    std::wstring probe;
    if (!Join(directory, name, &probe))
        return nullptr;
    if (Injected(PlatformStep::CreateTemporary, name))
        return nullptr;
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        std::string candidate = TemporaryName(name, attempt);
        if (taken && taken(candidate))
            continue;
        std::wstring path;
        if (!Join(directory, candidate, &path))
            return nullptr;
        for (int round = 1; round <= 100; ++round) {
            // CREATE_NEW fails on anything at the name, a link included.
            // Without FILE_SHARE_DELETE the file is marked as in use for as
            // long as this handle is open.
            const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                              CREATE_NEW,
                                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                              nullptr);
            if (handle != INVALID_HANDLE_VALUE) {
                *tempName = candidate;
                return new PlatformFile{handle, directory, std::move(candidate)};
            }
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
                return Fail<PlatformFile *>(nullptr);
            if (!ReclaimedStale(path))
                break;
        }
    }
    return FailWith<PlatformFile *>(PlatformError::Exists, nullptr);
}

namespace {

// Lets go of the handle kept for the temporary file `tempName` once that
// name no longer is ours: published, replaced or removed.
void LetGoOf(PlatformDirectory *directory, const std::string &tempName)
{
    std::lock_guard<std::mutex> guard(directory->heldLock);
    const auto found = directory->held.find(tempName);
    if (found == directory->held.end())
        return;
    CloseHandle(found->second);
    directory->held.erase(found);
}

// A handle that keeps the temporary file `file` in use once its writing
// handle is closed: it reads, so no exclusive open succeeds, and it shares
// deletion, so this process can still rename or remove the file.
HANDLE KeeperOf(const PlatformFile *file)
{
    std::wstring path;
    if (!Join(file->directory, file->tempName, &path))
        return INVALID_HANDLE_VALUE;
    const HANDLE keeper = CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION ours, kept;
    if (keeper != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file->handle, &ours) &&
        GetFileInformationByHandle(keeper, &kept) && ours.dwVolumeSerialNumber == kept.dwVolumeSerialNumber &&
        ours.nFileIndexHigh == kept.nFileIndexHigh && ours.nFileIndexLow == kept.nFileIndexLow)
        return keeper;
    const DWORD error = GetLastError();
    if (keeper != INVALID_HANDLE_VALUE)
        CloseHandle(keeper);
    SetLastError(keeper != INVALID_HANDLE_VALUE ? ERROR_FILE_NOT_FOUND : error);
    return INVALID_HANDLE_VALUE;
}

// A virus scanner or an indexer may hold a file just written for a moment:
// a rename or removal it blocks is tried again a few times, over about a
// second, before it counts as failed.
template <typename Step>
bool Retried(Step step)
{
    for (DWORD attempt = 1;; ++attempt) {
        if (step())
            return true;
        const DWORD error = GetLastError();
        if (attempt == 5 || (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED &&
                             error != ERROR_LOCK_VIOLATION))
            return Fail(false);
        Sleep(50 * attempt);
    }
}

} // namespace

bool PlatformPublish(PlatformDirectory *directory, const std::string &tempName,
                     const std::string &name)
{
    std::wstring from, to;
    if (!Join(directory, tempName, &from) || !Join(directory, name, &to))
        return false;
    if (Injected(PlatformStep::Publish, name))
        return false;
    // Without MOVEFILE_REPLACE_EXISTING the move fails when anything stands
    // at the name.
    if (!Retried([&] { return MoveFileExW(from.c_str(), to.c_str(), 0) != 0; }))
        return false;
    LetGoOf(directory, tempName);
    return true;
}

bool PlatformReplace(PlatformDirectory *directory, const std::string &tempName,
                     const std::string &name)
{
    std::wstring from, to;
    if (!Join(directory, tempName, &from) || !Join(directory, name, &to))
        return false;
    if (Injected(PlatformStep::Replace, name))
        return false;
    // Windows replaces no read-only file: the new one carries the attribute
    // on (PlatformCopyAccess), and the old one loses it only to be replaced.
    const DWORD attributes = GetFileAttributesW(to.c_str());
    const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly)
        SetFileAttributesW(to.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    const bool replaced = Retried([&] {
        return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    });
    if (!replaced && readOnly) {
        const DWORD error = GetLastError();
        SetFileAttributesW(to.c_str(), attributes);
        SetLastError(error);
        return Fail(false);
    }
    if (replaced)
        LetGoOf(directory, tempName);
    return replaced;
}

bool PlatformLinkAt(PlatformDirectory *directory, const std::string &name,
                    const std::string &linkName)
{
    std::wstring from, to;
    if (!Join(directory, name, &from) || !Join(directory, linkName, &to))
        return false;
    if (Injected(PlatformStep::Link, linkName))
        return false;
    if (!CreateHardLinkW(to.c_str(), from.c_str(), nullptr))
        return Fail(false);
    return true;
}

bool PlatformRemoveAt(PlatformDirectory *directory, const std::string &name)
{
    std::wstring path;
    if (!Join(directory, name, &path))
        return false;
    if (Injected(PlatformStep::Remove, name))
        return false;
    if (!Retried([&] { return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND; }))
        return false;
    LetGoOf(directory, name);
    return true;
}

bool PlatformWriteAll(PlatformFile *file, const void *data, size_t count)
{
    if (!file)
        return FailWith(PlatformError::Other, false);
    const char *p = static_cast<const char *>(data);
    while (count > 0) {
        const DWORD chunk = count < (1u << 30) ? static_cast<DWORD>(count) : (1u << 30);
        DWORD n = 0;
        if (!WriteFile(file->handle, p, chunk, &n, nullptr))
            return Fail(false);
        if (n == 0)
            return FailWith(PlatformError::Other, false);
        p += n;
        count -= n;
    }
    return true;
}

uint64_t PlatformCopyRange(PlatformFile *from, uint64_t offset, PlatformFile *to, uint64_t count)
{
    if (!from || !to)
        return FailWith<uint64_t>(PlatformError::Other, 0);
    ClearLastError();
    std::vector<char> buffer(1 << 18);
    uint64_t done = 0;
    while (done < count) {
        const uint64_t rest = count - done;
        const uint32_t want =
            rest < buffer.size() ? static_cast<uint32_t>(rest) : static_cast<uint32_t>(buffer.size());
        const uint32_t got = PlatformReadAt(from, offset + done, buffer.data(), want);
        if (got == 0)
            return done; // the source ended early
        if (!PlatformWriteAll(to, buffer.data(), got))
            return done;
        done += got;
    }
    return done;
}

bool PlatformWriteAt(PlatformFile *file, uint64_t position, const void *data, size_t count)
{
    if (!file)
        return FailWith(PlatformError::Other, false);
    // A write at an offset moves the file pointer of a synchronous handle:
    // put it back where the next PlatformWriteAll continues.
    LARGE_INTEGER zero = {}, next;
    if (!SetFilePointerEx(file->handle, zero, &next, FILE_CURRENT))
        return Fail(false);
    const char *p = static_cast<const char *>(data);
    bool ok = true;
    while (ok && count > 0) {
        const DWORD chunk = count < (1u << 30) ? static_cast<DWORD>(count) : (1u << 30);
        OVERLAPPED overlapped = {};
        overlapped.Offset = static_cast<DWORD>(position);
        overlapped.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD n = 0;
        if (!WriteFile(file->handle, p, chunk, &n, &overlapped))
            ok = Fail(false);
        else if (n == 0)
            ok = FailWith(PlatformError::Other, false);
        p += n;
        position += n;
        count -= n;
    }
    if (!SetFilePointerEx(file->handle, next, nullptr, FILE_BEGIN))
        return Fail(false);
    return ok;
}

bool PlatformCopyAccess(PlatformFile *from, PlatformFile *to)
{
    // Windows keeps who may use a file in its folder's inherited rights; of
    // the file's own, only the read-only attribute.
    const DWORD attributes = Attributes(from->handle);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Fail(false);
    if (!(attributes & FILE_ATTRIBUTE_READONLY))
        return true;
    FILE_BASIC_INFO info;
    if (!GetFileInformationByHandleEx(to->handle, FileBasicInfo, &info, sizeof info))
        return Fail(false);
    info.FileAttributes |= FILE_ATTRIBUTE_READONLY;
    return SetFileInformationByHandle(to->handle, FileBasicInfo, &info, sizeof info) != 0 || Fail(false);
}

bool PlatformFlush(PlatformFile *file)
{
    if (Injected(PlatformStep::Flush, ""))
        return false;
    return FlushFileBuffers(file->handle) != 0 || Fail(false);
}

bool PlatformFlushDirectory(PlatformDirectory *directory)
{
    // The renames were made with MOVEFILE_WRITE_THROUGH.
    return directory && !Injected(PlatformStep::FlushDirectory, "");
}

bool PlatformCloseWritten(PlatformFile *file)
{
    if (!file)
        return false;
    const bool injected = Injected(PlatformStep::CloseWritten, "");
    // A temporary file stays in use until it is published or removed: a
    // second handle of it stays open past this close.
    const bool temporary = file->directory != nullptr;
    const HANDLE keeper = temporary ? KeeperOf(file) : INVALID_HANDLE_VALUE;
    const DWORD keepFailure = GetLastError();
    bool ok = CloseHandle(file->handle) != 0;
    if (!ok) {
        Fail(false);
    } else if (temporary && keeper == INVALID_HANDLE_VALUE) {
        SetLastError(keepFailure);
        ok = Fail(false);
    } else if (injected) {
        ok = FailWith(PlatformError::Other, false);
    }
    if (keeper != INVALID_HANDLE_VALUE) {
        std::lock_guard<std::mutex> guard(file->directory->heldLock);
        const auto placed = file->directory->held.emplace(file->tempName, keeper);
        if (!placed.second) {
            CloseHandle(placed.first->second);
            placed.first->second = keeper;
        }
    }
    delete file;
    return ok;
}

PlatformFile *PlatformTakeLock(PlatformDirectory *directory, const std::string &name)
{
    std::wstring path;
    if (!Join(directory, name, &path))
        return nullptr;
    // A holder removes the file before it lets the lock go; until its last
    // handle closes, the file can be neither opened nor made again
    // (ERROR_ACCESS_DENIED): that is waited out, briefly.
    for (int attempt = 1; attempt <= 200; ++attempt) {
        const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (GetLastError() != ERROR_ACCESS_DENIED)
                return Fail<PlatformFile *>(nullptr);
            Sleep(5);
            continue;
        }
        OVERLAPPED whole = {};
        if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
            const DWORD error = GetLastError();
            CloseHandle(handle);
            SetLastError(error);
            return Fail<PlatformFile *>(nullptr);
        }
        BY_HANDLE_FILE_INFORMATION held, standing;
        if (GetFileInformationByHandle(handle, &held) && Identity(path, &standing) &&
            held.dwVolumeSerialNumber == standing.dwVolumeSerialNumber &&
            held.nFileIndexHigh == standing.nFileIndexHigh && held.nFileIndexLow == standing.nFileIndexLow)
            return new PlatformFile{handle};
        CloseHandle(handle);
    }
    return FailWith<PlatformFile *>(PlatformError::Busy, nullptr);
}

void PlatformReleaseLock(PlatformDirectory *directory, const std::string &name, PlatformFile *lock)
{
    if (!lock)
        return;
    std::wstring path;
    if (Join(directory, name, &path))
        DeleteFileW(path.c_str());
    PlatformClose(lock);
}

// Windows has no writable mount, the only user of these.

PlatformDirectory *PlatformMakePrivateFolders(const std::string &)
{
    return FailWith<PlatformDirectory *>(PlatformError::Other, nullptr);
}

PlatformFile *PlatformOpenChangeable(PlatformDirectory *, const std::string &, bool)
{
    return FailWith<PlatformFile *>(PlatformError::Other, nullptr);
}

PlatformFile *PlatformOpenAppending(PlatformDirectory *, const std::string &)
{
    return FailWith<PlatformFile *>(PlatformError::Other, nullptr);
}

bool PlatformResize(PlatformFile *, uint64_t)
{
    return FailWith(PlatformError::Other, false);
}

bool PlatformRemoveFolderAt(PlatformDirectory *, const std::string &)
{
    return FailWith(PlatformError::Other, false);
}

} // namespace zarnik
