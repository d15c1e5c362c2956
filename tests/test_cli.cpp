// The zarnik tool, run as a program on packs made by the pack writer: what
// each command prints, what it writes and its exit status.
#include "PlatformFile.h"
#include "ToolRun.h"

#include <nlohmann/json.hpp>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <tuple>

using namespace testsupport;
using testpack::Entry;
using zarnik_pack::Storage;

namespace {

// Prefixes for Zarnik (besides Shell): OnSmallDisk mounts a 64 KiB (or `options`)
// tmpfs on `folder`, runs the tool there `runs` times and lists the files left after the output; kOnTerminal
// needs arguments without spaces.
std::string Limited(const std::string &ulimit) { return Shell("ulimit " + ulimit + " && exec \"$@\""); }
std::string OnSmallDisk(const std::string &folder, const std::string &options = "size=64k", int runs = 1)
{
    std::string again;
    for (int run = 1; run < runs; ++run)
        again += "\"$@\"; ";
    return "unshare -m " + Shell("mount -t tmpfs -o " + options + " tmpfs " + Quote(folder) + " && { " + again +
                                 "\"$@\"; s=$?; find " + Quote(folder) + " -type f; exit $s; }");
}
const std::string kOnTerminal = Shell("exec script -qec \"$*\" /dev/null");

void WriteNew(const std::string &path, const std::string &text) { WriteAll(path, ToBytes(text)); }

// What a command that must succeed printed as JSON (null when it failed).
nlohmann::json JsonOf(const std::vector<std::string> &args)
{
    const Result r = Zarnik(args);
    EXPECT_EQ(r.status, 0) << testing::PrintToString(args) << r.err;
    return nlohmann::json::parse(r.out, nullptr, false);
}

int Lines(const std::string &text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

const std::string kCafe = "caf\xE9.txt", kCafeUtf8 = "café.txt"; // in the pack (Latin-1), on disk and screen

std::vector<Entry> SampleEntries()
{
    std::string text;
    for (int i = 0; i < 400; ++i)
        text += "line " + std::to_string(i % 7) + " of a text that repeats\n";
    return {MakeEntry("content\\readme.txt", text),
            MakeEntry("content\\data\\blob.bin", Pattern(3000, 7), Storage::Stored),
            MakeEntry("content\\data\\deep\\" + kCafe, "accents"),
            MakeEntry("content\\data\\big.bin", Pattern(70000, 3), Storage::Packed)};
}

std::map<std::string, Bytes> SampleTree()
{
    const auto entries = SampleEntries();
    return {{"content/readme.txt", entries[0].data}, {"content/data/blob.bin", entries[1].data},
            {"content/data/deep/" + kCafeUtf8, entries[2].data}, {"content/data/big.bin", entries[3].data}};
}

// Every test works in a fresh folder holding the sample as p.upk.
class Cli : public testing::Test
{
protected:
    TempDir dir;
    const std::string upk = WriteUpk(dir, SampleEntries());
};

} // namespace

// Non-ASCII folders: UTF-8 throughout.
TEST_F(Cli, ListAndInfoShowThePackInItsOrder)
{
    const std::string folder = dir.file("Ωmega/日本");
    const std::string nested = WriteUpk(dir, SampleEntries(), "Ωmega/日本/p.upk");
    const Result list = Zarnik({"list", nested});
    // Depth first in pack order, folders marked, Latin-1 names shown as UTF-8.
    EXPECT_TRUE(Ran(list, 0, {}));
    EXPECT_EQ(list.out, "content/readme.txt\ncontent/data/\ncontent/data/blob.bin\ncontent/data/deep/\n"
                        "content/data/deep/" + kCafeUtf8 + "\ncontent/data/big.bin\n");
    EXPECT_TRUE(Ran(Zarnik({"list", "--long", nested}), 0,
                    {"-       content/data/deep/\n", " 3000         3000 stored  content/data/blob.bin\n",
                     " 70000 ", " packed  content/data/big.bin\n"}));
    // The stored bytes follow one another from the data chunk's start at 8.
    const nlohmann::json json = nlohmann::json::parse(Zarnik({"list", "--json", nested}).out);
    ASSERT_EQ(json.size(), 6u);
    EXPECT_EQ(json[1], (nlohmann::json{{"path", "content\\data"}, {"name", "data"}, {"type", "folder"},
                                       {"unpacked", 0}, {"stored", 0}, {"offset", 0}, {"data", nullptr}}));
    EXPECT_EQ(json[2], (nlohmann::json{{"path", "content\\data\\blob.bin"}, {"name", "blob.bin"}, {"type", "file"},
                                       {"unpacked", 3000}, {"stored", 3000},
                                       {"offset", 8 + json[0]["stored"].get<int>()}, {"data", "p.upk"}}));
    EXPECT_TRUE(Ran(Zarnik({"info", "p.upk"}, folder), 0,
                    {"Ωmega", "日本", "p.upk\n", "single pack", "files:      4, 2 of them packed", "folders:    2"}));
    // An index set, named relative to the working directory.
    WriteVfs(dir, SampleEntries());
    EXPECT_TRUE(Ran(Zarnik({"info", "data0.vfs"}, dir.str()), 0, {"index", dir.file("data0.vfs")}));
    // The whole index naming a missing data file whose chunk holds no entry: nothing is lost.
    testpack::VfsOptions two;
    two.after = {{0, zarnik::packformat::IndexChunkData("data1.vfs", {})}};
    WriteVfs(dir, SampleEntries(), two);
    EXPECT_TRUE(Ran(Zarnik({"test", "content.vfi"}, dir.str()), 0,
                    {"data1.vfs: the index names a data file that is missing; its chunk holds no entry, so nothing "
                     "is lost\n4 files tested, 85007 bytes sound, 0 damaged\n"}));
}

// A non-ASCII pack name, and a backslash in the output folder's.
TEST_F(Cli, ExtractEverythingOrPatternsNeverOverwriting)
{
    const std::string jpn = WriteUpk(dir, SampleEntries(), "日本.upk"), all = dir.file("a\\b");
    const Result first = Zarnik({"extract", jpn, "-C", all});
    EXPECT_TRUE(Ran(first, 0, {"4 files written"}) && first.err.empty()); // no terminal, no progress line
    // A folder brings its subtree; nodes matched twice are written once, at their whole path.
    EXPECT_TRUE(Ran(Zarnik({"extract", jpn, "-C", dir.file("some"), "content/data/deep", "**/*.txt",
                            "content\\data\\deep\\caf?.txt", "content/data/b[i]g.bin"}),
                    0, {"3 files written", "0 skipped"}));
    auto expected = SampleTree();
    expected.erase("content/data/blob.bin");
    EXPECT_EQ(FilesBelow(dir.file("some")), expected);
    // `*` and `?` stay within a segment; an unmatched pattern is a failure.
    EXPECT_TRUE(Ran(Zarnik({"extract", jpn, "-C", dir.file("none"), "*.bin", "content/*/blob.bin", "content?data/big.bin"}),
                    1, {}, {"*.bin: no file or folder matches", "content?data/big.bin: no file or folder matches"}));
    EXPECT_EQ(FilesBelow(dir.file("none")), (Files{{"content/data/blob.bin", Pattern(3000, 7)}}));
}

// The progress line, alike for every command that draws one: on a terminal unless --quiet, elsewhere
// only with --progress. The flags and that rule are shared; a row per command shows it follows them.
TEST_F(Cli, ProgressLineOnATerminalOrWhenAsked)
{
    SKIP_ON_WINDOWS("a pseudo-terminal");
    using ProgressRow = std::tuple<std::vector<std::string>, bool, bool, std::string>;
    for (const auto &[args, terminal, shown, done] : std::vector<ProgressRow>{
             {{"extract", upk, "-C", dir.file("p"), "--progress"}, false, true, "4 files written"},
             {{"extract", upk, "-C", dir.file("j"), "-j2"}, true, true, "4 files written"},
             {{"extract", upk, "-C", dir.file("q"), "--quiet"}, true, false, "4 files written"},
             {{"test", upk}, true, true, "4 files tested"},
             {{"rename", upk, "content/readme.txt", "content/r.txt", "-o", dir.file("r.upk"), "--progress"}, false,
              true, "renamed"}}) {
        const Result r = Zarnik(args, ".", terminal ? kOnTerminal : "");
        const std::string all = r.out + r.err;
        const bool drawn = all.find("\r4/4 files  ") != std::string::npos;
        EXPECT_TRUE(Ran(r, 0, {done}) && drawn == shown) << testing::PrintToString(args) << r.out << r.err;
    }
}

// A full disk stops the run at once; no partial file stays beside the three written (the files the
// shell lists after the summary). The files left are counted from the files alone, not the patterns,
// and a second run counts the three as skipped, not as left.
TEST_F(Cli, ExtractOntoAFullDiskSaysWhatWasLeft)
{
    SKIP_ON_WINDOWS("a mount namespace for a small file system");
    fs::create_directory(dir.file("small"));
    const std::string kLeft = "zarnik: the disk is full or read-only; 1 file was not written\n";
    const Result full = Zarnik({"extract", upk, "-C", dir.file("small"), "content", "x", "y"}, ".",
                               OnSmallDisk(dir.file("small"), "size=64k", 2));
    EXPECT_TRUE(Ran(full, 1, {"3 files written", "0 failed, 1 not written, 2 patterns", "0 files written (0 B), 3 skipped"},
                    {kLeft + "zarnik: x: no file"}));
    EXPECT_TRUE(Lines(full.err) == 6 && Lines(full.out) == 5 && full.err.rfind(kLeft) + kLeft.size() == full.err.size())
        << full.out << full.err;
    // Where every file stands, a disk that can take no new file skips them all.
    EXPECT_TRUE(Ran(Zarnik({"extract", upk, "-C", dir.file("small")}, ".",
                           OnSmallDisk(dir.file("small"), "size=256k,nr_inodes=8", 2)),
                    0, {"0 files written (0 B), 4 skipped (already there), 0 failed\n"}));
    // So does a read-only one, where not even a folder can be made.
    EXPECT_TRUE(Ran(Zarnik({"extract", upk, "-C", dir.file("small")}, ".", OnSmallDisk(dir.file("small"), "ro")), 1,
                    {"0 files written"}, {"zarnik: the disk is full or read-only; 4 files were not written\n"}));
}

TEST_F(Cli, HostileNamesAndLinksAreRefusedAndNothingLeavesTheFolder)
{
    // Climbing names and '/' are refused everywhere, Windows-only unsafe names there (test_names checks each
    // name); a link (junction) where a folder goes is not followed.
    const std::vector<std::string> windowsOnly{"a:b.txt", "q?.txt", "star*", "tab\t", "dot.", "space ", "c:d\\e.txt"};
    std::vector<Entry> entries{MakeEntry("content\\ok.txt", "fine"), MakeEntry("content\\..\\..\\evil.txt", "climbed"),
                               MakeEntry("content\\a/..\\..\\evil2.txt", "climbed"), MakeEntry("content\\..", "dots"),
                               MakeEntry("content\\sub\\x/y", "slash"), MakeEntry("data\\sub\\orphan.txt", "no parent"),
                               MakeEntry("content\\link\\in.txt", "through the link"),
                               MakeEntry("content\\\\gap.txt", "below an empty segment")};
    for (const std::string &name : windowsOnly)
        entries.push_back(MakeEntry("content\\w\\" + name, "x"));
    WriteUpk(dir, entries); // in place of the sample
    const fs::path link = dir.path() / "out" / "content" / "link", outside = dir.path() / "outside";
    fs::create_directories(link.parent_path());
    fs::create_directory(outside);
#ifdef _WIN32
    std::system(("mklink /J \"" + link.string() + "\" \"" + outside.string() + "\" >NUL 2>NUL").c_str());
#else
    fs::create_directory_symlink(outside, link);
#endif
    const bool linked = fs::exists(link);
    const Result all = Zarnik({"extract", upk, "-C", dir.file("out")});
    EXPECT_TRUE(Ran(all, 1, {}, {"content/..: unsafe name", "content/sub/x/y: unsafe name"}));
    EXPECT_EQ(all.err.find("content/link: a link stands where a folder goes") != std::string::npos, linked);
    EXPECT_EQ(Lines(all.err), 5 + linked + (kWindows ? windowsOnly.size() : 0)) << all.err;
    // By pattern: below an unsafe folder refused, below an empty segment written (test_hostile and test_names
    // check which files are written).
    const Result some = Zarnik({"extract", upk, "-C", dir.file("p"), "**/evil*.txt", "content/sub/**", "**/gap.txt"});
    EXPECT_TRUE(Ran(some, 1, {}) && Lines(some.err) == 4) << some.err;
    EXPECT_TRUE(fs::is_empty(outside));
    // `test` counts the names extraction refuses here, or with --portable on either system, in its words; the
    // orphan's check shows only with --verbose, without the build path.
    EXPECT_TRUE(Ran(Zarnik({"--verbose", "test", upk}), 1,
                    {"data/sub/orphan.txt: an entry's folder has no parent", "content/a/..: unsafe name",
                     "content/sub/x/y: unsafe name", kWindows ? "; 10 names extraction would refuse;" : "; 3 names"},
                    {"zarnik: check failed: NULL != parent (ZarnikArchive_tree.cpp, line "}));
    EXPECT_TRUE(Ran(Zarnik({"test", "--portable", upk}), 1, {"content/w/c:d: unsafe name", "; 10 names"}));
    if (!linked)
        GTEST_SKIP() << "only the link was not tried: this system cannot make a junction (Wine)";
}

TEST_F(Cli, NamesDifferingOnlyInCaseAreNamedAndNeverMerged)
{
    // Where the disk tells them apart both are written; where it takes them for one (Windows, or a hard link
    // standing for such a disk) the later one is reported, whatever the number of workers. test_archive_open
    // checks which names are twins, Latin-1 letters too.
    WriteUpk(dir, {MakeEntry("content\\Maps\\Level.txt", "upper"), MakeEntry("content\\a.txt", "a"),
                   MakeEntry("content\\maps\\level.txt", "lower"), MakeEntry("content\\A.TXT", "A")});
    const std::string twinMaps = "content/maps: its name differs only in case", twinA = "content/A.TXT: its name differs";
    EXPECT_TRUE(Ran(Zarnik({"test", "--portable", upk}), 1,
                    {twinMaps + " from content/Maps", twinA + " only in case from content/a.txt", "; 2 names"}));
    EXPECT_EQ(Zarnik({"test", upk}).status, kWindows ? 1 : 0);
    Files written; // the later two only where the disk tells them apart
    for (const auto &[path, text] : std::vector<std::pair<std::string, std::string>>{
             {"content/Maps/Level.txt", "upper"}, {"content/a.txt", "a"}, {"content/maps/level.txt", "lower"},
             {"content/A.TXT", "A"}})
        if (!kWindows || written.size() < 2)
            written[path] = ToBytes(text);
    Result first;
    for (const std::string jobs : {"1", "2"}) {
        const Result r = Zarnik({"extract", upk, "-C", dir.file(jobs), "-j", jobs});
        EXPECT_TRUE(kWindows ? Ran(r, 1, {"2 files written", "2 failed"}, {twinMaps, twinA}) : Ran(r, 0, {"4 files written"}));
        EXPECT_EQ(FilesBelow(dir.file(jobs)), written);
        EXPECT_TRUE(jobs == "1" || (r.out == first.out && r.err == first.err)) << r.err;
        first = r;
    }
    if (kWindows)
        return;
    WriteNew(dir.file("linked/content/a.txt"), "mine");
    fs::create_hard_link(dir.path() / "linked/content/a.txt", dir.path() / "linked/content/A.TXT");
    EXPECT_TRUE(Ran(Zarnik({"extract", upk, "-C", dir.file("linked")}), 1, {"2 files written", "1 skipped", "1 failed"},
                    {twinA + " only in case from one beside it"}));
}

TEST_F(Cli, DamagedFilesAndControlCharactersAreNamedExactlyAndEscaped)
{
    // Besides the sample: a cut packed file; below a folder with ESC/BEL, a far-off file whose name holds
    // a newline, DEL and C1 CSI; a sound file with BEL. The pack's name holds ESC and '\' (not on Windows).
    const std::string folder = "content\\esc\x1b[2J\x07";
    auto entries = SampleEntries();
    entries.push_back(MakeEntry("content\\cut.bin", Bytes(5000, 'a'), Storage::Packed));
    entries.back().packedSize = static_cast<uint32_t>(testpack::StoredForm(entries.back()).size() - 10);
    entries.push_back(MakeEntry(folder + "\\a\nb\x7f\x9b.bin", Pattern(100), Storage::Stored));
    entries.back().offset = 1u << 20;
    entries.push_back(MakeEntry("content\\bell\x07.txt", "ding"));
    const std::string esc = WriteUpk(dir, entries, kWindows ? "p.upk" : "p\x1b\\.upk");
    const std::string shownFolder = R"(content/esc\x1b[2J\x07)", shownFile = shownFolder + R"(/a\nb\x7f\x9b.bin)";
    const std::string shownBell = R"(content/bell\x07.txt)", cut = "content/cut.bin: packed data is damaged\n";
    const std::string distant = shownFile + ": stored bytes lie outside the data file\n";
    uint64_t soundBytes = 4;
    for (const auto &[path, bytes] : SampleTree())
        soundBytes += bytes.size();
    EXPECT_TRUE(Ran(Zarnik({"list", esc}), 0, {"\n" + shownFolder + "/\n" + shownFile + "\n" + shownBell + "\n"}));
    const Result test = Zarnik({"test", esc});
    // On Windows the control characters are names extraction refuses there.
    const std::string unsafe = ": unsafe name, one too long, or one Windows would misread; not written, nor anything below it\n";
    EXPECT_TRUE(Ran(test, 1, {}) && test.out == cut + distant + (kWindows ? shownFolder + unsafe + shownBell + unsafe : "") +
                                                    "7 files tested, " + std::to_string(soundBytes) + " bytes sound, 2 damaged" +
                                                    (kWindows ? "; 2 names extraction would refuse\n" : "\n")) << test.out;
    // Extraction names the damaged files (test_extract and test_hostile check which are written); the progress
    // line is cleared before each message.
    const Result extract = Zarnik({"extract", esc, "-C", dir.file("out"), "--progress"});
    EXPECT_TRUE(Ran(extract, 1, {kWindows ? "4 files written" : "5 files written", kWindows ? "3 failed" : "2 failed"},
                    {"\r\x1b[Kzarnik: " + cut, kWindows ? shownFolder + ": unsafe name" : distant}));
    EXPECT_TRUE(extract.err.find_first_of("\x07\x7f\x9b") == std::string::npos &&
                extract.err.find("\x1b[2J") == std::string::npos);
    // `cat` takes a path as listed, with backslashes or real name; a damaged file, folder or none: one line.
    for (const auto &[path, text] : std::map<std::string, std::string>{
             {"content/data/deep/" + kCafeUtf8, "accents"}, {"content\\data\\big.bin", Text(Pattern(70000, 3))},
             {"content/bell\x07.txt", "ding"}, {shownBell, "ding"}, {"content/cut.bin", ""}, {"content/data", ""},
             {"content/nothing", ""}, {"content/esc\x1b[2J\x07/a\nb\x7f\xC2\x9B.bin", ""}}) {
        const Result cat = Zarnik({"cat", esc, path});
        EXPECT_TRUE(Ran(cat, text.empty() ? 1 : 0, {}) && cat.out == text && Lines(cat.err) == text.empty()) << path;
    }
    // JSON stays exact: its own escapes, the real characters.
    const nlohmann::json json = nlohmann::json::parse(Zarnik({"list", "--json", esc}).out);
    EXPECT_EQ(json[8]["path"], folder + "\\a\nb\x7f\xC2\x9B.bin");
    if (!kWindows) {
        const Result info = Zarnik({"info", esc});
        EXPECT_TRUE(Ran(info, 0, {R"(p\x1b\\.upk)"}) && info.out.find('\x1b') == std::string::npos) << info.out;
        EXPECT_TRUE(Ran(Zarnik({"list", esc + "\n"}), 2, {}, {R"(p\x1b\\.upk\n: no such file)"}));
    }
}

TEST_F(Cli, CreateFailsCleanlyThenGivesTheTreeBackAndReplacesNothing)
{
    // The sample plus an empty Latin-1-named file; many long names (index > data).
    EXPECT_TRUE(Ran(Zarnik({"extract", upk, "-C", dir.file("src")}), 0, {}));
    WriteAll(dir.file("src/content/data/empty \xC2\xA3.dat"), {});
    for (int i = 0; i < 300; ++i)
        WriteAll(dir.file("names/a-name-long-enough-to-make-the-index-outgrow-the-data-" + std::to_string(i)), {});
    // Each pack first fails (file-size limit or full disk: one line, nothing left), then is made and
    // extracted; --store packs nothing (test_names checks the order, test_pack_writer where packing is smaller).
    const fs::path out = dir.path() / "out";
    const std::string kFull = "No space left on device", kTooLarge = "larger than this process may write (the file-size limit, ulimit -f)";
    using Row = std::tuple<std::string, std::string, bool, std::string, std::string>;
    for (const auto &[name, from, store, limit, why] : std::vector<Row>{
             {"out/p.upk", "src/content", false, OnSmallDisk(out.string()), kFull},
             {"out/s.upk", "src/content", true, Limited("-f 100"), kTooLarge},
             {"out/d.vfs", "names", false, Limited("-f 20"), kTooLarge},
             {"out/d.vfs", "src/content", false, OnSmallDisk(out.string()), kFull}}) {
        SCOPED_TRACE(name + " " + from + " " + limit);
        fs::remove_all(out);
        fs::create_directories(out);
        const std::vector<std::string> args{"create", name, from, store ? "--store" : "--verbose"};
        if (!kWindows) {
            const Result failed = Zarnik(args, dir.str(), limit);
            EXPECT_TRUE(Ran(failed, 1, {}, {"cannot write ", ": " + why + "; no pack was made"}) && Lines(failed.err) == 1 &&
                        failed.out.empty() && fs::is_empty(out)) << failed.out;
        }
        EXPECT_TRUE(Ran(Zarnik(args, dir.str()), 0, {}));
        EXPECT_TRUE(Ran(Zarnik({"extract", name, "-C", "out/x"}, dir.str()), 0, {}));
        EXPECT_EQ(FilesBelow(out / "x" / "content"), FilesBelow(dir.path() / from));
        const Result list = Zarnik({"list", "--long", name}, dir.str());
        const bool packed = list.out.find("packed  content/readme.txt") != std::string::npos;
        EXPECT_TRUE(from == "names" || (Ran(list, 0, {}) && packed != store)) << list.out;
    }

    // Nothing is replaced (pack, or index beside a new data file); unknown kinds and huge packs are not made.
    // The pack's own name routes it (test_names checks how it is read back): ".vfs" in a folder name is fine,
    // in its own name it is not made.
    const Files before = FilesBelow(out);
    for (const auto &[pack, err] : std::vector<std::pair<std::string, std::string>>{
             {"d.vfs", "already exists"}, {"e.vfs", "content.vfi already exists"}, {"p.zip", ""},
             {"x.vfs.upk", "could not be read back"}})
        EXPECT_TRUE(Ran(Zarnik({"create", "out/" + pack, "names"}, dir.str()), 2, {}, {err})) << pack;
    EXPECT_EQ(FilesBelow(out), before);
    fs::create_directories(out / "a.vfs-dir");
    EXPECT_TRUE(Ran(Zarnik({"create", "out/a.vfs-dir/x.upk", "names"}, dir.str()), 0, {}));
    // A missing folder: the reason is the file layer's own words.
    EXPECT_EQ(zarnik::PlatformOpenDirectory((out / "missing").u8string()), nullptr);
    const std::string missing = zarnik::PlatformLastFailure().text;
    EXPECT_TRUE(!missing.empty() && Ran(Zarnik({"create", "out/missing/p.upk", "names"}, dir.str()), 1, {},
                                        {"cannot create ", "p.upk: " + missing + "; no pack was made\n"}))
        << missing;
    // 6 GiB is refused from the sizes alone, within 1 GiB of address space (not under AddressSanitizer).
    SKIP_ON_WINDOWS("a sparse file and the shell's ulimit");
    WriteAll(dir.file("names/sparse.bin"), {});
    fs::resize_file(dir.file("names/sparse.bin"), 6ull << 30);
#ifdef __SANITIZE_ADDRESS__
    const std::string addressLimit;
#else
    const std::string addressLimit = Limited("-v 1048576");
#endif
    const Result huge = Zarnik({"create", "out/a.upk", "names"}, dir.str(), addressLimit);
    EXPECT_TRUE(Ran(huge, 2, {}, {"6.0 GiB, more than a pack can address"}) && Lines(huge.err) == 1) << huge.err;
    EXPECT_FALSE(fs::exists(out / "a.upk"));
}

TEST_F(Cli, OpenOutputAndCommandLineFailures)
{
    // One line or the usage, nothing on standard output, no destination; FIFOs are refused, not waited on.
    const testpack::VfsSet set = testpack::BuildVfs(SampleEntries());
    WriteAll(dir.file("data0.vfs"), set.data);
    WriteAll(dir.file("gone/content.vfi"), set.index);
    const Bytes whole = ReadAll(upk);
    WriteAll(dir.file("early.upk"), Bytes(whole.begin(), whole.begin() + 10));
    std::vector<std::pair<std::vector<std::string>, std::string>> failures{
        {{"list", "nothing.upk"}, "zarnik: cannot open nothing.upk: no such file\n"},
        {{"extract", "data0.vfs", "-C", "out"}, "zarnik: cannot open data0.vfs: a \".vfs\" data file needs its "
                                                "index \"content.vfi\" beside it: "},
        {{"info", "early.upk"}, "zarnik: cannot open early.upk: the file ends inside a chunk before any file table: a pack cut short"},
        {{"list", "gone/content.vfi"}, "gone/content.vfi: no data file it names is there: data0.vfs\n"},
        {{}, "Try 'zarnik --help'"}, {{"unpack", "x.upk"}, "zarnik: unknown command 'unpack'\n"},
        {{"list"}, "Try 'zarnik list --help'"}, {{"list", "a.upk", "--wide"}, "Try 'zarnik list --help'"},
        {{"cat", "a.upk"}, "Try 'zarnik cat"}, {{"extract", "a.upk", "--quiet", "--progress"}, "Try 'zarnik extract"}};
#ifndef _WIN32
    WriteAll(dir.file("d/content.vfi"), set.index);
    for (const char *fifo : {"x.upk", "content.vfi", "d/data0.vfs"})
        ASSERT_EQ(mkfifo(dir.file(fifo).c_str(), 0600), 0);
    for (const char *pack : {"x.upk", "data0.vfs", "d/data0.vfs"})
        failures.push_back({{"list", pack}, "not a regular file\n"});
#endif
    for (const auto &[args, err] : failures) {
        const Result r = Zarnik(args, dir.str());
        EXPECT_TRUE(Ran(r, 2, {}, {err}) && r.out.empty() &&
                    (Lines(r.err) == 1 || r.err.find("Try 'zarnik") != std::string::npos))
            << testing::PrintToString(args);
    }
    EXPECT_FALSE(fs::exists(dir.file("out")));
    for (const char *asked : {"--help", "--version"})
        EXPECT_TRUE(Ran(Zarnik({asked}), 0, {"zarnik"}) && Zarnik({"extract", asked}).status == 0) << asked;

    // Standard output that cannot be written (a full disk) is a failure, said once.
    SKIP_ON_WINDOWS("/dev/full");
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"list", upk}, {"list", "--json", upk}, {"info", upk}, {"test", upk},
             {"cat", upk, "content/readme.txt"}, {"extract", upk, "-C", dir.file("out")}}) {
        const Result r = Zarnik(args, ".", Shell("exec \"$@\" >/dev/full"));
        EXPECT_TRUE(r.status == 1 && r.err == "zarnik: cannot write to standard output\n") << args[1] << r.err;
    }
}

