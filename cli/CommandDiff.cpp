// `zarnik diff`: what changed from A to B, one line per difference in the
// style of `git diff --name-status`, or as a JSON array; the exit status
// as `diff` and `cmp` give it.
#include "Commands.h"
#include "Compare.h"
#include "CompareExport.h"
#include "JsonArray.h"
#include "OpenLosses.h"
#include "OpenPack.h"
#include "PackText.h"
#include "Sides.h"
#include "StopSignals.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>

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

void PrintText(const std::vector<Difference> &differences)
{
    for (const Difference &d : differences) {
        const std::string line = zarnik::DifferenceText(d);
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

// Writes B's side of the differences below the folder the user named; the
// exit status it adds (kSame when all went well), after a line for each
// file not written.
int Export(const zarnik::CCompareSide &b, const std::vector<Difference> &differences, const std::string &typed,
           unsigned jobs)
{
    const std::filesystem::path dir = DestinationFolder(typed);
    if (dir.empty())
        return kTrouble;
    StopOnSignals stopOnSignals;
    zarnik::ExportSettings settings;
    settings.stop = &StopRequested();
    settings.workers = jobs;
    uint64_t failed = 0, existing = 0;
    settings.result = [&](const std::string &path, zarnik::ExtractOutcome outcome, const std::string &reason) {
        if (outcome == zarnik::ExtractOutcome::Exists) {
            ++existing;
        } else if (outcome != zarnik::ExtractOutcome::Written && outcome != zarnik::ExtractOutcome::Stopped &&
                   outcome != zarnik::ExtractOutcome::DiskFull) {
            // The run's end says what a stop or a full disk left.
            ++failed;
            PrintError(ShownPath(path) + ": " + ExtractOutcomeText(outcome) +
                       (reason.empty() ? "" : " (" + Printable(reason) + ")"));
        }
    };
    const zarnik::ExportEnd end = zarnik::ExportDifferences(b, differences, dir.u8string(), settings);
    if (!end.refused.empty()) {
        PrintError("cannot export to " + Printable(typed) + ": " + end.refused);
        return kTrouble;
    }
    if (existing)
        PrintError(Counted(existing, "file", "files") + " already in " + Printable(typed) +
                   " left as they are");
    if (end.end == zarnik::ExtractEnd::Stopped) {
        PrintError(std::string("interrupted by ") + StopSignalName() + "; the export is not complete");
        return StoppedExitStatus();
    }
    if (end.end == zarnik::ExtractEnd::DiskFull) {
        PrintError("the disk is full or read-only; the export is not complete");
        return kTrouble;
    }
    return failed ? kTrouble : kSame;
}

} // namespace

int RunDiff(const DiffOptions &options)
{
    const auto a = OpenSide(options.a);
    const auto b = OpenSide(options.b);
    if (!a || !b)
        return kTrouble;
    const PathScope scope(options.patterns);
    const zarnik::CompareResult result = zarnik::CompareSides(*a, *b, scope.Settings(options.jobs));

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
    const int exported = options.exportDir.empty() ? kSame : Export(*b, result.differences, options.exportDir, options.jobs);
    if (exported != kSame && exported != kTrouble)
        return exported; // interrupted
    if (!result.problems.empty() || !unmatched.empty() || exported == kTrouble)
        return kTrouble;
    return result.differences.empty() ? kSame : kDifferent;
}
