// The rules for names and routes: safe names, temporary names, which files open as what.
#include "ArchiveSupport.h"
#include "PackPath.h"
#include "PathRule.h"
#include "SourceWalk.h"
#include "PlatformFile.h"
#include "TestSupport.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace testsupport;
using zarnik::PackRoute;

TEST(Names, WhatANameMayBeOnEachSystem)
{
    const struct { std::string name; bool posix, windows; } cases[] = {
        {"readme.txt", true, true}, {"", false, false}, {".", false, false}, {"..", false, false},
        {"a/b", false, false}, {"a\\b", true, false}, {"a:b", true, false}, {"what?", true, false},
        {"tab\there", true, false}, {"dot.", true, false}, {"space ", true, false}, {"..x", true, true},
        // Device names, bare or with an extension, in any case; not names that only begin so.
        {"CON", true, false}, {"nul.txt", true, false}, {"Aux.tar.gz", true, false}, {"PRN", true, false},
        {"com1", true, false}, {"LPT9.log", true, false}, {"CON .txt", true, false},
        {"COM0", true, true}, {"LPT10", true, true}, {"CONSOLE", true, true}, {"xNUL", true, true},
        // 255 bytes, or on Windows UTF-16 units, at most.
        {std::string(255, 'n'), true, true}, {std::string(256, 'n'), false, false},
        {std::string(254, 'n') + "\xC3\xA9", false, true}, {std::string(254, 'n') + "\xF0\x9F\x98\x80", false, false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(zarnik::IsSafeName(c.name), kWindows ? c.windows : c.posix) << c.name;
        EXPECT_EQ(zarnik::IsPortableName(c.name), c.posix && c.windows) << c.name;
    }
}

TEST(Names, TemporaryNameFitsANameAndCutsNoCharacterAndALongNameIsWrittenThroughIt)
{
    const std::string e = "\xC3\xA9";                   // two bytes
    const std::string cjk = "\xE6\x97\xA5";             // three
    const auto times = [](std::string s, const std::string &more, int n) {
        while (n--)
            s += more;
        return s;
    };
    // 249 bytes where a cut at 200 falls inside a character, and 248 bytes.
    for (const std::string &name : {std::string("short.txt"), std::string(250, 'n'), times("a", e, 124), times("ab", cjk, 82)}) {
        for (int attempt : {1, 2, 1000}) {
            const std::string temporary = zarnik::TemporaryName(name, attempt);
            EXPECT_LE(temporary.size(), 255u) << name.size();
            EXPECT_EQ(zarnik::Printable(temporary), temporary) << name.size(); // no sequence cut short
            const std::string suffix = std::string(".zarnik-partial") + (attempt > 1 ? "-" + std::to_string(attempt) : "");
            EXPECT_EQ(temporary, name.substr(0, temporary.size() - suffix.size()) + suffix) << name.size();
        }
    }
    // Extracted, a 250-byte name fits the disk and is written through its shortened temporary name.
    TempDir dir;
    const auto archive = MustOpen(WriteUpk(dir, {MakeEntry("content\\" + std::string(125, '\xE9'), "long")}));
    ASSERT_TRUE(archive);
    EXPECT_EQ(ExtractTo(*archive, archive->GetRoot(), zarnik::ExtractDestination::Folder(dir.str()), nullptr),
              zarnik::ExtractEnd::Finished);
    EXPECT_EQ(FilesBelow(dir.path() / "content").size(), 1u);
}

// The file layer refuses what Windows would misread itself, as an unsafe name.
TEST(Names, TheFileLayerMakesNoNameWindowsWouldMisread)
{
    TempDir dir;
    zarnik::PlatformDirectory *out = zarnik::PlatformOpenDirectory(dir.str());
    ASSERT_TRUE(out);
    for (const char *refused : {"AUX", "a:b", "trailing."}) {
        zarnik::PlatformDirectory *made = zarnik::PlatformEnterDirectory(out, refused, true);
        EXPECT_TRUE(made ? !kWindows : kWindows && zarnik::PlatformLastError() == zarnik::PlatformError::UnsafeName) << refused;
        zarnik::PlatformCloseDirectory(made);
        std::string temporary;
        zarnik::PlatformFile *file = zarnik::PlatformCreateTemporary(out, std::string(refused) + "x:", &temporary);
        EXPECT_TRUE(file ? !kWindows : kWindows && zarnik::PlatformLastError() == zarnik::PlatformError::UnsafeName) << refused;
        zarnik::PlatformCloseWritten(file);
    }
    zarnik::PlatformCloseDirectory(out);
}

TEST(Names, WhatReachesATerminalCannotSteerIt)
{
    const std::string backslash = kWindows ? "\\" : "\\\\";
    const std::pair<std::string, std::string> printable[] = {
        {"caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80 \xC2\xA0", "caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80 \xC2\xA0"},
        {"a\nb\rc\td\\e", "a\\nb\\rc\\td" + backslash + "e"},
        {"\x1b[2J\x07\x7f", "\\x1b[2J\\x07\\x7f"},
        // U+0080..U+009F, the C1 controls, by their Latin-1 code.
        {"\xC2\x80\xC2\x9B\xC2\x9F", "\\x80\\x9b\\x9f"},
        // No UTF-8: overlong forms, surrogates, past U+10FFFF, lone or cut sequences: each byte.
        {"\xC0\xAF\xC1\xBF", "\\xc0\\xaf\\xc1\\xbf"},
        {"\xE0\x80\xAF\xF0\x80\x80\xAF", "\\xe0\\x80\\xaf\\xf0\\x80\\x80\\xaf"},
        {"\xED\xA0\x80\xF4\x90\x80\x80\xF5\x80\x80\x80", "\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80\\xf5\\x80\\x80\\x80"},
        {"\x80\xBF\xE6\x97", "\\x80\\xbf\\xe6\\x97"},
    };
    for (const auto &[text, shown] : printable)
        EXPECT_EQ(zarnik::Printable(text), shown) << shown;
}

TEST(Routes, TheFileOwnNameChoosesTheRoute)
{
    const std::pair<std::string, PackRoute> cases[] = {
        {"content.vfi", PackRoute::WholeIndex},          {"set/content.vfi", PackRoute::WholeIndex},
        {"set/data0.vfs", PackRoute::IndexedDataFile},   {"data0.vfs.bak", PackRoute::IndexedDataFile},
        {"ODD.UPK", PackRoute::SinglePack},              {"game.pak", PackRoute::SinglePack},
        {"a.vfs-dir/x.upk", PackRoute::SinglePack},      {"a.vfs/content.vfi.upk", PackRoute::SinglePack},
        // Names as the system compares them: Windows ignores case.
        {"CONTENT.VFI", kWindows ? PackRoute::WholeIndex : PackRoute::SinglePack},
        {"set/Data0.Vfs", kWindows ? PackRoute::IndexedDataFile : PackRoute::SinglePack},
        {kWindows ? "a.vfs\\x.upk" : "a\\data0.vfs", kWindows ? PackRoute::SinglePack : PackRoute::IndexedDataFile},
    };
    for (const auto &[path, route] : cases)
        EXPECT_EQ(zarnik::RouteOf(path), route) << path;
}

TEST(PathRule, APathGoesInWhenAReaderOpensItBackAsThatPathAndADiskHereCanHoldIt)
{
    using P = zarnik::PathProblem;
    const P here = kWindows ? P::UnsafeName : P::None; // names Windows alone cannot hold
    const std::pair<std::string, P> cases[] = {
        {"content\\a.txt", P::None}, {"content\\sub\\content", P::None}, {"content\\caf\xE9", P::None},
        {"content\\" + std::string(251, 'n'), P::None}, {"content\\" + std::string(252, 'n'), P::TooLong},
        {"content\\content\\x", P::RootFolder}, {"content\\a\\content\\b", P::RootFolder},
        {"data\\x.bin", P::NotBelowRoot}, {"content", P::NotBelowRoot}, {"content\\", P::NotBelowRoot},
        {"content\\\\x", P::EmptyName}, {"content\\x\\", P::EmptyName}, {"content\\..\\x", P::DotName},
        {"content\\x\\.", P::DotName}, {"content\\a/b", P::UnsafeName}, {"content\\a:b.txt", here},
        // 260 bytes on a Linux disk, 130 characters on Windows.
        {"content\\" + std::string(130, '\xE9'), kWindows ? P::None : P::UnsafeName},
    };
    for (const auto &[path, problem] : cases) {
        EXPECT_EQ(zarnik::CheckPackPath(path).problem, problem) << zarnik::ShownPath(path);
        EXPECT_EQ(zarnik::CheckPackPath(path).reason.empty(), problem == P::None) << zarnik::ShownPath(path);
    }
}

TEST(PathRule, ATypedPathIsReadAsListPrintsIt)
{
    // Whatever `list` prints reads back as the path it printed.
    for (const std::string path : {"content\\nl\nname.txt", "content\\nl\\nname.txt", "content\\t\tr\r\\\x1b\x7f\x9b\xE9",
                                   "content\\x41\\a b"})
        EXPECT_EQ(zarnik::PackPathFromTyped(zarnik::ShownPath(path)), path) << zarnik::ShownPath(path);
    const std::pair<std::string, std::optional<std::string>> typed[] = {
        // Without a '/', every '\' separates names, as in the pack and on Windows.
        {"content\\new\\table.txt", "content\\new\\table.txt"}, {"content\\maps\\", "content\\maps"},
        {"content/maps/", "content\\maps"}, {"content/", "content"}, {"content/new\\table", "content\\new\table"},
        {"content/a\\qb", "content\\a\\qb"}, {"content/a\\\\b", "content\\a\\b"}, {"content/a\\x4\\x4a", "content\\a\\x4J"},
        {"content/caf\xC3\xA9", "content\\caf\xE9"}, {"content/caf\xE9", "content\\caf\xE9"},
        {"content/\xE6\x97\xA5", std::nullopt},
    };
    for (const auto &[text, path] : typed)
        EXPECT_EQ(zarnik::PackPathFromTyped(text), path) << text;
    EXPECT_EQ(zarnik::SlashPathFromTyped("content\\nl\\caf\xE9\\"), "content/nl/caf\xC3\xA9");
    // A folder to add into: below the root whether or not it is named.
    const std::pair<std::string, std::string> folders[] = {
        {"content", "content"}, {"gfx", "content\\gfx"}, {"content/sub", "content\\sub"}, {"/gfx/", "content\\gfx"},
        {"content2", "content\\content2"}, {"", ""}, {"gfx/content", ""}, {"gfx//x", ""}};
    for (const auto &[text, folder] : folders) {
        std::string reason;
        EXPECT_EQ(zarnik::PackFolderFromTyped(text, &reason).value_or(""), folder) << text;
        EXPECT_EQ(reason.empty(), !folder.empty()) << text;
    }
}

TEST(SourceWalk, TakesRegularFilesInPackOrderAndNamesWhatItCannotTake)
{
    TempDir dir;
    const auto make = [&](const std::vector<std::string> &files) {
        fs::remove_all(dir.path() / "src");
        for (const std::string &file : files) {
            fs::create_directories((dir.path() / fs::u8path("src/" + file)).parent_path());
            WriteAll(dir.file("src/" + file), ToBytes(fs::u8path(file).filename().u8string()));
        }
        return dir.file("src");
    };
    const auto paths = [](const zarnik::SourceWalk &walk) {
        std::string out;
        for (const zarnik::SourceFile &file : walk.files)
            out += file.packPath + (file.size == file.packPath.size() - file.packPath.rfind('\\') - 1 ? "\n" : " (size)\n");
        return out;
    };
    // Made out of order: taken in the pack's; a top folder named as the root is the root.
    const std::string src = make({"b.txt", "a/z.txt", "content/m.txt", "A2"});
    zarnik::SourceWalk walk = zarnik::WalkFolder(src, "content");
    EXPECT_EQ(paths(walk), "content\\A2\ncontent\\a\\z.txt\ncontent\\b.txt\ncontent\\m.txt\n");
    EXPECT_EQ(paths(zarnik::WalkSource(dir.file("src/a/"), "content\\gfx")), "content\\gfx\\a\\z.txt\n");
    EXPECT_EQ(paths(zarnik::WalkSource(dir.file("src/content"), "content")), "content\\m.txt\n");
    EXPECT_EQ(paths(zarnik::WalkSource(src + "/a/..", "content")).substr(0, 12), "content\\src\\");
    // What a pack could not hold as it is: each refused, once.
    std::vector<std::vector<std::string>> refused{
        {"x/content/y", "x/content/z"}, {"t", "content/t"}, {"f/x", "content/f"}, {"\xE6\x97\xA5", "ok"}};
    if (!kWindows) // names a Windows disk cannot tell apart, or cannot hold
        refused.insert(refused.end(), {{"Read.me", "Z", "read.ME"}, {"gfx/a", "GFX/b", "gfx/c"}, {"back\\slash"}});
    for (const auto &files : refused) {
        walk = zarnik::WalkFolder(make(files), "content");
        EXPECT_EQ(walk.refused.size(), 1u) << files[0];
    }
    SKIP_ON_WINDOWS("symbolic links, FIFOs and permissions");
#ifndef _WIN32
    // What is passed over is named in name order, whatever order the disk lists it in.
    make({"file"});
    for (const char *name : {"h", "d", "b", "f", "a", "c", "e", "g"})
        fs::create_symlink("file", dir.path() / "src" / name);
    std::vector<std::string> lines;
    for (const zarnik::SourceSkip &skip : zarnik::WalkFolder(dir.file("src"), "content").passedOver)
        lines.push_back(skip.line);
    EXPECT_TRUE(lines.size() == 8 && std::is_sorted(lines.begin(), lines.end())) << testing::PrintToString(lines);
    make({"file", "folder/in", "locked/in", "shut"});
    fs::create_symlink("file", dir.path() / "src/link");
    fs::create_directory_symlink("folder", dir.path() / "src/linked");
    ASSERT_EQ(mkfifo(dir.file("src/fifo").c_str(), 0666), 0);
    fs::permissions(dir.path() / "src/shut", fs::perms::none);
    fs::permissions(dir.path() / "src/locked", fs::perms::none);
    // Walked as someone else, as root reads everything.
    const int kinds = InChild([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            return 255;
        int seen = 0;
        walk = zarnik::WalkFolder(dir.file("src"), "content");
        for (const zarnik::SourceSkip &skip : walk.passedOver)
            seen += 1 << (3 * int(skip.kind));
        return walk.files.size() == 2 && walk.refused.empty() ? seen : 254;
    });
    using K = zarnik::SourceSkip::Kind;
    EXPECT_EQ(kinds, (2 << (3 * int(K::Link))) + (1 << (3 * int(K::NotRegular))) + (2 << (3 * int(K::Unreadable))));
    // A file that reads as more than its size says is not taken short.
    uint64_t size = 0;
    std::string reason;
    EXPECT_FALSE(zarnik::SourceFileSize("/proc/self/status", &size, &reason));
    EXPECT_NE(reason.find("/proc"), std::string::npos) << reason;
#endif
}
