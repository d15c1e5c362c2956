#include "ExtractReport.h"

#include "PackPath.h"
#include "PackText.h"

#include <cstdio>

using zarnik::ArchiveNode;
using zarnik::ExtractOutcome;

void ExtractReport::OnExtractFile(const std::string &path)
{
    m_Current = ShownPath(path);
    m_Progress.Update(m_Done, m_Bytes, m_Current);
}

void ExtractReport::OnExtractBytes(uint64_t count)
{
    m_Bytes += count;
    m_Progress.Update(m_Done, m_Bytes, m_Current);
}

void ExtractReport::OnExtractReason(const ArchiveNode &, const std::string &reason)
{
    m_Reason = reason;
}

void ExtractReport::OnExtractResult(const ArchiveNode &node, ExtractOutcome outcome)
{
    std::string text = ExtractOutcomeText(outcome);
    if (!m_Reason.empty())
        text += " (" + Printable(m_Reason) + ")";
    m_Reason.clear();
    // A folder's result means nothing below it was tried.
    const uint64_t files = node.IsFolder() ? zarnik::CountTree(&node).files : 1;
    switch (outcome) {
    case ExtractOutcome::Written:
        ++m_Written;
        m_WrittenBytes += node.m_UnpackedSize;
        break;
    case ExtractOutcome::Exists:
        m_Skipped += files;
        break;
    case ExtractOutcome::Stopped:
    case ExtractOutcome::DiskFull:
        // The run ends; the summary says what was not written.
        return;
    default:
        m_FailedFiles += files;
        PrintFailure(ShownPath(node.m_Path), text);
        break;
    }
    m_Done += files;
    m_Progress.Update(m_Done, m_Bytes, m_Current);
}

void ExtractReport::PrintFailure(const std::string &what, const std::string &reason)
{
    ++m_Failures;
    m_Progress.Clear();
    std::fprintf(stderr, "zarnik: %s: %s\n", what.c_str(), reason.c_str());
}
