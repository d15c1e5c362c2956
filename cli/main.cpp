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
    {"extract", "zarnik extract PACK [-C DIR] [-j N] [--progress|--quiet] [PATTERN...]"},
    {"test", "zarnik test PACK"},
    {"cat", "zarnik cat PACK PATH"},
    {"create", "zarnik create OUT.upk|OUT.vfs DIR [--store]"},
    {"add", "zarnik add PACK SRC... [--at ARCHFOLDER] [--replace] [--store] [-o OUT] [--backup]"},
    {"delete", "zarnik delete PACK ARCHPATH... [-o OUT] [--backup]"},
    {"rename", "zarnik rename PACK OLD NEW [-o OUT] [--backup]"},
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
bool g_verbose = false;

void ReportCheck(const char *expression, const char *file, int line)
{
    if (g_verbose)
        std::fprintf(stderr, "zarnik: check failed: %s (%s, line %d)\n", expression, file, line);
}

// The arguments add, delete and rename share.
CLI::App *AddEditCommand(CLI::App &app, const char *name, const char *description, EditOptions &edit)
{
    CLI::App *command = app.add_subcommand(name, description);
    command->add_option("PACK", edit.pack, "the pack (a single pack)")->required();
    command->add_option("-o,--output", edit.out, "write the changed pack here; PACK stays as it is");
    command->add_flag("--backup", edit.backup, "without -o: keep the old pack as PACK.bak");
    command->add_flag("--drop-damaged", edit.dropDamaged, "leave out what opening passed over");
    return command;
}

} // namespace

int main(int argc, char **argv)
{
    // CLI11 and the commands below read UTF-8 from here on.
    const std::vector<std::string> arguments = SetUpConsole(argc, argv);
    std::vector<char *> utf8;
    for (const std::string &argument : arguments)
        utf8.push_back(const_cast<char *>(argument.c_str()));
    utf8.push_back(nullptr);
    argc = static_cast<int>(arguments.size());
    argv = utf8.data();

    CLI::App app{"List, check, extract and create Zarnik packs (.upk single packs, .vfs data "
                 "files with their content.vfi index).",
                 "zarnik"};
    app.set_version_flag("--version", std::string("zarnik ") + ZARNIK_VERSION);
    app.require_subcommand(1);
    app.fallthrough();
    app.add_flag("-v,--verbose", g_verbose, "also show the library's check reports on damaged data");
    app.footer("Paths inside a pack may be written with '/' or '\\'. Exit status: 0 success, "
               "1 a file failed, 2 the pack could not be opened or the command line is wrong.");

    std::string pack;
    bool longFormat = false;
    bool json = false;
    CLI::App *list = app.add_subcommand("list", "Every file and folder, depth first in pack order");
    list->add_option("PACK", pack,
                     "the pack (.upk, a .vfs with content.vfi beside it, or content.vfi itself)")
        ->required();
    list->add_flag("-l,--long", longFormat, "add unpacked size, stored size, packed/stored");
    list->add_flag("--json", json, "one JSON array: path, name, type, unpacked, stored, offset");

    CLI::App *info = app.add_subcommand("info", "Route, data file, counts and totals");
    info->add_option("PACK", pack, "the pack")->required();

    ExtractOptions extract;
    CLI::App *ext = app.add_subcommand(
        "extract", "Write the files below DIR as DIR/content/...; never overwrites");
    ext->add_option("PACK", extract.pack, "the pack")->required();
    ext->add_option("-C,--directory", extract.dir, "the folder to write into (default: .)");
    CLI::Option *progress =
        ext->add_flag("--progress", extract.progress, "show the progress line even when stderr is no terminal");
    ext->add_flag("-q,--quiet", extract.quiet, "no progress line")->excludes(progress);
    ext->add_option("-j,--jobs", extract.jobs,
                    "files read, unpacked and written at once (default: one per core, up to 8)")
        ->check(CLI::Range(1u, 64u));
    ext->add_option("PATTERN", extract.patterns,
                    "only the nodes whose '/'-path matches (*, **, ?, [...]); a folder brings "
                    "everything below it");

    CLI::App *test = app.add_subcommand("test", "Unpack every file without writing; name the damaged ones");
    test->add_option("PACK", pack, "the pack")->required();

    std::string path;
    CLI::App *cat = app.add_subcommand("cat", "One file's bytes to standard output");
    cat->add_option("PACK", pack, "the pack")->required();
    cat->add_option("PATH", path, "the file's path as list prints it, e.g. content/a/b.txt")
        ->required();

    std::string out;
    std::string dir;
    bool store = false;
    CLI::App *create = app.add_subcommand(
        "create", "Pack every regular file below DIR as content\\<relative path>");
    create->add_option("OUT", out, "OUT.upk (single pack) or OUT.vfs (with content.vfi beside it)")
        ->required();
    create->add_option("DIR", dir, "the folder to pack")->required();
    create->add_flag("--store", store, "store every file as is, without packing");

    EditOptions edit;
    CLI::App *add = AddEditCommand(app, "add", "Add files or folders from disk (PACK or -o OUT)", edit);
    add->add_option("SRC", edit.paths, "files and folders; a folder named content lands at the root")->required();
    add->add_option("--at", edit.at, "the pack folder to add into (default: content)");
    add->add_flag("--replace", edit.replace, "replace files already in the pack");
    add->add_flag("--store", edit.store, "store the files as they are, without packing");
    CLI::App *del = AddEditCommand(app, "delete", "Delete files or folders (PACK or -o OUT)", edit);
    del->add_option("ARCHPATH", edit.paths, "paths as list prints them")->required();
    CLI::App *ren = AddEditCommand(app, "rename", "Rename or move a file or folder (PACK or -o OUT)", edit);
    ren->add_option("OLD NEW", edit.paths, "the path as list prints it, and its new path")->required()->expected(2);

    // CLI11 would call an unknown command a missing one; say what is wrong.
    if (argc > 1 && argv[1][0] != '-') {
        bool known = false;
        for (const Usage &usage : kUsage)
            known = known || std::string(argv[1]) == usage.command;
        if (!known) {
            std::fprintf(stderr, "zarnik: unknown command '%s'\n", argv[1]);
            PrintUsage(app);
            return kExitUsage;
        }
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0) // --help, --version
            return app.exit(e);
        std::fprintf(stderr, "zarnik: %s\n", e.what());
        PrintUsage(app);
        return kExitUsage;
    }

    zarnik::SetCheckReporter(&ReportCheck);
    int status = kExitUsage;
    if (list->parsed())
        status = RunList(pack, longFormat, json);
    else if (info->parsed())
        status = RunInfo(pack);
    else if (ext->parsed())
        status = RunExtract(extract);
    else if (test->parsed())
        status = RunTest(pack);
    else if (cat->parsed())
        status = RunCat(pack, path);
    else if (create->parsed())
        status = RunCreate(out, dir, store);
    else if (add->parsed() || del->parsed() || ren->parsed())
        status = RunEdit(edit.With(add->parsed() ? EditOptions::Command::Add
                                   : del->parsed() ? EditOptions::Command::Delete
                                                   : EditOptions::Command::Rename));

    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        PrintError("cannot write to standard output");
        return status == kExitOk ? kExitFileFailed : status;
    }
    return status;
}
