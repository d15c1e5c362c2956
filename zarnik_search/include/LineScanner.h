// A search over the stream of one file's bytes, line by line as grep reads
// them: the bytes come in pieces of any size and a line may run across
// any number of them, yet every line is searched whole.
//
// Lines that lie whole inside a piece are searched where they are, many at
// once; only the line that a piece cuts is copied, to be joined with the
// next piece: keeping its start is exact for every pattern, where matching
// piece by piece would have to guess what lies beyond. A line longer than
// the cap is searched on as it comes, through a window of its bytes that
// PCRE2's partial matching says where to keep; its text is shown cut at
// the cap. Memory stays near two caps, the hold limit and a piece, however
// long the file or its lines.
#pragma once

#include "Matcher.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zarnik_search {

// What is reported of a file.
enum class SearchReport {
    Lines,   // each selected line
    Matches, // each match of a selected line (nothing with `invert`)
    Count,   // only how many lines were selected
    Files,   // only whether a line was: the search of a file ends at its first
};

// Lines longer than this are shown cut.
const size_t kLineCap = 1u << 20;
// A line longer than the cap keeps at most this much of itself for a match
// that may still run on.
const size_t kHoldLimit = 16u << 20;

struct ScanSettings
{
    SearchReport report = SearchReport::Lines;
    bool invert = false;       // select the lines without a match
    bool binaryAsText = false; // report lines of a binary file too
    size_t lineCap = kLineCap;
    size_t holdLimit = kHoldLimit;
};

// A selected line, or with SearchReport::Matches one match.
struct SearchHit
{
    uint64_t line = 0;   // from 1
    uint64_t column = 0; // of the first match (or the match) in the line, in bytes; 0 with `invert`
    uint64_t offset = 0; // the same place in the file, in bytes
    std::string text;    // the line (or the match), at most the cap
    bool cut = false;    // the line (or the match) is longer than the text
};

// What became of a file's search, besides its hits.
struct ScanSummary
{
    uint64_t selected = 0; // lines selected
    // A NUL byte was read before a selected line that would have been
    // reported: the file is binary, and its search ended there.
    bool binaryMatch = false;
    std::string trouble; // where the pattern could not be searched, and why; empty when all was
};

class CLineScanner
{
public:
    // Receives each hit in file order; false ends the search of the file.
    using HitSink = std::function<bool(SearchHit &&hit)>;

    CLineScanner(CMatcher &matcher, const ScanSettings &settings, HitSink sink);

    // The file's next bytes; false when no more are wanted.
    bool Feed(const unsigned char *data, size_t size);
    // The file ended (its last line may lack a '\n').
    void Finish();
    const ScanSummary &Summary() const { return m_Summary; }

private:
    struct Line
    {
        const unsigned char *bytes;
        size_t size;
        uint64_t offset; // of its first byte in the file
    };

    void Region(const unsigned char *begin, const unsigned char *end, uint64_t offset);
    void EachLine(const unsigned char *begin, const unsigned char *end, uint64_t offset,
                  void (CLineScanner::*visit)(const Line &));
    void ScanLine(const Line &line);
    void Unmatched(const Line &line);
    void Matched(const Line &line, MatchSpan first);
    void Extend(const unsigned char *bytes, size_t size);
    void LongStep(bool lineEnd);
    void CloseLine();
    bool Emit(SearchHit &&hit);
    bool Reports();
    void LongMatch(MatchSpan span);
    void Trouble(const std::string &why);

    CMatcher &m_Matcher;
    ScanSettings m_Settings;
    HitSink m_Sink;
    ScanSummary m_Summary;
    bool m_Binary = false;
    bool m_Done = false;
    uint64_t m_Offset = 0;     // of the next byte fed
    uint64_t m_LineNumber = 1; // of the line being read
    // The line a piece cut: its bytes so far while no longer than the cap,
    // then the window of it still searched.
    std::string m_Carry;
    uint64_t m_LineOffset = 0;
    uint64_t m_LineLength = 0;
    // A line longer than the cap.
    bool m_Long = false;
    std::string m_Head;         // its first cap bytes, to show
    uint64_t m_WindowStart = 0; // where m_Carry starts in the line
    uint64_t m_SearchFrom = 0;  // where the search goes on, in the line
    bool m_Decided = false;     // nothing more of the line need be searched
    bool m_Matched = false;
    bool m_LineFailed = false;
};

} // namespace zarnik_search
