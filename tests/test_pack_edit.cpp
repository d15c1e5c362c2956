// Changing a pack: intended listing, other entries' stored bytes kept, refusals
// write nothing, and a stopped/killed/failed save leaves the original untouched.
#include "ArchiveSupport.h"
#include "PackEdit.h"
#include "PackWriter.h"
#include "TestSupport.h"

#include <functional>
#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

using namespace testsupport;
using zarnik_pack::EditProblem;
using zarnik_pack::PackEdit;
using zarnik_pack::Storage;

namespace {

struct Listed
{
    std::string path;
    Bytes data;
    Bytes stored; // the entry's bytes as they lie in the pack
    bool operator==(const Listed &o) const { return path == o.path && data == o.data && stored == o.stored; }
};

// Every entry of the pack at `path` in table order, read back.
std::vector<Listed> Listing(const std::string &path)
{
    std::vector<Listed> out;
    const auto archive = MustOpen(path);
    if (!archive)
        return out;
    EXPECT_TRUE(archive->GetOpenReport().empty()) << path;
    for (const zarnik::ArchiveNode *entry : archive->GetEntries()) {
        const Bytes file = ReadAll(archive->GetDataFilePath(entry->m_DataFile));
        Listed listed{entry->m_Path, {}, {}};
        std::unique_ptr<unsigned char[]> data;
        zarnik::ReadOutcome failure;
        EXPECT_TRUE(archive->ReadFileData(entry, data, failure)) << entry->m_Path;
        if (data)
            listed.data.assign(data.get(), data.get() + entry->m_UnpackedSize);
        listed.stored.assign(file.begin() + entry->m_Offset, file.begin() + entry->m_Offset + entry->m_PackedSize);
        out.push_back(std::move(listed));
    }
    return out;
}

const std::vector<testpack::Entry> kEntries = {
    MakeEntry("content\\a.txt", std::string(3000, 'a')),
    MakeEntry("content\\x\\b.bin", Pattern(5000, 2), Storage::Stored),
    MakeEntry("content\\x\\y\\c.txt", std::string(2000, 'c')),
    MakeEntry("content\\x\\d.txt", "d"),
    MakeEntry("content\\z.bin", Pattern(100, 3)),
};

// A set's second data file, which changes move no entry into.
const testpack::Entry kOther = MakeEntry("content\\other\\o.txt", std::string(700, 'o'));

// The same entries in our writer's layout and in layouts only another
// writer makes: two file tables, foreign chunks before and after; then
// a .vfs set of two data files (a chunk passed over before them, bytes
// after the entries, a last chunk naming data0.vfs whose name fills it),
// opened through content.vfi (2) and its data file (3).
std::string WritePack(const TempDir &dir, int layout)
{
    if (layout >= 2) {
        testpack::VfsOptions other;
        other.dataName = "data1.vfs";
        const testpack::VfsSet second = testpack::BuildVfs({kOther}, other);
        testpack::VfsOptions options;
        options.before = {{0xFFFFFFFFu, Pattern(12, 6)}};
        Bytes nameOnly = zarnik::packformat::IndexChunkData("data0.vfs", {});
        nameOnly.resize(nameOnly.size() - zarnik::packformat::kIndexGapSize);
        options.after = {{0, Bytes(second.index.begin() + 8, second.index.end())}, {0, nameOnly}};
        options.trailing = Pattern(7, 8);
        const std::string data = WriteVfs(dir, kEntries, options);
        WriteAll(dir.file("data1.vfs"), second.data);
        return layout == 2 ? dir.file("content.vfi") : data;
    }
    const std::string path = dir.file("p.upk");
    if (layout == 0) {
        std::vector<zarnik_pack::Entry> entries;
        for (const testpack::Entry &e : kEntries)
            entries.push_back({e.path, e.data, e.storage});
        WriteAll(path, *zarnik_pack::BuildUpk(entries));
    } else {
        testpack::UpkOptions options;
        options.tables = 2;
        options.before = {{7, Pattern(33, 4)}};
        options.after = {{9, Pattern(17, 5)}};
        WriteAll(path, testpack::BuildUpk(kEntries, options));
    }
    return path;
}

// The files a change adds, on disk beside the pack.
struct Sources
{
    explicit Sources(const TempDir &dir) : newFile(dir.file("new.txt")), noise(dir.file("noise.bin"))
    {
        WriteAll(newFile, zarnik_pack::ToBytes(std::string(4000, 'n')));
        WriteAll(noise, Pattern(300000, 9));
    }
    std::string newFile, noise;
};

} // namespace

