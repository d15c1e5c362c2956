// Opens the input as a single pack and extracts the whole tree into a fresh
// folder with three workers, and again with one into another. Aborts when
// anything appears in the process's directory outside those folders (the
// pack itself aside), when a written file does not hold the bytes
// ReadFileData gives for it, when a node is neither written nor reported,
// or when the two extractions report other outcomes or another order. The
// folders are removed after every run.
#include "Extraction.h"
#include "FuzzSupport.h"
#include "PackPath.h"

#include <cstring>
#include <map>
#include <set>
#include <utility>
#include <vector>

using zarnik::ArchiveNode;
using zarnik::CZarnikArchive;
using zarnik::ExtractOutcome;

namespace {

namespace fs = std::filesystem;

struct Recorder : zarnik::ExtractCallback
{
    std::set<std::string> failed;
    std::vector<std::pair<const ArchiveNode *, ExtractOutcome>> results;
    void OnExtractResult(const ArchiveNode &node, ExtractOutcome outcome) override
    {
        results.emplace_back(&node, outcome);
        if (outcome != ExtractOutcome::Written)
            failed.insert(node.m_Path);
    }
};

zarnik_pack::Bytes ReadBack(const fs::path &path)
{
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        std::abort();
    zarnik_pack::Bytes bytes;
    unsigned char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return bytes;
}

bool Inside(const fs::path &path, const fs::path &folder)
{
    const std::string p = path.lexically_normal().string();
    const std::string f = folder.lexically_normal().string();
    return p == f || (p.size() > f.size() && p.compare(0, f.size(), f) == 0 && p[f.size()] == '/');
}

// Every node that was not reported must be on disk: a file holding exactly
// the bytes ReadFileData gives for it. A reported folder's subtree is passed
// over.
void CheckWritten(const CZarnikArchive &archive, const ArchiveNode *node, const fs::path &at,
                  const Recorder &recorder)
{
    if (recorder.failed.count(node->m_Path))
        return;
    std::error_code ec;
    if (node->IsFolder()) {
        if (!fs::is_directory(at, ec))
            std::abort();
        for (const ArchiveNode *child : node->m_Children)
            CheckWritten(archive, child, at / zarnik::FileSystemName(child->m_Name),
                         recorder);
        return;
    }
    if (!fs::is_regular_file(at, ec) || fs::file_size(at, ec) != node->m_UnpackedSize) {
        std::fprintf(stderr, "%s: not written and not reported\n", node->m_Path.c_str());
        std::abort();
    }
    std::unique_ptr<unsigned char[]> expected;
    zarnik::ReadOutcome outcome;
    if (!archive.ReadFileData(node, expected, outcome))
        std::abort(); // written, yet unreadable
    const zarnik_pack::Bytes got = ReadBack(at);
    if (got.size() != node->m_UnpackedSize ||
        (!got.empty() && std::memcmp(got.data(), expected.get(), got.size()) != 0)) {
        std::fprintf(stderr, "%s: written bytes differ\n", node->m_Path.c_str());
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto &dir = fuzzsupport::ProcessDir::Get();
    static const std::string pack = dir.file("input.upk");
    // The destination lies one level down, so that a name climbing out of
    // it still lands inside the directory this harness watches.
    static const fs::path box = dir.path() / "box";
    static const fs::path dest = box / "dest";
    static const fs::path alone = box / "alone";
    fuzzsupport::WriteOrDie(pack, data, size);
    std::error_code ec;
    fs::create_directories(dest, ec);
    fs::create_directories(alone, ec);
    if (ec)
        std::abort();

    {
        const std::unique_ptr<const CZarnikArchive> opened = CZarnikArchive::Open(pack).archive;
        if (opened) {
            const CZarnikArchive &archive = *opened;
            Recorder pooled, single;
            zarnik::ExtractSettings settings;
            settings.workers = 3;
            if (zarnik::CExtraction(archive, &pooled, settings)
                    .Extract(*archive.GetRoot(), zarnik::ExtractDestination::Folder(dest.string())) !=
                zarnik::ExtractEnd::Finished)
                std::abort();
            settings.workers = 1;
            if (zarnik::CExtraction(archive, &single, settings)
                    .Extract(*archive.GetRoot(), zarnik::ExtractDestination::Folder(alone.string())) !=
                zarnik::ExtractEnd::Finished)
                std::abort();
            if (pooled.results != single.results) {
                std::fprintf(stderr, "three workers and one report differently\n");
                std::abort();
            }
            CheckWritten(archive, archive.GetRoot(), dest / "content", pooled);
        }
    }

    for (auto it = fs::recursive_directory_iterator(dir.path(), ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path &p = it->path();
        if (p == pack || p == box || Inside(p, dest) || Inside(p, alone))
            continue;
        std::fprintf(stderr, "written outside the destination: %s\n", p.c_str());
        std::abort();
    }
    if (ec)
        std::abort();
    fs::remove_all(box, ec);
    return 0;
}
