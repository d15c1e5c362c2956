// Hostile packs through both routes: every byte of a small pack cut off and
// flipped, names that try to leave the destination, sizes and offsets at and
// past the ends, overlapping stored ranges, chunks that lie about their
// sizes, and a hundred packs opened, extracted and closed. Whatever a pack
// holds, opening it and extracting everything must not crash or hang, must
// write nothing outside the destination, and must either write each file
// with exactly its entry's size or report it.
#include "PlatformFile.h"
#include "TestSupport.h"
#include "ZarnikArchive.h"

#include <map>
#include <set>

using namespace testsupport;
using zarnik_pack::Bytes;
using zarnik_pack::Entry;
using zarnik_pack::Storage;

#if defined(__SANITIZE_ADDRESS__)
#define ZARNIK_TEST_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZARNIK_TEST_LSAN 1
#endif
#endif
#ifdef ZARNIK_TEST_LSAN
extern "C" int __lsan_do_recoverable_leak_check();
#endif

namespace {

struct Recorder : CZarnikArchive::Callback
{
    std::multimap<std::string, std::string> failed; // archive path -> reason
    void OnExtractFailed(const std::string &path, const std::string &reason) override
    {
        failed.emplace(path, reason);
    }
    bool Reported(const std::string &path, const std::string &reason) const
    {
        const auto range = failed.equal_range(path);
        for (auto it = range.first; it != range.second; ++it)
            if (it->second == reason)
                return true;
        return false;
    }
};

struct Outcome
{
    bool opened = false;
    Recorder recorder;
    std::map<std::string, Bytes> written; // '/'-path below the destination -> bytes
    std::vector<std::string> outside;     // anything that appeared elsewhere
    std::vector<std::string> unaccounted; // file nodes neither on disk nor reported

    bool Clean() const { return outside.empty() && unaccounted.empty(); }
    std::string Describe() const
    {
        std::string s;
        for (const std::string &p : outside)
            s += "outside: " + p + "\n";
        for (const std::string &p : unaccounted)
            s += "unaccounted: " + p + "\n";
        return s;
    }
};

// The pack files lie in in/, the destination is box/dest: a name that climbs
// out of the destination lands somewhere this sandbox sees.
class Sandbox
{
public:
    Sandbox()
    {
        fs::create_directories(In());
        m_quiet = std::make_unique<CheckRecorder>();
    }

    fs::path In() const { return m_root.path() / "in"; }
    fs::path Box() const { return m_root.path() / "box"; }
    fs::path Dest() const { return Box() / "dest"; }

    Outcome Upk(const Bytes &pack)
    {
        Put("p.upk", pack);
        return Run(In() / "p.upk");
    }
    Outcome Vfs(const Bytes &index, const Bytes &data)
    {
        Put("content.vfi", index);
        Put("data0.vfs", data);
        return Run(In() / "data0.vfs");
    }

private:
    void Put(const std::string &name, const Bytes &bytes)
    {
        WriteAll((In() / name).string(), bytes);
        m_inputs.insert(In() / name);
    }

    // Every file node below `node` that was not reported must be a file of
    // its entry's size at `at`; a reported folder's subtree is passed over.
    static void Account(const ArchiveNode *node, const fs::path &at, Outcome &outcome)
    {
        if (outcome.recorder.failed.count(node->m_Path))
            return;
        std::error_code ec;
        if (node->IsFolder()) {
            for (const ArchiveNode *child : node->m_Children)
                Account(child, at / zarnik::PlatformNameFromLatin1(child->m_Name), outcome);
        } else if (!fs::is_regular_file(at, ec) || fs::file_size(at, ec) != node->m_UnpackedSize) {
            outcome.unaccounted.push_back(node->m_Path);
        }
    }

    Outcome Run(const fs::path &packPath)
    {
        Outcome outcome;
        fs::create_directories(Dest());
        {
            CZarnikArchive archive;
            outcome.opened = archive.Open(Backslashed(packPath.string()));
            if (outcome.opened) {
                EXPECT_TRUE(archive.Extract(archive.GetRoot(), Backslashed(Dest().string()),
                                            &outcome.recorder));
                Account(archive.GetRoot(), Dest() / "content", outcome);
            }
        }
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(m_root.path());
             it != fs::recursive_directory_iterator(); ++it) {
            const fs::path &p = it->path();
            const fs::path rel = p.lexically_relative(Dest());
            if (!rel.empty() && *rel.begin() != "..") {
                if (fs::is_regular_file(p, ec))
                    outcome.written[rel.generic_string()] = ReadAll(p.string());
            } else if (p != In() && p != Box() && p != Dest() && !m_inputs.count(p)) {
                outcome.outside.push_back(p.string());
            }
        }
        fs::remove_all(Box(), ec);
        return outcome;
    }