TEST(PackEdit, EachChangeGivesTheIntendedListingAndKeepsOtherStoredBytes)
{
    struct Case
    {
        const char *name;
        std::function<bool(PackEdit &, const Sources &)> change;
        // Each new path with the original path it keeps, or its source file.
        std::vector<std::pair<std::string, std::string>> expected;
    };
    const std::string A = "content\\a.txt", B = "content\\x\\b.bin", C = "content\\x\\y\\c.txt",
                      D = "content\\x\\d.txt", Z = "content\\z.bin";
    const std::vector<Case> cases = {
        {"no change", [](PackEdit &, const Sources &) { return true; }, {{A, A}, {B, B}, {C, C}, {D, D}, {Z, Z}}},
        {"add to a folder: after its last entry",
         [](PackEdit &e, const Sources &s) { return e.Add("content/x/new.txt", s.newFile, false); },
         {{A, A}, {B, B}, {C, C}, {D, D}, {"content\\x\\new.txt", "new"}, {Z, Z}}},
        {"add to an inner folder",
         [](PackEdit &e, const Sources &s) { return e.Add("content\\x\\y\\n.bin", s.noise, false); },
         {{A, A}, {B, B}, {C, C}, {"content\\x\\y\\n.bin", "noise"}, {D, D}, {Z, Z}}},
        {"add in a new folder of x",
         [](PackEdit &e, const Sources &s) { return e.Add("content\\x\\q\\n.txt", s.newFile, false); },
         {{A, A}, {B, B}, {C, C}, {D, D}, {"content\\x\\q\\n.txt", "new"}, {Z, Z}}},
        {"replace, packed by a stored file",
         [&](PackEdit &e, const Sources &s) { return e.Add(C, s.noise, true); },
         {{A, A}, {B, B}, {C, "noise"}, {D, D}, {Z, Z}}},
        {"delete a file", [&](PackEdit &e, const Sources &) { return e.Delete("content/z.bin"); },
         {{A, A}, {B, B}, {C, C}, {D, D}}},
        {"delete a folder", [&](PackEdit &e, const Sources &) { return e.Delete("content\\x"); }, {{A, A}, {Z, Z}}},
        {"rename a file in place", [&](PackEdit &e, const Sources &) { return e.Rename(C, "content\\c2.txt"); },
         {{A, A}, {B, B}, {"content\\c2.txt", C}, {D, D}, {Z, Z}}},
        {"move a folder", [&](PackEdit &e, const Sources &) { return e.Rename("content\\x", "content/w/x"); },
         {{A, A}, {"content\\w\\x\\b.bin", B}, {"content\\w\\x\\y\\c.txt", C}, {"content\\w\\x\\d.txt", D}, {Z, Z}}},
    };
    for (int layout : {0, 1, 2, 3}) {
        for (const Case &c : cases) {
            TempDir dir;
            const std::string pack = WritePack(dir, layout);
            const bool set = layout >= 2;
            const Sources sources(dir);
            const Bytes before = ReadAll(pack), other = ReadAll(dir.file("data1.vfs"));
            const std::vector<Listed> original = Listing(set ? dir.file("content.vfi") : pack);
            std::unique_ptr<const zarnik::CZarnikArchive> archive = MustOpen(pack);
            PackEdit edit(*archive, pack, false);
            ASSERT_TRUE(!set || edit.SetDataFile("data0.vfs"));
            ASSERT_TRUE(c.change(edit, sources)) << c.name << ": " << edit.Reason();
            zarnik_pack::SaveOptions options;
            // A set is changed where it lies.
            options.out = set ? "" : dir.file("out.upk");
            options.releasePack = [&archive] { archive.reset(); };
            const zarnik_pack::SaveOutcome saved = edit.Save(options);
            ASSERT_EQ(saved.problem, EditProblem::None) << c.name << ": " << saved.reason;

            std::vector<Listed> expected;
            for (const auto &e : c.expected) {
                const auto kept = std::find_if(original.begin(), original.end(),
                                               [&](const Listed &l) { return l.path == e.second; });
                Listed l{e.first, {}, {}};
                if (kept != original.end())
                    l.data = kept->data, l.stored = kept->stored;
                else
                    l.data = ReadAll(e.second == "new" ? sources.newFile : sources.noise);
                expected.push_back(l);
            }
            if (set)
                expected.push_back(original.back());
            std::vector<Listed> got = Listing(set ? dir.file("content.vfi") : options.out);
            // New files' stored form is the writer's to choose.
            for (size_t i = 0; i < std::min(got.size(), expected.size()); ++i)
                if (expected[i].stored.empty() && !expected[i].data.empty())
                    expected[i].stored = got[i].stored;
            EXPECT_EQ(got, expected) << c.name << " in layout " << layout;
            if (!set) {
                EXPECT_EQ(ReadAll(pack), before) << c.name;
                continue;
            }
            // The data file without changes is left alone, the changed one
            // gives way to its new form, and nothing else is left.
            EXPECT_EQ(ReadAll(dir.file("data1.vfs")), other) << c.name;
            std::vector<std::string> names;
            for (const auto &file : FilesBelow(dir.path()))
                names.push_back(file.first);
            const std::string data0 = saved.written.empty() ? "data0.vfs" : "data0~1.vfs";
            EXPECT_EQ(names, (std::vector<std::string>{"content.vfi", data0, "data1.vfs", "new.txt", "noise.bin"}))
                << c.name << " in layout " << layout;
        }
    }
}

