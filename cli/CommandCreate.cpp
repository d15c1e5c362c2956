// `zarnik create`: a pack from every regular file below a folder, written
// by the pack writer. Each file is read and packed block by block, so the
// memory needed does not grow with the files' sizes. The pack is written
// under a temporary name beside its destination and takes its final name
// only when complete; nothing that exists is ever replaced.
#include "Commands.h"
#include "OpenPack.h"
#include "PackText.h"
#include "PackWriter.h"
#include "PackPath.h"
#include "PlatformFile.h"
#include "Progress.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>

namespace fs = std::filesystem;
using zarnik_pack::Entry;

namespace {

// A stored name with its terminator must fit the 260 bytes a reader allows.
const size_t kMaxArchivePath = 259;
// Offsets and sizes are 32-bit: the stored bytes must stay below 4 GiB,
// with room left for the file table.
const uint64_t kMaxTotalBytes = 0xFFFFFFFFull - (64u << 20);

bool EndsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

struct Source
{
    std::string archivePath; // content\ and the relative path, Latin-1
    fs::path path;
    uint64_t size;
};

struct Collected
{
    std::vector<Source> sources;
    uint64_t total = 0;
    std::string error; // set when the folder cannot be packed
    int status = kExitOk;
};

// Every regular file below `dir` (symbolic links are not followed), as
// content\ and its relative path, sorted by that path, with its size. Only
// the sizes are looked at, so a folder too large for a pack is refused
// before anything is read.
Collected Collect(const fs::path &dir)
{
    Collected result;
    auto fail = [&result](const std::string &message, int status) {
        result.error = message;
        result.status = status;
        return result;
    };
    const std::string shownDir = Printable(dir.u8string());
    std::error_code ec;
    fs::recursive_directory_iterator it(dir, ec), end;
    if (ec)
        return fail("cannot read " + shownDir + ": " + ec.message(), kExitFileFailed);

    for (; it != end; it.increment(ec)) {
        if (ec)
            return fail("cannot read below " + shownDir + ": " + ec.message(), kExitFileFailed);
        if (it->is_symlink() || !it->is_regular_file())
            continue;
        const std::string relative = it->path().lexically_relative(dir).generic_u8string();
        const std::string shown = Printable(relative);
        if (relative.find('\\') != std::string::npos)
            return fail(shown + ": a name holding '\\' cannot be stored in a pack", kExitUsage);
        const std::optional<std::string> latin1 = Latin1FromUtf8(relative);
        if (!latin1)
            return fail(shown + ": a pack stores names in Latin-1; this one has other characters",
                        kExitUsage);
        const std::string archivePath = "content\\" + zarnik::WithBackslashes(*latin1);
        if (archivePath.size() > kMaxArchivePath)
            return fail(shown + ": path longer than a pack allows (" +
                            std::to_string(kMaxArchivePath) + " bytes with content\\)",
                        kExitUsage);
        const uint64_t size = it->file_size(ec);
        if (ec)
            return fail("cannot read " + Printable(it->path().u8string()) + ": " + ec.message(),
                        kExitFileFailed);
        result.total += size;
        result.sources.push_back({archivePath, it->path(), size});
    }
    if (ec)
        return fail("cannot read below " + shownDir + ": " + ec.message(), kExitFileFailed);
    if (result.sources.empty())
        return fail("no regular files below " + shownDir, kExitUsage);
    if (result.total > kMaxTotalBytes)
        return fail("the files below " + shownDir + " hold " + HumanBytes(result.total) +
                        ", more than a pack can address (4 GiB)",
                    kExitUsage);
    std::sort(result.sources.begin(), result.sources.end(),
              [](const Source &a, const Source &b) { return a.archivePath < b.archivePath; });
    return result;
}

bool Exists(const fs::path &path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// One output file under its temporary name in the destination folder;
// removed again unless it was published.
class PartialFile
{
public:
    PartialFile(zarnik::PlatformDirectory *folder, const std::string &name)
        : m_Folder(folder), m_Name(name)
    {
        m_File = zarnik::PlatformCreateTemporary(folder, name, &m_TempName);
        if (!m_File)
            m_Failure = zarnik::PlatformLastFailure();
    }
    ~PartialFile()
    {
        Close();
        if (!m_Published && !m_TempName.empty())
            zarnik::PlatformRemoveAt(m_Folder, m_TempName);
    }
    PartialFile(const PartialFile &) = delete;
    PartialFile &operator=(const PartialFile &) = delete;

    zarnik::PlatformFile *file() const { return m_File; }
    const zarnik::PlatformFailure &failure() const { return m_Failure; }

    bool Close()
    {
        if (!m_File)
            return true;
        const bool closed = zarnik::PlatformCloseWritten(m_File);
        if (!closed)
            m_Failure = zarnik::PlatformLastFailure();
        m_File = nullptr;
        return closed;
    }
    bool Publish()
    {
        m_Published = zarnik::PlatformPublish(m_Folder, m_TempName, m_Name);
        return m_Published;
    }
    // Takes a published file back, when its partner could not be published.
    void Unpublish() { zarnik::PlatformRemoveAt(m_Folder, m_Name); }

private:
    zarnik::PlatformDirectory *m_Folder;
    std::string m_Name;
    std::string m_TempName;
    zarnik::PlatformFile *m_File;
    zarnik::PlatformFailure m_Failure;
    bool m_Published = false;
};

std::string WriteFailure(const fs::path &path, const zarnik::PlatformFailure &failure)
{
    const std::string why = failure.kind == zarnik::PlatformError::TooLarge
                                ? "larger than this process may write (the file-size limit, ulimit -f)"
                                : failure.text;
    return "cannot write " + Printable(path.u8string()) + ": " + why + "; no pack was made";
}

// Every source into `writer`, read block by block; an error message, or
// "" when all went in.
std::string AddSources(zarnik_pack::DataWriter &writer, const zarnik_pack::FileSink &sink,
                       const fs::path &outPath, const std::vector<Source> &sources, bool store)
{
    for (const Source &source : sources) {
        const std::string shown = Printable(source.path.u8string());
        zarnik::PlatformFile *in = zarnik::PlatformOpenRead(source.path.u8string());
        if (!in)
            return "cannot read " + shown + ": " +
                   (zarnik::PlatformLastError() == zarnik::PlatformError::NotRegular
                        ? std::string("no longer a regular file")
                        : zarnik::PlatformLastFailure().text);
        std::unique_ptr<zarnik::PlatformFile, void (*)(zarnik::PlatformFile *)> closer(
            in, zarnik::PlatformClose);
        Entry entry;
        entry.path = source.archivePath;
        // An empty file stored as is would read back as a folder; the
        // writer keeps it packed in every mode.
        entry.storage = store && source.size > 0 ? zarnik_pack::Storage::Stored
                                                 : zarnik_pack::Storage::Auto;
        const auto read = [in](uint64_t position, unsigned char *buffer, size_t count) {
            return zarnik::PlatformReadAt(in, position, buffer, static_cast<uint32_t>(count)) == count;
        };
        uint64_t sizeNow = 0;
        if (!writer.AddStreamed(entry, source.size, read)) {
            if (sink.Failed())
                return WriteFailure(outPath, sink.Failure());
            return "cannot read " + shown + " to its end (a read failed, or it shrank)";
        }
        if (!zarnik::PlatformFileSize(in, &sizeNow) || sizeNow != source.size)
            return shown + " changed while it was packed";
    }
    return "";
}

} // namespace

int RunCreate(const std::string &out, const std::string &dir, bool store)
{
    const bool vfs = EndsWith(out, ".vfs");
    if (!vfs && !EndsWith(out, ".upk")) {
        PrintError("the pack to create must end in \".upk\" (single pack) or \".vfs\" "
                   "(data file with content.vfi beside it): " + Printable(out));
        return kExitUsage;
    }
    const fs::path outPath = fs::u8path(LibraryPath(out));
    // The pack must open by the route it is written for.
    if (zarnik::RouteOf(outPath.u8string()) !=
        (vfs ? zarnik::PackRoute::IndexedDataFile : zarnik::PackRoute::SinglePack)) {
        PrintError(Printable(out) + ": a file named so opens as another kind of pack, so the "
                                    "pack could not be read back");
        return kExitUsage;
    }
    const fs::path indexPath = outPath.parent_path() / "content.vfi";
    for (const fs::path &target : vfs ? std::vector<fs::path>{outPath, indexPath}
                                      : std::vector<fs::path>{outPath}) {
        if (Exists(target)) {
            PrintError(Printable(target.u8string()) + " already exists; not replaced");
            return kExitUsage;
        }
    }
    std::error_code ec;
    if (!fs::is_directory(fs::u8path(dir), ec)) {
        PrintError(Printable(dir) + ": not a folder");
        return kExitUsage;
    }

    const Collected collected = Collect(fs::u8path(dir));
    if (!collected.error.empty()) {
        PrintError(collected.error);
        return collected.status;
    }

    std::unique_ptr<zarnik::PlatformDirectory, void (*)(zarnik::PlatformDirectory *)> folder(
        zarnik::PlatformOpenDirectory(outPath.parent_path().u8string()),
        zarnik::PlatformCloseDirectory);
    if (!folder) {
        PrintError("cannot create " + Printable(outPath.u8string()) + ": " +
                   zarnik::PlatformLastFailure().text);
        return kExitFileFailed;
    }
    PartialFile data(folder.get(), outPath.filename().u8string());
    if (!data.file()) {
        PrintError("cannot create " + Printable(outPath.u8string()) + ": " + data.failure().text);
        return kExitFileFailed;
    }
    zarnik_pack::FileSink sink(data.file());
    std::optional<zarnik_pack::UpkWriter> upk;
    std::optional<zarnik_pack::VfsWriter> set;
    if (vfs)
        set.emplace(sink, outPath.filename().u8string());
    else
        upk.emplace(sink);
    zarnik_pack::DataWriter &writer = vfs ? static_cast<zarnik_pack::DataWriter &>(*set) : *upk;
    const std::string failure = AddSources(writer, sink, outPath, collected.sources, store);
    if (!failure.empty()) {
        PrintError(failure);
        return kExitFileFailed;
    }
    if (upk && !upk->Finish()) {
        PrintError(sink.Failed() ? WriteFailure(outPath, sink.Failure())
                                 : "the pack would pass 4 GiB, more than a pack can address");
        return kExitFileFailed;
    }
    if (!data.Close()) {
        PrintError(WriteFailure(outPath, data.failure()));
        return kExitFileFailed;
    }

    // An index set is published only whole: both files complete under their
    // temporary names, then the data file, then the index that makes it
    // readable. A data file whose index could not take its name is taken
    // back, so no lone data file blocks the next run.
    std::unique_ptr<PartialFile> index;
    if (vfs) {
        index = std::make_unique<PartialFile>(folder.get(), indexPath.filename().u8string());
        const zarnik_pack::Bytes indexBytes = set->Index();
        if (!index->file()) {
            PrintError("cannot create " + Printable(indexPath.u8string()) + ": " +
                       index->failure().text);
            return kExitFileFailed;
        }
        zarnik_pack::FileSink indexSink(index->file());
        if (!indexSink.Append(indexBytes) || !index->Close()) {
            PrintError(WriteFailure(indexPath, indexSink.Failed() ? indexSink.Failure() : index->failure()));
            return kExitFileFailed;
        }
    }
    if (!data.Publish()) {
        PrintError(Printable(outPath.u8string()) + " already exists; not replaced");
        return kExitUsage;
    }
    if (index && !index->Publish()) {
        data.Unpublish();
        PrintError(Printable(indexPath.u8string()) + " already exists; not replaced");
        return kExitUsage;
    }
    std::printf("%s: %zu files, %s in a file of %s%s\n", Printable(out).c_str(),
                collected.sources.size(), HumanBytes(collected.total).c_str(),
                HumanBytes(sink.Size()).c_str(), vfs ? " (index: content.vfi)" : "");
    return kExitOk;
}