    TempDir m_root;
    std::set<fs::path> m_inputs;
    std::unique_ptr<CheckRecorder> m_quiet;
};

Bytes Repetitive(size_t size)
{
    Bytes out(size);
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<unsigned char>("hostile packs "[i % 14] + i / 50);
    return out;
}

// One stored file, one packed file in a folder, one empty packed file.
std::vector<Entry> SmallEntries()
{
    return {MakeEntry("content\\a.txt", "stored bytes", Storage::Stored),
            MakeEntry("content\\dir\\b.bin", Repetitive(200), Storage::Packed),
            MakeEntry("content\\dir\\e", Bytes(), Storage::Packed)};
}

std::map<std::string, Bytes> Originals(const std::vector<Entry> &entries)
{
    std::map<std::string, Bytes> out;
    for (const Entry &e : entries) {
        std::string path = e.path;
        for (char &c : path)
            if (c == '\\')
                c = '/';
        out[path] = e.data;
    }
    return out;
}

// Every file written holds the bytes its entry was made from.
void ExpectOriginalBytes(const Outcome &o, const std::map<std::string, Bytes> &originals,
                         const std::string &what)
{
    for (const auto &[path, bytes] : o.written) {
        const auto it = originals.find(path);
        ASSERT_NE(it, originals.end()) << what << ": unexpected file " << path;
        EXPECT_EQ(bytes, it->second) << what << ": " << path;
    }
}

Entry Numbers(const std::string &path, uint32_t offset, uint32_t packed, uint32_t unpacked)
{
    Entry e = MakeEntry(path, "x", Storage::Stored);
    e.offset = offset;
    e.packedSize = packed;
    e.unpackedSize = unpacked;
    return e;
}

Bytes Slice(const Bytes &bytes, size_t from, size_t count)
{
    return Bytes(bytes.begin() + from, bytes.begin() + from + count);
}

} // namespace

TEST(Hostile, EveryByteOfASinglePackCutOffAndFlipped)
{
    Sandbox box;
    const std::vector<Entry> entries = SmallEntries();
    const auto originals = Originals(entries);
    const Bytes pack = zarnik_pack::BuildUpk(entries);

    const Outcome whole = box.Upk(pack);
    ASSERT_TRUE(whole.opened);
    EXPECT_TRUE(whole.recorder.failed.empty());
    EXPECT_EQ(whole.written, originals);

    for (size_t n = 0; n < pack.size(); ++n) {
        const std::string what = "cut at " + std::to_string(n);
        const Outcome o = box.Upk(Slice(pack, 0, n));
        ASSERT_TRUE(o.Clean()) << what << "\n" << o.Describe();
        // The file table comes last: what it still lists points at bytes that
        // are all there, so a cut never changes a file's bytes.
        ExpectOriginalBytes(o, originals, what);
    }
    for (size_t i = 0; i < pack.size(); ++i) {
        Bytes flipped = pack;
        flipped[i] ^= 0xFF;
        const Outcome o = box.Upk(flipped);
        ASSERT_TRUE(o.Clean()) << "flipped at " << i << "\n" << o.Describe();
    }
}