TEST_F(Cli, ExtractCountsFilesAndFailsOnWhatOpeningLost)
{
    // Files are counted, not folders or patterns; what opening passed over fails the run with one line.
    fs::copy_file(fs::u8path(upk), dir.path() / "cut.upk");
    fs::resize_file(dir.path() / "cut.upk", fs::file_size(dir.path() / "cut.upk") - 10);
    testpack::VfsOptions two;
    two.after = {{0, zarnik::packformat::IndexChunkData("data1.vfs", testpack::EncodeEntry(MakeEntry("content\\lost.txt", "x"), 0, 1, 1))}};
    WriteVfs(dir, SampleEntries(), two);
    // A file where the folder "data" goes: its three files fail, not one.
    WriteNew(dir.file("blocked/content/data"), "a file");
    using Row = std::tuple<std::vector<std::string>, int, std::vector<std::string>, std::string>;
    for (const auto &[args, status, out, err] : std::vector<Row>{
             // What opening passed over is named, and the summary counts it.
             {{"extract", "cut.upk", "-C", "c"}, 1, {"3 files written", "0 failed; the pack could not be read whole: 1 entry was passed over, 1 chunk is cut short"},
              ": an entry is cut short by the end of its chunk; it and the rest of the chunk are lost\n"},
             // A pack cut short loses entries of its file table: never sound.
             {{"test", "cut.upk"}, 1, {"runs past the end of the file", "is cut short by the end of its chunk",
                                       "damaged; 1 entry was passed over, 1 chunk is cut short by the end of the file\n"}, ""},
             {{"extract", "content.vfi", "-C", "v"}, 1, {"4 files written", "0 failed; the pack could not be read whole: 1 data file is missing\n"},
              "zarnik: data1.vfs: the index names a data file that is missing"},
             {{"extract", "p.upk", "-C", "blocked"}, 1, {"0 skipped (already there), 3 failed\n"},
              kWindows ? "content/data: cannot create the directory"
                       : "content/data: cannot create the directory; nothing below it was written (something already stands there)\n"},
             {{"extract", "p.upk", "-C", "one", "x", "y"}, 1, {"0 files written (0 B), 0 skipped (already there), "
                                                          "0 failed, 2 patterns matched nothing\n"}, "y: no file"},
             {{"info", "content.vfi"}, 0, {"data1.vfs, missing\n"}, ""},
             {{"info", "cut.upk"}, 0, {"lost:       1 entry was passed over, 1 chunk is cut short"}, ""},
             {{"test", "data0.vfs"}, 0, {"4 files tested"}, ""},
             {{"test", "content.vfi"}, 1, {"4 files tested, 85007 bytes sound, 0 damaged; 1 data file is missing\n"}, ""}}) {
        const Result r = Zarnik(args, dir.str());
        EXPECT_TRUE(Ran(r, status, out, {err})) << testing::PrintToString(args);
    }
    SKIP_ON_WINDOWS("the shell's ulimit");
    EXPECT_TRUE(Ran(Zarnik({"extract", upk, "-C", dir.file("limit"), "-j2", "--sync"}, ".", Limited("-f 2")), 1,
                    {"1 file written", "3 failed"},
                    {"content/data/big.bin: write failed; the partial file was removed (File too large)\n"}));
}

