// The tool's commands. Each returns the exit status (see ExitStatus).
#pragma once

#include "Matcher.h"
#include "Progress.h"

#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

int RunList(const std::string &pack, bool longFormat, bool json);
int RunInfo(const std::string &pack);

struct ExtractOptions
{
    std::string pack;
    std::string dir = ".";
    ProgressWish progress;
    unsigned jobs = 0; // files written at once; 0: one per core
    bool sync = false; // each file on the disk before it takes its name
    std::vector<std::string> patterns;
};
int RunExtract(const ExtractOptions &options);

// With `portable`, also the names Windows, or a disk that ignores case,
// would refuse.
int RunTest(const std::string &pack, bool portable, const ProgressWish &progress);
int RunCat(const std::string &pack, const std::string &path);

struct CreateOptions
{
    std::string out; // OUT.upk or OUT.vfs
    std::string dir; // the folder to pack
    bool store = false; // every file as is, none packed
    bool sync = false;  // on the disk before it takes its name
};
int RunCreate(const CreateOptions &options);

struct MountOptions
{
    std::string pack;
    std::string dir;
    bool foreground = false;  // stay attached; SIGINT/SIGTERM unmount
    unsigned cacheMiB = 64;   // decoded stretches kept for the next reads
    bool write = false;       // changes kept in the pack's change folder until saved
    bool status = false;      // list the changes waiting in the mount at `dir`
};
int RunMount(const MountOptions &options);

struct UnmountOptions
{
    std::string dir;
    bool save = false;    // the changes into the pack first
    bool backup = false;  // the old pack kept as NAME.bak
    bool sync = false;    // the new pack on the disk before it takes its name
    bool discard = false; // the changes dropped
};
int RunUnmount(const UnmountOptions &options);

// add, delete and rename: one edit of PACK, saved to OUT or over PACK.
struct EditOptions
{
    enum class Command { Add, Delete, Rename } command = Command::Add;
    std::string pack;
    std::vector<std::string> paths; // add: the sources; delete: the paths; rename: OLD NEW
    std::optional<std::string> at;  // add: the archive folder (default: the root)
    bool replace = false;
    bool store = false;
    bool dropDamaged = false; // leave out what opening passed over instead of refusing
    std::string out;          // empty: over PACK
    bool backup = false;
    bool sync = false;   // the new pack on the disk before it takes its name
    bool json = false;   // one JSON object of what was done on standard output
    ProgressWish progress;
    std::string data;    // add to a .vfs set: the data file new files go to

    EditOptions With(Command c) const
    {
        EditOptions options = *this;
        options.command = c;
        return options;
    }
};
int RunEdit(const EditOptions &options);

// grep: search inside the files of packs.
struct GrepOptions
{
    std::vector<std::string> arguments;   // PATTERN PACK..., or PACK... when -e gives the patterns
    std::vector<std::string> expressions; // -e
    zarnik_search::PatternSettings pattern; // -F -i -w
    bool invert = false;
    bool lineNumbers = false;
    bool count = false;
    bool filesWithMatches = false;
    bool onlyMatching = false;
    bool quiet = false;
    bool withPack = false; // PACK: before each path, also for one pack
    bool text = false;     // binary files' lines too
    bool json = false;
    std::vector<std::string> include, exclude; // globs on archive paths, or names
    unsigned jobs = 0;                         // 0: one per core
};
CLI::App *AddGrepCommand(CLI::App &app, GrepOptions &options);
int RunGrep(const GrepOptions &options);

// diff: what changed from A to B; hash: each file's SHA-256. A side is a
// pack, a folder (as `create` would pack it) or a saved hash list.
struct DiffOptions
{
    std::string a, b;
    bool json = false;
    unsigned jobs = 0;     // files compared at once; 0: one per core
    std::string exportDir; // B's added, modified and renamed files go here, with removed.txt
    std::vector<std::string> patterns;
};
int RunDiff(const DiffOptions &options);

struct HashOptions
{
    std::string pack;
    bool json = false;
    unsigned jobs = 0; // files hashed at once; 0: one per core
    std::vector<std::string> patterns;
};
int RunHash(const HashOptions &options);
