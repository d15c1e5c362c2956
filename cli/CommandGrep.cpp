// `zarnik grep`: search inside the files of packs, with grep's options and
// its output. The search is zarnik_search's; the tool chooses the files,
// and prints what the search finds as grep would, escaped for a terminal.
#include "Commands.h"
#include "Glob.h"
#include "OpenLosses.h"
#include "OpenPack.h"
#include "PackSearch.h"
#include "PackText.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>

using zarnik::ArchiveNode;
using zarnik::ReadOutcome;
using zarnik_search::FileSearchEnd;
using zarnik_search::SearchHit;
using zarnik_search::SearchReport;

CLI::App *AddGrepCommand(CLI::App &app, GrepOptions &options)
{
    CLI::App *grep = app.add_subcommand("grep", "Search inside the files of packs; output and exit status as grep's");
    grep->add_option("PATTERN PACK", options.arguments,
                     "the pattern (unless -e gives it), then one or more packs")->required();
    grep->add_option("-e,--regexp", options.expressions, "a pattern; repeat for several")
        ->allow_extra_args(false);
    grep->add_flag("-F,--fixed-strings", options.pattern.fixed, "patterns are strings, not regular expressions");
    grep->add_flag("-i,--ignore-case", options.pattern.ignoreCase, "letters match in either case");
    grep->add_flag("-w,--word-regexp", options.pattern.wholeWord, "only matches that are whole words");
    grep->add_flag("-v,--invert-match", options.invert, "select the lines that do not match");
    grep->add_flag("-n,--line-number", options.lineNumbers, "put each line's number before it");
    CLI::Option *count = grep->add_flag("-c,--count", options.count, "print only each file's count of selected lines");
    CLI::Option *files = grep->add_flag("-l,--files-with-matches", options.filesWithMatches,
                                        "print only the paths of files with a selected line");
    grep->add_flag("-o,--only-matching", options.onlyMatching, "print only the matching parts, one a line");
    grep->add_flag("-q,--quiet", options.quiet, "print nothing; stop at the first match");
    grep->add_flag("-H,--with-pack", options.withPack, "put the pack before each path, also for one pack");
    grep->add_flag("-a,--text", options.text, "show the lines of binary files too");
    grep->add_option("--include", options.include,
                     "search only files whose name (a GLOB without /) or path matches; repeatable")
        ->allow_extra_args(false);
    grep->add_option("--exclude", options.exclude, "skip files whose name or path matches; repeatable")
        ->allow_extra_args(false);
    grep->add_option("-j,--jobs", options.jobs, "files searched at once (default: one per core)")
        ->check(CLI::Range(1u, 64u));
    grep->add_flag("--json", options.json, "one JSON object a line: pack, path, line, column, offset, text, cut")
        ->excludes(count)->excludes(files);
    return grep;
}

namespace {

bool MatchesAny(const std::vector<std::string> &globs, const ArchiveNode &node)
{
    for (const std::string &typed : globs) {
        const std::string glob = NormalizePattern(typed);
        // A bare name is matched against the names of files, as grep's
        // --include does; a path against the path of a file or a folder.
        const bool path = glob.find('/') != std::string::npos;
        if (path ? GlobMatch(glob, SlashPath(node.m_Path))
                 : !node.IsFolder() && GlobMatch(glob, DisplayName(node.m_Name)))
            return true;
    }
    return false;
}

// The files below `folder` that --include and --exclude let through, in
// the order `list` prints them.
void Choose(const ArchiveNode &folder, bool included, const GrepOptions &options,
            std::vector<const ArchiveNode *> &files)
{
    for (const ArchiveNode *child : folder.m_Children) {
        if (MatchesAny(options.exclude, *child))
            continue;
        const bool in = included || MatchesAny(options.include, *child);
        if (child->IsFolder())
            Choose(*child, in, options, files);
        else if (in)
            files.push_back(child);
    }
}

class GrepPrinter : public zarnik_search::CSearchCallback
{
public:
    GrepPrinter(const GrepOptions &options, const std::string &pack, bool showPack)
        : m_Options(options), m_Pack(pack), m_Label(showPack ? Printable(pack) + ":" : "")
    {
    }

    bool OnHit(const ArchiveNode &file, const SearchHit &hit) override
    {
        if (m_Options.quiet)
            return !(m_Matched = true);
        if (m_Options.json) {
            nlohmann::ordered_json item = Item(file);
            item["line"] = hit.line;
            item["column"] = hit.column;
            item["offset"] = hit.offset;
            item["text"] = hit.text;
            item["cut"] = hit.cut;
            PrintJson(item);
        } else {
            const std::string text = Prefix(file) + (m_Options.lineNumbers ? std::to_string(hit.line) + ":" : "") +
                                     Printable(hit.text) + "\n";
            std::fwrite(text.data(), 1, text.size(), stdout);
        }
        if (hit.cut)
            PrintError(Prefix(file) + " line " + std::to_string(hit.line) + " is longer than " +
                       std::to_string(zarnik_search::kLineCap >> 20) + " MiB; shown cut there");
        // Output that cannot be written ends the search (main says why).
        return !std::ferror(stdout);
    }