TEST_F(Cli, SignalsLeaveNoTemporaryFile)
{
    // SIGINT/SIGTERM (once the temporary file stands, or twice): nothing published, no temporary file,
    // a pack or set changed in place as it was, exit 128 + signal. Two signals sent while the process is
    // stopped reach it one after the other on resuming: the second ends it at once, with no summary,
    // whatever the first would have done.
    SKIP_ON_WINDOWS("POSIX signals");
    TempDir packs, set;
    fs::copy_file(fs::u8path(upk), packs.path() / "e.upk");
    WriteVfs(set, SampleEntries());
    fs::copy(set.path(), packs.path() / "set");
    for (int i = 0; i < 4; ++i) {
        const std::string source = dir.file("src/f" + std::to_string(i));
        WriteAll(source, {});
        fs::resize_file(source, 64u << 20); // sparse: no disk, yet read and written in full
    }
    ASSERT_TRUE(Ran(Zarnik({"create", "big.upk", "src"}, dir.str()), 0, {"4 files"}));
    const std::string kTwoSignals = "kill -STOP $p; kill -INT $p; kill -TERM $p; kill -CONT $p";
    const auto signalled = [](const std::string &signals) {
        return Shell("\"$@\" & p=$!; until find . -name '*.zarnik-partial*' | grep -q . || ! kill -0 $p; do :; done; " + signals +
                     "; wait $p; s=$?; find . -name '*.zarnik-partial*'; exit $s");
    };
    // Status 0: either signal may come second where several threads take them, and nothing is said.
    using Row = std::tuple<std::vector<std::string>, std::string, int, std::string>;
    for (const auto &[args, signals, status, err] : std::vector<Row>{
             {{"create", "out/p.upk", "src"}, "kill -INT $p", 130, "interrupted by SIGINT; no pack was made\n"},
             {{"create", "out/p.vfs", "src"}, "kill -TERM $p", 143, "interrupted by SIGTERM; no pack was made\n"},
             {{"add", "out/e.upk", "src"}, "kill -INT $p", 130, "interrupted by SIGINT; nothing was written and the pack is as it was\n"},
             {{"add", "out/set/content.vfi", "src"}, "kill -TERM $p", 143, "interrupted by SIGTERM; nothing was written"},
             {{"create", "out/q.upk", "src"}, kTwoSignals, 0, ""},
             {{"extract", "big.upk", "-C", "x", "-j1"}, kTwoSignals, 0, ""},
             {{"extract", "big.upk", "-C", "y", "-j2"}, kTwoSignals, 0, ""}}) {
        fs::remove_all(dir.path() / "out");
        fs::copy(packs.path(), dir.path() / "out", fs::copy_options::recursive);
        const Result r = Zarnik(args, dir.str(), signalled(signals));
        const bool ended = status ? r.status == status : r.status == 130 || r.status == 143;
        EXPECT_TRUE(ended && r.out.empty() && r.err.find(err) != std::string::npos && r.err.empty() == err.empty() &&
                    FilesBelow(dir.path() / "out") == FilesBelow(packs.path()))
            << testing::PrintToString(args) << r.status << r.out << r.err;
    }
}

