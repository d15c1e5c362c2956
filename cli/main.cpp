// zarnik: the command line. Parses the arguments and hands over to one
// command; every pack is read through the archive library.
#include "Check.h"
#include "Commands.h"
#include "Console.h"
#include "OpenPack.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

namespace {

struct Usage
{
    const char *command;
    const char *line;
};

const Usage kUsage[] = {
    {"list", "zarnik list PACK [--long] [--json]"},
    {"info", "zarnik info PACK"},
    {"extract", "zarnik extract PACK [-C DIR] [-j N] [--sync] [--progress|--quiet] [PATTERN...]"},
    {"test", "zarnik test PACK [--portable] [--progress|--quiet]"},
    {"cat", "zarnik cat PACK PATH"},
    {"create", "zarnik create OUT.upk|OUT.vfs DIR [--store] [--sync]"},
    {"mount", "zarnik mount PACK DIR [-f] [--cache-mb N] [--write] | zarnik mount --status DIR"},
    {"unmount", "zarnik unmount DIR [--save [--backup] [--sync] | --discard]"},
    {"add", "zarnik add PACK SRC... [--at ARCHFOLDER] [--replace] [--store] [--data NAME] [-o OUT] [--backup] [--sync] [--json] [--progress|--quiet]"},
    {"delete", "zarnik delete PACK ARCHPATH... [-o OUT] [--backup] [--sync] [--json] [--progress|--quiet]"},
    {"rename", "zarnik rename PACK OLD NEW [-o OUT] [--backup] [--sync] [--json] [--progress|--quiet]"},
    {"grep", "zarnik grep [-FiwvncloqHa] [-e PATTERN]... [--include GLOB] [--exclude GLOB] [-j N] [--json] PATTERN PACK..."},
    {"diff", "zarnik diff A B [--json] [--export DIR] [-j N] [PATTERN...]"},
    {"hash", "zarnik hash PACK [--json] [-j N] [PATTERN...]"},
};

void PrintUsage(const CLI::App &app)
{
    // The failing command's line when the error lies in a command.
    const CLI::App *failed = nullptr;
    for (const CLI::App *sub : app.get_subcommands())
        failed = sub;
    for (const Usage &usage : kUsage)
        if (!failed || failed->get_name() == usage.command)
            std::fprintf(stderr, "%s %s\n", failed ? "usage:" : "      ", usage.line);
    std::fprintf(stderr, "Try 'zarnik %s--help' for more.\n",
                 failed ? (failed->get_name() + " ").c_str() : "");
}

// The library's check reports are for developers: a damaged pack reaches
// the user as the tool's own one-line message, and as the checks only with
// --verbose.
bool g_Verbose = false;

void ReportCheck(const char *expression, const char *file, int line)
{
    if (g_Verbose)
        std::fprintf(stderr, "zarnik: check failed: %s (%s, line %d)\n", expression, file, line);
}

const char kPackHelp[] = "the pack";

// Every command with the values its options fill in.
struct CommandLine
{
    CLI::App app{"List, check, extract and create Zarnik packs (.upk single packs, .vfs data "
                 "files with their content.vfi index).",
                 "zarnik"};
    std::string pack;
    std::string path; // of `cat`
    bool longFormat = false;
    bool json = false;
    bool portable = false; // of `test`
    ProgressWish testProgress;
    ExtractOptions extract;
    CreateOptions create;
    MountOptions mount;
    std::vector<std::string> mountPlaces; // PACK DIR, or DIR with --status
    UnmountOptions unmount;
    EditOptions edit;       // of `add`, `delete` and `rename`
    GrepOptions grep;
    CLI::App *list, *info, *extractCommand, *test, *cat, *createCommand, *mountCommand, *unmountCommand;
    CLI::App *addCommand, *deleteCommand, *renameCommand;
    CLI::App *grepCommand;
    DiffOptions diff;
    HashOptions hash;
    CLI::App *diffCommand, *hashCommand;
};

// The progress line's flags, in the same words for every command that
// draws one.
void AddProgressFlags(CLI::App *command, ProgressWish &wish)
{
    CLI::Option *always = command->add_flag("--progress", wish.always,
                                            "show the progress line even when stderr is no terminal");
    command->add_flag("-q,--quiet", wish.never, "no progress line")->excludes(always);
}

void AddReadingCommands(CommandLine &line)
{
    line.list = line.app.add_subcommand("list", "Every file and folder, depth first in pack order");
    line.list->add_option("PACK", line.pack,
                          "the pack (.upk, a .vfs with content.vfi beside it, or content.vfi itself)")
        ->required();
    line.list->add_flag("-l,--long", line.longFormat, "add unpacked size, stored size, packed/stored");
    line.list->add_flag("--json", line.json, "one JSON array: path, name, type, unpacked, stored, offset");

    line.info = line.app.add_subcommand("info", "Route, data file, counts and totals");
    line.info->add_option("PACK", line.pack, kPackHelp)->required();

    line.test = line.app.add_subcommand("test", "Unpack every file without writing; name the damaged ones");
    line.test->add_option("PACK", line.pack, kPackHelp)->required();
    line.test->add_flag("--portable", line.portable,
                        "also name what Windows or a disk that ignores case would refuse");
    AddProgressFlags(line.test, line.testProgress);

    line.cat = line.app.add_subcommand("cat", "One file's bytes to standard output");
    line.cat->add_option("PACK", line.pack, kPackHelp)->required();
    line.cat->add_option("PATH", line.path, "the file's path as list prints it, e.g. content/a/b.txt")
        ->required();
}

void AddExtractCommand(CommandLine &line)
{
    ExtractOptions &options = line.extract;
    CLI::App *ext = line.extractCommand = line.app.add_subcommand(
        "extract", "Write the files below DIR as DIR/content/...; never overwrites");
    ext->add_option("PACK", options.pack, kPackHelp)->required();
    ext->add_option("-C,--directory", options.dir, "the folder to write into (default: .)");
    AddProgressFlags(ext, options.progress);
    ext->add_option("-j,--jobs", options.jobs,
                    "files read, unpacked and written at once (default: one per core, up to 8)")
        ->check(CLI::Range(1u, 64u));
    ext->add_flag("--sync", options.sync, "have each file on the disk before it takes its name (slower)");
    ext->add_option("PATTERN", options.patterns,
                    "only the nodes whose '/'-path matches (*, **, ?, [...]); a folder brings "
                    "everything below it");
}

void AddCreateCommand(CommandLine &line)
{
    CreateOptions &options = line.create;
    line.createCommand = line.app.add_subcommand(
        "create", "Pack every regular file below DIR as content\\<relative path>");
    line.createCommand->add_option("OUT", options.out, "OUT.upk (single pack) or OUT.vfs (with content.vfi beside it)")
        ->required();
    line.createCommand->add_option("DIR", options.dir, "the folder to pack")->required();
    line.createCommand->add_flag("--store", options.store, "store every file as is, without packing");
    line.createCommand->add_flag("--sync", options.sync,
                                 "have the pack on the disk before it takes its name (slower)");
}

void AddMountCommands(CommandLine &line)
{
    MountOptions &options = line.mount;
    CLI::App *mount = line.mountCommand =
        line.app.add_subcommand("mount", "The pack as a folder at DIR (Linux, FUSE)");
    mount->add_option("PACK DIR", line.mountPlaces, std::string(kPackHelp) + ", and an empty folder")
        ->required()
        ->expected(1, 2);
    mount->add_flag("-f,--foreground", options.foreground, "stay in the foreground and show the log; Ctrl-C unmounts");
    mount->add_option("--cache-mb", options.cacheMiB, "MiB of unpacked data kept for the next reads (default 64)")
        ->check(CLI::Range(1u, 65536u));
    mount->add_flag("--write", options.write,
                    "let the folder be changed; the changes wait beside the pack until unmount --save or --discard");
    mount->add_flag("--status", options.status, "list the changes waiting in the mount at DIR, as diff does");
    UnmountOptions &unmount = line.unmount;
    line.unmountCommand = line.app.add_subcommand("unmount", "End the mount at DIR");
    line.unmountCommand->add_option("DIR", unmount.dir, "the folder a pack is mounted on")->required();
    CLI::Option *save = line.unmountCommand->add_flag("--save", unmount.save, "write the changes into the pack first");
    line.unmountCommand->add_flag("--backup", unmount.backup, "with --save: keep the old pack as NAME.bak")->needs(save);
    line.unmountCommand
        ->add_flag("--sync", unmount.sync, "with --save: have the new pack on the disk before it takes its name (slower)")
        ->needs(save);
    line.unmountCommand->add_flag("--discard", unmount.discard, "drop the changes")->excludes(save);
}

// The arguments add, delete and rename share.
CLI::App *AddEditCommand(CommandLine &line, const char *name, const char *description)
{
    EditOptions &edit = line.edit;
    CLI::App *command = line.app.add_subcommand(name, description);
    command->add_option("PACK", edit.pack, "the pack: a single pack, or a .vfs set through content.vfi or a data file")->required();
    // An empty OUT would leave the change to land on PACK itself.
    command->add_option("-o,--output", edit.out, "write the changed pack here; PACK stays as it is")
        ->check([](const std::string &out) { return out.empty() ? std::string("an empty path names no file") : std::string(); });
    command->add_flag("--backup", edit.backup, "without -o: keep the old pack as PACK.bak");
    command->add_flag("--sync", edit.sync, "have the new pack on the disk before it takes its name (slower)");
    command->add_flag("--drop-damaged", edit.dropDamaged, "leave out what opening passed over");
    command->add_flag("--json", edit.json, "one JSON object: written, files, added, replaced, deleted, renamed, dropped");
    AddProgressFlags(command, edit.progress);
    return command;
}

void AddEditCommands(CommandLine &line)
{
    EditOptions &edit = line.edit;
    CLI::App *add = line.addCommand =
        AddEditCommand(line, "add", "Add files or folders from disk (PACK or -o OUT)");
    add->add_option("SRC", edit.paths, "files and folders; a folder named content lands at the root")->required();
    add->add_option("--at", edit.at, "the pack folder to add into, as list prints it (default: content)");
    add->add_flag("--replace", edit.replace, "replace files already in the pack");
    add->add_flag("--store", edit.store, "store the files as they are, without packing");
    add->add_option("--data", edit.data, "a .vfs set: the data file new files go to (default: the last)");
    line.deleteCommand = AddEditCommand(line, "delete", "Delete files or folders (PACK or -o OUT)");
    line.deleteCommand->add_option("ARCHPATH", edit.paths, "paths as list prints them")->required();
    line.renameCommand = AddEditCommand(line, "rename", "Rename or move a file or folder (PACK or -o OUT)");
    line.renameCommand->add_option("OLD NEW", edit.paths, "the path as list prints it, and its new path")
        ->required()
        ->expected(2);
}

void AddCompareCommands(CommandLine &line)
{
    const char patternHelp[] = "only the paths that match (*, **, ?, [...]), as extract takes them; a folder "
                               "brings everything below it";
    const char jobsHelp[] = "files read at once (default: one per core, up to 8)";
    DiffOptions &diff = line.diff;
    CLI::App *diffCommand = line.diffCommand = line.app.add_subcommand(
        "diff", "What changed from A to B: A, D, M and R lines; exit 0 same, 1 different, 2 trouble");
    const char sideHelp[] = "a pack, a folder (as create would pack it) or a saved hash list";
    diffCommand->add_option("A", diff.a, sideHelp)->required();
    diffCommand->add_option("B", diff.b, sideHelp)->required();
    diffCommand->add_flag("--json", diff.json, "one JSON array: change, type, path, from, size_a, size_b");
    diffCommand->add_option("--export", diff.exportDir,
                            "write B's added, modified and renamed files below DIR, and removed.txt");
    diffCommand->add_option("-j,--jobs", diff.jobs, jobsHelp)->check(CLI::Range(1u, 64u));
    diffCommand->add_option("PATTERN", diff.patterns, patternHelp);

    HashOptions &hash = line.hash;
    CLI::App *hashCommand = line.hashCommand =
        line.app.add_subcommand("hash", "The SHA-256 of each file's unpacked bytes, as sha256sum prints them");
    hashCommand->add_option("PACK", hash.pack, "the pack (or a folder, or a saved hash list)")->required();
    hashCommand->add_flag("--json", hash.json, "one JSON array: path, sha256, unpacked");
    hashCommand->add_option("-j,--jobs", hash.jobs, jobsHelp)->check(CLI::Range(1u, 64u));
    hashCommand->add_option("PATTERN", hash.patterns, patternHelp);
}

void SetUp(CommandLine &line)
{
    CLI::App &app = line.app;
    app.set_version_flag("--version", std::string("zarnik ") + ZARNIK_VERSION);
    app.require_subcommand(1);
    app.fallthrough();
    // "/Games/data0.vfs" is a path on Windows as everywhere, never an option.
    app.allow_windows_style_options(false);
    app.add_flag("-v,--verbose", g_Verbose, "also show the library's check reports on damaged data");
    app.footer("Paths inside a pack may be written with '/' or '\\'. Exit status: 0 success, "
               "1 a file failed, 2 the pack could not be opened or the command line is wrong, "
               "130 or 143 interrupted.");
    AddReadingCommands(line);
    AddExtractCommand(line);
    AddCreateCommand(line);
    AddMountCommands(line);
    AddEditCommands(line);
    line.grepCommand = AddGrepCommand(line.app, line.grep);
    AddCompareCommands(line);
}

// The exit status when the command line does not name a command to run:
// a known first word that is not a command, a parse error, --help.
int ParseFailure(CommandLine &line, const std::vector<std::string> &arguments)
{
    // CLI11 would call an unknown command a missing one; say what is wrong.
    if (arguments.size() > 1 && arguments[1][0] != '-') {
        bool known = false;
        for (const Usage &usage : kUsage)
            known = known || arguments[1] == usage.command;
        if (!known) {
            std::fprintf(stderr, "zarnik: unknown command '%s'\n", arguments[1].c_str());
            PrintUsage(line.app);
            return kExitUsage;
        }
    }
    try {
        // CLI11 takes the arguments after the program's name, last first.
        line.app.parse(std::vector<std::string>(arguments.rbegin(), arguments.rend() - 1));
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0) // --help, --version
            return line.app.exit(e);
        std::fprintf(stderr, "zarnik: %s\n", e.what());
        PrintUsage(line.app);
        return kExitUsage;
    }
    return -1;
}

