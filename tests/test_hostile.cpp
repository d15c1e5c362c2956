// Hostile packs through both routes: extracting everything writes nothing outside
// the destination and writes each file at exactly its entry's size or reports it.
#include "ArchiveSupport.h"
#include "PackPath.h"
#include "TestSupport.h"

#include <functional>
#include <optional>
#include <set>

using namespace testsupport;
using zarnik::ArchiveNode;
using zarnik::CZarnikArchive;
using zarnik::ExtractOutcome;
using zarnik::OpenReportItem;
using testpack::Entry;
using zarnik_pack::Storage;

namespace {

struct Outcome : zarnik::ExtractCallback
{
    bool opened = false;
    std::multiset<OpenReportItem::Kind> passedOver; // the open report's kinds
    std::vector<std::pair<std::string, ExtractOutcome>> results; // archive path, outcome, in order
    Files written;       // '/'-path below the destination -> bytes
    std::string trouble; // what appeared outside it, files neither written right nor reported

    void OnExtractResult(const ArchiveNode &node, ExtractOutcome outcome) override
    {
        results.emplace_back(node.m_Path, outcome);
    }
    // Reported not written (for the reason given, when one is).
    bool Reported(const std::string &path, std::optional<ExtractOutcome> outcome = {}) const
    {
        return std::any_of(results.begin(), results.end(), [&](const auto &r) {
            return r.first == path && r.second != ExtractOutcome::Written && outcome.value_or(r.second) == r.second;
        });
    }
    bool AllWritten() const
    {
        return std::all_of(results.begin(), results.end(),
                           [](const auto &r) { return r.second == ExtractOutcome::Written; });
    }
};

// Packs in in/, destination box/dest, so an escaping name lands where this sees it;
// given the originals, every file written must hold its original bytes.
class Sandbox
{
public:
    explicit Sandbox(const Files *originals = nullptr) : m_originals(originals)
    {
        fs::create_directories(In());
    }
    Outcome Upk(const Bytes &pack) { return Run({{"p.upk", pack}}); }
    Outcome Vfs(const Bytes &index, const Bytes &data) { return Run({{"content.vfi", index}, {"data0.vfs", data}}); }

private:
    fs::path In() const { return m_root.path() / "in"; }

    // Every unreported file below `node` must stand at `at` with its entry's size.
    static void Account(const ArchiveNode *node, const fs::path &at, Outcome &o)
    {
        std::error_code ec;
        if (o.Reported(node->m_Path))
            return;
        if (node->IsFolder()) {
            for (const ArchiveNode *child : node->m_Children)
                Account(child, at / fs::u8path(zarnik::FileSystemName(child->m_Name)), o);
        } else if (!fs::is_regular_file(at, ec) || fs::file_size(at, ec) != node->m_UnpackedSize) {
            o.trouble += "unaccounted: " + node->m_Path + "\n";
        }
    }

    // Everything in `archive` extracted to the new folder `to` by `workers`.
    static Outcome Extract(const CZarnikArchive &archive, const fs::path &to, unsigned workers)
    {
        Outcome o;
        fs::create_directories(to);
        EXPECT_EQ(zarnik::ExtractEnd::Finished,
                  ExtractTo(archive, archive.GetRoot(), zarnik::ExtractDestination::Folder(to.string()), &o, workers));
        return o;
    }

    // Writes the pack's files, opens the last one and extracts everything.
    Outcome Run(const std::vector<std::pair<std::string, Bytes>> &files)
    {
        for (const auto &[name, bytes] : files) {
            WriteAll((In() / name).string(), bytes);
            m_inputs.insert(In() / name);
        }
        const fs::path box = m_root.path() / "box", dest = box / "dest";
        Outcome o;
        const CZarnikArchive::OpenResult opened = CZarnikArchive::Open((In() / files.back().first).string());
        for (const OpenReportItem &item : opened.archive ? opened.archive->GetOpenReport() : opened.report)
            o.passedOver.insert(item.kind);
        if (opened.archive) {
            const CZarnikArchive &archive = *opened.archive;
            o.opened = true;
            // Three workers give the same files and results, in the same order, as one.
            const Outcome serial = Extract(archive, box / "serial", 1);
            o.results = Extract(archive, dest, 3).results;
            EXPECT_EQ(o.results, serial.results);
            EXPECT_EQ(FilesBelow(dest), FilesBelow(box / "serial"));
            fs::remove_all(box / "serial");
            Account(archive.GetRoot(), dest / "content", o);
        }
        std::error_code ec;
        for (const auto &e : fs::recursive_directory_iterator(m_root.path())) {
            const fs::path rel = e.path().lexically_relative(dest);
            const std::string path = rel.generic_string();
            if (*rel.begin() == "..") {
                if (e.path() != In() && e.path() != box && !m_inputs.count(e.path()))
                    o.trouble += "outside: " + e.path().string() + "\n";
            } else if (e.is_regular_file(ec)) {
                o.written[path] = ReadAll(e.path().string());
                if (m_originals && (!m_originals->count(path) || m_originals->at(path) != o.written[path]))
                    o.trouble += "not the original bytes: " + path + "\n";
            }
        }
        fs::remove_all(box, ec);
        return o;
    }

