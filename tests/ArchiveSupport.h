// Opening a pack and extracting from it, in the few words a test needs.
#pragma once

#include "Extraction.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

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
                                    zarnik::ExtractCallback *callback,
                                    zarnik::ExtractSettings settings = zarnik::ExtractSettings())
{
    return zarnik::CExtraction(archive, callback, settings).Extract(*node, destination);
}

} // namespace testsupport