TEST(Hostile, EveryByteOfAnIndexAndItsDataFileCutOffAndFlipped)
{
    Sandbox box;
    const std::vector<Entry> entries = SmallEntries();
    const auto originals = Originals(entries);
    const zarnik_pack::VfsSet set = zarnik_pack::BuildVfs(entries);

    const Outcome whole = box.Vfs(set.index, set.data);
    ASSERT_TRUE(whole.opened);
    EXPECT_EQ(whole.written, originals);

    for (size_t n = 0; n < set.index.size(); ++n) {
        const Outcome o = box.Vfs(Slice(set.index, 0, n), set.data);
        ASSERT_TRUE(o.Clean()) << "index cut at " << n << "\n" << o.Describe();
        ExpectOriginalBytes(o, originals, "index cut at " + std::to_string(n));
    }
    for (size_t i = 0; i < set.index.size(); ++i) {
        Bytes flipped = set.index;
        flipped[i] ^= 0xFF;
        const Outcome o = box.Vfs(flipped, set.data);
        ASSERT_TRUE(o.Clean()) << "index flipped at " << i << "\n" << o.Describe();
    }
    for (size_t n = 0; n < set.data.size(); ++n) {
        const Outcome o = box.Vfs(set.index, Slice(set.data, 0, n));
        ASSERT_TRUE(o.opened);
        ASSERT_TRUE(o.Clean()) << "data cut at " << n << "\n" << o.Describe();
        // Files whose bytes were cut off are reported, never written short.
        ExpectOriginalBytes(o, originals, "data cut at " + std::to_string(n));
        EXPECT_EQ(o.written.size() + o.recorder.failed.size(), entries.size());
    }
    for (size_t i = 0; i < set.data.size(); ++i) {
        Bytes flipped = set.data;
        flipped[i] ^= 0xFF;
        const Outcome o = box.Vfs(set.index, flipped);
        ASSERT_TRUE(o.Clean()) << "data flipped at " << i << "\n" << o.Describe();
        // The stored file takes whatever bytes are there; the packed one is
        // written only when it still unpacks to its size.
        EXPECT_EQ(o.written.count("content/a.txt"), 1u);
    }
}

TEST(Hostile, NamesThatTryToLeaveTheDestination)
{
    const char *const kUnsafe = CZarnikArchive::kReasonUnsafeName;
    std::vector<Entry> entries = {
        MakeEntry("content\\ok.txt", "inside"),
        MakeEntry("content\\..\\up.txt", "parent folder"),
        MakeEntry("content\\sub\\..\\..\\..\\deep.txt", "climbs three levels"),
        MakeEntry("content\\..", "a file named .."),
        MakeEntry("content\\.", "a file named ."),
        MakeEntry("content\\a/..\\..\\x.txt", "slash inside a folder name"),
        MakeEntry("content\\x/../../../../escape.txt", "slash inside a file name"),
        MakeEntry("/tmp/zarnik-hostile-absolute.txt", "absolute with slashes"),
        MakeEntry("\\leading-backslash.txt", "absolute with a backslash"),
        MakeEntry("\\\\server\\share\\unc.txt", "two leading backslashes"),
        MakeEntry("content\\\\empty-segment.txt", "empty segment"),
        MakeEntry("content\\trailing\\", "empty file name"),
        MakeEntry("", "empty path"),
    };
    // The same names stored raw, without the terminator the writer adds.
    Entry raw = MakeEntry("", "raw dots");
    raw.rawName = zarnik_pack::ToBytes("content\\..\\raw..");
    entries.push_back(raw);

    const auto check = [&](const Outcome &o, const std::string &route) {
        ASSERT_TRUE(o.opened) << route;
        EXPECT_TRUE(o.Clean()) << route << "\n" << o.Describe();
        EXPECT_EQ(o.written.at("content/ok.txt"), zarnik_pack::ToBytes("inside")) << route;
        // A leading backslash or an empty segment stays inside.
        EXPECT_EQ(o.written.count("content/leading-backslash.txt"), 1u) << route;
        EXPECT_EQ(o.written.count("content/empty-segment.txt"), 1u) << route;
        EXPECT_EQ(o.written.size(), 3u) << route;
        EXPECT_TRUE(o.recorder.Reported("content\\..", kUnsafe)) << route;
        EXPECT_TRUE(o.recorder.Reported("content\\sub\\..", kUnsafe)) << route;
        EXPECT_TRUE(o.recorder.Reported("content\\.", kUnsafe)) << route;
        EXPECT_TRUE(o.recorder.Reported("content\\a/..", kUnsafe)) << route;
        EXPECT_TRUE(o.recorder.Reported("content\\x/../../../../escape.txt", kUnsafe)) << route;
        EXPECT_TRUE(o.recorder.Reported("/tmp/zarnik-hostile-absolute.txt", kUnsafe)) << route;
        // Empty file names cannot be created and are said so.
        EXPECT_GE(o.recorder.failed.count("content\\trailing\\"), 1u) << route;
        EXPECT_GE(o.recorder.failed.count(""), 1u) << route;
    };
    Sandbox box;
    check(box.Upk(zarnik_pack::BuildUpk(entries)), "single pack");
    const zarnik_pack::VfsSet set = zarnik_pack::BuildVfs(entries);
    check(box.Vfs(set.index, set.data), "index");
    EXPECT_FALSE(fs::exists("/tmp/zarnik-hostile-absolute.txt"));
}