TEST_F(Cli, ChangesMadeAtOnceAllTakeEffect)
{
    // Changes of one pack, or of one set (to either data file), run four at once: each waits for the one
    // before it, and every change that says it is done is in the pack.
    SKIP_ON_WINDOWS("a POSIX shell running changes at once");
    testpack::VfsOptions two;
    const Bytes second = testpack::EncodeEntry(MakeEntry("content\\o.txt", "o"), 0, 1, 1);
    two.after = {{0, zarnik::packformat::IndexChunkData("data1.vfs", second)}};
    WriteVfs(dir, SampleEntries(), two);
    WriteAll(dir.file("data1.vfs"), ToBytes("o"));
    EXPECT_NE(Zarnik({"list", "-l", "content.vfi"}, dir.str()).out.find(" data1.vfs  content/o.txt\n"), std::string::npos);
    for (int i = 0; i < 4; ++i)
        WriteNew(dir.file("f" + std::to_string(i) + ".txt"), "file " + std::to_string(i));
    for (int round = 0; round < 3; ++round) {
        for (const std::string &target : {std::string("p.upk"), std::string("content.vfi")}) {
            const std::string at = "content/r" + std::to_string(round);
            // The second change of the set goes to its first data file, the others to the last.
            const std::string data = target == "p.upk" ? "" : "$([ $i = 1 ] && echo --data data0.vfs)";
            const Result r = Zarnik({}, dir.str(), Shell("for i in 0 1 2 3; do { \"$1\" add " + target + " f$i.txt --at " + at +
                                                         " " + data + "; echo $i $?; } & done; wait"));
            const std::string listed = Zarnik({"list", target}, dir.str()).out;
            for (int i = 0; i < 4; ++i) {
                const std::string path = at + "/f" + std::to_string(i) + ".txt\n";
                EXPECT_TRUE(r.out.find(std::to_string(i) + " 0\n") != std::string::npos && listed.find(path) != std::string::npos)
                    << target << " " << path << r.out << r.err;
            }
        }
    }
    EXPECT_TRUE(Ran(Zarnik({"test", "content.vfi"}, dir.str()), 0, {"17 files tested"}));

    // A change waiting for another says so, and Ctrl-C ends it at once with the pack as it was.
    const Bytes before = ReadAll(upk);
    const Result waited = Zarnik({"delete", "p.upk", "content/readme.txt"}, dir.str(),
                                 Shell("exec 9>>p.upk.zarnik-lock && flock 9 && { \"$@\" 9>&- 2>err & p=$!; "
                                       "until grep -q waiting err || ! kill -0 $p; do sleep 0.01; done; kill -INT $p; "
                                       "wait $p; s=$?; cat err >&2; exit $s; }"));
    EXPECT_TRUE(Ran(waited, 130, {}, {"waiting for another change of p.upk to end\n",
                                      "interrupted by SIGINT; nothing was written and the pack is as it was\n"}));
    EXPECT_EQ(ReadAll(upk), before);
}

