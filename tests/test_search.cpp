// The search library: our fixed-string matcher against PCRE2, and the line
// scanner's hits whatever pieces the bytes come in and however long the
// lines are.
#include "LineScanner.h"
#include "Matcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

using namespace zarnik_search;

namespace {

std::unique_ptr<CMatcher> Compile(const PatternSettings &settings, bool ours)
{
    std::string error;
    auto matcher = ours ? CompileFixedStrings(settings) : CompileMatcher(settings, error);
    EXPECT_TRUE(matcher) << error;
    return matcher;
}

// Every match in `text` from its start on, as a search of many lines at
// once finds them one after another.
std::vector<std::pair<size_t, size_t>> AllMatches(CMatcher &matcher, const std::string &text)
{
    std::vector<std::pair<size_t, size_t>> spans;
    const auto *bytes = reinterpret_cast<const unsigned char *>(text.data());
    for (size_t from = 0; from <= text.size();) {
        MatchSpan span;
        if (matcher.Find(Subject{bytes, text.size(), from, true, true}, span) != FindResult::Match)
            break;
        spans.emplace_back(span.begin, span.end);
        from = span.end > span.begin ? span.end : span.begin + 1;
    }
    return spans;
}

struct Scanned { std::vector<SearchHit> hits; ScanSummary summary; };

Scanned Scan(CMatcher &matcher, const ScanSettings &settings, const std::string &text, size_t piece)
{
    Scanned out;
    CLineScanner scanner(matcher, settings, [&](SearchHit &&hit) {
        out.hits.push_back(std::move(hit));
        return true;
    });
    const auto *bytes = reinterpret_cast<const unsigned char *>(text.data());
    bool more = true;
    for (size_t at = 0; at < text.size() && more; at += piece)
        more = scanner.Feed(bytes + at, std::min(piece, text.size() - at));
    if (more)
        scanner.Finish();
    out.summary = scanner.Summary();
    return out;
}

} // namespace

TEST(Matcher, OurFixedStringsMatchWherePcreMatchesThem)
{
    struct Case { std::vector<std::string> patterns; bool ignoreCase, wholeWord; std::string text; };
    const Case cases[] = {
        {{"abc"}, false, false, "xabcabc\nab abc\nABC"},
        {{"ab", "abcd", "b"}, false, false, "abcd abc xb\nabcdab"},    // the longest where several start
        {{"été", "Straße"}, true, false, "ÉTÉ été Été eté STRASSE straße STRAßE ÿ Ÿ"}, // Latin-1 letters fold
        {{"Q", "a"}, true, false, "qQaA\xE9\xC3"},                     // bytes that are no UTF-8 around
        {{"foo"}, false, true, "foo food _foo foo_bar (foo) xfoo\nfoo"}, // whole words
        {{"ab", "abcd"}, false, true, "abcd abcde ab_ ab abc"},         // a shorter word where the longer is none
        {{""}, false, false, "ab\n\nc"},                               // empty: everywhere
    };
#ifndef ZARNIK_SEARCH_HAS_PCRE2
    GTEST_SKIP() << "PCRE2 is not in this build";
#endif
    for (const Case &c : cases) {
        PatternSettings settings{c.patterns, true, c.ignoreCase, c.wholeWord};
        const auto pcre = Compile(settings, false), ours = Compile(settings, true);
        ASSERT_TRUE(pcre && ours);
        EXPECT_EQ(AllMatches(*ours, c.text), AllMatches(*pcre, c.text)) << c.patterns[0] << " in " << c.text;
    }
}

