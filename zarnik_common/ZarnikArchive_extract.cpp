// Extraction: a node of the tree written to disk, depth first, every file
// created new (nothing existing is touched) and written only when its bytes
// are sound.
#include "ZarnikArchive.h"

#include "ChunkReader.h"
#include "PlatformFile.h"
#include "ZarnikArchive_packunpack.h"

#include <new>

using namespace zarnik;

const char *const CZarnikArchive::kReasonExists = "a file already exists there; left untouched";
const char *const CZarnikArchive::kReasonOutOfRange = "stored bytes lie outside the data file";
const char *const CZarnikArchive::kReasonDamaged = "packed data is damaged";
const char *const CZarnikArchive::kReasonWrongSize = "packed data unpacks to another size than the entry says";
const char *const CZarnikArchive::kReasonNoMemory = "not enough memory for the file";
const char *const CZarnikArchive::kReasonUnsafeName = "unsafe name; not written, nor anything below it";
const char *const CZarnikArchive::kReasonCannotCreate = "cannot create the file";
const char *const CZarnikArchive::kReasonWriteFailed = "write failed; the partial file was removed";
const char *const CZarnikArchive::kReasonNoDirectory = "cannot create the directory";

namespace {

// The most output one stored byte can stand for: a 4-byte match item gives
// at most 258 bytes, and control words only lower the ratio.
const uint64_t kMaxUnpackRatio = 65;

// A name that would leave its parent directory, or name it, is never joined
// onto a path.
bool IsSafeName(const std::string &name)
{
    return name != "." && name != ".." && name.find('/') == std::string::npos;
}

unsigned char *Allocate(uint64_t size)
{
    return new (std::nothrow) unsigned char[size ? size : 1];
}

// Creates `dest` new and fills it with `fill(file)`. An existing file is
// left untouched; a failed fill removes the partial file. Each failure is
// reported for `node`.
template <typename Fill>
void WriteNewFile(const ArchiveNode *node, const std::string &dest,
                  CZarnikArchive::Callback *callback, Fill fill)
{
    PlatformFile *file = PlatformCreateNew(dest);
    if (!file) {
        if (callback)
            callback->OnExtractFailed(node->m_Path, PlatformExists(dest)
                                                        ? CZarnikArchive::kReasonExists
                                                        : CZarnikArchive::kReasonCannotCreate);
        return;
    }
    const bool written = fill(file);
    const bool closed = PlatformCloseWritten(file);
    if (!(written && closed)) {
        PlatformRemoveFile(dest);
        if (callback)
            callback->OnExtractFailed(node->m_Path, CZarnikArchive::kReasonWriteFailed);
    }
}

} // namespace

bool CZarnikArchive::Extract(ArchiveNode *node, const std::string &dest, Callback *callback)
{
    if (!m_Reader)
        return false;
    if (!node)
        return true;
    if (node->m_PackedSize != 0)
        ExtractFile(node, dest, callback);
    else
        ExtractFolder(node, dest, callback);
    return true;
}

void CZarnikArchive::ExtractFolder(const ArchiveNode *node, const std::string &dest,
                                   Callback *callback)
{
    if (!IsSafeName(node->m_Name)) {
        if (callback)
            callback->OnExtractFailed(node->m_Path, kReasonUnsafeName);
        return;
    }
    const std::string dir = dest + '\\' + PlatformNameFromLatin1(node->m_Name);
    // A directory that exists already is simply used. One that cannot be
    // made is reported; its children are still tried and report their own
    // failures.
    if (!PlatformCreateDirectory(dir) && callback)
        callback->OnExtractFailed(node->m_Path, kReasonNoDirectory);

    for (const ArchiveNode *child : node->m_Children) {
        if (child->m_PackedSize == 0) {
            ExtractFolder(child, dir, callback);
        } else if (!IsSafeName(child->m_Name)) {
            if (callback)
                callback->OnExtractFailed(child->m_Path, kReasonUnsafeName);
        } else {
            ExtractFile(child, dir + '\\' + PlatformNameFromLatin1(child->m_Name), callback);
        }
    }
}