TEST_F(Cli, CreateReadsBackAsItWasGiven)
{
    // A top-level "content" is the root; a file taking the path of one in it is refused.
    WriteNew(dir.file("src/content/a/f"), "inside");
    WriteNew(dir.file("src/top"), "beside");
    WriteNew(dir.file("twice/content/t"), "");
    WriteNew(dir.file("twice/t"), "");
    // What cannot be read as a regular file (links are not followed) is named and counted; the rest is packed.
#ifndef _WIN32
    fs::create_symlink(dir.path() / "src/top", dir.path() / "src/link");
    ASSERT_EQ(mkfifo(dir.file("src/content/fifo").c_str(), 0600), 0);
    // A folder of nothing readable is a failed read (1), not a folder no pack can hold (2).
    ASSERT_EQ(fs::create_directory(dir.path() / "fifos") && mkfifo(dir.file("fifos/f").c_str(), 0600) == 0, true);
    EXPECT_TRUE(Ran(Zarnik({"create", "f.upk", "fifos"}, dir.str()), 1, {}, {"fifos/f: not a regular file", "no regular files"}));
#endif
    const Result created = Zarnik({"create", "c.upk", "src"}, dir.str());
    EXPECT_TRUE(kWindows ? Ran(created, 0, {"2 files,"})
                         : Ran(created, 1, {"2 files,", "; 2 entries not packed\n"},
                               {"src/link: a symbolic link; links are not followed; not packed\n",
                                "src/content/fifo: not a regular file (a FIFO, socket or device); not packed\n"}));
    EXPECT_EQ(Zarnik({"list", "c.upk"}, dir.str()).out, "content/a/\ncontent/a/f\ncontent/top\n");
    // Arguments starting with '/' are paths or patterns, never options.
    EXPECT_TRUE(Ran(Zarnik({"extract", "c.upk", "-C", "out", "content", "/C"}, dir.str()), 1,
                    {"2 files written"}, {"/C: no file or folder matches"}));
    EXPECT_TRUE(Ran(Zarnik({"list", "/no/such.upk"}, dir.str()), 2, {}, {"cannot open /no/such.upk: no such file\n"}));
    EXPECT_TRUE(Ran(Zarnik({"create", "t.upk", "twice"}, dir.str()), 2, {}, {"takes the path of"}));
    // add names what it passes over too (a FIFO below a folder, a missing source), adds the rest and fails.
    // The same source twice goes in once.
    EXPECT_TRUE(kWindows || Ran(Zarnik({"add", "c.upk", "src/content", "none", "src/content", "--replace", "-o", "a.upk"},
                                       dir.str()), 1, {"1 file added or replaced, 3 entries not added"},
                                {"src/content/fifo: not a regular file (a FIFO, socket or device); not added\n",
                                 "none: cannot read it: ", "src/content/a/f: given more than once; added once\n"}));
    // A tree with paths past 260 characters is packed whole again.
    std::string deep = "content";
    while (deep.size() < 240)
        deep += "\\segment-" + std::to_string(deep.size());
    const std::string longPack = WriteUpk(dir, {MakeEntry(deep + "\\leaf.txt", "far down")}, "long.upk");
    ASSERT_TRUE(Ran(Zarnik({"extract", longPack, "-C", "long"}, dir.str()), 0, {"1 file written"}));
    EXPECT_TRUE(Ran(Zarnik({"create", "again.upk", "long"}, dir.str()), 0, {"1 file,"}));
    std::replace(deep.begin(), deep.end(), '\\', '/');
    EXPECT_EQ(Zarnik({"cat", "again.upk", deep + "/leaf.txt"}, dir.str()).out, "far down");
}

