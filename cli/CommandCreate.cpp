// `zarnik create`: a pack from every regular file below a folder, written
// by the pack writer. Nothing that exists is ever replaced.
#include "Commands.h"
#include "OpenPack.h"
#include "PackText.h"
#include "PackWriter.h"
#include "Progress.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;
using zarnik_pack::Bytes;
using zarnik_pack::Entry;

namespace {

// A stored name with its terminator must fit the 260 bytes a reader allows.
const size_t kMaxArchivePath = 259;
// Offsets and sizes are 32-bit: the stored bytes must stay below 4 GiB.
const uint64_t kMaxTotalBytes = 0xFFFFFFFFull - (64u << 20);

bool EndsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

struct Collected
{
    std::vector<Entry> entries;
    std::string error; // set when the folder cannot be packed
    int status = kExitOk;
};

// Every regular file below `dir` (symbolic links are not followed), as
// content\ and its relative path, sorted by that path.
Collected Collect(const fs::path &dir, bool store)
{
    Collected result;
    auto fail = [&result](const std::string &message, int status) {
        result.error = message;
        result.status = status;
        return result;
    };
    std::error_code ec;
    fs::recursive_directory_iterator it(dir, ec), end;
    if (ec)
        return fail("cannot read " + dir.u8string() + ": " + ec.message(), kExitFileFailed);

    std::vector<std::pair<std::string, fs::path>> files;
    for (; it != end; it.increment(ec)) {
        if (ec)
            return fail("cannot read below " + dir.u8string() + ": " + ec.message(),
                        kExitFileFailed);
        if (it->is_symlink() || !it->is_regular_file())
            continue;
        const std::string relative = it->path().lexically_relative(dir).generic_u8string();
        if (relative.find('\\') != std::string::npos)
            return fail(relative + ": a name holding '\\' cannot be stored in a pack", kExitUsage);
        const std::optional<std::string> latin1 = Latin1FromUtf8(relative);
        if (!latin1)
            return fail(relative + ": a pack stores names in Latin-1; this one has other characters",
                        kExitUsage);
        const std::string archivePath = "content\\" + WithBackslashes(*latin1);
        if (archivePath.size() > kMaxArchivePath)
            return fail(relative + ": path longer than a pack allows (" +
                            std::to_string(kMaxArchivePath) + " bytes with content\\)",
                        kExitUsage);
        files.emplace_back(archivePath, it->path());
    }
    if (ec)
        return fail("cannot read below " + dir.u8string() + ": " + ec.message(), kExitFileFailed);
    if (files.empty())
        return fail("no regular files below " + dir.u8string(), kExitUsage);
    std::sort(files.begin(), files.end());

    uint64_t total = 0;
    for (const auto &[archivePath, path] : files) {
        std::ifstream in(path, std::ios::binary);
        if (!in.is_open())
            return fail("cannot read " + path.u8string(), kExitFileFailed);
        Entry entry;
        entry.path = archivePath;
        entry.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad())
            return fail("cannot read " + path.u8string(), kExitFileFailed);
        total += entry.data.size();
        if (total > kMaxTotalBytes)
            return fail("the files hold more than a pack can address (4 GiB)", kExitUsage);
        // An empty file stored as is would read back as a folder; the
        // writer keeps it packed in every mode.
        entry.storage = store && !entry.data.empty() ? zarnik_pack::Storage::Stored
                                                     : zarnik_pack::Storage::Auto;
        result.entries.push_back(std::move(entry));
    }
    return result;
}

bool Exists(const fs::path &path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

} // namespace

int RunCreate(const std::string &out, const std::string &dir, bool store)
{
    const bool vfs = EndsWith(out, ".vfs");
    if (!vfs && !EndsWith(out, ".upk")) {
        PrintError("the pack to create must end in \".upk\" (single pack) or \".vfs\" "
                   "(data file with content.vfi beside it): " + out);
        return kExitUsage;
    }
    const fs::path outPath = fs::u8path(WithSlashes(LibraryPath(out)));
    if (!vfs && LibraryPath(out).find(".vfs") != std::string::npos) {
        PrintError(out + ": a path holding \".vfs\" is opened as an index set, so a single "
                         "pack there could not be read back");
        return kExitUsage;
    }
    const fs::path indexPath = outPath.parent_path() / "content.vfi";
    for (const fs::path &target : vfs ? std::vector<fs::path>{outPath, indexPath}
                                      : std::vector<fs::path>{outPath}) {
        if (Exists(target)) {
            PrintError(target.u8string() + " already exists; not replaced");
            return kExitUsage;
        }
    }
    std::error_code ec;
    if (!fs::is_directory(fs::u8path(dir), ec)) {
        PrintError(dir + ": not a folder");
        return kExitUsage;
    }

    const Collected collected = Collect(fs::u8path(dir), store);
    if (!collected.error.empty()) {
        PrintError(collected.error);
        return collected.status;
    }

    Bytes written;
    if (vfs) {
        zarnik_pack::VfsOptions options;
        options.dataName = outPath.filename().u8string();
        const zarnik_pack::VfsSet set = zarnik_pack::BuildVfs(collected.entries, options);
        if (!zarnik_pack::WriteNewFile(outPath.u8string(), set.data)) {
            PrintError("cannot create " + outPath.u8string());
            return kExitFileFailed;
        }
        if (!zarnik_pack::WriteNewFile(indexPath.u8string(), set.index)) {
            // A data file without its index is of no use: take it back.
            fs::remove(outPath, ec);
            PrintError("cannot create " + indexPath.u8string());
            return kExitFileFailed;
        }
        written = set.data;
    } else {
        written = zarnik_pack::BuildUpk(collected.entries);
        if (!zarnik_pack::WriteNewFile(outPath.u8string(), written)) {
            PrintError("cannot create " + outPath.u8string());
            return kExitFileFailed;
        }
    }
    uint64_t total = 0;
    for (const Entry &e : collected.entries)
        total += e.data.size();
    std::printf("%s: %zu files, %s in a file of %s%s\n", out.c_str(), collected.entries.size(),
                HumanBytes(total).c_str(), HumanBytes(written.size()).c_str(),
                vfs ? " (index: content.vfi)" : "");
    return kExitOk;
}