// A data file of a set left without entries goes, with its chunk of the index;
// with a backup, the old index opens the old set still.
TEST(PackEdit, ASetDataFileLeftEmptyGoesWithItsChunk)
{
    TempDir dir;
    const std::string index = WritePack(dir, 2);
    const std::vector<Listed> original = Listing(index);
    std::unique_ptr<const zarnik::CZarnikArchive> archive = MustOpen(index);
    PackEdit edit(*archive, index, false);
    ASSERT_TRUE(edit.Delete("content\\other"));
    zarnik_pack::SaveOptions options;
    options.backup = true;
    options.releasePack = [&archive] { archive.reset(); };
    const zarnik_pack::SaveOutcome saved = edit.Save(options);
    ASSERT_EQ(saved.problem, EditProblem::None) << saved.reason;
    EXPECT_EQ(Listing(index), std::vector<Listed>(original.begin(), original.end() - 1));
    EXPECT_EQ(MustOpen(index)->GetDataFileCount(), 1u);
    // The backup index still opens the old set, whose data files stay.
    const auto old = zarnik::CZarnikArchive::OpenIndexFile(dir.file("content.vfi.bak"));
    ASSERT_TRUE(old.archive);
    EXPECT_EQ(old.archive->GetEntries().size(), original.size());
    EXPECT_TRUE(old.archive->GetOpenReport().empty());
}

// No change, or a rename there and back, gives our layout's pack byte for byte.
TEST(PackEdit, RenamingThereAndBackGivesTheSamePack)
{
    TempDir dir;
    const std::string pack = WritePack(dir, 0);
    // `in` with `from` renamed `to` (none: unchanged), saved as `out`.
    const auto saved = [&](const std::string &in, const char *from, const char *to, const char *out) {
        const auto archive = MustOpen(in);
        PackEdit edit(*archive, in, false);
        EXPECT_TRUE(!from || edit.Rename(from, to));
        zarnik_pack::SaveOptions options;
        options.out = dir.file(out);
        EXPECT_EQ(edit.Save(options).problem, EditProblem::None);
        return options.out;
    };
    EXPECT_EQ(ReadAll(saved(pack, nullptr, nullptr, "same.upk")), ReadAll(pack));
    const std::string there = saved(pack, "content\\x", "content\\elsewhere\\x2", "there.upk");
    EXPECT_EQ(ReadAll(saved(there, "content\\elsewhere\\x2", "content\\x", "back.upk")), ReadAll(pack));
}

