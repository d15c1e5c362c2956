// `zarnik add`, `delete` and `rename`: a pack changed through the pack
// writer's edit. Every change is checked before anything is written; the
// new pack goes to -o OUT, or over PACK by one rename once it has been read
// back, so PACK is either the old pack or the new one, never a broken one.
// A change in place holds the pack's lock from before it opens the pack
// until the new one stands: changes made at once take effect one after the
// other.
#include "Commands.h"
#include "OpenPack.h"
#include "PackEdit.h"
#include "PackText.h"
#include "Console.h"
#include "Progress.h"
#include "SaveReport.h"
#include "StopSignals.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

namespace fs = std::filesystem;
using zarnik_pack::EditProblem;
using zarnik_pack::PackEdit;

namespace {

// A path the user typed, as the pack writes it: Latin-1 with '\'.
std::optional<std::string> ArchivePath(const std::string &typed)
{
    std::optional<std::string> latin1 = Latin1FromUtf8(typed);
    if (latin1)
        std::replace(latin1->begin(), latin1->end(), '/', '\\');
    return latin1;
}

// --at as an archive folder: "content" itself, or a folder below it.
std::string ArchiveFolder(std::string typed)
{
    std::replace(typed.begin(), typed.end(), '\\', '/');
    while (!typed.empty() && typed.back() == '/')
        typed.pop_back();
    while (!typed.empty() && typed.front() == '/')
        typed.erase(0, 1);
    if (typed.empty() || typed == "content")
        return "content";
    return typed.compare(0, 8, "content/") == 0 ? typed : "content/" + typed;
}

// Adds `source` below `folder` (typed form, '/'): a file by its name, a
// folder with every regular file below it under the folder's name, and a
// folder named "content" added at the root itself as the tree an
// extraction writes. False after a message.
bool AddSource(PackEdit &edit, const std::string &source, const std::string &folder, bool atGiven,
               bool replace, zarnik_pack::Storage storage, size_t &added)
{
    std::error_code ec;
    const fs::path path = fs::u8path(source);
    const fs::file_status status = fs::status(path, ec);
    auto add = [&](const std::string &typed, const fs::path &file) {
        const std::optional<std::string> archivePath = ArchivePath(typed);
        if (!archivePath || typed.find('\\') != std::string::npos) {
            PrintError(Printable(typed) + ": this name cannot be stored in a pack (only Latin-1, no '\\')");
            return false;
        }
        if (!edit.Add(*archivePath, LibraryPath(file.u8string()), replace, storage)) {
            PrintError(Printable(edit.Reason()));
            return false;
        }
        ++added;
        return true;
    };
    if (fs::is_regular_file(status))
        return add(folder + "/" + path.filename().u8string(), path);
    if (!fs::is_directory(status)) {
        PrintError("cannot add " + Printable(source) + ": " + (ec ? ec.message() : "not a file or folder"));
        return false;
    }
    fs::path base = path.filename().empty() ? path.parent_path() : path;
    const std::string name = base.filename().u8string();
    const std::string below = (name == "content" && !atGiven) ? folder : folder + "/" + name;
    // In sorted order, so that the entries of a folder come out the same on
    // every system.
    std::vector<fs::path> files;
    for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
        if (!it->is_symlink() && it->is_regular_file())
            files.push_back(it->path());
    if (ec) {
        PrintError("cannot read below " + Printable(source) + ": " + ec.message());
        return false;
    }
    std::sort(files.begin(), files.end());
    for (const fs::path &file : files)
        if (!add(below + "/" + file.lexically_relative(path).generic_u8string(), file))
            return false;
    return true;
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
    summary["files"] = edit.Items().size();
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
    if (!options.json)
        for (const std::string &dropped : edit.Dropped())
            PrintError("dropped: " + Printable(dropped));
    zarnik_pack::SaveOptions save;
    save.out = options.out.empty() ? std::string() : LibraryPath(options.out);
    save.backup = options.backup;
    save.sync = options.sync;
    save.lock = &lock;
    save.stop = &StopRequested();
    save.releasePack = [&archive] { archive.reset(); };
    ProgressLine progress(StandardErrorIsTerminal(), edit.Items().size());
    std::string doing = "writing the new pack";
    save.stage = [&doing](zarnik_pack::SaveStage stage) {
        doing = stage == zarnik_pack::SaveStage::Checking ? "reading the new pack back" : "writing the new pack";
    };
    save.progress = [&](uint64_t files, uint64_t bytes) { progress.Update(files, bytes, doing); };
    // Taken before the save: over the pack, the save lets the archive go.
    const zarnik_pack::EditChanges changes = edit.Changes();
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
    switch (options.command) {
    case EditOptions::Command::Add: {
        if (!options.data.empty() && !edit.SetDataFile(options.data)) {
            PrintError(Printable(edit.Reason()));
            return kExitUsage;
        }
        const std::string folder = ArchiveFolder(options.at);
        const auto storage = options.store ? zarnik_pack::Storage::Stored : zarnik_pack::Storage::Auto;
        size_t added = 0;
        for (const std::string &source : options.paths)
            if (!AddSource(edit, source, folder, !options.at.empty(), options.replace, storage, added))
                return kExitUsage;
        done = std::to_string(added) + (added == 1 ? " file" : " files") +
               (options.replace ? " added or replaced" : " added");
        break;
    }
    case EditOptions::Command::Delete:
        for (const std::string &typed : options.paths) {
            const std::optional<std::string> path = ArchivePath(typed);
            if (!path || !edit.Delete(*path)) {
                PrintError(path ? Printable(edit.Reason()) : Printable(typed) + ": no such path in the pack");
                return kExitUsage;
            }
        }
        done = std::to_string(options.paths.size()) + " deleted";
        break;
    case EditOptions::Command::Rename: {
        const std::optional<std::string> from = ArchivePath(options.paths.at(0));
        const std::optional<std::string> to = ArchivePath(options.paths.at(1));
        if (!from || !to || !edit.Rename(*from, *to)) {
            PrintError(from && to ? Printable(edit.Reason()) : "a path in a pack holds Latin-1 characters only");
            return kExitUsage;
        }
        done = "renamed";
        break;
    }
    }
    if (StopRequested().load())
        return Stopped();
    return Save(edit, options, done, archive, lock);
}
