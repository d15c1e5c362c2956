// `zarnik create`: a pack from every regular file below a folder, made as
// an edit of an empty pack and saved as every change is: each file read and
// packed block by block, the pack written under a temporary name beside its
// destination, read back and published only when whole, never replacing
// anything.
#include "Commands.h"
#include "OpenLosses.h"
#include "OpenPack.h"
#include "PackEdit.h"
#include "PackPath.h"
#include "PackText.h"
#include "Progress.h"
#include "SaveReport.h"
#include "SourceWalk.h"
#include "StopSignals.h"

#include <cstdio>
#include <filesystem>
#include <optional>

namespace fs = std::filesystem;
using zarnik_pack::EditProblem;

namespace {

bool EndsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Why `out` names no pack this command makes; "" when it does: a name
// ending in ".upk" that opens as a single pack, or in ".vfs" as a data file.
std::string TargetProblem(const std::string &out)
{
    const bool vfs = EndsWith(out, ".vfs");
    if (!vfs && !EndsWith(out, ".upk"))
        return "the pack to create must end in \".upk\" (single pack) or \".vfs\" "
               "(data file with content.vfi beside it): " + Printable(out);
    if (zarnik::RouteOf(LibraryPath(out)) !=
        (vfs ? zarnik::PackRoute::IndexedDataFile : zarnik::PackRoute::SinglePack))
        return Printable(out) + ": a file named so opens as another kind of pack, so the pack could not be read back";
    return {};
}

// The sources as an edit of the empty pack at `out`; false after a message.
bool AddSources(zarnik_pack::PackEdit &edit, const zarnik::SourceWalk &tree, bool store)
{
    const auto storage = store ? zarnik_pack::Storage::Stored : zarnik_pack::Storage::Auto;
    for (const zarnik::SourceFile &source : tree.files)
        if (!edit.Add(source.packPath, source.diskPath, false, storage)) {
            PrintError(Printable(edit.Reason()) + "; no pack was made");
            return false;
        }
    return true;
}

int Saved(const CreateOptions &options, const zarnik::SourceWalk &tree, const zarnik_pack::SaveOutcome &outcome)
{
    PrintLeftOver(outcome);
    switch (outcome.problem) {
    case EditProblem::None:
        break;
    case EditProblem::Stopped:
        PrintError(std::string("interrupted by ") + StopSignalName() + "; no pack was made");
        return StoppedExitStatus();
    default:
        PrintError(Printable(outcome.reason) + "; no pack was made");
        return outcome.problem == EditProblem::Refused ? kExitUsage : kExitFileFailed;
    }
    const std::string passedOver =
        tree.passedOver.empty() ? "" : "; " + Counted(tree.passedOver.size(), "entry", "entries") + " not packed";
    std::printf("%s: %s, %s in a file of %s%s%s\n", Printable(options.out).c_str(),
                Counted(tree.files.size(), "file", "files").c_str(), HumanBytes(tree.bytes).c_str(),
                HumanBytes(outcome.writtenBytes.front()).c_str(),
                outcome.written.size() > 1 ? " (index: content.vfi)" : "", passedOver.c_str());
    return tree.passedOver.empty() ? kExitOk : kExitFileFailed;
}

// Offsets and sizes are 32-bit: the stored bytes must stay below 4 GiB,
// with room left for the file table.
const uint64_t kMaxTotalBytes = 0xFFFFFFFFull - (64u << 20);

// The files below `dir`, each one not taken named on a line; nothing when
// the folder cannot become a pack as it is (the reason is out, the exit
// status in `status`). Only the sizes are looked at, so a folder too large
// for a pack is refused before anything is read.
std::optional<zarnik::SourceWalk> WalkSources(const std::string &dir, int &status)
{
    zarnik::SourceWalk tree = zarnik::WalkFolder(dir, zarnik::kRootName);
    for (const zarnik::SourceSkip &skip : tree.passedOver)
        PrintError(skip.line + "; not packed");
    for (const zarnik::SourceSkip &skip : tree.refused)
        PrintError(skip.line);
    std::string problem;
    if (tree.files.empty() && tree.refused.empty())
        problem = "no regular files below " + Printable(dir);
    else if (tree.bytes > kMaxTotalBytes)
        problem = "the files below " + Printable(dir) + " hold " + HumanBytes(tree.bytes) +
                  ", more than a pack can address (4 GiB)";
    if (!problem.empty())
        PrintError(problem);
    // Nothing could be read: a failed read, not a folder a pack cannot hold.
    status = tree.files.empty() && tree.refused.empty() && !tree.passedOver.empty() ? kExitFileFailed : kExitUsage;
    if (!problem.empty() || !tree.refused.empty())
        return std::nullopt;
    return tree;
}

} // namespace

int RunCreate(const CreateOptions &options)
{
    StopOnSignals stopOnSignals;
    std::string problem = TargetProblem(options.out);
    std::error_code ec;
    if (problem.empty() && !fs::is_directory(fs::u8path(options.dir), ec))
        problem = Printable(options.dir) + ": not a folder";
    if (!problem.empty()) {
        PrintError(problem);
        return kExitUsage;
    }
    int status = kExitUsage;
    const std::optional<zarnik::SourceWalk> tree = WalkSources(options.dir, status);
    if (!tree)
        return status;
    zarnik_pack::PackEdit edit(LibraryPath(options.out));
    if (!AddSources(edit, *tree, options.store))
        return kExitFileFailed;
    zarnik_pack::SaveOptions save;
    save.sync = options.sync;
    save.stop = &StopRequested();
    return Saved(options, *tree, edit.Save(save));
}