// Extract, edit, add --replace changes the pack in place (old one as .bak); refusals leave it as it was.
TEST_F(Cli, AddDeleteAndRenameChangeAPackOnlyWhole)
{
    const Bytes original = ReadAll(upk);
    EXPECT_TRUE(Ran(Zarnik({"extract", upk, "-C", dir.file("work")}), 0, {}));
    WriteAll(dir.file("work/content/readme.txt"), ToBytes("changed"));
    WriteAll(dir.file("work/content/added.txt"), ToBytes("added"));

    // test_pack_edit and test_names check each refusal; here the tool's own: the status and message, the pack
    // left as it was and nothing written.
    WriteNew(dir.file("\u65e5.txt"), "not Latin-1");
    for (const auto &[args, err] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"add", upk, dir.file("work/content")}, "already in the pack; replace it explicitly"},
             {{"add", upk, dir.file("\u65e5.txt"), "-o", dir.file("o.upk")}, "a pack stores names in Latin-1"},
             {{"rename", upk, "content/data/blob.bin", "content/README.TXT", "-o", dir.file("o.upk")},
              "content/README.TXT: its name differs only in case from content/readme.txt"},
             {{"delete", upk, "content/readme.txt", "-o", ""}, "an empty path names no file"},
             {{"delete", upk, "content/readme.txt", "-o", dir.file("o.upk"), "--backup"}, "with another destination"}})
        EXPECT_TRUE(Ran(Zarnik(args), 2, {}, {err})) << args.back();
    EXPECT_EQ(ReadAll(upk), original);
    EXPECT_FALSE(fs::exists(dir.file("o.upk")));

    // --json says what was done: files replaced and added, deleted and renamed, as list --json names them
    // (test_pack_edit checks the packs the changes make).
    const nlohmann::json addedJson = JsonOf({"add", upk, dir.file("work/content"), "--replace", "--backup", "--json"});
    EXPECT_EQ(addedJson["added"], nlohmann::json::array({"content\\added.txt"}));
    EXPECT_EQ(addedJson["replaced"].size(), SampleEntries().size());
    EXPECT_EQ(addedJson["written"][0]["bytes"], fs::file_size(fs::u8path(upk)));
    EXPECT_EQ(ReadAll(upk + ".bak"), original);

    nlohmann::json gone = nlohmann::json::array();
    for (const auto &item : nlohmann::json::parse(Zarnik({"list", "--json", upk}).out))
        if (item["type"] == "file" && item["path"].get<std::string>().rfind("content\\readme", 0) != 0)
            gone.push_back(item["path"]);
    EXPECT_EQ(JsonOf({"delete", upk, "content/data", "content/added.txt", "-o", dir.file("d.upk"), "--json"})["deleted"], gone);
    const nlohmann::json moves =
        JsonOf({"rename", upk + ".bak", "content/data", "content/moved/data", "-o", dir.file("r.upk"), "--json"})["renamed"];
    EXPECT_EQ(moves.size(), 3u);
    for (const auto &move : moves)
        EXPECT_EQ(move["to"], "content\\moved" + move["from"].get<std::string>().substr(7)) << move;

    // --drop-damaged names what it left out as the text line does, in UTF-8.
    const std::string twice = WriteUpk(dir, {MakeEntry("content\\" + kCafe, "1"), MakeEntry("content\\" + kCafe, "2")}, "twice.upk");
    EXPECT_EQ(JsonOf({"add", twice, dir.file("work/content/added.txt"), "--drop-damaged", "--json", "-o", dir.file("once.upk")})["dropped"],
              nlohmann::json::array({std::string(zarnik::OpenReportText(zarnik::OpenReportItem::Kind::DuplicatePath)) +
                                     ": content/" + kCafeUtf8}));
    EXPECT_TRUE(Ran(Zarnik({"add", twice, dir.file("work/content/added.txt"), "--drop-damaged", "-o", dir.file("twice2.upk")}), 0, {},
                    {std::string("dropped: ") + zarnik::OpenReportText(zarnik::OpenReportItem::Kind::DuplicatePath)}));
}

