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
    if (opened.failure == zarnik::OpenFailure::IndexUnreadable) {
        const fs::path index = native.parent_path() / "content.vfi";
        reason += ": " + Printable(index.u8string()) + ": " + WhyUnreadable(index);
    } else if (opened.failure == zarnik::OpenFailure::DataUnreadable) {
        reason = WhyUnreadable(native);
    }
    PrintError("cannot open " + Printable(argument) + ": " + reason);
    return nullptr;
}
