// What `extract` tells: the progress line while it runs, a line for every
// failure, and the counts of files at the end.
#pragma once

#include "Progress.h"
#include "Extraction.h"

#include <cstdint>
#include <string>

// Counts the library's per-file results and prints every failure. Files are
// counted, never folders: a folder that cannot be made counts every file
// below it as failed.
class ExtractReport : public zarnik::ExtractCallback
{
public:
    explicit ExtractReport(ProgressLine &progress) : m_Progress(progress) {}

    void OnExtractFile(const std::string &path) override;
    void OnExtractBytes(uint64_t count) override;
    void OnExtractReason(const zarnik::ArchiveNode &node, const std::string &reason) override;
    void OnExtractResult(const zarnik::ArchiveNode &node, zarnik::ExtractOutcome outcome) override;

    // One failure line; `what` is already UTF-8 (a path in its '/' form, or
    // a pattern).
    void PrintFailure(const std::string &what, const std::string &reason);

    uint64_t Written() const { return m_Written; }
    uint64_t WrittenBytes() const { return m_WrittenBytes; }
    uint64_t Skipped() const { return m_Skipped; }
    uint64_t FailedFiles() const { return m_FailedFiles; }
    // A failure was printed (a file, a folder or anything else).
    bool AnyFailure() const { return m_Failures > 0; }

private:
    ProgressLine &m_Progress;
    std::string m_Current;
    std::string m_Reason; // the system's, for the result that follows
    uint64_t m_Done = 0;
    uint64_t m_Written = 0;
    uint64_t m_Bytes = 0; // as they are written, for the progress line
    uint64_t m_WrittenBytes = 0;
    uint64_t m_Skipped = 0;
    uint64_t m_FailedFiles = 0;
    uint64_t m_Failures = 0;
};