TEST_F(Cli, ASetIsChangedWhereItLiesThroughAnyOfItsFiles)
{
    // Its data file under a new name, then content.vfi.
    TempDir setDir;
    WriteAll(dir.file("added.txt"), ToBytes("added"));
    WriteVfs(setDir, SampleEntries());
    const std::string index = setDir.file("content.vfi");
    EXPECT_TRUE(Ran(Zarnik({"add", index, dir.file("added.txt"), "-o", dir.file("s.upk")}), 2, {},
                    {"where it lies"}));
    EXPECT_TRUE(Ran(Zarnik({"add", index, dir.file("added.txt"), "--data", "none.vfs"}), 2, {},
                    {"no data file"}));
    // --data names a data file as the index does, by any path to it, or by the name it had before a save.
    for (const auto &[pack, data] : std::vector<std::pair<std::string, std::string>>{
             {setDir.file("data0.vfs"), "data0.vfs"}, {index, "data0.vfs"}, {index, setDir.file("data0~2.vfs")}}) {
        const Result r = Zarnik({"add", pack, dir.file("added.txt"), "--at", "content/d", "--replace", "--data", data});
        EXPECT_TRUE(Ran(r, 0, {"written"})) << pack << " " << data;
    }
    const nlohmann::json written = JsonOf({"add", index, dir.file("added.txt"), "--json"})["written"];
    EXPECT_TRUE(written.size() == 2 && written[0]["path"] == setDir.file("data0~2.vfs") && written[1]["path"] == index) << written;
    // The set's own files and its lock never go into it: each is named and skipped.
    const Result self = Zarnik({"add", index, setDir.str(), "--at", "content/self"});
    EXPECT_TRUE(Ran(self, 0, {"0 files added, 3 files of the pack itself skipped"},
                    {"content.vfi: the pack being changed; skipped", "data0~2.vfs: the pack being changed; skipped",
                     "content.vfi.zarnik-lock: the pack being changed; skipped"}))
        << self.out << self.err;
}

TEST_F(Cli, DiffAndHashAnswerAsDiffAndSha256sumDo)
{
    // A pack, its set and its extraction hold the same: exit 0, nothing printed, whichever side is which.
    TempDir set;
    WriteVfs(set, SampleEntries());
    ASSERT_TRUE(Ran(Zarnik({"extract", upk, "-C", dir.file("out")}), 0, {}));
    for (const auto &[a, b] : std::vector<std::pair<std::string, std::string>>{
             {upk, set.file("content.vfi")}, {dir.file("out"), upk}, {set.file("data0.vfs"), dir.file("out/content")}}) {
        const Result same = Zarnik({"diff", a, b});
        EXPECT_TRUE(same.status == 0 && same.out.empty() && same.err.empty()) << a << " " << b << same.out << same.err;
    }
    // Changed, with a damaged file: the differences still listed, the damaged file named with its side.
    auto entries = SampleEntries();
    entries[0] = MakeEntry("content\\readme.txt", "changed");
    entries[1] = MakeEntry("content\\data\\blob.bin", Pattern(3001, 7), Storage::Stored);
    entries[3].packedSize = static_cast<uint32_t>(testpack::StoredForm(entries[3]).size() - 10);
    entries[2].path = "content\\" + kCafe;
    const std::string b = WriteUpk(dir, entries, "b.upk");
    const std::string changes = "R\tcontent/data/deep/" + kCafeUtf8 + "\tcontent/" + kCafeUtf8 +
                                "\nM\tcontent/data/blob.bin\nD\tcontent/data/deep/\nM\tcontent/readme.txt\n";
    const Result damaged = Zarnik({"diff", upk, b, "-j2"});
    EXPECT_TRUE(Ran(damaged, 2, {}, {"b.upk: content/data/big.bin: packed data is damaged\n"}) && damaged.out == changes &&
                Lines(damaged.err) == 1) << damaged.out << damaged.err;
    // `hash` names a damaged file and what opening lost, and fails.
    Bytes cut = ReadAll(b);
    cut.resize(cut.size() - 10);
    WriteAll(dir.file("cut.upk"), cut);
    for (const auto &[pack, says] : {std::pair(b, "content/data/big.bin: packed data is damaged\n"),
                                     {dir.file("cut.upk"), ": an entry is cut short by the end of its chunk"}})
        EXPECT_TRUE(Ran(Zarnik({"hash", pack}), 1, {"  content/readme.txt\n"}, {says})) << pack;
    const nlohmann::json json = nlohmann::json::parse(Zarnik({"diff", "--json", upk, b}).out);
    EXPECT_EQ(json[0], (nlohmann::json{{"change", "renamed"}, {"type", "file"}, {"path", "content\\" + kCafeUtf8},
                                       {"from", "content\\data\\deep\\" + kCafeUtf8}, {"size_a", 7}, {"size_b", 7}}));
    EXPECT_EQ(json[2], (nlohmann::json{{"change", "removed"}, {"type", "folder"}, {"path", "content\\data\\deep"},
                                       {"size_a", 7}, {"size_b", nullptr}}));
    // The patch: B's files that changed, removed.txt; never written over (test_extract checks the bytes kept).
    // From a pack or from a folder.
    ASSERT_EQ(Zarnik({"diff", upk, b, "--export", dir.file("patch")}).status, 2);
    EXPECT_EQ(FilesBelow(dir.file("patch")), (Files{{"content/readme.txt", ToBytes("changed")}, {"content/data/blob.bin", Pattern(3001, 7)},
                                                    {"content/" + kCafeUtf8, ToBytes("accents")},
                                                    {"removed.txt", ToBytes("content/data/deep/" + kCafeUtf8 + "\ncontent/data/deep/\n")}}));
    WriteAll(dir.file("patch/content/readme.txt"), ToBytes("mine"));
    EXPECT_TRUE(Ran(Zarnik({"diff", upk, b, "--export", dir.file("patch")}), 2, {}, {"4 files already in"}));
    WriteNew(dir.file("v2/content/readme.txt"), "v2");
    WriteNew(dir.file("v2/content/new/n.txt"), "n");
    ASSERT_TRUE(Ran(Zarnik({"diff", upk, dir.file("v2"), "--export", dir.file("p2")}), 1, {"A\tcontent/new/\n"}));
    EXPECT_EQ(FilesBelow(dir.file("p2")), (Files{{"content/readme.txt", ToBytes("v2")}, {"content/new/n.txt", ToBytes("n")},
                                                 {"removed.txt", ToBytes("content/data/\n")}}));
    // A full disk ends the export and leaves no temporary file (the shell lists the files after the output).
    if (!kWindows) {
        WriteAll(dir.file("v2/content/big.bin"), Pattern(100000, 5));
        fs::create_directory(dir.path() / "small");
        const Result full = Zarnik({"diff", upk, dir.file("v2"), "--export", dir.file("small")}, ".", OnSmallDisk(dir.file("small")));
        EXPECT_TRUE(Ran(full, 2, {}, {"the disk is full"}) && full.out.find("partial") == std::string::npos)
            << full.out;
    }
    // A saved list, in either form, stands for the pack it was made of.
    for (const std::string form : {"--json", ""}) {
        const Result saved = Zarnik(form.empty() ? std::vector<std::string>{"hash", upk} : std::vector<std::string>{"hash", upk, form});
        WriteAll(dir.file("saved" + form), ToBytes(saved.out));
        const Result r = Zarnik({"diff", dir.file("saved" + form), b, "content/data"});
        EXPECT_TRUE(Ran(r, 2, {}) && r.out == "M\tcontent/data/blob.bin\nD\tcontent/data/deep/\n") << form << r.out << r.err;
    }
    // Trouble: a side missing or no list, a pattern that matches nothing.
    WriteAll(dir.file("broken.sha256"), ToBytes("not a list\n"));
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"diff", upk, dir.file("none.upk")}, {"diff", upk, upk, "content/nothing"}, {"diff", dir.file("broken.sha256"), upk}}) {
        const Result r = Zarnik(args);
        EXPECT_TRUE(r.status == 2 && r.out.empty() && Lines(r.err) == 1) << args[2] << r.out << r.err;
    }
    // `zarnik hash | sha256sum -c` checks an extraction, names with a newline or a backslash included.
    SKIP_ON_WINDOWS("sha256sum");
    const std::string odd = WriteUpk(dir, {MakeEntry("content\\new\nline", "1"), MakeEntry("content\\" + kCafe, "2")}, "o.upk");
    ASSERT_TRUE(Ran(Zarnik({"extract", odd, "-C", dir.file("odd")}), 0, {}));
    for (const std::string &pack : {odd, upk})
        EXPECT_TRUE(Ran(Zarnik({"hash", pack}, dir.file(pack == odd ? "odd" : "out"), Shell("\"$@\" | sha256sum -c --quiet")), 0, {}))
            << pack;
}

