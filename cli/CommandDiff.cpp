// `zarnik diff`: what changed from A to B, one line per difference in the
// style of `git diff --name-status`, or as a JSON array; the exit status
// as `diff` and `cmp` give it.
#include "Commands.h"
#include "Compare.h"
#include "JsonArray.h"
#include "OpenPack.h"
#include "PackText.h"
#include "Sides.h"

#include <nlohmann/json.hpp>

#include <cstdio>

using zarnik::Difference;

namespace {

// Exit status of diff: as diff and cmp give it.
enum { kSame = 0, kDifferent = 1, kTrouble = 2 };

const char *ChangeName(Difference::Change change)
{
    switch (change) {
    case Difference::Change::Added:
        return "added";
    case Difference::Change::Removed:
        return "removed";
    case Difference::Change::Modified:
        return "modified";
    case Difference::Change::Renamed:
        break;
    }
    return "renamed";
}

std::string ShownAs(const std::string &path, bool folder)
{
    return ShownPath(path) + (folder ? "/" : "");
}

void PrintText(const std::vector<Difference> &differences)
{
    for (const Difference &d : differences) {
        const char letter = "ADMR"[static_cast<int>(d.change)];
        std::string line = std::string(1, letter) + "\t";
        if (d.change == Difference::Change::Renamed)
            line += ShownAs(d.from, false) + "\t";
        line += ShownAs(d.path, d.folder) + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
}

void PrintJson(const std::vector<Difference> &differences)
{
    JsonArrayOut out;
    for (const Difference &d : differences) {
        nlohmann::ordered_json item;
        item["change"] = ChangeName(d.change);
        item["type"] = d.folder ? "folder" : "file";
        item["path"] = DisplayName(d.path);
        if (d.change == Difference::Change::Renamed)
            item["from"] = DisplayName(d.from);
        item["size_a"] = d.sizeA ? nlohmann::ordered_json(*d.sizeA) : nlohmann::ordered_json(nullptr);
        item["size_b"] = d.sizeB ? nlohmann::ordered_json(*d.sizeB) : nlohmann::ordered_json(nullptr);
        out.Add(item.dump(2));
    }
}

} // namespace

int RunDiff(const DiffOptions &options)
{
    const auto a = OpenSide(options.a);
    const auto b = OpenSide(options.b);
    if (!a || !b)
        return kTrouble;
    const PathScope scope(options.patterns);
    zarnik::CompareSettings settings;
    settings.workers = options.jobs;
    if (!scope.Everything())
        settings.inScope = std::ref(scope);
    const zarnik::CompareResult result = zarnik::CompareSides(*a, *b, settings);

    if (options.json)
        PrintJson(result.differences);
    else
        PrintText(result.differences);
    // Each file that could not be read, named with the side it is on.
    const std::string names[2] = {Printable(options.a), Printable(options.b)};
    for (const zarnik::CompareProblem &problem : result.problems)
        PrintError(names[problem.side] + ": " + (problem.path.empty() ? "" : ShownPath(problem.path) + ": ") +
                   problem.text);
    const std::vector<std::string> unmatched = scope.Unmatched({a.get(), b.get()});
    for (const std::string &pattern : unmatched)
        PrintError(Printable(pattern) + ": no file or folder matches this pattern");
    if (!result.problems.empty() || !unmatched.empty())
        return kTrouble;
    return result.differences.empty() ? kSame : kDifferent;
}
