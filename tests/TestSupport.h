// Helpers shared by the library, packer and tool tests.
#pragma once

#include "Check.h"
#include "PackKit.h"
#include "ZarnikArchive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>
#ifndef _WIN32
#include <functional>
#include <sys/wait.h>
#include <unistd.h>
#endif

// A test, or the rest of one, that needs what only POSIX offers (fork,
// rlimits, FIFOs, mount namespaces, symbolic links made without privileges)
// is skipped on Windows with what it needs; the code itself stays under
// #ifndef _WIN32 where it would not compile there.
#ifdef _WIN32
#define SKIP_ON_WINDOWS(needs) GTEST_SKIP() << "needs " << needs << ": POSIX only"
#else
#define SKIP_ON_WINDOWS(needs) static_cast<void>(0)
#endif

namespace testsupport {

namespace fs = std::filesystem;
using zarnik_pack::Bytes;
using zarnik_pack::ToBytes;

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// A fresh directory under the system's temporary folder, removed with the
// object.
class TempDir
{
public:
    TempDir()
    {
        std::random_device random;
        for (int attempt = 0; m_path.empty(); ++attempt) {
            const fs::path candidate =
                fs::temp_directory_path() / ("zarnik-test-" + std::to_string(random()));
            if (fs::create_directory(candidate))
                m_path = candidate;
            else if (attempt == 100)
                throw std::runtime_error("no fresh temporary folder");
        }
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_path, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const fs::path &path() const { return m_path; }
    // UTF-8 (fs::u8path: on Windows a plain string would be read in the
    // ANSI code page).
    std::string str() const { return m_path.u8string(); }
    std::string file(const std::string &name) const { return (m_path / fs::u8path(name)).u8string(); }

private:
    fs::path m_path;
};

#ifndef _WIN32
// `body` run in a child process: its exit status, or minus the signal that ended it.
inline int InChild(const std::function<int()> &body)
{
    const pid_t child = fork();
    if (child == 0)
        _exit(body());
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}
#endif

inline Bytes ReadAll(const std::string &path)
{
    std::ifstream in(fs::u8path(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Makes the folders it goes in first.
inline void WriteAll(const std::string &path, const Bytes &bytes)
{
    std::error_code ec; // a folder that cannot be made fails the write
    fs::create_directories(fs::u8path(path).parent_path(), ec);
    if (!testpack::WriteFile(path, bytes))
        throw std::runtime_error("cannot write " + path);
}

// Collects the expression texts of the checks that fail while it lives
// (the tests call the library from one thread).
class CheckRecorder
{
public:
    CheckRecorder() : m_previous(zarnik::SetCheckReporter(&Record)) { Fired().clear(); }
    ~CheckRecorder() { zarnik::SetCheckReporter(m_previous); }
    std::vector<std::string> fired() const { return Fired(); }

private:
    static std::vector<std::string> &Fired()
    {
        static std::vector<std::string> fired;
        return fired;
    }
    static void Record(const char *expression, const char *, int) { Fired().push_back(expression); }
    zarnik::CheckReporter m_previous;
};

// Deterministic bytes for test files.
inline Bytes Pattern(size_t size, unsigned seed = 1)
{
    Bytes out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (unsigned char &b : out)
        b = static_cast<unsigned char>((x = x * 1664525u + 1013904223u) >> 24);
    return out;
}

inline testpack::Entry MakeEntry(const std::string &path, const Bytes &data,
                                    zarnik_pack::Storage storage = zarnik_pack::Storage::Auto)
{
    testpack::Entry e;
    e.path = path, e.data = data, e.storage = storage;
    return e;
}

inline testpack::Entry MakeEntry(const std::string &path, const std::string &text,
                                    zarnik_pack::Storage storage = zarnik_pack::Storage::Auto)
{
    return MakeEntry(path, zarnik_pack::ToBytes(text), storage);
}

// `entries` as the single pack `name` in `dir`, or as the index set there
// (content.vfi beside data0.vfs); each gives the path to open.
inline std::string WriteUpk(const TempDir &dir, const std::vector<testpack::Entry> &entries,
                            const std::string &name = "p.upk", const testpack::UpkOptions &options = {})
{
    WriteAll(dir.file(name), testpack::BuildUpk(entries, options));
    return dir.file(name);
}

inline std::string WriteVfs(const TempDir &dir, const std::vector<testpack::Entry> &entries,
                            const testpack::VfsOptions &options = {})
{
    const testpack::VfsSet set = testpack::BuildVfs(entries, options);
    WriteAll(dir.file("content.vfi"), set.index);
    WriteAll(dir.file("data0.vfs"), set.data);
    return dir.file("data0.vfs");
}

inline Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Every regular file below `root`: '/'-joined relative path -> bytes.
using Files = std::map<std::string, Bytes>;
inline Files FilesBelow(const fs::path &root)
{
    Files files;
    std::error_code ec;
    if (fs::exists(root, ec))
        for (const auto &e : fs::recursive_directory_iterator(root))
            if (e.is_regular_file())
                files[e.path().lexically_relative(root).generic_string()] = ReadAll(e.path().string());
    return files;
}

// One line per node below `node`, depth first in m_Children order:
// indentation, the name, "/" for a folder.
inline std::string Dump(const zarnik::ArchiveNode *node, int depth = 0)
{
    std::string out;
    for (const zarnik::ArchiveNode *child : node ? node->m_Children : decltype(node->m_Children){})
        out += std::string(2 * depth, ' ') + child->m_Name + (child->IsFolder() ? "/\n" : "\n") +
               Dump(child, depth + 1);
    return out;
}

inline std::string Dump(const zarnik::CZarnikArchive &archive) { return Dump(archive.GetRoot()); }

} // namespace testsupport