    const Files *m_originals;
    TempDir m_root;
    std::set<fs::path> m_inputs;
    CheckRecorder m_quiet;
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

const Files kSmallFiles{{"content/a.txt", ToBytes("stored bytes")}, {"content/dir/b.bin", Repetitive(200)},
                        {"content/dir/e", {}}};

Entry Numbers(const std::string &path, uint32_t offset, uint32_t packed, uint32_t unpacked)
{
    Entry e = MakeEntry(path, "x", Storage::Stored);
    e.offset = offset, e.packedSize = packed, e.unpackedSize = unpacked;
    return e;
}

Bytes Slice(const Bytes &bytes, size_t from, size_t count) { return {bytes.begin() + from, bytes.begin() + from + count}; }

} // namespace

TEST(Hostile, EveryByteOfBothRoutesCutOffAndFlipped)
{
    // A cut never changes a file's bytes (only `cuts` checks originals); a flip may.
    Sandbox cuts(&kSmallFiles), flips;
    const Bytes pack = testpack::BuildUpk(SmallEntries());
    const testpack::VfsSet set = testpack::BuildVfs(SmallEntries());
    using Run = std::function<Outcome(Sandbox &, const Bytes &)>;
    const std::vector<std::tuple<std::string, const Bytes *, Run>> targets = {
        {"pack", &pack, [&](Sandbox &box, const Bytes &b) { return box.Upk(b); }},
        {"index", &set.index, [&](Sandbox &box, const Bytes &b) { return box.Vfs(b, set.data); }},
        {"data file", &set.data, [&](Sandbox &box, const Bytes &b) { return box.Vfs(set.index, b); }}};
    for (const auto &[name, sound, run] : targets) {
        for (size_t i = 0; i < sound->size(); ++i) {
            const Outcome cut = run(cuts, Slice(*sound, 0, i));
            ASSERT_TRUE(cut.trouble.empty()) << name << " cut at " << i << "\n" << cut.trouble;
            // Whatever a cut takes away, it never passes for the whole pack.
            EXPECT_TRUE(!cut.opened || !cut.AllWritten() || !cut.passedOver.empty())
                << name << " cut at " << i;
            Bytes flipped = *sound;
            flipped[i] ^= 0xFF;
            const Outcome o = run(flips, flipped);
            ASSERT_TRUE(o.trouble.empty()) << name << " flipped at " << i << "\n" << o.trouble;
            // Only the packed file can fail when the data file is flipped.
            EXPECT_TRUE(name != "data file" || o.written.count("content/a.txt")) << i;
        }
    }
}

TEST(Hostile, NamesThatTryToLeaveTheDestination)
{
    // Entry i holds the text of i.
    std::vector<Entry> entries;
    for (const char *path : {"content\\ok.txt", "content\\ok.txt", "content\\..\\up.txt",
                             "content\\sub\\..\\..\\..\\deep.txt", "content\\..", "content\\.",
                             "content\\a/..\\..\\x.txt", "content\\x/../../../../escape.txt", "/tmp/zarnik-hostile-absolute.txt",
                             "\\leading-backslash.txt", "\\\\server\\share\\unc.txt", "content\\\\empty-segment.txt",
                             "content\\trailing\\", "", "content\\ff", "content\\ff\\x.txt"})
        entries.push_back(MakeEntry(path, std::to_string(entries.size())));
    Files kept;
    // The same kind of name stored raw, without the terminator the writer adds.
    entries.push_back(MakeEntry("", "raw dots"));
    entries.back().rawName = ToBytes("content\\..\\raw..");

    Sandbox box;
    const testpack::VfsSet set = testpack::BuildVfs(entries);
    for (const Outcome &o : {box.Upk(testpack::BuildUpk(entries)), box.Vfs(set.index, set.data)}) {
        EXPECT_TRUE(o.trouble.empty()) << o.trouble;
        // A leading backslash or an empty segment stays inside.
        kept.insert({{"content/ok.txt", ToBytes("0")}, {"content/leading-backslash.txt", ToBytes("9")},
                     {"content/empty-segment.txt", ToBytes("11")}, {"content/ff/x.txt", ToBytes("15")}});
        EXPECT_EQ(o.written, kept);
        // Empty names and second entries of a path are reported on open and extract; a file beside a
        // folder of its name gives way to the folder.
        using O = ExtractOutcome;
        for (const auto &[path, outcome] : std::vector<std::pair<std::string, O>>{
                 {"content\\..", O::UnsafeName}, {"content\\sub\\..", O::UnsafeName}, {"content\\.", O::UnsafeName},
                 {"content\\a/..", O::UnsafeName}, {"content\\x/../../../../escape.txt", O::UnsafeName},
                 {"/tmp/zarnik-hostile-absolute.txt", O::UnsafeName}, {"content\\trailing\\", O::EmptyName}, {"", O::EmptyName},
                 {"content\\ok.txt", O::Duplicate}, {"content\\ff", O::Duplicate}})
            EXPECT_TRUE(o.Reported(path, outcome)) << path;
        EXPECT_EQ(o.passedOver.count(OpenReportItem::Kind::EmptyName), 2u);
        // ok.txt, the file ".." beside the folder ".." of up.txt, ff.
        EXPECT_EQ(o.passedOver.count(OpenReportItem::Kind::DuplicatePath), 3u);
    }
    EXPECT_FALSE(fs::exists("/tmp/zarnik-hostile-absolute.txt"));
}

TEST(Hostile, SizesAndOffsetsAtAndPastTheEnds)
{
    // A first pass learns the data file's size that the numbers are set against.
    const auto entriesFor = [](uint32_t size) {
        std::vector<Entry> entries{
            Numbers("content\\at-start", 0, 16, 16), Numbers("content\\at-end", size - 4, 4, 4),
            Numbers("content\\whole", 0, size, size), Numbers("content\\one-past", size - 1, 2, 2),
            Numbers("content\\starts-at-end", size, 1, 1), Numbers("content\\starts-past", size + 1, 1, 1),
            Numbers("content\\max-offset", 0xFFFFFFFFu, 1, 1), Numbers("content\\wraps", 0xFFFFFFF0u, 0x20, 0x20),
            Numbers("content\\max-size", 8, 0xFFFFFFFFu, 0xFFFFFFFFu), Numbers("content\\unpacks-to-0", 0, 16, 0),
            Numbers("content\\claims-4GiB", 8, 4, 0xFFFFFFFFu), Numbers("content\\claims-4GiB-less", 0, 16, 0xFFFFFFF0u),
            Numbers("content\\zero-stored", size, 0, 5), // a folder by its numbers
            MakeEntry("content\\sound", Repetitive(300), Storage::Packed),
            MakeEntry("content\\empty", Bytes(), Storage::Packed), // a file: its stored size is not 0
            MakeEntry("content\\cut-stream", Repetitive(300), Storage::Packed),
            MakeEntry("content\\one-short", Repetitive(300), Storage::Packed),
        };
        entries.end()[-2].packedSize = testpack::StoredForm(entries.end()[-2]).size() - 1;
        entries.back().unpackedSize = 301; // unpacks to 300 bytes
        return entries;
    };
    // Single pack: the range rule is one for both routes, each entry's numbers set against its own data file.
    Sandbox box;
    const uint32_t size = static_cast<uint32_t>(testpack::BuildUpk(entriesFor(100)).size());
    const Bytes file = testpack::BuildUpk(entriesFor(size));
    const Outcome o = box.Upk(file);
    ASSERT_TRUE(o.opened);
    EXPECT_TRUE(o.trouble.empty()) << o.trouble;
    EXPECT_EQ(o.written, (Files{{"content/at-start", Slice(file, 0, 16)}, {"content/at-end", Slice(file, size - 4, 4)},
                                {"content/whole", file}, {"content/sound", Repetitive(300)}, {"content/empty", {}}}));
    for (const char *path : {"content\\one-past", "content\\starts-at-end", "content\\starts-past",
                             "content\\max-offset", "content\\wraps", "content\\max-size"})
        EXPECT_TRUE(o.Reported(path, ExtractOutcome::OutOfRange)) << path;
    // Impossible size claims are refused before allocating; a short stream is not written.
    for (const char *path : {"content\\claims-4GiB", "content\\claims-4GiB-less", "content\\one-short"})
        EXPECT_TRUE(o.Reported(path, ExtractOutcome::WrongSize)) << path;
    EXPECT_TRUE(o.Reported("content\\unpacks-to-0"));
    EXPECT_TRUE(o.Reported("content\\cut-stream", ExtractOutcome::Damaged));
    EXPECT_FALSE(o.Reported("content\\zero-stored")); // made as a folder
}

TEST(Hostile, ChunksThatLieAboutTheirSizes)
{
    const std::vector<Entry> entries = SmallEntries();
    const Bytes pack = testpack::BuildUpk(entries);
    const testpack::VfsSet set = testpack::BuildVfs(entries);
    // Single pack: the data chunk's size at 4, the file table's after the data.
    const uint32_t dataLength = testpack::GetU32(pack, 4);
    const size_t table = 8 + dataLength + 4;
    const uint32_t tableLength = testpack::GetU32(pack, table);
    const uint32_t firstEntry = 20 + static_cast<uint32_t>(entries[0].path.size()) + 1;
    // Index: chunk size at 4, data file name length at 12, first entry's name length L.
    const uint32_t chunkLength = testpack::GetU32(set.index, 4);
    const size_t firstL = 8 + 8 + 10 + 12 + 16;
    ASSERT_EQ(testpack::GetU32(set.index, firstL), entries[0].path.size() + 1);

    enum Want { Everything, WithA, WithoutA, Anything, NotOpened };
    using Kind = OpenReportItem::Kind;
    struct Lie { bool index; size_t at; std::vector<uint32_t> claims; Want want; std::optional<Kind> reported = {}; };
    const Lie lies[] = {
        {false, table, {tableLength + 1, tableLength + 1000, 0xFFFFFFFFu}, Everything, Kind::ChunkCutShort},
        // Only whole entries inside the claimed size count; one cut by the end is said to be lost.
        {false, table, {0}, WithoutA},
        {false, table, {1, 19}, WithoutA, Kind::EntryCutShort},
        {false, table, {firstEntry}, WithA},
        {false, table, {firstEntry + 7, tableLength - 1}, WithA, Kind::EntryCutShort},
        {false, 4, {0, 3, dataLength - 1, dataLength + 1, 0xFFFFFFF0u}, Anything},
        {true, 4, {chunkLength + 1, 0xFFFFFFFFu}, Everything, Kind::ChunkCutShort},
        {true, 4, {0, 7, 8, 30, chunkLength - 21}, Anything},
        {true, 4, {chunkLength - 1}, WithA, Kind::EntryCutShort},
        {true, 12, {0, 3, 4, 265, chunkLength, 0xFFFFFFFFu}, NotOpened},
        // An L past the chunk's end ends the entries there.
        {true, firstL, {chunkLength, 0xFFFFFFFFu, 0x80000000u, 261}, WithoutA, Kind::EntryCutShort},
    };
    Sandbox box(&kSmallFiles);
    for (const Lie &lie : lies) {
        for (uint32_t claim : lie.claims) {
            const std::string what = std::string(lie.index ? "index" : "pack") + ": " +
                                     std::to_string(lie.at) + " claims " + std::to_string(claim);
            Bytes lying = lie.index ? set.index : pack;
            testpack::PutU32(lying, lie.at, claim);
            const Outcome o = lie.index ? box.Vfs(lying, set.data) : box.Upk(lying);
            EXPECT_TRUE(o.trouble.empty()) << what << "\n" << o.trouble;
            EXPECT_TRUE(lie.want != Everything || o.written == kSmallFiles) << what;
            EXPECT_TRUE(lie.want != NotOpened || !o.opened) << what;
            EXPECT_TRUE(lie.want != WithA || o.written.count("content/a.txt")) << what;
            EXPECT_TRUE(lie.want != WithoutA || !o.written.count("content/a.txt")) << what;
            EXPECT_TRUE(!lie.reported || o.passedOver.count(*lie.reported)) << what;
        }
    }
}
