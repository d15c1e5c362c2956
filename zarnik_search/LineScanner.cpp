#include "LineScanner.h"

#include <algorithm>
#include <cstring>

namespace zarnik_search {

namespace {

const unsigned char *FindByte(const unsigned char *begin, const unsigned char *end, unsigned char byte)
{
    return begin < end ? static_cast<const unsigned char *>(std::memchr(begin, byte, size_t(end - begin))) : nullptr;
}

const unsigned char *FindLastByte(const unsigned char *begin, const unsigned char *end, unsigned char byte)
{
    while (end > begin)
        if (*--end == byte)
            return end;
    return nullptr;
}

// Past the character at `at`, so that an empty match is not found again.
size_t NextCharacter(const unsigned char *bytes, size_t size, size_t at)
{
    ++at;
    while (at < size && (bytes[at] & 0xC0) == 0x80)
        ++at;
    return at;
}

// The '\n' bytes in [begin, end), sixteen at a time (GCC's and Clang's
// vectors): every line of a file passes here to be numbered, and a byte at
// a time this would cost more than the search itself.
uint64_t CountNewlines(const unsigned char *begin, const unsigned char *end)
{
    typedef unsigned char Bytes16 __attribute__((vector_size(16)));
    uint64_t count = 0;
    while (end - begin >= 16) {
        // Each lane counts to at most 255 before the lanes are added up.
        Bytes16 lanes = {};
        const unsigned char *stop = begin + std::min<ptrdiff_t>((end - begin) / 16, 255) * 16;
        for (; begin < stop; begin += 16) {
            Bytes16 chunk;
            std::memcpy(&chunk, begin, 16);
            lanes -= (Bytes16)(chunk == '\n'); // a match is all ones: minus one
        }
        for (int i = 0; i < 16; ++i)
            count += lanes[i];
    }
    return count + uint64_t(std::count(begin, end, '\n'));
}

std::string Cut(const unsigned char *bytes, size_t size, size_t cap)
{
    return std::string(reinterpret_cast<const char *>(bytes), std::min(size, cap));
}

} // namespace

CLineScanner::CLineScanner(CMatcher &matcher, const ScanSettings &settings, HitSink sink)
    : m_Matcher(matcher), m_Settings(settings), m_Sink(std::move(sink))
{
}

bool CLineScanner::Feed(const unsigned char *data, size_t size)
{
    if (m_Done)
        return false;
    // As grep: a NUL byte anywhere in what was read makes the file binary.
    if (!m_Binary && std::memchr(data, 0, size))
        m_Binary = true;
    const unsigned char *end = data + size;
    const unsigned char *pos = data;
    if (m_LineLength > 0) {
        const unsigned char *newline = FindByte(pos, end, '\n');
        Extend(pos, size_t((newline ? newline : end) - pos));
        if (!newline) {
            m_Offset += size;
            return !m_Done;
        }
        CloseLine();
        pos = newline + 1;
    }
    const unsigned char *last = FindLastByte(pos, end, '\n');
    if (last && !m_Done) {
        Region(pos, last, m_Offset + uint64_t(pos - data));
        pos = last + 1;
    }
    m_LineOffset = m_Offset + uint64_t(pos - data);
    if (pos < end && !m_Done)
        Extend(pos, size_t(end - pos));
    m_Offset += size;
    return !m_Done;
}

void CLineScanner::Finish()
{
    if (m_LineLength > 0 && !m_Done)
        CloseLine();
}

// The whole lines [begin, end] (`end` the '\n' of the last), searched at
// once where the matcher allows: a match inside one line is that line's
// first; one that runs on across a '\n' sends its line to be searched alone.
void CLineScanner::Region(const unsigned char *begin, const unsigned char *end, uint64_t offset)
{
    if (!m_Matcher.LineLocal())
        return EachLine(begin, end + 1, offset, &CLineScanner::ScanLine);
    const unsigned char *pos = begin;
    while (pos <= end && !m_Done) {
        const Subject subject{begin, size_t(end - begin), size_t(pos - begin), true, true};
        MatchSpan span;
        const FindResult found = m_Matcher.Find(subject, span);
        const uint64_t at = offset + uint64_t(pos - begin);
        if (found == FindResult::None)
            return EachLine(pos, end + 1, at, &CLineScanner::Unmatched);
        if (found != FindResult::Match) // a limit met somewhere: find the line
            return EachLine(pos, end + 1, at, &CLineScanner::ScanLine);
        const unsigned char *match = begin + span.begin;
        const unsigned char *before = FindLastByte(pos, match, '\n');
        const unsigned char *lineStart = before ? before + 1 : pos;
        const unsigned char *lineEnd = FindByte(match, end, '\n');
        lineEnd = lineEnd ? lineEnd : end;
        EachLine(pos, lineStart, at, &CLineScanner::Unmatched);
        const Line line{lineStart, size_t(lineEnd - lineStart), offset + uint64_t(lineStart - begin)};
        if (begin + span.end <= lineEnd)
            Matched(line, {size_t(match - lineStart), size_t(begin + span.end - lineStart)});
        else if (!m_Done)
            ScanLine(line);
        pos = lineEnd + 1;
    }
}

// Each line in [begin, end) (`end` just past a '\n'), in turn.
void CLineScanner::EachLine(const unsigned char *begin, const unsigned char *end, uint64_t offset,
                            void (CLineScanner::*visit)(const Line &))
{
    // Lines nobody sees are only counted.
    if (visit == &CLineScanner::Unmatched && !m_Settings.invert) {
        m_LineNumber += CountNewlines(begin, end);
        return;
    }
    for (const unsigned char *pos = begin; pos < end && !m_Done;) {
        const unsigned char *newline = FindByte(pos, end, '\n');
        (this->*visit)(Line{pos, size_t(newline - pos), offset + uint64_t(pos - begin)});
        pos = newline + 1;
    }
}

void CLineScanner::ScanLine(const Line &line)
{
    MatchSpan span;
    switch (m_Matcher.Find(Subject{line.bytes, line.size, 0, true, true}, span)) {
    case FindResult::Match:
        return Matched(line, span);
    case FindResult::None:
        return Unmatched(line);
    default:
        Trouble(m_Matcher.Failure());
        ++m_LineNumber;
    }
}

void CLineScanner::Unmatched(const Line &line)
{
    if (m_Settings.invert && Reports()) {
        ++m_Summary.selected;
        if (m_Settings.report == SearchReport::Lines)
            Emit({m_LineNumber, 0, line.offset, Cut(line.bytes, line.size, m_Settings.lineCap),
                  line.size > m_Settings.lineCap});
    }
    ++m_LineNumber;
}

void CLineScanner::Matched(const Line &line, MatchSpan span)
{
    if (m_Settings.invert || !Reports()) {
        ++m_LineNumber;
        return;
    }
    ++m_Summary.selected;
    const size_t cap = m_Settings.lineCap;
    if (m_Settings.report == SearchReport::Lines)
        Emit({m_LineNumber, span.begin, line.offset + span.begin, Cut(line.bytes, line.size, cap), line.size > cap});
    while (m_Settings.report == SearchReport::Matches && !m_Done) {
        const size_t size = span.end - span.begin;
        if (size > 0 && !Emit({m_LineNumber, span.begin, line.offset + span.begin,
                               Cut(line.bytes + span.begin, size, cap), size > cap}))
            break;
        const size_t from = size > 0 ? span.end : NextCharacter(line.bytes, line.size, span.begin);
        if (from > line.size || m_Matcher.Find(Subject{line.bytes, line.size, from, true, true}, span) !=
                                    FindResult::Match)
            break;
    }
    ++m_LineNumber;
}

// Whether a selected line goes on to be reported, or ends a binary file's
// search; counts are kept for binary files too, as grep keeps them.
bool CLineScanner::Reports()
{
    const bool shown = m_Settings.report == SearchReport::Lines || m_Settings.report == SearchReport::Matches;
    if (shown && m_Binary && !m_Settings.binaryAsText) {
        m_Summary.binaryMatch = true;
        m_Done = true;
        return false;
    }
    if (m_Settings.report == SearchReport::Files) {
        ++m_Summary.selected;
        m_Done = true;
        return false;
    }
    return true;
}

bool CLineScanner::Emit(SearchHit &&hit)
{
    if (!m_Sink(std::move(hit)))
        m_Done = true;
    return !m_Done;
}

void CLineScanner::Trouble(const std::string &why)
{
    if (m_Summary.trouble.empty())
        m_Summary.trouble = "line " + std::to_string(m_LineNumber) + ": " + why;
}

// More bytes of the line being read.
void CLineScanner::Extend(const unsigned char *bytes, size_t size)
{
    m_LineLength += size;
    if (!m_Long) {
        if (m_Carry.size() + size <= m_Settings.lineCap) {
            m_Carry.append(reinterpret_cast<const char *>(bytes), size);
            return;
        }
        m_Long = true;
        m_Head = m_Carry;
        m_Head.append(reinterpret_cast<const char *>(bytes), std::min(size, m_Settings.lineCap - m_Head.size()));
        m_WindowStart = m_SearchFrom = 0;
    }
    if (m_Decided)
        return;
    m_Carry.append(reinterpret_cast<const char *>(bytes), size);
    LongStep(false);
}

// Searches on in the window of a long line, then keeps of it only what a
// match may still start in, with what the pattern looks at before that.
void CLineScanner::LongStep(bool lineEnd)
{
    while (!m_Decided && !m_Done) {
        const unsigned char *window = reinterpret_cast<const unsigned char *>(m_Carry.data());
        const size_t from = size_t(m_SearchFrom - m_WindowStart);
        if (from > m_Carry.size()) { // past an empty match at the window's end
            m_Decided = lineEnd;
            return;
        }
        MatchSpan span;
        const FindResult found = m_Matcher.Find(Subject{window, m_Carry.size(), from, m_WindowStart == 0, lineEnd}, span);
        if (found == FindResult::Match) {
            LongMatch(span);
            continue;
        }
        if (found == FindResult::Failed) {
            Trouble(m_Matcher.Failure());
            m_LineFailed = m_Decided = true;
            break;
        }
        const size_t start = found == FindResult::Partial ? span.begin : m_Carry.size();
        m_SearchFrom = m_WindowStart + start;
        const size_t drop = start > m_Matcher.LookBehind() ? start - m_Matcher.LookBehind() : 0;
        m_Carry.erase(0, drop);
        m_WindowStart += drop;
        if (m_Carry.size() > m_Settings.holdLimit) {
            Trouble("a match may run on for more than " + std::to_string(m_Settings.holdLimit) +
                    " bytes of this line; the rest of it was not searched");
            m_LineFailed = m_Decided = true;
        }
        break;
    }
    if (m_Decided)
        std::string().swap(m_Carry);
}

void CLineScanner::LongMatch(MatchSpan span)
{
    const uint64_t column = m_WindowStart + span.begin;
    const bool first = !m_Matched;
    m_Matched = true;
    if (m_Settings.invert || (first && !Reports())) {
        m_Decided = true;
        return;
    }
    if (first)
        ++m_Summary.selected;
    if (m_Settings.report != SearchReport::Matches) {
        if (m_Settings.report == SearchReport::Lines)
            Emit({m_LineNumber, column, m_LineOffset + column, m_Head, true});
        m_Decided = true;
        return;
    }
    const unsigned char *window = reinterpret_cast<const unsigned char *>(m_Carry.data());
    const size_t size = span.end - span.begin;
    if (size > 0)
        Emit({m_LineNumber, column, m_LineOffset + column, Cut(window + span.begin, size, m_Settings.lineCap),
              size > m_Settings.lineCap});
    m_SearchFrom = m_WindowStart + (size > 0 ? span.end : NextCharacter(window, m_Carry.size(), span.begin));
}

void CLineScanner::CloseLine()
{
    if (!m_Long) {
        ScanLine(Line{reinterpret_cast<const unsigned char *>(m_Carry.data()), m_Carry.size(), m_LineOffset});
    } else {
        LongStep(true);
        if (m_Settings.invert && !m_Matched && !m_LineFailed && Reports()) {
            ++m_Summary.selected;
            if (m_Settings.report == SearchReport::Lines)
                Emit({m_LineNumber, 0, m_LineOffset, m_Head, true});
        }
        ++m_LineNumber;
    }
    m_Carry.clear();
    std::string().swap(m_Head);
    m_Long = m_Decided = m_Matched = m_LineFailed = false;
    m_LineLength = 0;
}

} // namespace zarnik_search
