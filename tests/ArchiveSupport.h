// Opening a pack and extracting from it, in the few words a test needs.
#pragma once

#include "Extraction.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// The archive at `path`; null, and the test failed, when it does not open.
inline std::unique_ptr<const zarnik::CZarnikArchive> MustOpen(const std::string &path)
{
    zarnik::CZarnikArchive::OpenResult opened = zarnik::CZarnikArchive::Open(path);
    EXPECT_TRUE(opened.archive) << path << ": " << zarnik::OpenFailureText(opened.failure);
    return std::move(opened.archive);
}

inline zarnik::ExtractEnd ExtractTo(const zarnik::CZarnikArchive &archive, const zarnik::ArchiveNode *node,
                                    const zarnik::ExtractDestination &destination,
                                    zarnik::ExtractCallback *callback, unsigned workers = 0,
                                    const std::atomic<bool> *stop = nullptr)
{
    zarnik::ExtractSettings settings;
    settings.workers = workers, settings.stop = stop;
    return zarnik::CExtraction(archive, callback, settings).Extract(*node, destination);
}

// What an extraction reported.
struct Recorder : zarnik::ExtractCallback
{
    std::vector<std::string> files, written; // announced; names written
    std::vector<std::pair<std::string, zarnik::ExtractOutcome>> failures;
    std::vector<zarnik::ExtractOutcome> outcomes; // every result, in order
    uint64_t bytes = 0;   // the sum of the progress reports
    std::string intruder; // a file made here as soon as bytes are written
    void OnExtractFile(const std::string &path) override { files.push_back(path); }
    void OnExtractBytes(uint64_t count) override
    {
        bytes += count;
        if (!intruder.empty() && !fs::exists(intruder))
            WriteAll(intruder, zarnik_pack::ToBytes("theirs"));
    }
    void OnExtractResult(const zarnik::ArchiveNode &node, zarnik::ExtractOutcome outcome) override
    {
        outcomes.push_back(outcome);
        if (outcome != zarnik::ExtractOutcome::Written)
            failures.emplace_back(node.m_Path, outcome);
        else
            written.push_back(node.m_Name);
    }
};

} // namespace testsupport
