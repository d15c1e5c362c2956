#include "OpenPack.h"

#include "PackText.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using zarnik::CZarnikArchive;
using zarnik::OpenReportItem;

void PrintError(const std::string &message)
{
    std::fprintf(stderr, "zarnik: %s\n", message.c_str());
}

std::string LibraryPath(const std::string &argument)
{
    std::error_code ec;
    fs::path absolute = fs::absolute(fs::u8path(argument), ec);
    if (ec)
        return argument;
    return absolute.u8string();
}

namespace {

// What the file system says about a file the library could not read: the
// library only knows that it failed, the tool can tell the user why.
std::string WhyUnreadable(const fs::path &path)
{
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status))
        return "no such file";
    if (fs::is_directory(status))
        return "it is a directory";
    if (!fs::is_regular_file(status))
        return "not a regular file";
#ifdef _WIN32
    if (_waccess(path.c_str(), 4) != 0)
#else
    if (access(path.c_str(), R_OK) != 0)
#endif
        return "not readable (permission denied)";
    const uintmax_t size = fs::file_size(path, ec);
    if (!ec && size == 0)
        return "the file is empty";
    if (!ec && size >= (uintmax_t(1) << 32))
        return "the file is 4 GiB or larger, more than a pack can address";
    return "the file cannot be read";
}

// The data files an index names that are not there, when it names no
// other: "no data file it names is there: data0.vfs, data1.vfs"; else "".
std::string MissingDataFiles(const std::vector<OpenReportItem> &report)
{
    std::string names;
    for (const OpenReportItem &item : report)
        if (item.kind == OpenReportItem::Kind::DataFileMissing)
            names += (names.empty() ? "" : ", ") + Printable(DisplayName(item.path));
    return names.empty() ? "" : "no data file it names is there: " + names;
}

bool CutShort(const std::vector<OpenReportItem> &report)
{
    for (const OpenReportItem &item : report)
        if (item.kind == OpenReportItem::Kind::ChunkCutShort)
            return true;
    return false;
}

} // namespace

std::unique_ptr<const CZarnikArchive> OpenPack(const std::string &argument)
{
    const std::string path = LibraryPath(argument);
    CZarnikArchive::OpenResult opened = CZarnikArchive::Open(path);
    if (opened.archive)
        return std::move(opened.archive);

    // The library's reason, with what the file system says of the file it
    // could not read.
    const fs::path native = fs::u8path(path);
    std::string reason = zarnik::OpenFailureText(opened.failure);
    switch (opened.failure) {
    case zarnik::OpenFailure::IndexUnreadable: {
        const fs::path index = native.parent_path() / "content.vfi";
        reason += ": " + Printable(index.u8string()) + ": " + WhyUnreadable(index);
        break;
    }
    case zarnik::OpenFailure::DataUnreadable:
        reason = MissingDataFiles(opened.report);
        if (reason.empty())
            reason = WhyUnreadable(native);
        break;
    case zarnik::OpenFailure::NoFileTable:
        // Junk reads as a chunk running past the end as well.
        if (CutShort(opened.report))
            reason = "the file ends inside a chunk before any file table: a pack cut short, or no Zarnik pack";
        break;
    case zarnik::OpenFailure::NoEntries:
        if (CutShort(opened.report))
            reason = "the pack is cut short before its first entry";
        break;
    default:
        break;
    }
    PrintError("cannot open " + Printable(argument) + ": " + reason);
    return nullptr;
}
