// What the harnesses share: one temporary directory per process (removed at
// exit), quiet checks, and a walk over every node of an opened tree.
#pragma once

#include "Check.h"
#include "PackKit.h"
#include "ZarnikArchive.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fuzzsupport {

namespace fs = std::filesystem;

// Made on first use; checks fire on every damaged input, so their reports
// are silenced here once.
class ProcessDir
{
public:
    static const ProcessDir &Get()
    {
        static ProcessDir dir;
        return dir;
    }
    const fs::path &path() const { return m_path; }
    std::string file(const std::string &name) const { return (m_path / name).string(); }

private:
    ProcessDir()
    {
        zarnik::SetCheckReporter([](const char *, const char *, int) {});
        std::string pattern = (fs::temp_directory_path() / "zarnik-fuzz-XXXXXX").string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        m_path = buf.data();
    }
    ~ProcessDir()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    fs::path m_path;
};

inline void WriteOrDie(const std::string &path, const unsigned char *data, size_t size)
{
    if (!testpack::WriteFile(path, zarnik_pack::Bytes(data, data + size))) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::abort();
    }
}

// Every node reachable from the root, depth first, each touched once; a
// cycle or a dangling node would show here under the sanitizers.
inline std::vector<const zarnik::ArchiveNode *> AllNodes(const zarnik::CZarnikArchive &archive)
{
    std::vector<const zarnik::ArchiveNode *> nodes;
    if (!archive.GetRoot())
        return nodes;
    std::vector<const zarnik::ArchiveNode *> stack{archive.GetRoot()};
    while (!stack.empty()) {
        const zarnik::ArchiveNode *node = stack.back();
        stack.pop_back();
        nodes.push_back(node);
        if (node->m_Name.size() > node->m_Path.size())
            std::abort(); // a name is the last segment of its path
        for (const zarnik::ArchiveNode *child : node->m_Children)
            stack.push_back(child);
    }
    return nodes;
}

// Reads every file's bytes the way extraction does, without writing them.
inline void ReadEveryFile(const zarnik::CZarnikArchive &archive)
{
    for (const zarnik::ArchiveNode *node : AllNodes(archive)) {
        if (node->IsFolder())
            continue;
        std::unique_ptr<unsigned char[]> bytes;
        zarnik::ReadOutcome outcome;
        if (archive.ReadFileData(node, bytes, outcome)) {
            // The buffer holds exactly m_UnpackedSize bytes: touch its ends.
            if (node->m_UnpackedSize > 0) {
                volatile unsigned char first = bytes[0];
                volatile unsigned char last = bytes[node->m_UnpackedSize - 1];
                (void)first;
                (void)last;
            }
        } else if (outcome == zarnik::ReadOutcome::Sound) {
            std::abort(); // a failure always says why
        }
    }
}

} // namespace fuzzsupport