TEST(Hostile, SizesAndOffsetsAtAndPastTheEnds)
{
    // Two passes per route: the first learns the data file's size, which
    // the numbers are then set against (overrides do not change the size).
    const auto entriesFor = [](uint32_t size) {
        return std::vector<Entry>{
            Numbers("content\\at-start", 0, 16, 16),
            Numbers("content\\at-end", size - 4, 4, 4),
            Numbers("content\\whole", 0, size, size),
            Numbers("content\\one-past", size - 1, 2, 2),
            Numbers("content\\starts-at-end", size, 1, 1),
            Numbers("content\\starts-past", size + 1, 1, 1),
            Numbers("content\\max-offset", 0xFFFFFFFFu, 1, 1),
            Numbers("content\\wraps", 0xFFFFFFF0u, 0x20, 0x20),
            Numbers("content\\max-size", 8, 0xFFFFFFFFu, 0xFFFFFFFFu),
            Numbers("content\\claims-4GiB", 8, 4, 0xFFFFFFFFu),
            Numbers("content\\claims-4GiB-less", 0, 16, 0xFFFFFFF0u),
            Numbers("content\\unpacks-to-0", 0, 16, 0),
            Numbers("content\\zero-stored", size, 0, 5), // a folder by its numbers
            MakeEntry("content\\sound", Repetitive(300), Storage::Packed),
        };
    };
    const auto check = [](const Outcome &o, const Bytes &file, const std::string &route) {
        const uint32_t size = static_cast<uint32_t>(file.size());
        const char *const kRange = CZarnikArchive::kReasonOutOfRange;
        ASSERT_TRUE(o.opened) << route;
        EXPECT_TRUE(o.Clean()) << route << "\n" << o.Describe();
        EXPECT_EQ(o.written.at("content/at-start"), Slice(file, 0, 16)) << route;
        EXPECT_EQ(o.written.at("content/at-end"), Slice(file, size - 4, 4)) << route;
        EXPECT_EQ(o.written.at("content/whole"), file) << route;
        EXPECT_EQ(o.written.at("content/sound"), Repetitive(300)) << route;
        for (const char *path : {"content\\one-past", "content\\starts-at-end",
                                 "content\\starts-past", "content\\max-offset", "content\\wraps",
                                 "content\\max-size"})
            EXPECT_TRUE(o.recorder.Reported(path, kRange)) << route << ": " << path;
        // Claims the stored bytes cannot stand for are refused before any
        // buffer of that size is asked for.
        for (const char *path : {"content\\claims-4GiB", "content\\claims-4GiB-less"})
            EXPECT_TRUE(o.recorder.Reported(path, CZarnikArchive::kReasonWrongSize)) << path;
        EXPECT_EQ(o.recorder.failed.count("content\\unpacks-to-0"), 1u) << route;
        EXPECT_EQ(o.written.size(), 4u) << route;
    };

    Sandbox box;
    const uint32_t upkSize = static_cast<uint32_t>(zarnik_pack::BuildUpk(entriesFor(100)).size());
    const Bytes upk = zarnik_pack::BuildUpk(entriesFor(upkSize));
    ASSERT_EQ(upk.size(), upkSize);
    check(box.Upk(upk), upk, "single pack");

    const uint32_t dataSize = static_cast<uint32_t>(zarnik_pack::BuildVfs(entriesFor(100)).data.size());
    const zarnik_pack::VfsSet set = zarnik_pack::BuildVfs(entriesFor(dataSize));
    ASSERT_EQ(set.data.size(), dataSize);
    check(box.Vfs(set.index, set.data), set.data, "index");
}

