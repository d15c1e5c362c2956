// The rules for names and routes: safe names, temporary names, which files open as what.
#include "ArchiveSupport.h"
#include "PackPath.h"
#include "PlatformFile.h"
#include "TestSupport.h"

using namespace testsupport;
using zarnik::ArchiveNode;
using zarnik::CZarnikArchive;
using zarnik::ExtractOutcome;
using zarnik::OpenReportItem;
using zarnik::PackRoute;
using testpack::Chunk;

TEST(Names, WhatANameMayBeOnEachSystem)
{
    const struct
    {
        std::string name;
        bool posix, windows;
    } cases[] = {
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
            ASSERT_GE(temporary.size(), suffix.size());
            EXPECT_EQ(temporary.substr(temporary.size() - suffix.size()), suffix);
            EXPECT_EQ(name.compare(0, temporary.size() - suffix.size(), temporary, 0, temporary.size() - suffix.size()), 0);
        }
    }
    EXPECT_EQ(zarnik::TemporaryName("short.txt", 1), "short.txt.zarnik-partial");
    // Extracted, a 250-byte name fits the disk and is written through its shortened temporary name.
    TempDir dir;
    const auto archive = MustOpen(WriteUpk(dir, {MakeEntry("content\\" + std::string(125, '\xE9'), "long")}));
    ASSERT_TRUE(archive);
    Recorder r;
    EXPECT_EQ(ExtractTo(*archive, archive->GetRoot(), zarnik::ExtractDestination::Folder(dir.str()), &r),
              zarnik::ExtractEnd::Finished);
    EXPECT_TRUE(r.failures.empty());
    EXPECT_EQ(FilesBelow(dir.path() / "content").size(), 1u);
}

TEST(Names, DeviceNamesAreUnsafeOnWindowsOnly)
{
    TempDir dir;
    const auto archive = MustOpen(WriteUpk(dir, {MakeEntry("content\\CON", "c"), MakeEntry("content\\nul.txt", "n"),
                                                 MakeEntry("content\\Com1\\x.txt", "x"), MakeEntry("content\\ok", "o")}));
    ASSERT_TRUE(archive);
    fs::create_directory(dir.file("out"));
    Recorder r;
    ExtractTo(*archive, archive->GetRoot(), zarnik::ExtractDestination::Folder(dir.file("out")), &r);
    using Failed = decltype(r.failures);
    const Failed refused = {{"content\\CON", ExtractOutcome::UnsafeName},
                            {"content\\nul.txt", ExtractOutcome::UnsafeName},
                            {"content\\Com1", ExtractOutcome::UnsafeName}};
    EXPECT_EQ(r.failures, kWindows ? refused : Failed());
    EXPECT_EQ(FilesBelow(dir.file("out")).size(), kWindows ? 1u : 4u);

    // The file layer refuses them itself, as an unsafe name.
    zarnik::PlatformDirectory *out = zarnik::PlatformOpenDirectory(dir.file("out"));
    ASSERT_TRUE(out);
    for (const char *refused : {"AUX", "a:b", "trailing."}) {
        zarnik::PlatformDirectory *made = zarnik::PlatformEnterDirectory(out, refused, true);
        EXPECT_EQ(made == nullptr, kWindows) << refused;
        EXPECT_TRUE(made || zarnik::PlatformLastError() == zarnik::PlatformError::UnsafeName) << refused;
        zarnik::PlatformCloseDirectory(made);
        std::string temporary;
        zarnik::PlatformFile *file = zarnik::PlatformCreateTemporary(out, std::string(refused) + "x:", &temporary);
        EXPECT_EQ(file == nullptr, kWindows) << refused;
        EXPECT_TRUE(file || zarnik::PlatformLastError() == zarnik::PlatformError::UnsafeName) << refused;
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
    // A pack's Latin-1 path: '/' between folders, U+0085 a control like any other.
    EXPECT_EQ(zarnik::ShownPath("content\\caf\xE9\x85\n"), "content/caf\xC3\xA9\\x85\\n");
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

TEST(Routes, AnIndexOpensDataFilesInItsFolderOnlyAndEachOnce)
{
    // set/content.vfi names ../outside.vfs, which exists, and data1.vfs in several chunks.
    TempDir root;
    fs::create_directory(root.file("set"));
    const auto chunk = [](const char *dataName, const char *path) {
        return Chunk{5, zarnik::packformat::IndexChunkData(dataName, testpack::EncodeEntry(MakeEntry(path, "zz"), 0, 2, 2))};
    };
    testpack::VfsOptions options;
    const char *const outside = kWindows ? "..\\outside.vfs" : "../outside.vfs";
    options.after = {chunk(outside, "content\\stolen.txt"), chunk("data1.vfs", "content\\one.txt"),
                     chunk("data1.vfs", "content\\two.txt"), chunk("data1.vfs", "content\\three.txt")};
    const testpack::VfsSet set = testpack::BuildVfs({MakeEntry("content\\own.txt", "own")}, options);
    WriteAll(root.file("set/content.vfi"), set.index);
    WriteAll(root.file("set/data0.vfs"), set.data);
    WriteAll(root.file("set/data1.vfs"), zarnik_pack::ToBytes("d1"));
    WriteAll(root.file("outside.vfs"), zarnik_pack::ToBytes("secret"));
    const auto archive = MustOpen(root.file("set/content.vfi"));
    ASSERT_TRUE(archive);
    EXPECT_EQ(Dump(*archive), "own.txt\none.txt\ntwo.txt\nthree.txt\n");
    ASSERT_EQ(archive->GetOpenReport().size(), 1u);
    EXPECT_EQ(archive->GetOpenReport()[0].kind, OpenReportItem::Kind::DataFileMissing);
    EXPECT_EQ(archive->GetOpenReport()[0].path, outside);
    // data0 and data1, each opened once; the refused name never.
    EXPECT_EQ(archive->GetDataFileCount(), 2u);
}
