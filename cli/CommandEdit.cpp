// `zarnik add`, `delete` and `rename`: a pack changed through the pack
// writer's edit. Every change is checked before anything is written; the
// new pack goes to -o OUT, or over PACK by one rename once it has been read
// back, so PACK is either the old pack or the new one, never a broken one.
// A change in place holds the pack's lock from before it opens the pack
// until the new one stands: changes made at once take effect one after the
// other.
#include "Commands.h"
#include "PathRule.h"
#include "SourceWalk.h"
#include "OpenPack.h"
#include "PackEdit.h"
#include "PackText.h"
#include "Console.h"
#include "OpenLosses.h"
#include "Progress.h"
#include "SaveReport.h"
#include "StopSignals.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

namespace fs = std::filesystem;
using zarnik_pack::EditProblem;
using zarnik_pack::PackEdit;

namespace {

// The files of every source, walked into `folder`. What could not be taken
// is named and makes the run fail; what a pack could not hold as it is, an
// empty folder, and one path from two sources refuse the change (false).
// The same source given twice is taken once; the pack being changed (and
// its lock) is skipped, named but no failure.
bool GatherSources(const std::vector<std::string> &sources, const std::string &folder,
                   const std::vector<zarnik::PlatformFileStamp> &packFiles, std::vector<zarnik::SourceFile> &files,
                   size_t &passedOver, size_t &skipped)
{
    bool refused = false;
    std::map<std::string, std::string> taken; // pack path -> the source's disk path, made plain
    for (const std::string &source : sources) {
        zarnik::SourceWalk walk = zarnik::WalkSource(source, folder, packFiles);
        for (const zarnik::SourceSkip &skip : walk.passedOver) {
            const bool pack = skip.kind == zarnik::SourceSkip::Kind::ThePack;
            PrintError(skip.line + (pack ? "; skipped" : "; not added"));
            (pack ? skipped : passedOver) += 1;
        }
        for (const zarnik::SourceSkip &skip : walk.refused)
            PrintError(skip.line);
        const bool empty = walk.files.empty() && walk.passedOver.empty() && walk.refused.empty();
        if (empty)
            PrintError(Printable(source) + ": no regular file below it; a pack keeps no empty folder");
        refused = refused || empty || !walk.refused.empty();
        for (zarnik::SourceFile &file : walk.files) {
            const std::string disk = fs::u8path(LibraryPath(file.diskPath)).lexically_normal().u8string();
            const auto [before, fresh] = taken.emplace(file.packPath, disk);
            if (fresh) {
                files.push_back(std::move(file));
            } else if (before->second == disk) {
                PrintError(file.shown + ": given more than once; added once");
            } else {
                PrintError(file.shown + ": takes the path " + ShownPath(file.packPath) + " another source takes");
                refused = true;
            }
        }
    }
    return !refused;
}

// The files of the pack being changed and its lock, which no walk takes.
std::vector<zarnik::PlatformFileStamp> PackFileStamps(const PackEdit &edit, const zarnik_pack::PackLock &lock)
{
    std::vector<zarnik::PlatformFileStamp> stamps(1);
    if (!lock.Stamp(&stamps.back()))
        stamps.clear();
    for (const std::string &file : edit.PackFiles()) {
        stamps.emplace_back();
        if (!zarnik::PlatformStampAt(file, &stamps.back()))
            stamps.pop_back();
    }
    return stamps;
}

// Adds the sources below --at (the root without it); the exit status so far.
int AddSources(PackEdit &edit, const EditOptions &options, const zarnik_pack::PackLock &lock, std::string &done)
{
    std::string reason;
    const std::optional<std::string> folder =
        options.at ? zarnik::PackFolderFromTyped(*options.at, &reason) : zarnik::kRootName;
    if (!folder) {
        PrintError(Printable("--at '" + *options.at + "': " + reason));
        return kExitUsage;
    }
    std::vector<zarnik::SourceFile> files;
    size_t passedOver = 0, skipped = 0;
    if (!GatherSources(options.paths, *folder, PackFileStamps(edit, lock), files, passedOver, skipped))
        return kExitUsage;
    const auto storage = options.store ? zarnik_pack::Storage::Stored : zarnik_pack::Storage::Auto;
    for (const zarnik::SourceFile &file : files) {
        if (!edit.Add(file.packPath, file.diskPath, options.replace, storage)) {
            PrintError(Printable(edit.Reason()));
            return kExitUsage;
        }
    }
    done = Counted(files.size(), "file", "files") + (options.replace ? " added or replaced" : " added");
    if (passedOver)
        done += ", " + Counted(passedOver, "entry", "entries") + " not added";
    if (skipped)
        done += ", " + Counted(skipped, "file", "files") + " of the pack itself skipped";
    return passedOver ? kExitFileFailed : kExitOk;
}

// A stop asked for at any moment: nothing was written.
int Stopped()
{
    PrintError(std::string("interrupted by ") + StopSignalName() + "; nothing was written and the pack is as it was");
    return StoppedExitStatus();
}

// A change in place waits for one of the same pack that is under way, so
// that it opens the pack that one leaves. The exit status when it cannot
// go on, else -1.
int LockForChange(zarnik_pack::PackLock &lock, const EditOptions &options)
{
    if (!options.out.empty())
        return -1;
    const auto waiting = [&options] {
        PrintError("waiting for another change of " + Printable(options.pack) + " to end");
    };
    switch (lock.Take(LibraryPath(options.pack), &StopRequested(), waiting)) {
    case zarnik_pack::PackLock::Outcome::Taken:
        return -1;
    case zarnik_pack::PackLock::Outcome::Stopped:
        return Stopped();
    case zarnik_pack::PackLock::Outcome::Failed:
        break;
    }
    PrintError("cannot change " + Printable(options.pack) + ": no lock against other changes can be made beside it (" +
               lock.Failure().text + ")");
    return kExitFileFailed;
}

// What was done, as one JSON object on standard output; paths as `list
// --json` gives them.
void PrintSummary(const PackEdit &edit, const zarnik_pack::EditChanges &changes,
                  const zarnik_pack::SaveOutcome &outcome, const EditOptions &options)
{
    auto paths = [](const std::vector<std::string> &list) {
        nlohmann::ordered_json array = nlohmann::ordered_json::array();
        for (const std::string &path : list)
            array.push_back(DisplayName(path));
        return array;
    };
    nlohmann::ordered_json summary;
    summary["pack"] = options.out.empty() ? options.pack : options.out;
    nlohmann::ordered_json written = nlohmann::ordered_json::array();
    for (size_t i = 0; i < outcome.written.size(); ++i)
        written.push_back({{"path", outcome.written[i]}, {"bytes", outcome.writtenBytes[i]}});
    summary["written"] = written;
    summary["files"] = edit.FileCount();
    summary["added"] = paths(changes.added);
    summary["replaced"] = paths(changes.replaced);
    summary["deleted"] = paths(changes.deleted);
    nlohmann::ordered_json renamed = nlohmann::ordered_json::array();
    for (const auto &change : changes.renamed)
        renamed.push_back({{"from", DisplayName(change.first)}, {"to", DisplayName(change.second)}});
    summary["renamed"] = renamed;
    nlohmann::ordered_json dropped = nlohmann::ordered_json::array();
    for (const std::string &text : edit.Dropped())
        dropped.push_back(text); // already UTF-8, as the text lines print it
    summary["dropped"] = dropped;
    // The file names the system gave need not be UTF-8: such bytes show as U+FFFD.
    std::printf("%s\n", summary.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
}

int Save(const PackEdit &edit, const EditOptions &options, const std::string &done,
         std::unique_ptr<const zarnik::CZarnikArchive> &archive, const zarnik_pack::PackLock &lock)
{
    // Taken before the save: over the pack, the save lets the archive go.
    zarnik_pack::EditChanges changes = edit.Changes();
    // A change that changes nothing leaves the pack as it is.
    if (changes.added.empty() && changes.replaced.empty() && changes.deleted.empty() && changes.renamed.empty() &&
        edit.Dropped().empty()) {
        if (options.json)
            PrintSummary(edit, changes, {}, options);
        else
            std::printf("%s; nothing changed, so nothing was written\n", done.c_str());
        return kExitOk;
    }
    if (!options.json) {
        for (const std::string &dropped : edit.Dropped())
            PrintError("dropped: " + Printable(dropped));
        // Only the summary names them: a rename of a big folder need not
        // hold every path twice while the pack is written.
        changes = {};
    }
    zarnik_pack::SaveOptions save;
    save.out = options.out.empty() ? std::string() : LibraryPath(options.out);
    save.backup = options.backup;
    save.sync = options.sync;
    save.lock = &lock;
    save.stop = &StopRequested();
    save.releasePack = [&archive] { archive.reset(); };
    ProgressLine progress(options.progress.Shown(), edit.FileCount());
    std::string doing = "writing the new pack";
    save.stage = [&doing](zarnik_pack::SaveStage stage) {
        doing = stage == zarnik_pack::SaveStage::Checking ? "reading the new pack back" : "writing the new pack";
    };
    save.progress = [&](uint64_t files, uint64_t bytes) { progress.Update(files, bytes, doing); };
    const zarnik_pack::SaveOutcome outcome = edit.Save(save);
    progress.Clear();
    PrintLeftOver(outcome);
    switch (outcome.problem) {
    case EditProblem::None:
        if (options.json) {
            PrintSummary(edit, changes, outcome, options);
        } else {
            std::string written;
            for (const std::string &path : outcome.written)
                written += (written.empty() ? "" : ", ") + Printable(path);
            std::printf("%s; %s\n", done.c_str(), written.empty() ? "nothing to write" : (written + " written").c_str());
        }
        return kExitOk;
    case EditProblem::Refused:
        PrintError(Printable(outcome.reason));
        return kExitUsage;
    case EditProblem::Stopped:
        return Stopped();
    default:
        PrintError(Printable(outcome.reason));
        return kExitFileFailed;
    }
}


// The change the command asks for, made in `edit`: the exit status so far
// (kExitFileFailed when a source was passed over), or kExitUsage after the
// message when it is refused.
int MakeChange(PackEdit &edit, const EditOptions &options, const zarnik_pack::PackLock &lock, std::string &done)
{
    switch (options.command) {
    case EditOptions::Command::Add:
        if (!options.data.empty() && !edit.SetDataFile(options.data)) {
            PrintError(Printable(edit.Reason()));
            return kExitUsage;
        }
        return AddSources(edit, options, lock, done);
    case EditOptions::Command::Delete:
        for (const std::string &typed : options.paths) {
            const std::optional<std::string> path = zarnik::PackPathFromTyped(typed);
            if (!path || !edit.Delete(*path)) {
                PrintError(path ? Printable(edit.Reason()) : Printable(typed) + ": no such file or folder in the pack");
                return kExitUsage;
            }
        }
        done = std::to_string(options.paths.size()) + " deleted";
        return kExitOk;
    case EditOptions::Command::Rename: {
        const std::optional<std::string> from = zarnik::PackPathFromTyped(options.paths.at(0));
        const std::optional<std::string> to = zarnik::PackPathFromTyped(options.paths.at(1));
        if (!from || !to || !edit.Rename(*from, *to)) {
            PrintError(from && to ? Printable(edit.Reason())
                                  : Printable(options.paths.at(from ? 1 : 0)) + ": " + zarnik::kNotLatin1Reason);
            return kExitUsage;
        }
        done = "renamed";
        return kExitOk;
    }
    }
    return kExitUsage;
}

} // namespace

int RunEdit(const EditOptions &options)
{
    // Ctrl-C and SIGTERM stop the change at any moment; the pack is left
    // as it was, and no temporary file stays.
    StopOnSignals signals;
    zarnik_pack::PackLock lock;
    const int unlocked = LockForChange(lock, options);
    if (unlocked >= 0)
        return unlocked;
    std::unique_ptr<const zarnik::CZarnikArchive> archive = OpenPack(options.pack);
    if (!archive)
        return kExitUsage;
    PackEdit edit(*archive, LibraryPath(options.pack), options.dropDamaged);
    if (!edit.Usable()) {
        PrintError("cannot change " + Printable(options.pack) + ": " + Printable(edit.Reason()));
        return kExitUsage;
    }
    std::string done;
    const int status = MakeChange(edit, options, lock, done);
    if (status == kExitUsage)
        return status;
    if (StopRequested().load())
        return Stopped();
    const int saved = Save(edit, options, done, archive, lock);
    return saved == kExitOk ? status : saved;
}