// A change a reader could not take is refused and leaves the edit as it was.
TEST(PackEdit, RefusedChangesLeaveTheEditAsItWas)
{
    TempDir dir;
    const std::string pack = WritePack(dir, 0);
    const Sources s(dir);
    const auto archive = MustOpen(pack);
    PackEdit edit(*archive, pack, false);
    const std::vector<std::pair<const char *, std::function<bool()>>> refused = {
        {"outside content", [&] { return edit.Add("other\\n.txt", s.newFile, false); }},
        {"content alone", [&] { return edit.Add("content", s.newFile, false); }},
        {"a dot-dot segment", [&] { return edit.Add("content\\..\\n.txt", s.newFile, false); }},
        {"an empty segment", [&] { return edit.Add("content\\x\\\\n.txt", s.newFile, false); }},
        {"content again inside", [&] { return edit.Add("content\\x\\content\\n.txt", s.newFile, false); }},
        {"too long", [&] { return edit.Add("content\\" + std::string(260, 'l'), s.newFile, false); }},
        {"existing without replace", [&] { return edit.Add("content\\a.txt", s.newFile, false); }},
        {"where a folder is", [&] { return edit.Add("content\\x", s.newFile, true); }},
        {"below a file", [&] { return edit.Add("content\\a.txt\\n.txt", s.newFile, false); }},
        {"a missing source", [&] { return edit.Add("content\\n.txt", dir.file("none"), false); }},
        {"delete a missing path", [&] { return edit.Delete("content\\none"); }},
        {"rename a missing path", [&] { return edit.Rename("content\\none", "content\\n"); }},
        {"rename onto a file", [&] { return edit.Rename("content\\a.txt", "content\\z.bin"); }},
        {"move a folder into itself", [&] { return edit.Rename("content\\x", "content\\x\\y\\x"); }},
        {"a folder whose files' paths grow too long",
         [&] { return edit.Rename("content\\x", "content\\" + std::string(248, 'x')); }},
    };
    for (const auto &r : refused) {
        EXPECT_FALSE(r.second()) << r.first;
        EXPECT_FALSE(edit.Reason().empty()) << r.first;
    }
    zarnik_pack::SaveOptions options;
    options.out = dir.file("out.upk");
    ASSERT_EQ(edit.Save(options).problem, EditProblem::None);
    EXPECT_EQ(ReadAll(options.out), ReadAll(pack));
    // An existing destination is never written over.
    EXPECT_EQ(edit.Save(options).problem, EditProblem::Refused);
}

// A damaged pack is refused unless the caller drops the damage, which is listed and left out.
TEST(PackEdit, ADamagedPackIsChangedOnlyWhenTheCallerDropsTheDamage)
{
    TempDir dir;
    std::vector<testpack::Entry> entries = kEntries;
    entries.push_back(MakeEntry("content\\a.txt", "second a"));
    testpack::Entry outside = MakeEntry("content\\far.bin", "far");
    outside.offset = 1u << 30;
    entries.push_back(outside);
    const std::string pack = WriteUpk(dir, entries);
    const auto archive = MustOpen(pack);
    PackEdit refused(*archive, pack, false);
    EXPECT_FALSE(refused.Usable());
    zarnik_pack::SaveOptions options;
    options.out = dir.file("out.upk");
    EXPECT_EQ(refused.Save(options).problem, EditProblem::Refused);
    EXPECT_FALSE(fs::exists(options.out));

    PackEdit dropping(*archive, pack, true);
    ASSERT_TRUE(dropping.Usable());
    EXPECT_EQ(dropping.Dropped(), (std::vector<std::string>{
                                      std::string(zarnik::OpenReportText(zarnik::OpenReportItem::Kind::DuplicatePath)) +
                                          ": content/a.txt",
                                      "stored bytes outside the pack: content/far.bin"}));
    ASSERT_EQ(dropping.Save(options).problem, EditProblem::None);
    std::vector<std::string> paths;
    for (const Listed &l : Listing(options.out))
        paths.push_back(l.path);
    EXPECT_EQ(paths, (std::vector<std::string>{"content\\a.txt", "content\\x\\b.bin", "content\\x\\y\\c.txt",
                                               "content\\x\\d.txt", "content\\z.bin"}));
}