    bool OnFileEnd(const ArchiveNode &file, const FileSearchEnd &end) override
    {
        const std::string where = m_Label + ShownPath(file.m_Path);
        if (end.read != ReadOutcome::Sound)
            Trouble(where + ": " + ReadOutcomeText(end.read) + "; searched only as far as it could be read");
        if (!end.summary.trouble.empty())
            Trouble(where + ": " + end.summary.trouble);
        m_Matched = m_Matched || end.summary.selected > 0 || end.summary.binaryMatch;
        if (m_Options.quiet)
            return !m_Matched;
        if (end.summary.binaryMatch && m_Options.json) {
            nlohmann::ordered_json item = Item(file);
            item["binary"] = true;
            PrintJson(item);
        } else if (end.summary.binaryMatch) {
            PrintError(where + ": binary file matches");
        }
        if (m_Options.count)
            std::printf("%s:%llu\n", where.c_str(), static_cast<unsigned long long>(end.summary.selected));
        else if (m_Options.filesWithMatches && end.summary.selected > 0)
            std::printf("%s\n", where.c_str());
        return !std::ferror(stdout);
    }

    // Something was not searched: said once, unless `message` is empty
    // (said already).
    void Trouble(const std::string &message)
    {
        m_Trouble = true;
        if (!message.empty())
            PrintError(message);
    }
    bool Matched() const { return m_Matched; }
    bool HadTrouble() const { return m_Trouble; }

private:
    std::string Prefix(const ArchiveNode &file) const { return m_Label + ShownPath(file.m_Path) + ":"; }

    nlohmann::ordered_json Item(const ArchiveNode &file) const
    {
        nlohmann::ordered_json item;
        item["pack"] = m_Pack;
        item["path"] = DisplayName(file.m_Path);
        return item;
    }

    static void PrintJson(const nlohmann::ordered_json &item)
    {
        // Text that is no UTF-8 keeps its place as U+FFFD.
        const std::string line = item.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
    }

    const GrepOptions &m_Options;
    const std::string m_Pack;
    const std::string m_Label;
    bool m_Matched = false;
    bool m_Trouble = false;
};

zarnik_search::SearchSettings Settings(const GrepOptions &options)
{
    zarnik_search::SearchSettings settings;
    settings.workers = options.jobs;
    zarnik_search::ScanSettings &scan = settings.scan;
    scan.invert = options.invert;
    scan.binaryAsText = options.text;
    scan.report = options.count                                      ? SearchReport::Count
                  : options.filesWithMatches || options.quiet        ? SearchReport::Files
                  : options.onlyMatching                             ? SearchReport::Matches
                                                                     : SearchReport::Lines;
    return settings;
}

// Searches one pack; false when the search was ended (-q found a match).
bool SearchPack(const std::string &pack, const zarnik_search::CMatcher &matcher, const GrepOptions &options,
                GrepPrinter &printer)
{
    const auto archive = OpenPack(pack);
    if (!archive) {
        printer.Trouble("");
        return true;
    }
    std::vector<const ArchiveNode *> files;
    Choose(*archive->GetRoot(), options.include.empty(), options, files);
    const zarnik_search::SearchEnd end = zarnik_search::SearchFiles(*archive, files, matcher, Settings(options), printer);
    // What opening passed over was not searched.
    const OpenLosses losses = CountOpenLosses(*archive);
    if (losses.Any())
        printer.Trouble(Printable(pack) + ": not searched whole: " + OpenLossesText(losses) + " ('zarnik test' names them)");
    return end == zarnik_search::SearchEnd::Finished;
}

} // namespace

int RunGrep(const GrepOptions &options)
{
    zarnik_search::PatternSettings pattern = options.pattern;
    std::vector<std::string> packs = options.arguments;
    pattern.patterns = options.expressions;
    if (pattern.patterns.empty()) {
        pattern.patterns.push_back(packs.front());
        packs.erase(packs.begin());
    }
    if (packs.empty()) {
        PrintError("grep: no pack to search; usage: zarnik grep [OPTIONS] PATTERN PACK...");
        return kExitUsage;
    }
    std::string error;
    const auto matcher = zarnik_search::CompileMatcher(pattern, error);
    if (!matcher) {
        PrintError(error);
        return kExitUsage;
    }
    bool matched = false, trouble = false;
    for (const std::string &pack : packs) {
        GrepPrinter printer(options, pack, options.withPack || packs.size() > 1);
        const bool more = SearchPack(pack, *matcher, options, printer);
        matched = matched || printer.Matched();
        trouble = trouble || printer.HadTrouble();
        if (!more)
            break;
    }
    // What could not be written was not found, as far as the caller can
    // tell: trouble, not "no match" (main names it).
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return kExitUsage;
    // As grep: trouble wins over a match, unless -q asked only whether there was one.
    if (trouble && !(options.quiet && matched))
        return kExitUsage;
    return matched ? kExitOk : kExitFileFailed;
}