TEST(Hostile, OverlappingStoredRanges)
{
    // The stored file "a" and the packed file "p" are real; the others point
    // into, across and over them.
    std::vector<Entry> base = {MakeEntry("content\\a", Pattern(100), Storage::Stored),
                               MakeEntry("content\\p", Repetitive(400), Storage::Packed)};
    const zarnik_pack::VfsSet probe = zarnik_pack::BuildVfs(base);
    const uint32_t packedLength = static_cast<uint32_t>(probe.data.size() - 100);

    const auto check = [&](const Outcome &o, const Bytes &file, uint32_t a,
                           const std::string &route) {
        ASSERT_TRUE(o.opened) << route;
        EXPECT_TRUE(o.Clean()) << route << "\n" << o.Describe();
        EXPECT_TRUE(o.recorder.failed.empty()) << route;
        EXPECT_EQ(o.written.at("content/a"), Pattern(100)) << route;
        EXPECT_EQ(o.written.at("content/same-as-a"), Pattern(100)) << route;
        EXPECT_EQ(o.written.at("content/half-of-a-and-more"), Slice(file, a + 50, 100)) << route;
        EXPECT_EQ(o.written.at("content/p"), Repetitive(400)) << route;
        EXPECT_EQ(o.written.at("content/dir/p-again"), Repetitive(400)) << route;
        EXPECT_EQ(o.written.at("content/everything"), file) << route;
    };
    const auto entriesAt = [&](uint32_t a, uint32_t size) {
        std::vector<Entry> entries = base;
        entries.push_back(Numbers("content\\same-as-a", a, 100, 100));
        entries.push_back(Numbers("content\\half-of-a-and-more", a + 50, 100, 100));
        entries.push_back(Numbers("content\\dir\\p-again", a + 100, packedLength, 400));
        entries.push_back(Numbers("content\\everything", 0, size, size));
        return entries;
    };

    Sandbox box;
    // In a single pack the data chunk's bytes start after its 8-byte header.
    const uint32_t upkSize = static_cast<uint32_t>(zarnik_pack::BuildUpk(entriesAt(8, 1)).size());
    const Bytes upk = zarnik_pack::BuildUpk(entriesAt(8, upkSize));
    check(box.Upk(upk), upk, 8, "single pack");

    // The data file also holds the overriding entries' own stored bytes.
    const uint32_t dataSize =
        static_cast<uint32_t>(zarnik_pack::BuildVfs(entriesAt(0, 1)).data.size());
    const zarnik_pack::VfsSet sized = zarnik_pack::BuildVfs(entriesAt(0, dataSize));
    check(box.Vfs(sized.index, sized.data), sized.data, 0, "index");
}

