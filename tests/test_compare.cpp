// What changed between two sides: the differences found between packs made
// on purpose, the stored forms that are no change, files that cannot be
// read, SHA-256 itself and the saved lists it writes.
#include "Compare.h"
#include "CompareExport.h"
#include "Compressor.h"
#include "PackPath.h"
#include "TestSupport.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace testsupport;
using testpack::Entry;
using zarnik::CCompareSide;
using zarnik_pack::Storage;

namespace {

// A difference as one line: "M content/a", "D content/old/", "R content/x > content/y".
std::string Line(const zarnik::Difference &d)
{
    const std::string path = zarnik::WithSlashes(d.path) + (d.folder ? "/" : "");
    return std::string(1, "ADMR"[static_cast<int>(d.change)]) + " " +
           (d.change == zarnik::Difference::Change::Renamed ? zarnik::WithSlashes(d.from) + " > " : "") + path;
}

std::vector<std::string> Lines(const zarnik::CompareResult &result)
{
    std::vector<std::string> lines;
    for (const zarnik::Difference &d : result.differences)
        lines.push_back(Line(d));
    for (const zarnik::CompareProblem &p : result.problems)
        lines.push_back("! " + std::string(1, "AB"[p.side]) + " " + zarnik::WithSlashes(p.path));
    return lines;
}

std::unique_ptr<const CCompareSide> Side(const std::string &path)
{
    CCompareSide::OpenResult opened = CCompareSide::Open(path);
    EXPECT_TRUE(opened.side) << path << ": " << opened.error;
    return std::move(opened.side);
}

// `data` packed in blocks of `blockSize`, as an entry of another packer would hold it.
Entry PackedInBlocks(const std::string &path, const Bytes &data, size_t blockSize)
{
    Entry entry = MakeEntry(path, zarnik_pack::Compress(data.data(), data.size(), blockSize), Storage::Stored);
    entry.unpackedSize = static_cast<uint32_t>(data.size());
    return entry;
}

const Bytes kBig = Pattern(200000, 5), kText = ToBytes(std::string(150000, 't') + "end");

} // namespace

TEST(Compare, DifferencesBetweenPacksMadeOnPurpose)
{
    Bytes edited = kBig;
    edited[150000] ^= 1;
    struct Row { const char *rule; std::vector<Entry> a, b; std::vector<std::string> expected; };
    const auto E = [](const std::string &name, const auto &data, Storage storage = Storage::Auto) {
        return MakeEntry("content\\" + name, data, storage);
    };
    const std::vector<Row> rows{
        {"an edit that keeps the size, packed and stored", {E("p", kBig, Storage::Packed), E("s", kBig, Storage::Stored)},
         {E("p", edited, Storage::Packed), E("s", edited, Storage::Stored)}, {"M content/p", "M content/s"}},
        {"a rename, and a case-only one", {E("x.mdl", kBig), E("A.txt", "case")}, {E("y.mdl", kBig), E("a.txt", "case")},
         {"R content/A.txt > content/a.txt", "R content/x.mdl > content/y.mdl"}},
        {"a folder moved: the folders once, one rename per file", {E("old\\1", "one"), E("old\\sub\\2", "two"), E("k", "k")},
         {E("k", "k"), E("new\\1", "one"), E("new\\sub\\2", "two")},
         {"A content/new/", "R content/old/1 > content/new/1", "R content/old/sub/2 > content/new/sub/2", "D content/old/"}},
        {"a file that became a folder", {E("f", "file"), E("k", "k")}, {E("f\\g", "below"), E("k", "k")},
         {"D content/f", "A content/f/"}},
        {"duplicate contents pair by name, then in path order", {E("a\\dup", "same"), E("b\\x", "same"), E("c\\y", "same")},
         {E("d\\z", "same"), E("e\\dup", "same"), E("f\\w", "same")},
         {"D content/a/", "D content/b/", "D content/c/", "A content/d/", "R content/b/x > content/d/z",
          "A content/e/", "R content/a/dup > content/e/dup", "A content/f/", "R content/c/y > content/f/w"}},
        {"stored as is against packed, other block sizes, another table order",
         {E("s", kText, Storage::Stored), PackedInBlocks("content\\b", kBig, 4096), E("one", "1"), E("two", "2")},
         {E("two", "2"), E("s", kText, Storage::Packed), E("one", "1"), E("b", kBig, Storage::Packed)}, {}},
        // One wide raw block against three narrow ones: the same sizes, other stored bytes.
        {"stored bytes that differ yet unpack the same", {PackedInBlocks("content\\w", Pattern(300), 300)},
         {PackedInBlocks("content\\w", Pattern(300), 100)}, {}},
    };
    TempDir dir;
    for (const Row &row : rows) {
        const auto a = Side(WriteUpk(dir, row.a, "a.upk")), b = Side(WriteUpk(dir, row.b, "b.upk"));
        for (unsigned workers : {1u, 2u}) {
            zarnik::CompareSettings settings;
            settings.workers = workers;
            EXPECT_EQ(Lines(zarnik::CompareSides(*a, *b, settings)), row.expected) << row.rule << ", workers " << workers;
        }
    }
}

