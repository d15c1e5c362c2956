// The zarnik tool, run as a program on packs made by the pack writer: what
// each command prints, what it writes and its exit status.
#include "PlatformFile.h"
#include "TestSupport.h"
#include "ZarnikArchive.h"

#include <nlohmann/json.hpp>

#include <sstream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>


using namespace testsupport;
using zarnik_pack::Bytes;
using zarnik_pack::Entry;
using zarnik_pack::Storage;

extern char **environ;

namespace {

struct Result
{
    int status = -1;
    std::string out;
    std::string err;
};

std::string Text(const Bytes &bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// Runs the built tool with `args`, in `cwd` when given; standard output and
// error go to files and are read back after the exit.
Result Zarnik(const std::vector<std::string> &args, const std::string &cwd = "")
{
    TempDir io;
    const std::string outPath = io.file("out"), errPath = io.file("err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!cwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    std::vector<char *> argv{const_cast<char *>(ZARNIK_EXE)};
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    Result result;
    if (posix_spawn(&pid, ZARNIK_EXE, &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = Text(ReadAll(outPath));
    result.err = Text(ReadAll(errPath));
    return result;
}

int Lines(const std::string &text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

const auto Tree = FilesBelow;

const std::string kCafe = "caf\xE9.txt";  // Latin-1 in the pack
const std::string kCafeUtf8 = "café.txt"; // UTF-8 on disk and on screen

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
    return {{"content/readme.txt", entries[0].data},
            {"content/data/blob.bin", entries[1].data},
            {"content/data/deep/" + kCafeUtf8, entries[2].data},
            {"content/data/big.bin", entries[3].data}};
}

std::string WriteUpk(const TempDir &dir, const std::vector<Entry> &entries,
                     const std::string &name = "sample.upk")
{
    const std::string path = dir.file(name);
    WriteAll(path, zarnik_pack::BuildUpk(entries));
    return path;
}

} // namespace

TEST(Cli, ListLongJsonAndInfo)
{
    TempDir dir;
    const std::string upk = WriteUpk(dir, SampleEntries());
    const Result list = Zarnik({"list", upk});
    const Result longList = Zarnik({"list", "--long", upk});
    const Result json = Zarnik({"list", "--json", upk});
    EXPECT_EQ(list.status + longList.status + json.status, 0) << list.err << longList.err << json.err;

    // Every listing follows the tree the library reads: same nodes, same
    // order, names turned from Latin-1 to UTF-8.
    CZarnikArchive archive;
    ASSERT_TRUE(archive.Open(Backslashed(upk)));
    std::vector<const ArchiveNode *> nodes;
    std::vector<const ArchiveNode *> stack(archive.GetRoot()->m_Children.rbegin(),
                                           archive.GetRoot()->m_Children.rend());
    while (!stack.empty()) {
        nodes.push_back(stack.back());
        stack.pop_back();
        stack.insert(stack.end(), nodes.back()->m_Children.rbegin(), nodes.back()->m_Children.rend());
    }
    ASSERT_EQ(nodes.size(), 6u);
    const nlohmann::json parsed = nlohmann::json::parse(json.out);
    ASSERT_TRUE(parsed.is_array());
    ASSERT_EQ(parsed.size(), nodes.size());
    std::string expected;
    for (size_t i = 0; i < nodes.size(); ++i) {
        const ArchiveNode *n = nodes[i];
        std::string slashed = zarnik::PlatformNameFromLatin1(n->m_Path);
        std::replace(slashed.begin(), slashed.end(), '\\', '/');
        expected += slashed + (n->IsFolder() ? "/\n" : "\n");
        // --long: unpacked size, stored size, packed or stored, the path.
        std::istringstream lines(longList.out);
        std::string line, unpacked, stored, how;
        for (size_t k = 0; k <= i; ++k)
            std::getline(lines, line);
        std::istringstream(line) >> unpacked >> stored >> how;
        if (!n->IsFolder()) {
            EXPECT_EQ(unpacked + " " + stored + " " + how, std::to_string(n->m_UnpackedSize) + " " +
                      std::to_string(n->m_PackedSize) + (n->IsPacked() ? " packed" : " stored")) << line;
        }
        const std::string shown = "  " + slashed + (n->IsFolder() ? "/" : "");
        EXPECT_EQ(line.substr(line.size() - std::min(line.size(), shown.size())), shown);
        const nlohmann::json &item = parsed[i];
        const nlohmann::json want = {{"path", zarnik::PlatformNameFromLatin1(n->m_Path)},
                                     {"name", zarnik::PlatformNameFromLatin1(n->m_Name)},
                                     {"type", n->IsFolder() ? "folder" : "file"},
                                     {"unpacked", n->m_UnpackedSize},
                                     {"stored", n->m_PackedSize},
                                     {"offset", n->m_Offset}};
        EXPECT_EQ(item, want);
    }
    EXPECT_EQ(list.out, expected);
    EXPECT_EQ(Lines(longList.out), 6);
    EXPECT_EQ(parsed[4]["path"], "content\\data\\deep\\" + kCafeUtf8);

    const Result info = Zarnik({"info", upk});
    EXPECT_EQ(info.status, 0);
    EXPECT_NE(info.out.find("single pack"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("files:      4, 2 of them packed"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("folders:    2"), std::string::npos) << info.out;

    // An index set, named relative to the working directory.
    const zarnik_pack::VfsSet set = zarnik_pack::BuildVfs(SampleEntries());
    WriteAll(dir.file("content.vfi"), set.index);
    WriteAll(dir.file("data0.vfs"), set.data);
    const Result vfsList = Zarnik({"list", "data0.vfs"}, dir.str());
    EXPECT_EQ(vfsList.status, 0) << vfsList.err;
    EXPECT_EQ(vfsList.out, list.out);
    const Result vfsInfo = Zarnik({"info", "data0.vfs"}, dir.str());
    EXPECT_NE(vfsInfo.out.find("index"), std::string::npos) << vfsInfo.out;
    EXPECT_NE(vfsInfo.out.find(dir.file("data0.vfs")), std::string::npos) << vfsInfo.out;
}

TEST(Cli, ExtractEverythingAndPatternsNeverOverwriting)
{
    TempDir dir;
    const std::string upk = WriteUpk(dir, SampleEntries());

    const Result all = Zarnik({"extract", upk, "-C", dir.file("all")});
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(Tree(dir.file("all")), SampleTree());
    EXPECT_NE(all.out.find("4 files written"), std::string::npos) << all.out;
    EXPECT_EQ(all.err, ""); // no terminal, no progress line

    const Result shown = Zarnik({"extract", upk, "-C", dir.file("shown"), "--progress"});
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.err.find("\r4/4 files  "), std::string::npos) << shown.err;
    EXPECT_EQ(Tree(dir.file("shown")), SampleTree());

    // A second run leaves what is there alone, even where it differs.
    WriteAll(dir.file("all/content/readme.txt"), zarnik_pack::ToBytes("mine"));
    const Result again = Zarnik({"extract", upk, "-C", dir.file("all")});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("0 files written (0 B), 4 skipped"), std::string::npos) << again.out;
    EXPECT_EQ(Text(ReadAll(dir.file("all/content/readme.txt"))), "mine");

    // A folder brings its subtree; nodes matched twice are written once
    // (nothing is reported skipped), each at its whole path.
    const Result some = Zarnik({"extract", upk, "-C", dir.file("some"), "content/data/deep",
                                "**/*.txt", "content\\data\\deep\\caf?.txt", "content/data/b[i]g.bin"});
    EXPECT_EQ(some.status, 0) << some.err;
    EXPECT_NE(some.out.find("3 files written"), std::string::npos) << some.out;
    EXPECT_NE(some.out.find("0 skipped"), std::string::npos) << some.out;
    auto expected = SampleTree();
    expected.erase("content/data/blob.bin");
    EXPECT_EQ(Tree(dir.file("some")), expected);

    // `*` stays within a segment; an unmatched pattern is a failure.
    const Result none = Zarnik({"extract", upk, "-C", dir.file("none"), "*.bin", "content/*/blob.bin"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("*.bin: no file or folder matches"), std::string::npos) << none.err;
    EXPECT_EQ(Tree(dir.file("none")), (std::map<std::string, Bytes>{{"content/data/blob.bin", Pattern(3000, 7)}}));
}

TEST(Cli, HostileNamesAreRefusedAndNothingLeavesTheFolder)
{
    TempDir dir;
    std::vector<Entry> entries{MakeEntry("content\\ok.txt", "fine"),
                               MakeEntry("content\\..\\..\\evil.txt", "climbed"),
                               MakeEntry("content\\a/..\\..\\evil2.txt", "climbed"),
                               MakeEntry("content\\..", "dots"),
                               MakeEntry("content\\sub\\x/y", "slash")};
    const std::string upk = WriteUpk(dir, entries);
    fs::create_directories(dir.file("out/inner"));

    const Result all = Zarnik({"extract", upk, "-C", dir.file("out/inner")});
    EXPECT_EQ(all.status, 1);
    EXPECT_EQ(Lines(all.err), 4) << all.err;
    EXPECT_NE(all.err.find("content/..: unsafe name"), std::string::npos) << all.err;
    EXPECT_NE(all.err.find("content/sub/x/y: unsafe name"), std::string::npos) << all.err;
    EXPECT_EQ(Tree(dir.path()).size(), 2u); // the pack and ok.txt
    EXPECT_EQ(Text(ReadAll(dir.file("out/inner/content/ok.txt"))), "fine");

    // Chosen by pattern, a node below an unsafe folder is refused as well.
    const Result some = Zarnik({"extract", upk, "-C", dir.file("out/p"), "**/evil*.txt", "content/sub/**"});
    EXPECT_EQ(some.status, 1);
    EXPECT_EQ(Lines(some.err), 3) << some.err;
    EXPECT_EQ(Tree(dir.path()).size(), 2u);
}

TEST(Cli, TestAndCatNameExactlyTheDamagedFiles)
{
    TempDir dir;
    auto entries = SampleEntries();
    Entry cut = MakeEntry("content\\cut.bin", Bytes(5000, 'a'), Storage::Packed);
    cut.packedSize = static_cast<uint32_t>(zarnik_pack::StoredForm(cut).size() - 10);
    Entry far = MakeEntry("content\\far.bin", Pattern(100), Storage::Stored);
    far.offset = 1u << 20;
    entries.push_back(cut);
    entries.push_back(far);
    const std::string upk = WriteUpk(dir, entries);

    uint64_t soundBytes = 0;
    for (const auto &[path, bytes] : SampleTree())
        soundBytes += bytes.size();
    const Result test = Zarnik({"test", upk});
    EXPECT_EQ(test.status, 1);
    EXPECT_EQ(test.out, "content/cut.bin: packed data is damaged\n"
                        "content/far.bin: stored bytes lie outside the data file\n"
                        "6 files tested, " + std::to_string(soundBytes) + " bytes sound, 2 damaged\n");
    const Result sound = Zarnik({"test", WriteUpk(dir, SampleEntries(), "sound.upk")});
    EXPECT_EQ(sound.status, 0);
    EXPECT_EQ(sound.out, "4 files tested, " + std::to_string(soundBytes) + " bytes sound, 0 damaged\n");

    // Extraction writes the sound files and names the damaged ones.
    const Result extract = Zarnik({"extract", upk, "-C", dir.file("out")});
    EXPECT_EQ(extract.status, 1);
    EXPECT_EQ(extract.err, "zarnik: content/cut.bin: packed data is damaged\n"
                           "zarnik: content/far.bin: stored bytes lie outside the data file\n");
    EXPECT_NE(extract.out.find("4 files written"), std::string::npos) << extract.out;
    EXPECT_NE(extract.out.find("2 failed"), std::string::npos) << extract.out;
    EXPECT_EQ(Tree(dir.file("out")), SampleTree());

    for (const auto &[path, bytes] : SampleTree()) {
        const Result cat = Zarnik({"cat", upk, path});
        EXPECT_EQ(cat.status, 0) << path << cat.err;
        EXPECT_TRUE(cat.out == Text(bytes)) << path;
    }
    EXPECT_TRUE(Zarnik({"cat", upk, "content\\data\\big.bin"}).out == Text(Pattern(70000, 3)));

    for (const char *path : {"content/cut.bin", "content/far.bin", "content/data", "content/nothing"}) {
        const Result cat = Zarnik({"cat", upk, path});
        EXPECT_EQ(cat.status, 1) << path;
        EXPECT_EQ(cat.out, "") << path;
        EXPECT_EQ(Lines(cat.err), 1) << path << cat.err;
    }
}

TEST(Cli, CreateThenExtractGivesTheTreeBack)
{
    TempDir dir;
    const fs::path src = dir.path() / "src";
    fs::create_directories(src / "maps" / "level 1");
    fs::create_directories(src / "empty folder");
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "tile " + std::to_string(i % 13) + "\n";
    WriteAll((src / "maps" / "level 1" / "tiles.txt").string(), zarnik_pack::ToBytes(text));
    WriteAll((src / "maps" / "noise.bin").string(), Pattern(20000, 5));
    WriteAll((src / "empty.dat").string(), {});
    WriteAll((src / kCafeUtf8).string(), zarnik_pack::ToBytes("accents"));
    const auto tree = Tree(src);

    for (const std::string name : {"p.upk", "stored.upk", "vfs/data0.vfs"}) {
        SCOPED_TRACE(name);
        fs::create_directories(dir.path() / "vfs");
        std::vector<std::string> args{"create", dir.file(name), src.string()};
        if (name == "stored.upk")
            args.push_back("--store");
        const Result create = Zarnik(args);
        EXPECT_EQ(create.status, 0) << create.err;
        const std::string out = dir.file("x-" + fs::path(name).filename().string());
        const Result extract = Zarnik({"extract", dir.file(name), "-C", out});
        EXPECT_EQ(extract.status, 0) << extract.err;
        EXPECT_EQ(Tree(fs::path(out) / "content"), tree);

        // Sorted archive paths, each file packed only where that is smaller.
        const Result list = Zarnik({"list", "--long", dir.file(name)});
        EXPECT_LT(list.out.find("content/empty.dat"), list.out.find("content/maps/"));
        const bool store = name == "stored.upk";
        EXPECT_EQ(list.out.find("packed  content/maps/level 1/tiles.txt") != std::string::npos, !store);
        EXPECT_NE(list.out.find("stored  content/maps/noise.bin"), std::string::npos) << list.out;
    }

    // Nothing is ever replaced: neither the pack nor an index beside a new data file.
    const Bytes before = ReadAll(dir.file("p.upk"));
    const Result again = Zarnik({"create", dir.file("p.upk"), src.string()});
    EXPECT_EQ(again.status, 2);
    EXPECT_NE(again.err.find("already exists"), std::string::npos) << again.err;
    EXPECT_EQ(ReadAll(dir.file("p.upk")), before);
    const Result second = Zarnik({"create", dir.file("vfs/data1.vfs"), src.string()});
    EXPECT_EQ(second.status, 2);
    EXPECT_NE(second.err.find("content.vfi already exists"), std::string::npos) << second.err;
    EXPECT_FALSE(fs::exists(dir.file("vfs/data1.vfs")));

    const Result zip = Zarnik({"create", dir.file("p.zip"), src.string()});
    EXPECT_EQ(zip.status, 2);
    EXPECT_FALSE(fs::exists(dir.file("p.zip")));
}

TEST(Cli, OpenFailuresAndBadCommandLines)
{
    TempDir dir;
    const Result missing = Zarnik({"list", dir.file("nothing.upk")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "zarnik: cannot open " + dir.file("nothing.upk") + ": no such file\n");

    WriteAll(dir.file("data0.vfs"), zarnik_pack::BuildVfs(SampleEntries()).data);
    const Result noIndex = Zarnik({"extract", "data0.vfs", "-C", "out"}, dir.str());
    EXPECT_EQ(noIndex.status, 2);
    EXPECT_EQ(Lines(noIndex.err), 1);
    EXPECT_NE(noIndex.err.find("cannot open data0.vfs: a \".vfs\" data file needs its index "
                               "\"content.vfi\" beside it"), std::string::npos) << noIndex.err;
    EXPECT_FALSE(fs::exists(dir.file("out")));

    WriteAll(dir.file("junk.upk"), Pattern(64));
    const Result junk = Zarnik({"info", dir.file("junk.upk")});
    EXPECT_EQ(junk.status, 2);
    EXPECT_NE(junk.err.find("junk.upk: not a Zarnik pack"), std::string::npos) << junk.err;

    for (const std::vector<std::string> &args :
         {std::vector<std::string>{}, {"unpack", "x.upk"}, {"list"}, {"list", "a.upk", "--wide"},
          {"cat", "a.upk"}, {"extract", "a.upk", "--quiet", "--progress"}}) {
        const Result bad = Zarnik(args);
        EXPECT_EQ(bad.status, 2) << testing::PrintToString(args);
        EXPECT_NE(bad.err.find("zarnik "), std::string::npos) << bad.err;
        EXPECT_NE(bad.err.find("Try 'zarnik"), std::string::npos) << bad.err;
    }
    EXPECT_NE(Zarnik({"unpack"}).err.find("unknown command 'unpack'"), std::string::npos);

    const Result help = Zarnik({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char *command : {"list", "info", "extract", "test", "cat", "create"})
        EXPECT_NE(help.out.find(command), std::string::npos) << command;
    EXPECT_NE(Zarnik({"extract", "--help"}).out.find("--progress"), std::string::npos);
    EXPECT_EQ(Zarnik({"--version"}).out, "zarnik 1.0.0\n");
}