bool CZarnikArchive::StoredRangeInside(const ArchiveNode *node) const
{
    return static_cast<uint64_t>(node->m_Offset) + node->m_PackedSize <= m_Reader->Size();
}

const unsigned char *CZarnikArchive::StoredBytes(const ArchiveNode *node,
                                                 std::unique_ptr<unsigned char[]> &buffer,
                                                 std::string &reason)
{
    if (!StoredRangeInside(node)) {
        reason = kReasonOutOfRange;
        return nullptr;
    }
    // A mapped pack already holds the bytes in memory.
    if (m_Reader->IsMapped() && m_Reader->Data())
        return m_Reader->Data() + node->m_Offset;

    buffer.reset(Allocate(node->m_PackedSize));
    if (!buffer) {
        reason = kReasonNoMemory;
        return nullptr;
    }
    m_Reader->Seek(node->m_Offset);
    m_Reader->Read(buffer.get(), node->m_PackedSize);
    return buffer.get();
}

bool CZarnikArchive::ReadFileData(const ArchiveNode *node, std::unique_ptr<unsigned char[]> &out,
                                  std::string &reason)
{
    if (!m_Reader) {
        reason = "the archive has no data file";
        return false;
    }
    std::unique_ptr<unsigned char[]> storedBuffer;
    const unsigned char *stored = StoredBytes(node, storedBuffer, reason);
    if (!stored)
        return false;

    if (!node->IsPacked()) {
        if (storedBuffer) {
            out = std::move(storedBuffer);
            return true;
        }
        out.reset(Allocate(node->m_UnpackedSize));
        if (!out) {
            reason = kReasonNoMemory;
            return false;
        }
        std::copy(stored, stored + node->m_UnpackedSize, out.get());
        return true;
    }

    // Never allocate more than the stored bytes can possibly decode to: a
    // hostile entry may claim gigabytes for a few bytes.
    if (node->m_UnpackedSize > kMaxUnpackRatio * node->m_PackedSize) {
        reason = kReasonWrongSize;
        return false;
    }
    out.reset(Allocate(node->m_UnpackedSize));
    if (!out) {
        reason = kReasonNoMemory;
        return false;
    }
    const uint32_t written = Unpack(out.get(), stored, node->m_PackedSize, node->m_UnpackedSize);
    if (written == kUnpackDamaged) {
        reason = kReasonDamaged;
        out.reset();
        return false;
    }
    if (written != node->m_UnpackedSize) {
        reason = kReasonWrongSize;
        out.reset();
        return false;
    }
    return true;
}

void CZarnikArchive::ExtractFile(const ArchiveNode *node, const std::string &dest,
                                 Callback *callback)
{
    if (callback)
        callback->OnExtractFile(node->m_Path);

    if (!node->IsPacked()) {
        // Stored as is: the bytes go from the data file to the new file
        // without passing through a buffer of ours.
        if (!StoredRangeInside(node)) {
            if (callback)
                callback->OnExtractFailed(node->m_Path, kReasonOutOfRange);
            return;
        }
        PlatformFile *source = m_Reader->File();
        WriteNewFile(node, dest, callback, [&](PlatformFile *file) {
            return PlatformCopyRange(source, node->m_Offset, file, node->m_PackedSize);
        });
        return;
    }

    std::string reason;
    std::unique_ptr<unsigned char[]> data;
    if (!ReadFileData(node, data, reason)) {
        if (callback)
            callback->OnExtractFailed(node->m_Path, reason);
        return;
    }
    WriteNewFile(node, dest, callback, [&](PlatformFile *file) {
        return PlatformWriteAll(file, data.get(), node->m_UnpackedSize);
    });
}