TEST(Compare, FilesThatCannotBeReadAreProblemsAndTheRestIsCompared)
{
    TempDir dir;
    Entry cut = MakeEntry("content\\cut", kBig, Storage::Packed);
    cut.packedSize = static_cast<uint32_t>(testpack::StoredForm(cut).size() - 10);
    Entry far = MakeEntry("content\\far", "x", Storage::Stored);
    far.offset = 1u << 20;
    Entry gone = MakeEntry("content\\gone", kBig, Storage::Packed);
    gone.packedSize = cut.packedSize;
    const auto a = Side(WriteUpk(dir, {MakeEntry("content\\cut", kBig), MakeEntry("content\\far", "y"),
                                       MakeEntry("content\\m", "1"), gone}, "a.upk"));
    const auto b = Side(WriteUpk(dir, {cut, far, MakeEntry("content\\m", "2"), MakeEntry("content\\new", kBig)}, "b.upk"));
    // A path gone whose bytes cannot be read is removed, and not paired.
    EXPECT_EQ(Lines(zarnik::CompareSides(*a, *b, {})),
              (std::vector<std::string>{"D content/gone", "M content/m", "A content/new", "! B content/cut",
                                        "! B content/far", "! A content/gone"}));
    // Against a side without files each file is added, not the root.
    EXPECT_EQ(Lines(zarnik::CompareSides(*CCompareSide::OfHashList({}), *a, {})),
              (std::vector<std::string>{"A content/cut", "A content/far", "A content/gone", "A content/m"}));
    // What opening passed over is a problem of its side: an entry cut short and its chunk.
    const Bytes whole = ReadAll(dir.file("a.upk"));
    WriteAll(dir.file("short.upk"), Bytes(whole.begin(), whole.end() - 3));
    EXPECT_EQ(Lines(zarnik::CompareSides(*Side(dir.file("short.upk")), *a, {})),
              (std::vector<std::string>{"A content/gone", "! A ", "! A "}));
    // A folder is read as `create` packs it, `content` at its top the root: what create passes over is
    // named as create names it, and not compared.
#ifndef _WIN32
    fs::create_directories(dir.path() / "tree/content");
    WriteAll(dir.file("tree/content/m"), ToBytes("1"));
    ASSERT_EQ(mkfifo(dir.file("tree/content/fifo").c_str(), 0600), 0);
    fs::create_symlink(dir.file("tree/content/m"), dir.path() / "tree/content/link");
    const zarnik::CompareResult folder =
        zarnik::CompareSides(*Side(WriteUpk(dir, {MakeEntry("content\\m", "1")}, "m.upk")), *Side(dir.file("tree")), {});
    std::vector<std::string> named;
    for (const zarnik::CompareProblem &p : folder.problems)
        named.push_back(std::string(1, "AB"[p.side]) + " " + p.text);
    EXPECT_EQ(named, (std::vector<std::string>{
                         "B " + dir.file("tree/content/fifo") + ": not a regular file (a FIFO, socket or device)",
                         "B " + dir.file("tree/content/link") + ": a symbolic link; links are not followed"}));
    EXPECT_TRUE(folder.differences.empty());
#endif
}