TEST(Hostile, ChunksThatLieAboutTheirSizes)
{
    Sandbox box;
    const std::vector<Entry> entries = SmallEntries();
    const auto originals = Originals(entries);

    // Single pack: chunk sizes at offset 4 (data chunk) and at the table's.
    const Bytes pack = zarnik_pack::BuildUpk(entries);
    const uint32_t dataLength = zarnik_pack::GetU32(pack, 4);
    const size_t table = 8 + dataLength;
    const uint32_t tableLength = zarnik_pack::GetU32(pack, table + 4);
    const uint32_t firstEntry = 20 + static_cast<uint32_t>(entries[0].path.size()) + 1;
    for (uint32_t claim : {tableLength + 1, tableLength + 1000, 0xFFFFFFFFu}) {
        Bytes lying = pack;
        zarnik_pack::PutU32(lying, table + 4, claim);
        const Outcome o = box.Upk(lying);
        ASSERT_TRUE(o.opened) << claim;
        EXPECT_TRUE(o.Clean()) << o.Describe();
        EXPECT_EQ(o.written, originals) << "table claims " << claim;
    }
    for (uint32_t claim : {0u, 1u, 19u, firstEntry, firstEntry + 7, tableLength - 1}) {
        Bytes lying = pack;
        zarnik_pack::PutU32(lying, table + 4, claim);
        const Outcome o = box.Upk(lying);
        EXPECT_TRUE(o.Clean()) << "table claims " << claim << "\n" << o.Describe();
        ExpectOriginalBytes(o, originals, "table claims " + std::to_string(claim));
        // Only whole entries inside the claimed size count.
        EXPECT_EQ(o.written.count("content/a.txt"), claim >= firstEntry ? 1u : 0u) << claim;
    }
    for (uint32_t claim : {0u, 3u, dataLength - 1, dataLength + 1, 0xFFFFFFF0u}) {
        Bytes lying = pack;
        zarnik_pack::PutU32(lying, 4, claim);
        const Outcome o = box.Upk(lying);
        EXPECT_TRUE(o.Clean()) << "data chunk claims " << claim << "\n" << o.Describe();
    }

    // Index: the chunk's size, the name length M and an entry's name length L.
    const zarnik_pack::VfsSet set = zarnik_pack::BuildVfs(entries);
    const uint32_t chunkLength = zarnik_pack::GetU32(set.index, 4);
    for (uint32_t claim : {chunkLength + 1, 0xFFFFFFFFu}) {
        Bytes lying = set.index;
        zarnik_pack::PutU32(lying, 4, claim);
        const Outcome o = box.Vfs(lying, set.data);
        ASSERT_TRUE(o.opened);
        EXPECT_TRUE(o.Clean()) << o.Describe();
        EXPECT_EQ(o.written, originals) << "index chunk claims " << claim;
    }
    for (uint32_t claim : {0u, 7u, 8u, 30u, chunkLength - 21, chunkLength - 1}) {
        Bytes lying = set.index;
        zarnik_pack::PutU32(lying, 4, claim);
        const Outcome o = box.Vfs(lying, set.data);
        EXPECT_TRUE(o.Clean()) << "index chunk claims " << claim << "\n" << o.Describe();
        ExpectOriginalBytes(o, originals, "index chunk claims " + std::to_string(claim));
    }
    // M sits at 8 + 4 in the index.
    for (uint32_t m : {0u, 3u, 4u, 265u, chunkLength, 0xFFFFFFFFu}) {
        Bytes lying = set.index;
        zarnik_pack::PutU32(lying, 12, m);
        const Outcome o = box.Vfs(lying, set.data);
        EXPECT_FALSE(o.opened) << "M " << m;
        EXPECT_TRUE(o.Clean()) << o.Describe();
    }
    // L of the first entry past the chunk's end ends the entries there.
    const size_t firstL = 8 + 8 + 10 + 12 + 16; // headers, "data0.vfs\0", 12 bytes, 16 into the entry
    ASSERT_EQ(zarnik_pack::GetU32(set.index, firstL), entries[0].path.size() + 1);
    for (uint32_t l : {chunkLength, 0xFFFFFFFFu, 0x80000000u, 261u}) {
        Bytes lying = set.index;
        zarnik_pack::PutU32(lying, firstL, l);
        const Outcome o = box.Vfs(lying, set.data);
        EXPECT_TRUE(o.Clean()) << "L " << l << "\n" << o.Describe();
        ExpectOriginalBytes(o, originals, "L " + std::to_string(l));
        EXPECT_EQ(o.written.count("content/a.txt"), 0u) << l;
    }
}

// Opening, extracting and closing a hundred packs, sound and damaged, through
// both routes leaves no memory behind. Under AddressSanitizer the leak
// checker runs here and again when the program ends.
TEST(Hostile, AHundredPacksOpenedExtractedAndClosedLeaveNoMemory)
{
    Sandbox box;
    size_t written = 0;
    size_t failedOpens = 0;
    for (int i = 0; i < 100; ++i) {
        std::vector<Entry> entries = SmallEntries();
        entries.push_back(MakeEntry("content\\n" + std::to_string(i), Repetitive(50 + i)));
        Bytes pack = zarnik_pack::BuildUpk(entries);
        zarnik_pack::VfsSet set = zarnik_pack::BuildVfs(entries);
        if (i % 4 == 3) {
            // Damaged now and then: failure paths must free what they made.
            pack.resize(i % 8 == 3 ? pack.size() / 2 : pack.size() - 5);
            set.index[set.index.size() / 2] ^= 0x5A;
            set.data.resize(set.data.size() / 2);
        }
        for (const Outcome &o : {box.Upk(pack), box.Vfs(set.index, set.data)}) {
            ASSERT_TRUE(o.Clean()) << o.Describe();
            written += o.written.size();
            failedOpens += !o.opened;
        }
        // ReadFileData hands its buffer to the caller, who frees it.
        const std::string path = (box.In() / "p.upk").string();
        CZarnikArchive archive;
        if (archive.Open(Backslashed(path))) {
            std::unique_ptr<unsigned char[]> bytes;
            std::string reason;
            const ArchiveNode *node = archive.FindNode("content\\dir");
            if (node && !node->m_Children.empty())
                archive.ReadFileData(node->m_Children[0], bytes, reason);
        }
    }
    EXPECT_GT(written, 500u);
    EXPECT_GT(failedOpens, 0u);
#ifdef ZARNIK_TEST_LSAN
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}