int RunCommand(const CommandLine &line)
{
    if (line.list->parsed())
        return RunList(line.pack, line.longFormat, line.json);
    if (line.info->parsed())
        return RunInfo(line.pack);
    if (line.extractCommand->parsed())
        return RunExtract(line.extract);
    if (line.test->parsed())
        return RunTest(line.pack, line.portable, line.testProgress);
    if (line.cat->parsed())
        return RunCat(line.pack, line.path);
    if (line.createCommand->parsed())
        return RunCreate(line.create);
    if (line.mountCommand->parsed()) {
        // --status takes the folder alone; a mount takes the pack and the folder.
        if (line.mountPlaces.size() != (line.mount.status ? 1u : 2u)) {
            PrintError(line.mount.status ? "mount --status takes DIR alone" : "mount takes PACK and DIR");
            return kExitUsage;
        }
        MountOptions options = line.mount;
        options.pack = line.mountPlaces.front();
        options.dir = line.mountPlaces.back();
        return RunMount(options);
    }
    if (line.unmountCommand->parsed())
        return RunUnmount(line.unmount);
    if (line.addCommand->parsed())
        return RunEdit(line.edit.With(EditOptions::Command::Add));
    if (line.deleteCommand->parsed())
        return RunEdit(line.edit.With(EditOptions::Command::Delete));
    if (line.renameCommand->parsed())
        return RunEdit(line.edit.With(EditOptions::Command::Rename));
    if (line.grepCommand->parsed())
        return RunGrep(line.grep);
    if (line.diffCommand->parsed())
        return RunDiff(line.diff);
    if (line.hashCommand->parsed())
        return RunHash(line.hash);
    return kExitUsage;
}

} // namespace

int main(int argc, char **argv)
{
    // CLI11 and the commands below read UTF-8 from here on.
    const std::vector<std::string> arguments = SetUpConsole(argc, argv);
    CommandLine line;
    SetUp(line);
    const int failure = ParseFailure(line, arguments);
    if (failure >= 0)
        return failure;

    zarnik::SetCheckReporter(&ReportCheck);
    const int status = RunCommand(line);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        PrintError("cannot write to standard output");
        return status == kExitOk ? kExitFileFailed : status;
    }
    return status;
}
