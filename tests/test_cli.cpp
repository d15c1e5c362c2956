// The zarnik tool, run as a program on packs made by the pack writer: what
// each command prints, what it writes and its exit status.
#include "TestSupport.h"

#include <nlohmann/json.hpp>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#endif

#include <tuple>

using namespace testsupport;
using zarnik_pack::Bytes;
using zarnik_pack::Entry;
using zarnik_pack::Storage;

namespace {

struct Result
{
    int status = -1;
    std::string out, err;
};

std::string Text(const Bytes &bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string Quote(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

#ifdef _WIN32
// One argument as CommandLineToArgvW reads it back: in quotes, with the
// backslashes before a quote (or the closing one) doubled.
std::wstring QuoteArgument(const std::wstring &text)
{
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    return quoted.append(2 * backslashes, L'\\') + L"\"";
}
#endif

// Runs the built tool with `args`, in `cwd` when given, with every argument
// quoted, after `prefix` (a POSIX shell command that runs the rest, see
// Limited); standard output and error are read back. A hang ends after two
// minutes.
Result Zarnik(const std::vector<std::string> &args, const std::string &cwd = ".",
              const std::string &prefix = "")
{
    TempDir io;
#ifdef _WIN32
    static_cast<void>(prefix); // a POSIX shell command: tests that need one skip on Windows
    std::string exe = ZARNIK_EXE;
    if (exe[0] == '/') // cross-built: the build folder seen through Wine's Z: drive
        exe = "Z:" + exe;
    std::wstring line = QuoteArgument(fs::u8path(exe).wstring());
    for (const std::string &arg : args)
        line += L" " + QuoteArgument(fs::u8path(arg).wstring());
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const auto open = [&](const wchar_t *path, DWORD access, DWORD disposition) {
        return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = open(L"NUL", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = open((io.path() / "out").c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = open((io.path() / "err").c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    PROCESS_INFORMATION process = {};
    const std::wstring folder = fs::absolute(fs::u8path(cwd)).wstring();
    const bool started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        folder.c_str(), &startup, &process);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
        CloseHandle(handle);
    int status = -1;
    if (started) {
        DWORD code = 0;
        if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 1);
        else if (GetExitCodeProcess(process.hProcess, &code))
            status = static_cast<int>(code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    return {status, Text(ReadAll(io.file("out"))), Text(ReadAll(io.file("err")))};
#else
    std::string command = "cd " + Quote(cwd) + " && timeout 120 " + prefix + Quote(ZARNIK_EXE);
    for (const std::string &arg : args)
        command += " " + Quote(arg);
    command += " >" + Quote(io.file("out")) + " 2>" + Quote(io.file("err"));
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Text(ReadAll(io.file("out"))),
            Text(ReadAll(io.file("err")))};
#endif
}

// A prefix for Zarnik that runs the tool under a shell's `ulimit` option.
std::string Limited(const std::string &ulimit)
{
    return "sh -c 'ulimit " + ulimit + " && exec \"$@\"' sh ";
}

// The exit status, and texts that must appear on standard output and error.
testing::AssertionResult Ran(const Result &r, int status, const std::vector<std::string> &out,
                             const std::vector<std::string> &err = {})
{
    bool ok = r.status == status;
    for (const std::string &part : out)
        ok = ok && r.out.find(part) != std::string::npos;
    for (const std::string &part : err)
        ok = ok && r.err.find(part) != std::string::npos;
    if (ok)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "exit " << r.status << "\nout: " << r.out << "\nerr: " << r.err;
}

int Lines(const std::string &text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

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
    WriteAll(dir.file(name), zarnik_pack::BuildUpk(entries));
    return dir.file(name);
}

} // namespace

TEST(Cli, ListLongJsonAndInfo)
{
    TempDir dir;
    const std::string upk = WriteUpk(dir, SampleEntries());
    const Result list = Zarnik({"list", upk});
    const Result longList = Zarnik({"list", "--long", upk});
    const Result json = Zarnik({"list", "--json", upk});

    // Depth first in pack order, folders marked, names turned from Latin-1
    // to UTF-8; the numbers are the entries' own.
    EXPECT_TRUE(Ran(list, 0, {}));
    EXPECT_EQ(list.out, "content/readme.txt\ncontent/data/\ncontent/data/blob.bin\ncontent/data/deep/\n"
                        "content/data/deep/" + kCafeUtf8 + "\ncontent/data/big.bin\n");
    EXPECT_TRUE(Ran(longList, 0, {"           -            - -       content/data/deep/\n",
                                  "        3000         3000 stored  content/data/blob.bin\n",
                                  "       70000 ", " packed  content/data/big.bin\n"}));
    EXPECT_EQ(Lines(longList.out), 6);
    // The stored bytes follow one another from the data chunk's start at 8.
    const nlohmann::json parsed = nlohmann::json::parse(json.out);
    ASSERT_EQ(parsed.size(), 6u);
    EXPECT_EQ(parsed[1], (nlohmann::json{{"path", "content\\data"}, {"name", "data"}, {"type", "folder"},
                                         {"unpacked", 0}, {"stored", 0}, {"offset", 0}, {"data", nullptr}}));
    EXPECT_EQ(parsed[2], (nlohmann::json{{"path", "content\\data\\blob.bin"}, {"name", "blob.bin"},
                                         {"type", "file"}, {"unpacked", 3000}, {"stored", 3000},
                                         {"offset", 8 + parsed[0]["stored"].get<int>()},
                                         {"data", "sample.upk"}}));
    EXPECT_EQ(parsed[4]["path"], "content\\data\\deep\\" + kCafeUtf8);
    EXPECT_TRUE(Ran(Zarnik({"info", upk}), 0,
                    {"single pack", "files:      4, 2 of them packed", "folders:    2"}));

    // An index set, named relative to the working directory.
    const zarnik_pack::VfsSet set = zarnik_pack::BuildVfs(SampleEntries());
    WriteAll(dir.file("content.vfi"), set.index);
    WriteAll(dir.file("data0.vfs"), set.data);
    EXPECT_EQ(Zarnik({"list", "data0.vfs"}, dir.str()).out, list.out);
    EXPECT_EQ(Zarnik({"list", "content.vfi"}, dir.str()).out, list.out);
    // The whole index over two data files, one of them missing.
    zarnik_pack::VfsOptions two;
    two.after = {{0, zarnik_pack::IndexChunkData("data1.vfs", {})}};
    WriteAll(dir.file("content.vfi"), zarnik_pack::BuildVfs(SampleEntries(), two).index);
    EXPECT_TRUE(Ran(Zarnik({"test", "content.vfi"}, dir.str()), 1,
                    {"data1.vfs: the index names a data file that is missing"}));
    EXPECT_TRUE(Ran(Zarnik({"info", "data0.vfs"}, dir.str()), 0, {"index", dir.file("data0.vfs")}));
}

TEST(Cli, ExtractEverythingAndPatternsNeverOverwriting)
{
    TempDir dir;
    const std::string upk = WriteUpk(dir, SampleEntries());
    const Result all = Zarnik({"extract", upk, "-C", dir.file("all")});
    EXPECT_TRUE(Ran(all, 0, {"4 files written"}));
    EXPECT_EQ(all.err, ""); // no terminal, no progress line
    EXPECT_EQ(FilesBelow(dir.file("all")), SampleTree());
    EXPECT_TRUE(Ran(Zarnik({"extract", upk, "-C", dir.file("shown"), "--progress"}), 0, {}, {"\r4/4 files  "}));

    // A second run leaves what is there alone, even where it differs.
    WriteAll(dir.file("all/content/readme.txt"), zarnik_pack::ToBytes("mine"));
    EXPECT_TRUE(Ran(Zarnik({"extract", upk, "-C", dir.file("all")}), 0, {"0 files written (0 B), 4 skipped"}));
    EXPECT_EQ(Text(ReadAll(dir.file("all/content/readme.txt"))), "mine");

    // A folder brings its subtree; nodes matched twice are written once
    // (nothing is reported skipped), each at its whole path.
    EXPECT_TRUE(Ran(Zarnik({"extract", upk, "-C", dir.file("some"), "content/data/deep", "**/*.txt",
                            "content\\data\\deep\\caf?.txt", "content/data/b[i]g.bin"}),
                    0, {"3 files written", "0 skipped"}));
    auto expected = SampleTree();
    expected.erase("content/data/blob.bin");
    EXPECT_EQ(FilesBelow(dir.file("some")), expected);

    // `*` stays within a segment; an unmatched pattern is a failure.
    EXPECT_TRUE(Ran(Zarnik({"extract", upk, "-C", dir.file("none"), "*.bin", "content/*/blob.bin"}), 1, {},
                    {"*.bin: no file or folder matches"}));
    EXPECT_EQ(FilesBelow(dir.file("none")),
              (std::map<std::string, Bytes>{{"content/data/blob.bin", Pattern(3000, 7)}}));

    // A backslash is an ordinary character of a folder's name.
    EXPECT_TRUE(Ran(Zarnik({"extract", upk, "-C", dir.file("a\\b")}), 0, {"4 files written"}));
    EXPECT_EQ(FilesBelow(dir.file("a\\b")), SampleTree());

    // A full disk (a small file system of its own) stops the run at once.
    SKIP_ON_WINDOWS("a mount namespace for a small file system");
    fs::create_directory(dir.file("small"));
    const Result full = Zarnik({"extract", upk, "-C", dir.file("small")}, ".",
                               "unshare -m sh -c 'mount -t tmpfs -o size=64k tmpfs \"$0\" && exec \"$@\"' " +
                                   Quote(dir.file("small")) + " ");
    EXPECT_TRUE(Ran(full, 1, {"3 files written"}, {"zarnik: the disk is full or read-only; 1 file was not written\n"}));
    EXPECT_EQ(Lines(full.err), 1);
}

TEST(Cli, PacksInFoldersNamedInAnyScript)
{
    // Arguments, the paths the library opens and the lines printed are
    // UTF-8 throughout, on Windows too.
    TempDir dir;
    const std::string folder = dir.file("Ωmega/日本");
    fs::create_directories(fs::u8path(folder));
    const std::string upk = WriteUpk(dir, SampleEntries(), "Ωmega/日本/p.upk");
    EXPECT_TRUE(Ran(Zarnik({"extract", upk, "-C", folder + "/out"}), 0, {"4 files written"}));
    EXPECT_EQ(FilesBelow(fs::u8path(folder + "/out")), SampleTree());
    EXPECT_TRUE(Ran(Zarnik({"info", "p.upk"}, folder), 0, {"Ωmega", "日本", "p.upk\n"}));
}

TEST(Cli, HostileNamesAreRefusedAndNothingLeavesTheFolder)
{
    TempDir dir;
    const std::string upk = WriteUpk(dir, {MakeEntry("content\\ok.txt", "fine"),
                                           MakeEntry("content\\..\\..\\evil.txt", "climbed"),
                                           MakeEntry("content\\a/..\\..\\evil2.txt", "climbed"),
                                           MakeEntry("content\\..", "dots"),
                                           MakeEntry("content\\sub\\x/y", "slash"),
                                           MakeEntry("data\\sub\\orphan.txt", "no parent")});
    fs::create_directories(dir.file("out/inner"));
    const Result all = Zarnik({"extract", upk, "-C", dir.file("out/inner")});
    EXPECT_TRUE(Ran(all, 1, {}, {"content/..: unsafe name", "content/sub/x/y: unsafe name"}));
    EXPECT_EQ(Lines(all.err), 4);
    // The check the orphan fires reaches the user only with --verbose, and
    // without the build machine's path; `test` names the orphan.
    EXPECT_TRUE(Ran(Zarnik({"--verbose", "test", upk}), 1,
                    {"data/sub/orphan.txt: an entry's folder has no parent folder"},
                    {"zarnik: check failed: NULL != parent (ZarnikArchive_tree.cpp, line "}));
    EXPECT_EQ(FilesBelow(dir.path()).size(), 2u); // the pack and ok.txt
    EXPECT_EQ(Text(ReadAll(dir.file("out/inner/content/ok.txt"))), "fine");

    // Chosen by pattern, a node below an unsafe folder is refused as well.
    const Result some = Zarnik({"extract", upk, "-C", dir.file("out/p"), "**/evil*.txt", "content/sub/**"});
    EXPECT_TRUE(Ran(some, 1, {}));
    EXPECT_EQ(Lines(some.err), 3) << some.err;
    EXPECT_EQ(FilesBelow(dir.path()).size(), 2u);
}

TEST(Cli, TestCatAndExtractNameExactlyTheDamagedFiles)
{
    TempDir dir;
    auto entries = SampleEntries();
    entries.push_back(MakeEntry("content\\cut.bin", Bytes(5000, 'a'), Storage::Packed));
    entries.back().packedSize = static_cast<uint32_t>(zarnik_pack::StoredForm(entries.back()).size() - 10);
    entries.push_back(MakeEntry("content\\far.bin", Pattern(100), Storage::Stored));
    entries.back().offset = 1u << 20;
    const std::string upk = WriteUpk(dir, entries);

    uint64_t soundBytes = 0;
    for (const auto &[path, bytes] : SampleTree())
        soundBytes += bytes.size();
    const Result test = Zarnik({"test", upk});
    EXPECT_TRUE(Ran(test, 1, {}));
    EXPECT_EQ(test.out, "content/cut.bin: packed data is damaged\n"
                        "content/far.bin: stored bytes lie outside the data file\n"
                        "6 files tested, " + std::to_string(soundBytes) + " bytes sound, 2 damaged\n");
    const std::string sound = WriteUpk(dir, SampleEntries(), "sound.upk");
    EXPECT_TRUE(Ran(Zarnik({"test", sound}), 0,
                    {"4 files tested, " + std::to_string(soundBytes) + " bytes sound, 0 damaged\n"}));
    // Cut short, its file table loses entries: never sound.
    Bytes cut = ReadAll(sound);
    cut.resize(cut.size() - 10);
    WriteAll(dir.file("cut.upk"), cut);
    EXPECT_TRUE(Ran(Zarnik({"test", dir.file("cut.upk")}), 1,
                    {"runs past the end of the file", "is cut short by the end of its chunk",
                     "damaged, 2 entries passed over while opening\n"}));

    // Extraction writes the sound files and names the damaged ones.
    const Result extract = Zarnik({"extract", upk, "-C", dir.file("out")});
    EXPECT_TRUE(Ran(extract, 1, {"4 files written", "2 failed"}));
    EXPECT_EQ(extract.err, "zarnik: content/cut.bin: packed data is damaged\n"
                           "zarnik: content/far.bin: stored bytes lie outside the data file\n");
    EXPECT_EQ(FilesBelow(dir.file("out")), SampleTree());

    // A path as list prints it or with backslashes; exactly the bytes.
    for (const auto &[path, bytes] : std::map<std::string, Bytes>{
             {"content/data/deep/" + kCafeUtf8, zarnik_pack::ToBytes("accents")},
             {"content\\data\\big.bin", Pattern(70000, 3)}}) {
        const Result cat = Zarnik({"cat", upk, path});
        EXPECT_TRUE(Ran(cat, 0, {}));
        EXPECT_TRUE(cat.out == Text(bytes)) << path;
    }
    for (const char *path : {"content/cut.bin", "content/far.bin", "content/data", "content/nothing"}) {
        const Result cat = Zarnik({"cat", upk, path});
        EXPECT_TRUE(Ran(cat, 1, {}) && cat.out.empty() && Lines(cat.err) == 1) << path << cat.err;
    }
}

TEST(Cli, ControlCharactersInNamesPrintEscapedExceptInJson)
{
    // A folder that would clear the screen and ring, a file whose newline
    // would split its line, with DEL and the C1 CSI (Latin-1 0x9B); the pack
    // file's own name holds ESC and '\' (where the file system allows it:
    // Windows' names hold neither, and there it cannot create these folders).
    TempDir dir;
    const std::string folder = "content\\esc\x1b[2J\x07";
    std::vector<Entry> entries{MakeEntry(folder + "\\a\nb\x7f\x9b.bin", Pattern(10), Storage::Stored),
                               MakeEntry("content\\bell\x07.txt", "ding")};
    entries[0].offset = 1u << 20;
    const std::string upk = WriteUpk(dir, entries, kWindows ? "p.upk" : "p\x1b\\.upk");
    const std::string shownFolder = R"(content/esc\x1b[2J\x07)";
    const std::string shownFile = shownFolder + R"(/a\nb\x7f\x9b.bin)";
    const std::string damaged = shownFile + ": stored bytes lie outside the data file\n";

    EXPECT_EQ(Zarnik({"list", upk}).out, shownFolder + "/\n" + shownFile + "\n" + R"(content/bell\x07.txt)" + "\n");
    EXPECT_EQ(Zarnik({"test", upk}).out, damaged + "2 files tested, 4 bytes sound, 1 damaged\n");
    const Result extract = Zarnik({"extract", upk, "-C", dir.file("out"), "--progress"});
    const std::string firstFailure =
        kWindows ? "zarnik: " + shownFolder + ": cannot create the directory; nothing below it was written\n"
                 : "\r\x1b[Kzarnik: " + damaged;
    EXPECT_TRUE(Ran(extract, 1, {}, {firstFailure, R"(content/bell\x07.txt)"}));
    EXPECT_EQ(extract.err.find_first_of("\x07\x7f\x9b"), std::string::npos);
    EXPECT_EQ(extract.err.find("\x1b[2J"), std::string::npos);
    EXPECT_EQ(Zarnik({"cat", upk, "content/esc\x1b[2J\x07/a\nb\x7f\xC2\x9B.bin"}).err, "zarnik: " + damaged);
    if (!kWindows) {
        const Result info = Zarnik({"info", upk});
        EXPECT_TRUE(Ran(info, 0, {R"(p\x1b\\.upk)"}) && info.out.find('\x1b') == std::string::npos) << info.out;
        EXPECT_TRUE(Ran(Zarnik({"list", upk + "\n"}), 2, {}, {R"(p\x1b\\.upk\n: no such file)"}));
    }
    // `cat` takes the real name and the printed one.
    for (const std::string &path : {std::string("content/bell\x07.txt"), std::string(R"(content/bell\x07.txt)")})
        EXPECT_EQ(Zarnik({"cat", upk, path}).out, "ding");

    // JSON stays exact: its own escapes, the real characters.
    const nlohmann::json json = nlohmann::json::parse(Zarnik({"list", "--json", upk}).out);
    EXPECT_EQ(json[1]["path"], folder + "\\a\nb\x7f\xC2\x9B.bin");
}

TEST(Cli, CreateThenExtractGivesTheTreeBackAndReplacesNothing)
{
    TempDir dir;
    // The sample's files, in another order than the pack writer's, and an empty one.
    const fs::path src = dir.path() / "src" / "content";
    EXPECT_TRUE(Ran(Zarnik({"extract", WriteUpk(dir, SampleEntries()), "-C", dir.file("src")}), 0, {}));
    WriteAll((src / "data" / "empty file.dat").string(), {});
    fs::create_directories(dir.path() / "vfs");
    for (const std::string name : {"p.upk", "stored.upk", "vfs/data0.vfs"}) {
        SCOPED_TRACE(name);
        const bool store = name == "stored.upk";
        std::vector<std::string> args{"create", dir.file(name), src.string()};
        if (store)
            args.push_back("--store");
        EXPECT_TRUE(Ran(Zarnik(args), 0, {}));
        const std::string out = dir.file("x-" + fs::path(name).filename().string());
        EXPECT_TRUE(Ran(Zarnik({"extract", dir.file(name), "-C", out}), 0, {}));
        EXPECT_EQ(FilesBelow(fs::path(out) / "content"), FilesBelow(src));

        // Sorted archive paths, each file packed only where that is smaller.
        const Result list = Zarnik({"list", "--long", dir.file(name)});
        EXPECT_LT(list.out.find("content/data/empty file.dat"), list.out.find("content/readme.txt"));
        EXPECT_EQ(list.out.find("packed  content/readme.txt") != std::string::npos, !store);
        EXPECT_TRUE(Ran(list, 0, {"stored  content/data/big.bin"}));
    }

    // Nothing is ever replaced: neither the pack nor an index beside a new
    // data file; an unknown kind of pack is not made at all.
    const Bytes before = ReadAll(dir.file("p.upk"));
    EXPECT_TRUE(Ran(Zarnik({"create", dir.file("p.upk"), src.string()}), 2, {}, {"already exists"}));
    EXPECT_EQ(ReadAll(dir.file("p.upk")), before);
    EXPECT_TRUE(Ran(Zarnik({"create", dir.file("vfs/data1.vfs"), src.string()}), 2, {},
                    {"content.vfi already exists"}));
    EXPECT_FALSE(fs::exists(dir.file("vfs/data1.vfs")));
    EXPECT_TRUE(Ran(Zarnik({"create", dir.file("p.zip"), src.string()}), 2, {}));
    EXPECT_FALSE(fs::exists(dir.file("p.zip")));
}

TEST(Cli, CreateUnderLimitsFailsCleanlyAndLeavesNothing)
{
    SKIP_ON_WINDOWS("the shell's ulimit");
    TempDir dir;
    fs::create_directories(dir.path() / "big");
    WriteAll(dir.file("big/small.txt"), zarnik_pack::ToBytes("small"));
    WriteAll(dir.file("big/large.bin"), Pattern(1 << 20));
    fs::create_directories(dir.path() / "names"); // an index larger than its data
    for (int i = 0; i < 300; ++i)
        WriteAll(dir.file("names/a-name-long-enough-to-make-the-index-outgrow-the-data-" + std::to_string(i)),
                 zarnik_pack::ToBytes("x"));
    fs::create_directories(dir.path() / "out");
    const auto nothingLeft = [&] { return fs::is_empty(dir.path() / "out"); };

    // Past the file-size limit (in 512-byte blocks): the data file, or the
    // index of a set whose data fits. One line, nothing left under any name.
    for (const auto &[out, src, limit] : std::vector<std::tuple<std::string, std::string, int>>{
             {"out/a.upk", "big", 200}, {"out/d.vfs", "big", 200}, {"out/d.vfs", "names", 20}}) {
        SCOPED_TRACE(out + " " + src);
        const Result r = Zarnik({"create", out, src}, dir.str(), Limited("-f " + std::to_string(limit)));
        EXPECT_TRUE(Ran(r, 1, {}, {"cannot write ", "file-size limit"}) && Lines(r.err) == 1) << r.err;
        EXPECT_TRUE(nothingLeft());
        EXPECT_TRUE(Ran(Zarnik({"create", out, src}, dir.str()), 0, {}));
        EXPECT_TRUE(Ran(Zarnik({"test", out}, dir.str()), 0, {" 0 damaged"}));
        fs::remove_all(dir.path() / "out");
        fs::create_directories(dir.path() / "out");
    }

    // 6 GiB is refused from the sizes alone, within 1 GiB of address space
    // (AddressSanitizer's shadow memory alone needs more: no limit there).
    WriteAll(dir.file("big/sparse.bin"), {});
    fs::resize_file(dir.file("big/sparse.bin"), 6ull << 30);
#ifdef __SANITIZE_ADDRESS__
    const std::string addressLimit;
#else
    const std::string addressLimit = Limited("-v 1048576");
#endif
    const Result huge = Zarnik({"create", "out/a.upk", "big"}, dir.str(), addressLimit);
    EXPECT_TRUE(Ran(huge, 2, {}, {"6.0 GiB, more than a pack can address"}) && Lines(huge.err) == 1) << huge.err;
    EXPECT_TRUE(nothingLeft());
}

TEST(Cli, OpenFailuresAndBadCommandLines)
{
    TempDir dir;
    const Result missing = Zarnik({"list", dir.file("nothing.upk")});
    EXPECT_TRUE(Ran(missing, 2, {}) && missing.out.empty());
    EXPECT_EQ(missing.err, "zarnik: cannot open " + dir.file("nothing.upk") + ": no such file\n");

    WriteAll(dir.file("data0.vfs"), zarnik_pack::BuildVfs(SampleEntries()).data);
    const Result noIndex = Zarnik({"extract", "data0.vfs", "-C", "out"}, dir.str());
    EXPECT_TRUE(Ran(noIndex, 2, {}, {"cannot open data0.vfs: a \".vfs\" data file needs its index "
                                     "\"content.vfi\" beside it"}));
    EXPECT_EQ(Lines(noIndex.err), 1);
    EXPECT_FALSE(fs::exists(dir.file("out")));
    WriteAll(dir.file("junk.upk"), Pattern(64));
    // A FIFO as the pack, its index or its data file is refused, not waited on.
    const zarnik_pack::VfsSet set = zarnik_pack::BuildVfs(SampleEntries());
    fs::create_directories(dir.file("i"));
    fs::create_directories(dir.file("d"));
    WriteAll(dir.file("i/data0.vfs"), set.data);
    WriteAll(dir.file("d/content.vfi"), set.index);
#ifndef _WIN32
    for (const char *fifo : {"x.upk", "i/content.vfi", "d/data0.vfs"}) {
        ASSERT_EQ(mkfifo(dir.file(fifo).c_str(), 0600), 0);
        const std::string pack = std::string(fifo) == "i/content.vfi" ? "i/data0.vfs" : fifo;
        EXPECT_TRUE(Ran(Zarnik({"list", dir.file(pack)}), 2, {}, {"not a regular file"})) << fifo;
    }
#endif
    EXPECT_TRUE(Ran(Zarnik({"info", dir.file("junk.upk")}), 2, {}, {"junk.upk: not a Zarnik pack"}));

    for (const std::vector<std::string> &args :
         {std::vector<std::string>{}, {"unpack", "x.upk"}, {"list"}, {"list", "a.upk", "--wide"},
          {"cat", "a.upk"}, {"extract", "a.upk", "--quiet", "--progress"}})
        EXPECT_TRUE(Ran(Zarnik(args), 2, {}, {"Try 'zarnik"})) << testing::PrintToString(args);
    EXPECT_TRUE(Ran(Zarnik({"unpack"}), 2, {}, {"unknown command 'unpack'"}));
    EXPECT_TRUE(Ran(Zarnik({"--help"}), 0, {"list", "info", "extract", "test", "cat", "create"}));
    EXPECT_TRUE(Ran(Zarnik({"extract", "--help"}), 0, {"--progress"}));
    EXPECT_EQ(Zarnik({"--version"}).out, "zarnik 1.0.0\n");
}