TEST_F(Cli, EveryCommandReadsAPathAsListPrintsIt)
{
    // A real newline in a name beside the folder "nl"; a file "a" beside "ab.txt". test_names checks each form a
    // typed path may take; here each command reads one.
    const std::string pack = WriteUpk(dir, {MakeEntry("content\\nl\nname.txt", "newline"), MakeEntry("content\\a", "a"),
                                            MakeEntry("content\\nl\\nname.txt", "folder"), MakeEntry("content\\ab.txt", "ab")});
    const auto listed = [&](std::vector<std::string> args) {
        args.insert(args.begin() + 1, pack);
        args.insert(args.end(), {"-o", dir.file("out.upk")});
        fs::remove(dir.path() / "out.upk");
        const Result r = Zarnik(args);
        return r.status == 0 ? Zarnik({"list", dir.file("out.upk")}).out : r.err;
    };
    EXPECT_EQ(Zarnik({"list", pack}).out, "content/nl\\nname.txt\ncontent/a\ncontent/nl/\ncontent/nl/nname.txt\ncontent/ab.txt\n");
    EXPECT_EQ(listed({"delete", "content/nl\\nname.txt", "content/a"}), "content/nl/\ncontent/nl/nname.txt\ncontent/ab.txt\n");
    EXPECT_EQ(listed({"rename", "content/nl\\nname.txt", "content/t\\x41b"}),
              "content/tAb\ncontent/a\ncontent/nl/\ncontent/nl/nname.txt\ncontent/ab.txt\n");
    EXPECT_EQ(listed({"rename", "content/a", "content/a/"}), ""); // nothing changed: nothing written
    WriteNew(dir.file("f"), "f");
    EXPECT_EQ(listed({"add", dir.file("f"), "--at", "content/nl/"}),
              "content/nl\\nname.txt\ncontent/a\ncontent/nl/\ncontent/nl/nname.txt\ncontent/nl/f\ncontent/ab.txt\n");
    EXPECT_EQ(listed({"add", dir.file("f"), "--at", ""}), "zarnik: --at '': an empty path names no folder\n");
    if (!kWindows) { // where a newline can be in a name
        EXPECT_TRUE(Ran(Zarnik({"extract", pack, "-C", dir.file("x"), "content/nl\\nname.txt"}), 0, {"1 file written"}));
    }
}

#ifdef _WIN32
// Windows' own ways to reach a pack: a \\?\ path names it as any other path does; a pack another program
// holds without sharing its deletion is refused whole, with no temporary file left; a read-only pack
// stays so.
TEST_F(Cli, WindowsLongPathsHeldPacksAndReadOnlyPacksLoseNothing)
{
    const Bytes original = ReadAll(upk);
    WriteNew(dir.file("new.txt"), "new");
    const auto longPath = [](const std::string &path) {
        return "\\\\?\\" + fs::absolute(fs::u8path(path)).make_preferred().u8string();
    };
    const HANDLE held = CreateFileW(fs::u8path(upk).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Ran(Zarnik({"add", upk, dir.file("new.txt")}), 1, {}, {"in place of the old one"}));
    CloseHandle(held);
    EXPECT_EQ(ReadAll(upk), original);
    EXPECT_EQ(FilesBelow(dir.path()).size(), 2u) << "a temporary file was left";

    ASSERT_TRUE(SetFileAttributesW(fs::u8path(upk).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(Ran(Zarnik({"add", longPath(upk), dir.file("new.txt"), "-o", longPath(dir.file("o.upk"))}), 0, {}));
    EXPECT_TRUE(Ran(Zarnik({"rename", longPath(upk), "content/readme.txt", "content/r.txt"}), 0, {}));
    EXPECT_TRUE(GetFileAttributesW(fs::u8path(upk).c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(Ran(Zarnik({"list", longPath(upk)}), 0, {"content/r.txt"}));
    EXPECT_TRUE(Ran(Zarnik({"list", dir.file("o.upk")}), 0, {"content/new.txt", "content/readme.txt"}));
    SetFileAttributesW(fs::u8path(upk).c_str(), FILE_ATTRIBUTE_NORMAL); // so that the folder can go
}
#endif