TEST(Sha256, StandardVectorsFedInPiecesOfAnySize)
{
    for (const auto &[text, hex] : std::vector<std::pair<std::string, std::string>>{
             {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
             // The last lengths whose padding fits their block, and a whole block.
             {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
             {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
             {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
             {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}}) {
        for (size_t piece : {size_t(1), size_t(55), size_t(64), size_t(65), size_t(4099)}) {
            zarnik::CSha256 sha;
            for (size_t at = 0; at < text.size(); at += piece)
                sha.Update(text.data() + at, std::min(piece, text.size() - at));
            EXPECT_EQ(zarnik::HexOf(sha.Finish()), hex) << text.size() << " bytes in pieces of " << piece;
        }
    }
}

TEST(HashList, BothFormsReadBackWhatTheyWriteAndRefuseWhatNoPackHolds)
{
    std::vector<zarnik::HashListEntry> entries;
    std::string sums, json = "[";
    for (const std::string path : {"content\\plain.txt", "content\\new\nline", "content\\caf\xE9", "content\\cr\r"}) {
        zarnik::CSha256 sha;
        sha.Update(path.data(), path.size());
        entries.push_back({path, sha.Finish(), path.size()});
        sums += zarnik::SumLine(entries.back());
        json += (json.size() > 1 ? "," : "") + zarnik::HashJsonItem(entries.back());
    }
    sums.replace(64, 2, " *"); // sha256sum -b's binary mode: the same bytes
    std::vector<zarnik::HashListEntry> read;
    std::string error;
    for (const std::string &text : {sums, json + "]"}) {
        read.clear();
        ASSERT_TRUE(zarnik::ParseHashList(text, &read, &error)) << error;
        ASSERT_EQ(read.size(), entries.size());
        for (size_t i = 0; i < read.size(); ++i)
            EXPECT_TRUE(read[i].path == entries[i].path && read[i].digest == entries[i].digest &&
                        read[i].size == (text == sums ? std::nullopt : entries[i].size)) << i << ": " << text;
    }
    const std::string digest = zarnik::HexOf(entries[0].digest);
    for (const std::string &bad : {digest + " content/one-space", digest.substr(1) + "   content/short",
                                   digest + "  content/\xE6\x97\xA5", "\\" + digest + "  content/\\q",
                                   digest + "  content/twice\n" + digest + "  content/twice", std::string("[{\"path\": 1}]"),
                                   "[{\"path\": \"content/x\", \"sha256\": \"" + digest + "0\"}]",
                                   "[{\"path\": \"content/x\", \"sha256\": \"" + digest + "\", \"unpacked\": \"5\"}]"})
        EXPECT_FALSE(zarnik::ParseHashList(bad, &read, &error)) << bad;
    // Past 1 GiB a file is no list of ours, however it begins: refused unread.
    TempDir dir;
    WriteAll(dir.file("big.sha256"), ToBytes(sums));
    fs::resize_file(dir.path() / "big.sha256", (1u << 30) + 1);
    EXPECT_EQ(CCompareSide::Open(dir.file("big.sha256")).error, "too large for a hash list");
}

// A patch holds B's files below its folder and nothing else: nothing once
// stopped, and no file whose name the system cannot hold, which may lead out.
TEST(CompareExport, WritesNothingAfterAStopNorOutsideItsFolder)
{
    TempDir dir;
    const std::vector<Entry> entries{MakeEntry("content\\k", "k"), MakeEntry("content\\n", "n")};
    WriteAll(dir.file("k"), ToBytes("k"));
    WriteAll(dir.file("n"), ToBytes("n"));
    const auto a = Side(WriteUpk(dir, {entries[0]}, "a.upk"));
    struct Row { std::unique_ptr<const CCompareSide> b; bool stop; Files written; };
    Row rows[] = {{Side(WriteUpk(dir, entries, "b.upk")), true, {}},
                  {CCompareSide::OfFolder({{"content\\k", dir.file("k"), 1}, {"content\\n", dir.file("n"), 1}}, {}),
                   true, {}},
                  {CCompareSide::OfFolder({{"content\\../out", dir.file("n"), 1}}, {}), false,
                   {{"removed.txt", ToBytes("content/k\n")}}}};
    for (Row &row : rows) {
        const std::atomic<bool> stop{row.stop};
        zarnik::ExportSettings settings;
        settings.stop = &stop;
        const std::string patch = dir.file("patch" + std::to_string(&row - rows));
        fs::create_directories(patch + "/content");
        const zarnik::ExportEnd end =
            zarnik::ExportDifferences(*row.b, zarnik::CompareSides(*a, *row.b, {}).differences, patch, settings);
        EXPECT_EQ(end.end == zarnik::ExtractEnd::Stopped, row.stop) << &row - rows;
        EXPECT_EQ(FilesBelow(patch), row.written) << &row - rows;
    }
    // Differences of another pair name what this B does not hold: refused, nothing written.
    const auto other = Side(WriteUpk(dir, {MakeEntry("content\\d\\f", "f")}, "c.upk"));
    const zarnik::ExportEnd end =
        zarnik::ExportDifferences(*rows[0].b, zarnik::CompareSides(*a, *other, {}).differences, dir.file("patch0"), {});
    EXPECT_EQ(end.refused, "the differences name content/d, which this pack does not hold");
    EXPECT_EQ(FilesBelow(dir.file("patch0")), Files{});
}
