#include "OpenPack.h"

#include "PackText.h"

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
    std::error_code ec;
    fs::path absolute = fs::absolute(fs::u8path(argument), ec);
    if (ec)
        return argument;
    return absolute.u8string();
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
    const fs::path dir = fs::absolute(fs::u8path(typed), ec);
    if (!ec)
        fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir)) {
        PrintError("cannot use " + Printable(typed) + " as the destination folder" +
                   (ec ? ": " + ec.message() : ""));
        return {};
    }
    return dir;
}
