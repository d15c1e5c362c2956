// Helpers shared by the library, packer and tool tests.
#pragma once

#include "Check.h"
#include "PackWriter.h"
#include "ZarnikArchive.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

namespace fs = std::filesystem;

// A fresh directory under the system's temporary folder, removed with the
// object.
class TempDir
{
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "zarnik-test-XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = buf.data();
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
    std::string str() const { return m_path.string(); }
    // A path below the directory, '/'-joined.
    std::string file(const std::string &name) const { return (m_path / name).string(); }

private:
    fs::path m_path;
};

inline zarnik_pack::Bytes ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return zarnik_pack::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string &path, const zarnik_pack::Bytes &bytes)
{
    if (!zarnik_pack::WriteFile(path, bytes))
        throw std::runtime_error("cannot write " + path);
}

// The library's paths use backslashes; the file layer accepts both.
inline std::string Backslashed(std::string path)
{
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

// Collects the expression texts of the checks that fail while it lives.
class CheckRecorder
{
public:
    CheckRecorder()
    {
        std::lock_guard<std::mutex> lock(Mutex());
        Fired().clear();
        m_previous = zarnik::SetCheckReporter(&Record);
    }
    ~CheckRecorder() { zarnik::SetCheckReporter(m_previous); }

    std::vector<std::string> fired() const
    {
        std::lock_guard<std::mutex> lock(Mutex());
        return Fired();
    }

private:
    static void Record(const char *expression, const char *, int)
    {
        std::lock_guard<std::mutex> lock(Mutex());
        Fired().push_back(expression);
    }
    static std::mutex &Mutex()
    {
        static std::mutex m;
        return m;
    }
    static std::vector<std::string> &Fired()
    {
        static std::vector<std::string> v;
        return v;
    }
    zarnik::CheckReporter m_previous;
};

// Deterministic bytes for test files.
inline zarnik_pack::Bytes Pattern(size_t size, unsigned seed = 1)
{
    zarnik_pack::Bytes out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        out[i] = static_cast<unsigned char>(x >> 24);
    }
    return out;
}

inline zarnik_pack::Entry MakeEntry(const std::string &path, const zarnik_pack::Bytes &data,
                                    zarnik_pack::Storage storage = zarnik_pack::Storage::Auto)
{
    zarnik_pack::Entry e;
    e.path = path;
    e.data = data;
    e.storage = storage;
    return e;
}

inline zarnik_pack::Entry MakeEntry(const std::string &path, const std::string &text,
                                    zarnik_pack::Storage storage = zarnik_pack::Storage::Auto)
{
    return MakeEntry(path, zarnik_pack::ToBytes(text), storage);
}

inline zarnik_pack::Bytes operator+(zarnik_pack::Bytes a, const zarnik_pack::Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Every regular file below `root`: '/'-joined relative path -> bytes.
inline std::map<std::string, zarnik_pack::Bytes> FilesBelow(const fs::path &root)
{
    std::map<std::string, zarnik_pack::Bytes> files;
    std::error_code ec;
    if (!fs::exists(root, ec))
        return files;
    for (const auto &e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            files[e.path().lexically_relative(root).generic_string()] = ReadAll(e.path().string());
    return files;
}

// One line per node below the root, depth first in m_Children order:
// indentation, the name, "/" for a folder.
inline void DumpInto(const ArchiveNode *node, int depth, std::string &out)
{
    for (const ArchiveNode *child : node->m_Children) {
        out.append(2 * depth, ' ');
        out += child->m_Name;
        out += child->m_PackedSize == 0 ? "/\n" : "\n";
        DumpInto(child, depth + 1, out);
    }
}

inline std::string Dump(const CZarnikArchive &archive)
{
    std::string out;
    if (archive.GetRoot())
        DumpInto(archive.GetRoot(), 0, out);
    return out;
}

} // namespace testsupport