// Over the original, keeping NAME.bak: a stop, kill, full disk, read-only folder or
// 4 GiB pack leaves the original and nothing beside it; a re-run then succeeds.
TEST(PackEdit, TheOriginalIsReplacedWholeOrNotAtAll)
{
    TempDir dir;
    const std::string pack = WritePack(dir, 0);
    const Sources s(dir);
    const Bytes original = ReadAll(pack);
    const Files beside = FilesBelow(dir.path());
    // `at` is called at every point of the save a kill may hit: each
    // progress report (writing and reading back), before the backup is
    // made and just before the new pack takes the original's place.
    auto save = [&](const std::atomic<bool> *stop, std::function<void()> at = {}) {
        std::unique_ptr<const zarnik::CZarnikArchive> archive = MustOpen(pack);
        PackEdit edit(*archive, pack, false);
        EXPECT_TRUE(edit.Add("content\\x\\n.bin", s.noise, true));
        zarnik_pack::SaveOptions options;
        options.backup = true;
        options.releasePack = [&archive, at] {
            archive.reset();
            if (at)
                at();
        };
        options.stop = stop;
        if (at) {
            options.progress = [at](uint64_t, uint64_t) { at(); };
            options.stage = [at](zarnik_pack::SaveStage) { at(); };
        }
        return edit.Save(options);
    };

    std::atomic<bool> stop{true};
    EXPECT_EQ(save(&stop).problem, EditProblem::Stopped);
    EXPECT_EQ(FilesBelow(dir.path()), beside);

    // A pack that would reach 4 GiB (a sparse source) is refused before writing.
    {
        const std::string huge = dir.file("huge.bin");
        std::ofstream(fs::u8path(huge)).close();
        fs::resize_file(fs::u8path(huge), 0xFFFF0000ull);
        const auto archive = MustOpen(pack);
        PackEdit edit(*archive, pack, false);
        ASSERT_TRUE(edit.Add("content\\huge.bin", huge, false)) << edit.Reason();
        EXPECT_EQ(edit.Save({}).problem, EditProblem::Refused);
        fs::remove(fs::u8path(huge));
        EXPECT_EQ(FilesBelow(dir.path()), beside);
    }

#ifndef _WIN32
    // Killed at each point in turn: PACK is the original or the whole new
    // pack, never neither, and a re-run (at the end) succeeds.
    bool backupPending = false;
    for (int killAt = 1;; ++killAt) {
        const bool killed = InChild([&] {
            int calls = 0;
            save(nullptr, [&] {
                if (++calls == killAt)
                    raise(SIGKILL);
            });
            return 0;
        }) == -SIGKILL;
        const Files left = FilesBelow(dir.path());
        if (ReadAll(pack) != original) {
            EXPECT_EQ(Listing(pack).size(), kEntries.size() + 1) << killAt;
            EXPECT_TRUE(std::any_of(left.begin(), left.end(), [&](const auto &f) { return f.second == original; }))
                << "killed at " << killAt << ": the old pack was not kept";
        }
        const bool pending = std::any_of(left.begin(), left.end(), [](const auto &f) {
            return f.first.find(".bak.zarnik-partial") != std::string::npos;
        });
        for (const auto &f : left) // back to the original alone
            if (!beside.count(f.first))
                fs::remove(dir.path() / fs::u8path(f.first));
        WriteAll(pack, original);
        if (!killed) {
            // The last point was after the backup and before the rename.
            EXPECT_TRUE(backupPending) << killAt;
            break;
        }
        backupPending = pending;
    }

    // A full disk and a read-only folder, each in a child process.
    const auto inChild = [&](const std::function<bool()> &setUp) {
        return InChild([&] { return !setUp() ? 2 : save(nullptr).problem == EditProblem::WriteFailed ? 0 : 3; });
    };
    const rlimit fullDisk = {16 * 1024, 16 * 1024};
    EXPECT_EQ(inChild([&] { return setrlimit(RLIMIT_FSIZE, &fullDisk) == 0; }), 0);
    EXPECT_EQ(FilesBelow(dir.path()), beside);
    const std::string folder = dir.str();
    const int readOnly = inChild([&] {
        return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
               mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    });
    EXPECT_NE(readOnly, 3) << "a read-only folder was not reported";
    EXPECT_EQ(FilesBelow(dir.path()), beside);
#endif
    const zarnik_pack::SaveOutcome saved = save(nullptr);
    ASSERT_EQ(saved.problem, EditProblem::None) << saved.reason;
    EXPECT_EQ(ReadAll(pack + ".bak"), original);
    EXPECT_EQ(Listing(pack).size(), kEntries.size() + 1);
    EXPECT_EQ(FilesBelow(dir.path()).size(), beside.size() + 1);
    // The backup is never written over.
    EXPECT_EQ(save(nullptr).problem, EditProblem::Refused);
}

