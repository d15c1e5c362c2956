// Regular expressions and fixed strings through PCRE2 and its JIT, as
// `grep -P` in a UTF-8 locale runs them: UTF-8 subjects in which bytes that
// are no UTF-8 never match, case folded by Unicode's tables.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "MatcherParts.h"

#include <algorithm>
#include <cctype>

namespace zarnik_search {

namespace {

// PCRE2's JIT keeps its backtracking on a stack of its own: 32 KiB at
// first, grown up to this for patterns that backtrack deeply.
const size_t kJitStackMax = 1u << 20;

std::string ErrorText(int code)
{
    PCRE2_UCHAR text[256];
    if (pcre2_get_error_message(code, text, sizeof text) < 0)
        return "error " + std::to_string(code);
    return reinterpret_cast<const char *>(text);
}

// Each character that is not a letter, a digit or part of a multi-byte
// character, escaped: the pattern then means its bytes.
std::string Escaped(const std::string &text)
{
    std::string out;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x80 && !std::isalnum(u))
            out += '\\';
        out += c;
    }
    return out;
}

// Whether a regular expression may look past its own line, which a search
// of many lines at once would show it: lookaround, anchors at the
// subject's ends, \K and verbs. Read as written, so an escaped "(?=" counts
// too; that only costs the faster search.
bool LooksOnlyAtItsLine(const std::string &pattern)
{
    for (const char *sign : {"(?=", "(?!", "(?<=", "(?<!", "(?*", "(?<*", "(*", "\\A", "\\z", "\\Z", "\\G", "\\K"})
        if (pattern.find(sign) != std::string::npos)
            return false;
    return true;
}

struct CodeFree
{
    void operator()(pcre2_code *code) const { pcre2_code_free(code); }
};

class CPcreMatcher : public CMatcher
{
public:
    CPcreMatcher(std::shared_ptr<pcre2_code> code, bool lineLocal, size_t lookBehind)
        : m_Code(std::move(code)), m_LineLocal(lineLocal), m_LookBehind(lookBehind),
          m_Data(pcre2_match_data_create_from_pattern(m_Code.get(), nullptr)),
          m_Context(pcre2_match_context_create(nullptr)), m_Stack(pcre2_jit_stack_create(32 * 1024, kJitStackMax, nullptr))
    {
        if (m_Context && m_Stack)
            pcre2_jit_stack_assign(m_Context, nullptr, m_Stack);
    }
    ~CPcreMatcher() override
    {
        pcre2_jit_stack_free(m_Stack);
        pcre2_match_context_free(m_Context);
        pcre2_match_data_free(m_Data);
    }

    std::unique_ptr<CMatcher> Clone() const override
    {
        return std::make_unique<CPcreMatcher>(m_Code, m_LineLocal, m_LookBehind);
    }

    FindResult Find(const Subject &subject, MatchSpan &span) override
    {
        if (!m_Data || !m_Context) {
            m_Failure = "no memory for the search";
            return FindResult::Failed;
        }
        uint32_t options = subject.lineStart ? 0 : PCRE2_NOTBOL;
        if (!subject.lineEnd)
            options |= PCRE2_NOTEOL | PCRE2_PARTIAL_HARD;
        const int rc = pcre2_match(m_Code.get(), subject.bytes, subject.size, subject.from, options, m_Data, m_Context);
        const PCRE2_SIZE *ovector = pcre2_get_ovector_pointer(m_Data);
        if (rc >= 0 || rc == PCRE2_ERROR_PARTIAL) {
            span.begin = ovector[0];
            // \K may set the start past the end.
            span.end = std::max(ovector[0], ovector[1]);
            return rc >= 0 ? FindResult::Match : FindResult::Partial;
        }
        if (rc == PCRE2_ERROR_NOMATCH)
            return FindResult::None;
        m_Failure = ErrorText(rc);
        return FindResult::Failed;
    }

    size_t LookBehind() const override { return m_LookBehind; }
    bool LineLocal() const override { return m_LineLocal; }
    std::string Failure() const override { return m_Failure; }

private:
    std::shared_ptr<pcre2_code> m_Code;
    bool m_LineLocal;
    size_t m_LookBehind;
    pcre2_match_data *m_Data;
    pcre2_match_context *m_Context;
    pcre2_jit_stack *m_Stack;
    std::string m_Failure;
};

} // namespace

std::unique_ptr<CMatcher> CompilePcre(const PatternSettings &settings, std::string &error)
{
    std::vector<std::string> patterns = SplitLines(settings.patterns);
    bool lineLocal = true;
    if (settings.fixed) {
        // The longest first: of the strings matching at one place, the
        // alternation takes the first, and grep shows the longest.
        std::stable_sort(patterns.begin(), patterns.end(),
                         [](const std::string &a, const std::string &b) { return a.size() > b.size(); });
        for (std::string &p : patterns)
            p = Escaped(p);
    } else {
        for (const std::string &p : patterns)
            lineLocal = lineLocal && LooksOnlyAtItsLine(p);
    }
    std::string joined;
    for (const std::string &p : patterns)
        joined += (joined.empty() ? "" : "|") + (patterns.size() > 1 ? "(?:" + p + ")" : p);
    // As grep -P -w: no word character right before or after.
    if (settings.wholeWord)
        joined = "(?<!\\w)(?:" + joined + ")(?!\\w)";

    pcre2_compile_context *context = pcre2_compile_context_create(nullptr);
    if (context)
        pcre2_set_newline(context, PCRE2_NEWLINE_LF);
    const uint32_t options = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_MULTILINE |
                             (settings.ignoreCase ? PCRE2_CASELESS : 0);
    int code = 0;
    PCRE2_SIZE at = 0;
    std::shared_ptr<pcre2_code> compiled(
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(joined.data()), joined.size(), options, &code, &at, context),
        CodeFree());
    pcre2_compile_context_free(context);
    if (!compiled) {
        error = "the pattern is not valid: " + ErrorText(code);
        return nullptr;
    }
    // Without the JIT (a system that forbids it) PCRE2 interprets: slower,
    // the same matches.
    pcre2_jit_compile(compiled.get(), PCRE2_JIT_COMPLETE | PCRE2_JIT_PARTIAL_HARD);
    uint32_t behind = 0;
    pcre2_pattern_info(compiled.get(), PCRE2_INFO_MAXLOOKBEHIND, &behind);
    // Characters of up to 4 bytes; \b and ^ look at the one before.
    return std::make_unique<CPcreMatcher>(std::move(compiled), lineLocal, 4 * std::max<size_t>(behind, 1));
}

} // namespace zarnik_search