TEST(LineScanner, HitsAreTheSameWhateverThePiecesAndTheCap)
{
    // Lines short and long (one of 5,000 bytes with matches past any cap
    // below), CRLF, an empty line and no '\n' at the end.
    std::string longLine(5000, 'x');
    longLine.replace(3000, 5, "alpha");
    longLine.replace(4500, 4, "beta");
    const std::string text = "alpha beta\r\n\ngamma alphabet\n" + longLine + "\nxbeta alpha a" + std::string(30, '-') + "b";
    struct Case { std::vector<std::string> patterns; bool fixed, ours, ignoreCase, wholeWord; SearchReport report; bool invert; };
    const Case cases[] = {
        {{"alpha"}, false, false, false, false, SearchReport::Matches, false},
        {{"alpha"}, false, false, false, false, SearchReport::Lines, true},
        {{"alpha"}, false, false, false, true, SearchReport::Count, false},
        {{"(?<=x)beta", "(?<!\\s)gamma"}, false, false, false, false, SearchReport::Lines, false}, // looks before its match
        {{"^gamma", "alpha$", "beta\\r$"}, false, false, false, false, SearchReport::Lines, false},
        {{"beta\\s+gamma"}, false, false, false, false, SearchReport::Lines, true}, // never across lines
        {{"a.{10,40}b"}, false, false, false, false, SearchReport::Matches, false}, // runs across pieces
        {{"x*"}, false, false, false, false, SearchReport::Matches, false},         // empty matches too
        {{"alpha", "beta"}, true, true, false, false, SearchReport::Matches, false},
        {{"ALPH"}, true, true, true, false, SearchReport::Lines, false},
        {{"beta"}, true, true, false, true, SearchReport::Lines, true},
    };
#ifndef ZARNIK_SEARCH_HAS_PCRE2
    GTEST_SKIP() << "PCRE2 is not in this build";
#endif
    for (const Case &c : cases) {
        const auto matcher = Compile(PatternSettings{c.patterns, c.fixed, c.ignoreCase, c.wholeWord}, c.ours);
        ScanSettings settings;
        settings.report = c.report, settings.invert = c.invert;
        const Scanned whole = Scan(*matcher, settings, text, text.size());
        EXPECT_FALSE(whole.hits.empty() && whole.summary.selected == 0) << c.patterns[0];
        for (const size_t cap : {16, 256, 6000}) {
            for (const size_t piece : {1, 7, 100, 4096}) {
                settings.lineCap = cap;
                const Scanned cut = Scan(*matcher, settings, text, piece);
                const std::string label = c.patterns[0] + ", cap " + std::to_string(cap) + ", piece " + std::to_string(piece);
                EXPECT_EQ(cut.summary.selected, whole.summary.selected) << label;
                EXPECT_EQ(cut.summary.trouble, "") << label;
                ASSERT_EQ(cut.hits.size(), whole.hits.size()) << label;
                for (size_t i = 0; i < cut.hits.size(); ++i) {
                    const SearchHit &a = cut.hits[i], &b = whole.hits[i];
                    EXPECT_EQ(std::tie(a.line, a.column, a.offset), std::tie(b.line, b.column, b.offset)) << label;
                    EXPECT_EQ(a.text, b.text.substr(0, cap)) << label;
                    EXPECT_EQ(a.cut, b.text.size() > cap) << label;
                }
            }
        }
    }
}

TEST(LineScanner, AMatchThatMayOutgrowTheHoldLimitIsReportedNotGuessed)
{
#ifndef ZARNIK_SEARCH_HAS_PCRE2
    GTEST_SKIP() << "PCRE2 is not in this build";
#endif
    const auto matcher = Compile(PatternSettings{{"a.*z"}, false, false, false}, false);
    ScanSettings settings;
    settings.lineCap = 16, settings.holdLimit = 256;
    const std::string open = "a" + std::string(1000, 'x') + "\nok\n";
    const Scanned held = Scan(*matcher, settings, "a" + std::string(200, 'x') + "z\n" + open, 10);
    EXPECT_EQ(held.summary.selected, 1u);
    EXPECT_EQ(held.summary.trouble, "line 2: a match may run on for more than 256 bytes of this line; the rest of it was not searched");
}
