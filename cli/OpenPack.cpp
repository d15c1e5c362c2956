#include "OpenPack.h"

#include "PackText.h"
#include "PlatformFile.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;
using zarnik::CZarnikArchive;

void PrintError(const std::string &message)
{
    std::fprintf(stderr, "zarnik: %s\n", message.c_str());
}

std::string LibraryPath(const std::string &argument)
{
    return zarnik::PlatformAbsolutePath(argument);
}

std::unique_ptr<const CZarnikArchive> OpenPack(const std::string &argument)
{
    const std::string path = LibraryPath(argument);
    CZarnikArchive::OpenResult opened = CZarnikArchive::Open(path);
    if (opened.archive)
        return std::move(opened.archive);

    PrintError("cannot open " + Printable(argument) + ": " + zarnik::OpenFailureReason(path, opened));
    return nullptr;
}

fs::path DestinationFolder(const std::string &typed)
{
    std::error_code ec;
    const fs::path dir = fs::u8path(LibraryPath(typed));
    if (typed.empty())
        ec = std::make_error_code(std::errc::invalid_argument);
    else
        fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir)) {
        PrintError("cannot use " + Printable(typed) + " as the destination folder" +
                   (ec ? ": " + ec.message() : ""));
        return {};
    }
    return dir;
}