#ifndef _WIN32
// A set killed at each point of a change in turn opens whole, as it was or as
// changed, with nothing but left-over files its index does not name.
TEST(PackEdit, ASetChangeIsWholeOrNothingAtEveryKill)
{
    for (int killAt = 1;; ++killAt) {
        TempDir dir;
        const std::string index = WritePack(dir, 2);
        const Sources s(dir);
        const std::vector<Listed> original = Listing(index);
        const int status = InChild([&] {
            int calls = 0;
            const auto at = [&] {
                if (++calls == killAt)
                    raise(SIGKILL);
            };
            std::unique_ptr<const zarnik::CZarnikArchive> archive = MustOpen(index);
            PackEdit edit(*archive, index, false);
            edit.Add("content\\x\\y\\c.txt", s.noise, true);
            edit.Add("content\\other\\n.txt", s.newFile, false);
            zarnik_pack::SaveOptions options;
            options.releasePack = [&] { archive.reset(), at(); };
            options.progress = [&](uint64_t, uint64_t) { at(); };
            options.stage = [&](zarnik_pack::SaveStage) { at(); };
            return edit.Save(options).problem == EditProblem::None ? 0 : 1;
        });
        const std::vector<Listed> now = Listing(index);
        if (status >= 0) {
            EXPECT_EQ(status, 0);
            ASSERT_EQ(now.size(), original.size() + 1);
            EXPECT_EQ(now[2].data, ReadAll(s.noise));
            EXPECT_GT(killAt, 4);
            break;
        }
        EXPECT_EQ(now, original) << "killed at " << killAt;
    }
}

// In place, the new pack keeps the permission bits of the old one, whatever the umask says.
TEST(PackEdit, InPlaceTheNewPackKeepsThePacksPermissions)
{
    const mode_t mask = umask(0);
    for (const fs::perms mode : {fs::perms(0640), fs::perms(0600), fs::perms(0444)}) {
        TempDir dir;
        const std::string pack = WritePack(dir, 0);
        fs::permissions(fs::u8path(pack), mode);
        std::unique_ptr<const zarnik::CZarnikArchive> archive = MustOpen(pack);
        PackEdit edit(*archive, pack, false);
        ASSERT_TRUE(edit.Delete("content\\z.bin"));
        zarnik_pack::SaveOptions options;
        options.releasePack = [&archive] { archive.reset(); };
        ASSERT_EQ(edit.Save(options).problem, EditProblem::None);
        EXPECT_EQ(fs::status(fs::u8path(pack)).permissions(), mode) << int(mode);
    }
    umask(mask);
}
#endif
