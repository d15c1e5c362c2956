// `zarnik create`: a pack from every regular file below a folder, written
// by the pack writer. Each file is read and packed block by block, so the
// memory needed does not grow with the files' sizes. The pack is written
// under a temporary name beside its destination and takes its final name
// only when complete; nothing that exists is ever replaced.
#include "Commands.h"
#include "OpenLosses.h"
#include "OpenPack.h"
#include "PackText.h"
#include "PackPath.h"
#include "OutputFile.h"
#include "PackWriter.h"
#include "PlatformFile.h"
#include "Progress.h"
#include "SourceTree.h"
#include "StopSignals.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

namespace fs = std::filesystem;
using zarnik_pack::Entry;

namespace {

// A failure of the run: its message and the exit status.
struct Failure
{
    std::string message;
    int status = kExitFileFailed;
};

// The files a run makes: the pack, and for a data file its index beside it.
struct Target
{
    fs::path pack;
    fs::path index; // empty for a single pack
};

bool EndsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool Exists(const fs::path &path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// What `out` makes, when it names a kind of pack that can be read back and
// nothing stands at its names yet.
std::optional<Target> CheckTarget(const std::string &out, Failure &failure)
{
    failure.status = kExitUsage; // every failure here lies in the command line
    const bool vfs = EndsWith(out, ".vfs");
    if (!vfs && !EndsWith(out, ".upk")) {
        failure.message = "the pack to create must end in \".upk\" (single pack) or \".vfs\" "
                          "(data file with content.vfi beside it): " + Printable(out);
        return std::nullopt;
    }
    Target target;
    target.pack = fs::u8path(LibraryPath(out));
    // The pack must open by the route it is written for.
    if (zarnik::RouteOf(target.pack.u8string()) !=
        (vfs ? zarnik::PackRoute::IndexedDataFile : zarnik::PackRoute::SinglePack)) {
        failure.message = Printable(out) + ": a file named so opens as another kind of pack, so the "
                                           "pack could not be read back";
        return std::nullopt;
    }
    if (vfs)
        target.index = target.pack.parent_path() / "content.vfi";
    for (const fs::path &path : {target.pack, target.index}) {
        if (!path.empty() && Exists(path)) {
            failure.message = Printable(path.u8string()) + " already exists; not replaced";
            return std::nullopt;
        }
    }
    return target;
}

std::string WriteFailure(const fs::path &path, const zarnik::PlatformFailure &failure)
{
    const std::string why = failure.kind == zarnik::PlatformError::TooLarge
                                ? "larger than this process may write (the file-size limit, ulimit -f)"
                                : failure.text;
    return "cannot write " + Printable(path.u8string()) + ": " + why + "; no pack was made";
}

// The reason a source could not be read, in the file layer's words.
std::string ReadFailure(const std::string &shown)
{
    return "cannot read " + shown + ": " +
           (zarnik::PlatformLastError() == zarnik::PlatformError::NotRegular ? std::string("no longer a regular file")
                                                                              : zarnik::PlatformLastFailure().text);
}

// One source into `writer`, read block by block; false with `failure` set.
// A stop request ends the reading, and so the pack.
bool AddSource(zarnik_pack::DataWriter &writer, const zarnik_pack::PackSink &sink, const fs::path &packPath,
               const Source &source, bool store, Failure &failure)
{
    const std::string &shown = source.shown;
    std::unique_ptr<zarnik::PlatformFile, void (*)(zarnik::PlatformFile *)> in(
        zarnik::PlatformOpenRead(source.path.u8string()), zarnik::PlatformClose);
    if (!in) {
        failure.message = ReadFailure(shown);
        return false;
    }
    Entry entry;
    entry.path = source.archivePath;
    // An empty file stored as is would read back as a folder; the writer
    // keeps it packed in every mode.
    entry.storage = store && source.size > 0 ? zarnik_pack::Storage::Stored : zarnik_pack::Storage::Auto;
    zarnik::PlatformFile *file = in.get();
    const auto read = [file](uint64_t position, unsigned char *buffer, size_t count) {
        return !StopRequested().load() &&
               zarnik::PlatformReadAt(file, position, buffer, static_cast<uint32_t>(count)) == count;
    };
    uint64_t sizeNow = 0;
    if (!writer.AddStreamed(entry, source.size, read)) {
        failure.message = sink.Failed() ? WriteFailure(packPath, sink.Failure())
                                        : "cannot read " + shown + " to its end (a read failed, or it shrank)";
        return false;
    }
    if (!zarnik::PlatformFileSize(file, &sizeNow) || sizeNow != source.size) {
        failure.message = shown + " changed while it was packed";
        return false;
    }
    return true;
}

// The index of a data file, complete under its temporary name.
bool WriteIndex(zarnik_pack::OutputFile &index, const zarnik_pack::Bytes &bytes, const fs::path &path, bool sync,
                Failure &failure)
{
    if (!index.Created()) {
        failure.message = "cannot create " + Printable(path.u8string()) + ": " + index.Failure().text;
        return false;
    }
    // Closed whatever the append did: the close takes up a failed write's reason.
    index.Sink().Append(bytes);
    if (!index.Close(sync)) {
        failure.message = WriteFailure(path, index.Failure());
        return false;
    }
    return true;
}

// An index set is published only whole: both files complete under their
// temporary names, then the data file, then the index that makes it
// readable. A data file whose index could not take its name is taken back,
// so no lone data file blocks the next run.
bool PublishAll(zarnik_pack::OutputFile &data, zarnik_pack::OutputFile *index, const Target &target,
                Failure &failure)
{
    failure.status = kExitUsage;
    if (!data.Publish()) {
        failure.message = Printable(target.pack.u8string()) + " already exists; not replaced";
        return false;
    }
    if (index && !index->Publish()) {
        data.Withdraw();
        failure.message = Printable(target.index.u8string()) + " already exists; not replaced";
        return false;
    }
    return true;
}

// The pack's files, written whole and published; the size of the pack.
std::optional<uint64_t> WritePack(const Target &target, const SourceTree &tree, const CreateOptions &options,
                                  Failure &failure)
{
    std::unique_ptr<zarnik::PlatformDirectory, void (*)(zarnik::PlatformDirectory *)> folder(
        zarnik::PlatformOpenDirectory(target.pack.parent_path().u8string()), zarnik::PlatformCloseDirectory);
    if (!folder) {
        failure.message = "cannot create " + Printable(target.pack.u8string()) + ": " +
                          zarnik::PlatformLastFailure().text;
        return std::nullopt;
    }
    zarnik_pack::OutputFile data(folder.get(), target.pack.filename().u8string());
    if (!data.Created()) {
        failure.message = "cannot create " + Printable(target.pack.u8string()) + ": " + data.Failure().text;
        return std::nullopt;
    }
    zarnik_pack::PackSink &sink = data.Sink();
    std::optional<zarnik_pack::UpkWriter> upk;
    std::optional<zarnik_pack::VfsWriter> set;
    if (!target.index.empty())
        set.emplace(sink, target.pack.filename().u8string());
    else
        upk.emplace(sink);
    zarnik_pack::DataWriter &writer = set ? static_cast<zarnik_pack::DataWriter &>(*set) : *upk;
    for (const Source &source : tree.sources)
        if (!AddSource(writer, sink, target.pack, source, options.store, failure))
            return std::nullopt;
    if (upk && !upk->Finish()) {
        failure.message = sink.Failed() ? WriteFailure(target.pack, sink.Failure())
                                        : "the pack would pass 4 GiB, more than a pack can address";
        return std::nullopt;
    }
    if (!data.Close(options.sync)) {
        failure.message = WriteFailure(target.pack, data.Failure());
        return std::nullopt;
    }
    const uint64_t packSize = sink.Size();
    std::unique_ptr<zarnik_pack::OutputFile> index;
    if (set) {
        index = std::make_unique<zarnik_pack::OutputFile>(folder.get(), target.index.filename().u8string());
        if (!WriteIndex(*index, set->Index(), target.index, options.sync, failure))
            return std::nullopt;
    }
    if (!PublishAll(data, index.get(), target, failure))
        return std::nullopt;
    return packSize;
}

} // namespace

int RunCreate(const CreateOptions &options)
{
    Failure failure;
    const std::optional<Target> target = CheckTarget(options.out, failure);
    std::error_code ec;
    if (target && !fs::is_directory(fs::u8path(options.dir), ec))
        failure = {Printable(options.dir) + ": not a folder", kExitUsage};
    if (!failure.message.empty()) {
        PrintError(failure.message);
        return failure.status;
    }
    const SourceTree tree = CollectSources(options.dir);
    for (const std::string &line : tree.passedOver)
        PrintError(line + "; not packed");
    if (!tree.error.empty()) {
        PrintError(tree.error);
        return tree.status;
    }
    StopOnSignals stopOnSignals;
    failure = Failure();
    const std::optional<uint64_t> packSize = WritePack(*target, tree, options, failure);
    if (!packSize && StopRequested().load()) {
        PrintError(std::string("interrupted by ") + StopSignalName() + "; no pack was made");
        return StoppedExitStatus();
    }
    if (!packSize) {
        PrintError(failure.message);
        return failure.status;
    }
    const std::string passedOver =
        tree.passedOver.empty() ? "" : "; " + Counted(tree.passedOver.size(), "entry", "entries") + " not packed";
    std::printf("%s: %s, %s in a file of %s%s%s\n", Printable(options.out).c_str(),
                Counted(tree.sources.size(), "file", "files").c_str(), HumanBytes(tree.total).c_str(),
                HumanBytes(*packSize).c_str(), target->index.empty() ? "" : " (index: content.vfi)",
                passedOver.c_str());
    return tree.passedOver.empty() ? kExitOk : kExitFileFailed;
}
