// Changing a pack: intended listing, other entries' stored bytes kept, refusals
// write nothing, and a stopped/killed/failed save leaves the original untouched.
#include "ArchiveSupport.h"
#include "PackEdit.h"
#include "PackFormat.h"
#include "PackWriter.h"
#include "PlatformFaults.h"
#include "TestSupport.h"

#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#ifndef _WIN32
#include <pwd.h>
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

// Every entry of the pack at `path` in table order, read back (none when there is no such file); with
// `index`, `path` is a set's index whatever its name (a backup).
std::vector<Listed> Listing(const std::string &path, bool index = false)
{
    std::vector<Listed> out;
    if (!fs::exists(fs::u8path(path)))
        return out;
    const auto archive = index ? zarnik::CZarnikArchive::OpenIndexFile(path).archive : MustOpen(path);
    if (!archive)
        return out;
    // A data file the index names that is missing and held nothing loses nothing.
    for (const zarnik::OpenReportItem &item : archive->GetOpenReport())
        EXPECT_TRUE(item.kind == zarnik::OpenReportItem::Kind::DataFileMissing && !item.entriesLost) << path;
    for (const zarnik::ArchiveNode *entry : archive->GetEntries()) {
        const Bytes file = ReadAll(archive->GetDataFilePath(entry->m_DataFile));
        std::unique_ptr<unsigned char[]> data;
        zarnik::ReadOutcome failure;
        EXPECT_TRUE(archive->ReadFileData(entry, data, failure)) << entry->m_Path;
        out.push_back({entry->m_Path, data ? Bytes(data.get(), data.get() + entry->m_UnpackedSize) : Bytes(),
                       Bytes(file.begin() + entry->m_Offset, file.begin() + entry->m_Offset + entry->m_PackedSize)});
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

// A chunk of a set's index naming a data file that is missing, and no entry: under the
// name data0.vfs would take first, which a save leaves to it.
Bytes EmptyChunkOfAMissingDataFile()
{
    Bytes chunk;
    zarnik::packformat::AppendChunk(chunk, zarnik::packformat::kIndexChunkId, zarnik::packformat::IndexChunkData("data0~1.vfs", {}));
    return chunk;
}

// The same entries in our writer's layout and in layouts only another
// writer makes: two file tables, foreign chunks before and after; then
// a .vfs set of two data files (a chunk passed over before them, one naming
// a missing data file and no entry, bytes after the entries, a last chunk
// naming data0.vfs whose name fills it), opened through content.vfi (2) and
// its data file (3).
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
        const Bytes missing = EmptyChunkOfAMissingDataFile();
        options.after = {{0, Bytes(second.index.begin() + 8, second.index.end())},
                         {0, Bytes(missing.begin() + 8, missing.end())}, {0, nameOnly}};
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

// A folder of its own holding the pack in WritePack's `layout` (none from 4 on) and,
// beside it, the files a change adds.
struct Sample : TempDir
{
    explicit Sample(int layout) : pack(layout < 4 ? WritePack(*this, layout) : "")
    {
        WriteAll(newFile, ToBytes(std::string(4000, 'n')));
        WriteAll(noise, Pattern(300000, 9));
    }
    const std::string pack, newFile = file("new.txt"), noise = file("noise.bin");
};

// `change` made on the pack at `path` and saved with `options`; the pack is let go
// before the save replaces it (Windows replaces no open file), then `releasePack` runs.
zarnik_pack::SaveOutcome SaveChange(const std::string &path, const std::function<bool(PackEdit &)> &change,
                                    zarnik_pack::SaveOptions options = {})
{
    std::unique_ptr<const zarnik::CZarnikArchive> archive = MustOpen(path);
    PackEdit edit(*archive, path, false);
    EXPECT_TRUE(change(edit)) << path << ": " << edit.Reason();
    options.releasePack = [&archive, then = options.releasePack] {
        archive.reset();
        if (then)
            then();
    };
    return edit.Save(options);
}

// One step of a change, below the root: "+P" adds new.txt at P, "=P" replaces P with
// noise.bin, "-P" deletes P, "A>B" renames A to B; false when refused.
bool Apply(PackEdit &edit, const std::string &step, const Sample &s)
{
    const size_t to = step.find('>');
    if (to != std::string::npos)
        return edit.Rename("content/" + step.substr(0, to), "content\\" + step.substr(to + 1));
    const std::string path = "content/" + step.substr(1);
    return step[0] == '+' ? edit.Add(path, s.newFile, false) : step[0] == '=' ? edit.Add(path, s.noise, true) : edit.Delete(path);
}

// Each entry as the changes' listings write it: "P" kept, "P<O" kept from O (the data and
// the stored bytes both), "P+" new.txt, "P=" noise.bin, "P?" none of these.
std::string Described(const std::vector<Listed> &got, const std::vector<Listed> &original, const Sample &s)
{
    std::string out;
    const auto shown = [](const std::string &path) { return zarnik::WithSlashes(path).substr(8); };
    for (const Listed &l : got) {
        const auto from = std::find_if(original.begin(), original.end(),
                                       [&](const Listed &o) { return o.data == l.data && o.stored == l.stored; });
        out += (out.empty() ? "" : " ") + shown(l.path) +
               (from != original.end() ? (from->path == l.path ? "" : "<" + shown(from->path))
                : l.data == ReadAll(s.newFile) ? "+" : l.data == ReadAll(s.noise) ? "=" : "?");
    }
    return out;
}

} // namespace

// Each change, saved from each layout: the listing ("P" kept, "P<O" kept from O, "P+" new.txt,
// "P=" noise.bin), every kept entry's stored bytes as they were, and nothing else changed.
TEST(PackEdit, EachChangeGivesTheIntendedListingAndKeepsOtherStoredBytes)
{
    const std::pair<const char *, const char *> cases[] = {
        {"", "a.txt x/b.bin x/y/c.txt x/d.txt z.bin"},
        {"+x/new.txt", "a.txt x/b.bin x/y/c.txt x/d.txt x/new.txt+ z.bin"}, // after its folder's last entry
        {"+x/y/n.bin", "a.txt x/b.bin x/y/c.txt x/y/n.bin+ x/d.txt z.bin"},
        {"+x/q/n.txt", "a.txt x/b.bin x/y/c.txt x/d.txt x/q/n.txt+ z.bin"}, // in a new folder of x
        {"=x/y/c.txt", "a.txt x/b.bin x/y/c.txt= x/d.txt z.bin"},          // packed, replaced by a stored file
        {"-z.bin", "a.txt x/b.bin x/y/c.txt x/d.txt"},
        {"-x", "a.txt z.bin"},
        {"x/y/c.txt>c2.txt", "a.txt x/b.bin c2.txt<x/y/c.txt x/d.txt z.bin"},
        {"x>X", "a.txt X/b.bin<x/b.bin X/y/c.txt<x/y/c.txt X/d.txt<x/d.txt z.bin"},
        {"x>w/x", "a.txt w/x/b.bin<x/b.bin w/x/y/c.txt<x/y/c.txt w/x/d.txt<x/d.txt z.bin"},
    };
    for (int layout : {0, 1, 2, 3}) {
        for (const auto &[step, listing] : cases) {
            const Sample dir(layout);
            const std::string &pack = dir.pack, trace = step + std::string(" in layout ") + std::to_string(layout);
            const bool set = layout >= 2; // changed where it lies
            const std::string readBack = set ? dir.file("content.vfi") : dir.file("out.upk");
            const Bytes other = ReadAll(dir.file("data1.vfs"));
            const std::vector<Listed> original = Listing(set ? readBack : pack);
            zarnik_pack::SaveOptions options;
            options.out = set ? "" : readBack;
            const zarnik_pack::SaveOutcome saved = SaveChange(pack, [&](PackEdit &e) {
                return (!set || e.SetDataFile("data0.vfs")) && (!*step || Apply(e, step, dir));
            }, options);
            ASSERT_EQ(saved.problem, EditProblem::None) << trace << ": " << saved.reason;
            EXPECT_EQ(Described(Listing(readBack), original, dir), listing + std::string(set ? " other/o.txt" : "")) << trace;
            if (!set)
                continue;
            // The data file without changes is left alone; the chunk of a missing data file stays.
            EXPECT_EQ(ReadAll(dir.file("data1.vfs")), other) << trace;
            const Bytes index = ReadAll(dir.file("content.vfi")), chunk = EmptyChunkOfAMissingDataFile();
            EXPECT_NE(std::search(index.begin(), index.end(), chunk.begin(), chunk.end()), index.end()) << trace;
        }
    }
}

// A set's changes one after another: a data file left without entries goes with its
// chunk, a changed one takes the next free name of its own (data0~3.vfs, never
// data0~2~1.vfs), and the data files a backup index names stay until the backup goes.
// An index reached through a link is changed where the link leads, in the set's folder.
TEST(PackEdit, ASetKeepsWhatItsBackupNamesAndNamesDataFilesAfterTheFirst)
{
    const Sample dir(2);
    const std::string index = dir.file("content.vfi"), real = dir.file(kWindows ? "content.vfi" : "index.real");
    if (!kWindows) {
        fs::rename(fs::u8path(index), fs::u8path(real));
        fs::create_symlink("index.real", fs::u8path(index));
    }
    const std::vector<Listed> original = Listing(index);
    const auto change = [&](const std::function<bool(PackEdit &)> &edit, bool backup) {
        zarnik_pack::SaveOptions options;
        options.backup = backup;
        const zarnik_pack::SaveOutcome saved = SaveChange(index, edit, options);
        EXPECT_EQ(saved.problem, EditProblem::None) << saved.reason;
        std::set<std::string> names;
        for (const auto &file : FilesBelow(dir.path()))
            names.insert(file.first);
        return names;
    };
    const auto add = [&](PackEdit &e) { return e.SetDataFile("data0.vfs") && e.Add("content\\n.txt", dir.newFile, false); };
    const std::string realName = fs::u8path(real).filename().u8string();
    std::set<std::string> expected = {"content.vfi", realName, realName + ".bak", "data0.vfs", "data0~2.vfs",
                                      "data1.vfs", "new.txt", "noise.bin"};
    EXPECT_EQ(change(add, true), expected);
    EXPECT_EQ(change([](PackEdit &e) { return e.Delete("content\\other"); }, false).count("data1.vfs"), 1u);
    expected.erase("data0~2.vfs"), expected.insert("data0~3.vfs");
    EXPECT_EQ(change([](PackEdit &e) { return e.Delete("content\\n.txt"); }, false), expected);
    EXPECT_EQ(fs::is_symlink(fs::u8path(index)), !kWindows);
    EXPECT_EQ(Listing(index), std::vector<Listed>(original.begin(), original.end() - 1));
    EXPECT_EQ(Listing(real + ".bak", true), original);

    // An index whose link leads out of the set's folder is refused, and nothing changes.
    SKIP_ON_WINDOWS("symbolic links");
    TempDir other;
    fs::create_symlink(dir.path() / "index.real", other.path() / "content.vfi");
    fs::copy_file(dir.path() / "data0~3.vfs", other.path() / "data0~3.vfs");
    const std::string linked = other.file("content.vfi");
    const auto archive = MustOpen(linked);
    PackEdit refused(*archive, linked, false);
    ASSERT_TRUE(refused.Delete("content\\a.txt"));
    const Files before = FilesBelow(dir.path());
    EXPECT_EQ(refused.Save({}).problem, EditProblem::Refused);
    EXPECT_EQ(FilesBelow(dir.path()), before);
}

// A change a reader could not take is refused and leaves the edit as it was; a save
// that would make a pack of 4 GiB is refused before anything is written.
TEST(PackEdit, RefusedChangesLeaveTheEditAsItWas)
{
    const Sample dir(0);
    const auto archive = MustOpen(dir.pack);
    PackEdit edit(*archive, dir.pack, false);
    const auto refused = [&](const std::string &what, bool done) {
        EXPECT_FALSE(done) << what;
        EXPECT_FALSE(edit.Reason().empty()) << what;
    };
    // A path the rule refuses, names and folders differing only in case, an existing path
    // without replace, where a folder is, below a file, missing paths, onto a file, into itself.
    for (const char *step : {"+x/content/n.txt", "=A.TXT", "z.bin>X/z.bin", "+a.txt", "=x", "+a.txt/n.txt", "-none",
                             "none>n", "a.txt>z.bin", "x>x/y/x"})
        refused(step, Apply(edit, step, dir));
    refused("a missing source", edit.Add("content\\n.txt", dir.file("none"), false));
    refused("delete the root", edit.Delete("content"));
    refused("rename the root", edit.Rename("content", "content\\y"));
    // Its longest path below, "\y\c.txt", would end one byte past what a reader takes.
    refused("too long below", edit.Rename("content\\x", "content\\" + std::string(zarnik::packformat::kMaxPathLength - 15, 'x')));
    zarnik_pack::SaveOptions options;
    options.out = dir.file("out.upk");
    ASSERT_EQ(edit.Save(options).problem, EditProblem::None);
    EXPECT_EQ(ReadAll(options.out), ReadAll(dir.pack));
    // An existing destination is never written over.
    EXPECT_EQ(edit.Save(options).problem, EditProblem::Refused);
    // A pack that would reach 4 GiB (a sparse source) is refused before anything is written.
    const Files before = FilesBelow(dir.path());
    const std::string huge = dir.file("huge.bin");
    std::ofstream(fs::u8path(huge)).close();
    fs::resize_file(fs::u8path(huge), 0xFFFF0000ull);
    ASSERT_TRUE(edit.Add("content\\huge.bin", huge, false)) << edit.Reason();
    EXPECT_EQ(edit.Save({}).problem, EditProblem::Refused);
    fs::remove(fs::u8path(huge));
    EXPECT_EQ(FilesBelow(dir.path()), before);
}

namespace {

// Whether `change` (the step, or its undo) succeeds and names as touched the folders of the
// step's paths ("A>B", "+P", "=P", "-P") before and after it: the one a node left as the one it entered.
bool TouchesItsFolders(PackEdit &edit, const std::string &step, const std::function<bool()> &change)
{
    std::set<const zarnik::ArchiveNode *> folders;
    const auto note = [&] {
        std::istringstream paths(step.substr(step.find_first_not_of("+=-")));
        for (std::string path; std::getline(paths, path, '>');) {
            path = zarnik::WithBackslashes("content/" + path);
            if (const zarnik::ArchiveNode *folder = edit.Record().Find(path.substr(0, path.rfind('\\'))))
                folders.insert(folder);
        }
    };
    note();
    if (!change())
        return false;
    note();
    for (const zarnik::ArchiveNode *folder : edit.Touched().folders)
        folders.erase(folder);
    return folders.empty();
}

// The changes as one line of steps, each file's origin checked against them.
std::string Shown(const PackEdit &edit)
{
    const zarnik_pack::EditChanges c = edit.Changes();
    std::string out;
    const auto put = [&](const std::string &text) { out += (out.empty() ? "" : " ") + text; };
    for (const auto &[list, mark] : {std::pair(&c.added, "+"), {&c.replaced, "="}})
        for (const std::string &path : *list)
            put(mark + path.substr(8));
    for (const auto &[from, to] : c.renamed)
        put(from.substr(8) + ">" + to.substr(8));
    for (const std::string &path : c.deleted)
        put("-" + path.substr(8));
    // Each file's origin agrees with the lists.
    for (const PackEdit::Item &item : edit.Items()) {
        const zarnik_pack::FileOrigin o = edit.OriginOf(item.path);
        const auto in = [&](const std::vector<std::string> &l) { return std::count(l.begin(), l.end(), item.path); };
        const bool renamed = std::any_of(c.renamed.begin(), c.renamed.end(), [&](const auto &r) { return r.second == item.path; });
        using Kind = zarnik_pack::FileOrigin::Kind;
        EXPECT_EQ(o.kind, in(c.added) ? Kind::Added : in(c.replaced) ? Kind::Replacing : renamed ? Kind::Renamed : Kind::Kept)
            << item.path;
        EXPECT_EQ(!o.from.empty(), renamed) << item.path;
        // The entry kept or replaced, as the pack held it.
        EXPECT_TRUE(o.kind == Kind::Added ? !o.entry : o.entry && o.entry->m_Path == (renamed ? o.from : item.path))
            << item.path;
    }
    // Each folder's totals, kept as the record changes, agree with the files listed below it.
    std::map<std::string, std::pair<uint64_t, uint64_t>> below;
    for (const PackEdit::Item &item : edit.Items())
        for (size_t cut = item.path.rfind('\\'); cut != std::string::npos; cut = item.path.rfind('\\', cut - 1)) {
            auto &[files, bytes] = below[item.path.substr(0, cut)];
            ++files, bytes += item.node ? item.node->m_UnpackedSize : item.size;
        }
    for (const auto &[folder, files] : below) {
        const zarnik_pack::FolderTotals &t = edit.Record().Totals(edit.Record().Find(folder));
        EXPECT_EQ(std::pair(t.keptFiles, t.kept.unpackedBytes), files) << folder << " in " << out;
    }
    EXPECT_EQ(edit.Record().Totals(edit.Record().Root()).deletedFiles, c.deleted.size()) << out;
    return zarnik::WithSlashes(out);
}

} // namespace

// The edit's record through sequences of changes: what Changes() lists (added +, replaced =, renamed A>B,
// deleted -, "content\\" left out), where OriginOf() says each file comes from, and each change taken back in
// turn until the pack is as opened, each step and undo naming the folders it touched. Steps as Apply() takes them.
TEST(PackEdit, ChangeSequencesAreRecordedAndTakenBackOneByOne)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a.txt>c.txt =c.txt", "=c.txt a.txt>c.txt"},
        {"=a.txt a.txt>q/a.txt", "=q/a.txt a.txt>q/a.txt"},
        {"-z.bin +z.bin", "=z.bin"},
        {"-z.bin a.txt>z.bin", "a.txt>z.bin -z.bin"},
        {"a.txt>c.txt c.txt>a.txt", ""},
        {"x>xw +xw/n.txt", "+xw/n.txt x/b.bin>xw/b.bin x/y/c.txt>xw/y/c.txt x/d.txt>xw/d.txt"},
        {"+x/n.txt x>w -w", "-x/b.bin -x/y/c.txt -x/d.txt"},
        {"a.txt>x/a.txt -x", "-a.txt -x/b.bin -x/y/c.txt -x/d.txt"},
        {"x/d.txt>d.txt -x", "x/d.txt>d.txt -x/b.bin -x/y/c.txt"},
        // A name renamed or moved away leaves its letters free.
        {"a.txt>q.txt +A.txt", "+A.txt a.txt>q.txt"},
        {"a.txt>x/a.txt +A.txt", "+A.txt a.txt>x/a.txt"},
    };
    const Sample dir(0);
    const auto archive = MustOpen(dir.pack);
    for (const auto &[steps, changes] : cases) {
        PackEdit edit(*archive, dir.pack, false);
        std::vector<std::string> before, done;
        std::istringstream in(steps);
        for (std::string step; in >> step; done.push_back(step)) {
            before.push_back(Shown(edit));
            ASSERT_TRUE(TouchesItsFolders(edit, step, [&] { return Apply(edit, step, dir); })) << steps << ": " << step << ": " << edit.Reason();
        }
        EXPECT_EQ(Shown(edit), changes) << steps;
        for (; !before.empty(); before.pop_back(), done.pop_back()) {
            ASSERT_TRUE(TouchesItsFolders(edit, done.back(), [&] { return edit.Undo(); })) << steps << ": undoing " << done.back();
            EXPECT_EQ(Shown(edit), before.back()) << steps << ", undone to " << before.size();
        }
        EXPECT_TRUE(!edit.Undo() && !edit.HasChanges()) << steps;
    }
    // Changes made as one are taken back as one, also when one of them is refused half-way.
    PackEdit edit(*archive, dir.pack, false);
    edit.BeginChange();
    EXPECT_TRUE(edit.Add("content\\n.txt", dir.newFile, false) && edit.Delete("content\\x"));
    EXPECT_FALSE(edit.Add("content\\a.txt", dir.newFile, false));
    edit.CancelChange();
    EXPECT_TRUE(Shown(edit).empty() && !edit.CanUndo());
    // A new name may not differ only in case from one an undo brought back, nor from a folder an add made.
    ASSERT_TRUE(edit.Rename("content\\x\\d.txt", "content\\d.txt") && edit.Add("content\\x\\n.txt", dir.newFile, false));
    ASSERT_TRUE(edit.Undo() && edit.Undo());
    EXPECT_FALSE(edit.Add("content\\x\\D.TXT", dir.newFile, false));
    ASSERT_TRUE(edit.Add("content\\G\\n.txt", dir.newFile, false));
    EXPECT_FALSE(edit.Add("content\\g\\n.txt", dir.newFile, false));
    // Nor from a name added where a renamed file's old name still stands in the folder's index.
    ASSERT_TRUE(edit.Rename("content\\a.txt", "content\\q.txt") && edit.Add("content\\A.txt", dir.newFile, false));
    EXPECT_FALSE(edit.Add("content\\a.TXT", dir.newFile, false));
}

// A damaged pack is refused unless the caller drops the damage, which is listed and left out;
// an empty file another writer stored in no bytes is no damage, and is kept.
TEST(PackEdit, ADamagedPackIsChangedOnlyWhenTheCallerDropsTheDamage)
{
    TempDir dir;
    std::vector<testpack::Entry> entries = kEntries;
    testpack::Entry outside = MakeEntry("content\\far.bin", "far"), empty = MakeEntry("content\\e.txt", "");
    outside.offset = 1u << 30;
    empty.packedSize = 0;
    entries.insert(entries.end(), {MakeEntry("content\\a.txt", "second a"), outside, empty});
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
    std::string paths;
    for (const Listed &l : Listing(options.out))
        paths += zarnik::WithSlashes(l.path) + " ";
    EXPECT_EQ(paths, "content/a.txt content/x/b.bin content/x/y/c.txt content/x/d.txt content/z.bin content/e.txt ");
}

namespace {

// Fails the file layer's `failAt`th step of a save (none for 0), and with `held` every
// removal after it, as of a file another program holds; counts the steps. With `kill`
// the process ends just before that step instead, at once as if killed (status `killed`).
struct StepFault
{
    static inline int calls, failAt;
    static inline bool held, kill;
    static inline std::map<zarnik::PlatformStep, int> counts;
    static constexpr int killed = 99;
    static bool Call(zarnik::PlatformStep step, const std::string &)
    {
        ++counts[step];
        if (++calls == failAt && kill)
            std::_Exit(killed);
        return calls == failAt || (held && failAt && calls > failAt && step == zarnik::PlatformStep::Remove);
    }
};

// A change of each kind of pack, with the paths it reads back through.
struct Saving
{
    const char *name;
    int layout; // WritePack's, or 4 and 5: a new single pack and a new set
    bool out, backup, sync;
    bool held = true; // the files a failed step leaves are held by another program
};

// Saves in place: over a single pack keeping a backup, and a set where it lies.
const Saving kInPlace = {"in place, with a backup", 0, false, true, false};
const Saving kSet = {"a set", 2, false, false, false};

// Saves the change `saving` makes in `dir`, with `at` called as the save enters each stage.
zarnik_pack::SaveOutcome SaveAChange(const Sample &dir, const Saving &saving,
                                     const std::function<void(zarnik_pack::SaveStage)> &at = {},
                                     const std::atomic<bool> *stop = nullptr)
{
    std::unique_ptr<const zarnik::CZarnikArchive> archive = dir.pack.empty() ? nullptr : MustOpen(dir.pack);
    const std::unique_ptr<PackEdit> edit = archive ? std::make_unique<PackEdit>(*archive, dir.pack, false)
                                                   : std::make_unique<PackEdit>(dir.file(saving.layout == 4 ? "new.upk" : "new.vfs"));
    EXPECT_TRUE(!archive || edit->Add("content\\x\\y\\c.txt", dir.noise, true)) << edit->Reason();
    EXPECT_TRUE(edit->Add("content\\other\\n.txt", dir.newFile, false)) << edit->Reason();
    zarnik_pack::SaveOptions options;
    options.out = saving.out ? dir.file("out.upk") : "";
    options.backup = saving.backup, options.sync = saving.sync;
    options.releasePack = [&archive] { archive.reset(); };
    options.stage = at;
    options.stop = stop;
    return edit->Save(options);
}

std::string ReadBackPath(const TempDir &dir, const Saving &saving)
{
    return dir.file(saving.out ? "out.upk" : saving.layout == 0 ? "p.upk" : saving.layout == 4 ? "new.upk" : "content.vfi");
}

} // namespace

// Over the original, keeping NAME.bak, or a set where it lies: a kill at any point
// leaves the pack whole, as it was or as changed (a single pack's old one then
// PACK.bak, never only under a name that may be deleted), and a re-run then succeeds.
TEST(PackEdit, TheOriginalIsReplacedWholeOrNotAtAll)
{
    const auto deleteZ = [](PackEdit &e) { return e.Delete("content\\z.bin"); };
#ifndef _WIN32
    for (const Saving &saving : {kInPlace, kSet}) {
        bool rerunOverItsBackup = !saving.backup;
        for (int killAt = 1;; ++killAt) {
            const Sample dir(saving.layout);
            const std::string trace = std::string(saving.name) + ", killed at " + std::to_string(killAt);
            const std::vector<Listed> original = Listing(dir.pack);
            const bool killed = InChild([&] {
                StepFault::calls = 0, StepFault::failAt = killAt, StepFault::kill = true;
                zarnik::SetPlatformFault(&StepFault::Call);
                SaveAChange(dir, saving);
                return 0;
            }) == StepFault::killed;
            const std::vector<Listed> now = Listing(dir.pack);
            if (now != original) {
                EXPECT_EQ(now.size(), original.size() + 1) << trace;
                EXPECT_TRUE(!saving.backup || Listing(dir.pack + ".bak") == original) << trace << ": the old pack was not kept";
            } else if (fs::exists(dir.pack + ".bak")) {
                EXPECT_EQ(SaveAChange(dir, saving).problem, EditProblem::None) << trace;
                rerunOverItsBackup = true;
            }
            if (!killed) {
                EXPECT_GT(killAt, 4) << saving.name; // the kill points were reached
                break;
            }
            // The next change sweeps what the killed one left, and of a set every data file its index does not name.
            ASSERT_EQ(SaveChange(dir.pack, deleteZ).problem, EditProblem::None) << trace;
            const auto reopened = MustOpen(dir.pack);
            std::set<std::string> named;
            for (size_t d = 0; d < reopened->GetDataFileCount(); ++d)
                named.insert(fs::u8path(reopened->GetDataFilePath(d)).filename().u8string());
            for (const auto &file : FilesBelow(dir.path()))
                EXPECT_TRUE(!zarnik::LooksTemporary(file.first) && (fs::path(file.first).extension() != ".vfs" || named.count(file.first)))
                    << trace << ": " << file.first;
            EXPECT_FALSE(fs::exists(dir.file("content.vfi.zarnik-publishing"))) << trace;
        }
        EXPECT_TRUE(rerunOverItsBackup);
    }
#endif
    // A save keeping a backup leaves it and nothing else beside the pack, and never writes over it.
    const Sample dir(0);
    const Files beside = FilesBelow(dir.path());
    ASSERT_EQ(SaveAChange(dir, kInPlace).problem, EditProblem::None);
    EXPECT_EQ(FilesBelow(dir.path()).size(), beside.size() + 1);
    zarnik_pack::SaveOptions keep;
    keep.backup = true;
    EXPECT_EQ(SaveChange(dir.pack, deleteZ, keep).problem, EditProblem::Refused);
}

// A change in place removes what killed saves of its own pack left, the temporary
// files of the names that save makes and the data files of a set it noted and no
// index names, and no other file.
TEST(PackEdit, AChangeInPlaceSweepsItsOwnPacksPartialFilesOnly)
{
    const std::string kNote = "content.vfi.zarnik-publishing";
    const struct { int layout; std::vector<std::string> swept, kept; } rows[] = {
        {0, {"p.upk.zarnik-partial", "p.upk.zarnik-partial-7"},
         {"q.upk.zarnik-partial", "p.upk.zarnik-partial-1", "p.upk.zarnik-partial-x", "p.upkx.zarnik-partial",
          "p.upk.zarnik-partialx", "p.upk"}},
        {2, {"content.vfi.zarnik-partial", "data0~1.vfs.zarnik-partial", "data1~12.vfs.zarnik-partial-2",
             kNote, "data0~3.vfs"},
         {"data0.vfs.zarnik-partial", "data2~1.vfs.zarnik-partial", "p.upk.zarnik-partial", "data0~4.vfs", "n.txt"}},
    };
    for (const auto &row : rows) {
        const Sample dir(row.layout);
        for (const std::vector<std::string> &names : {row.swept, row.kept})
            for (const std::string &name : names)
                if (!fs::exists(dir.file(name)))
                    WriteAll(dir.file(name), zarnik_pack::ToBytes(name == kNote ? "data0~3.vfs\nn.txt\n" : "left"));
        const zarnik_pack::SaveOutcome saved = SaveChange(dir.pack, [](PackEdit &e) { return e.Delete("content\\a.txt"); });
        ASSERT_EQ(saved.problem, EditProblem::None) << saved.reason;
        EXPECT_TRUE(saved.leftOver.empty());
        for (const auto &[names, kept] : {std::pair(&row.swept, false), {&row.kept, true}})
            for (const std::string &name : *names)
                EXPECT_EQ(fs::exists(dir.file(name)), kept) << name;
    }
}

// A file of the pack put in its place or rewritten by another program after the pack
// was opened is never written over: the save refuses and leaves that program's work.
// A save to a new file refuses too when the file opened was itself written to.
TEST(PackEdit, ASaveRefusesAPackChangedSinceItWasOpened)
{
    const struct { const char *what; int layout; const char *file; bool rewritten, out; } rows[] = {
        {"a pack replaced", 0, "p.upk", false, false},           {"a pack rewritten in place", 0, "p.upk", true, false},
        {"a pack rewritten, saved elsewhere", 0, "p.upk", true, true}, {"a set's index replaced", 2, "content.vfi", false, false},
        {"a set's other data file replaced", 2, "data1.vfs", false, false},
        {"the data file it was opened through", 3, "data0.vfs", true, false},
    };
    for (const auto &row : rows) {
        if (kWindows && !row.rewritten)
            continue; // Windows puts no file in the place of one that is open
        const Sample dir(row.layout);
        const std::string file = dir.file(row.file);
        const auto archive = MustOpen(dir.pack);
        PackEdit edit(*archive, dir.pack, false);
        ASSERT_TRUE(edit.Delete("content\\a.txt"));
        if (row.rewritten) { // the same size, a later time
            const auto written = fs::last_write_time(fs::u8path(file));
            std::ofstream(fs::u8path(file), std::ios::binary | std::ios::in).write("?", 1);
            fs::last_write_time(fs::u8path(file), written + std::chrono::seconds(1));
        } else {
            WriteAll(file + ".theirs", ReadAll(file));
            fs::rename(fs::u8path(file + ".theirs"), fs::u8path(file));
        }
        const Files before = FilesBelow(dir.path());
        zarnik_pack::SaveOptions options;
        options.out = row.out ? dir.file("out.upk") : "";
        const zarnik_pack::SaveOutcome saved = edit.Save(options);
        EXPECT_EQ(saved.problem, EditProblem::Refused) << row.what;
        EXPECT_NE(saved.reason.find("since it was opened"), std::string::npos) << row.what << ": " << saved.reason;
        EXPECT_EQ(FilesBelow(dir.path()), before) << row.what;
    }
}

// Every step of the file layer a save takes, failed in turn: the pack lists as it
// was or as changed, a save that says it is done is whole with its backup, and no
// temporary or orphaned file stays unnamed. A stop or a source changed during the
// read-back leaves the pack as it was. With sync, every file written is flushed.
TEST(PackEdit, EachFailedStepLeavesTheOldPackOrTheNewAndNoStrayFile)
{
    const Saving savings[] = {
        {"in place, with a backup, synced", 0, false, true, true}, {"to another file", 0, true, false, false},
        {"a set, with a backup, synced", 2, false, true, true},     {"a set", 2, false, false, false},
        {"a new pack, synced", 4, false, false, true},              {"a new set", 5, false, false, false},
        {"a set whose files nobody holds", 2, false, false, false, false},
    };
    for (const Saving &saving : savings) {
        // What the pack was, and what lay beside it.
        const Sample plain(saving.layout);
        const std::vector<Listed> before = plain.pack.empty() || saving.out ? std::vector<Listed>() : Listing(plain.pack);
        const Files beside = FilesBelow(plain.path());
        std::vector<Listed> after;
        Files cleanSave;
        for (int failAt = 0;; ++failAt) {
            const Sample dir(saving.layout);
            StepFault::calls = 0, StepFault::failAt = failAt, StepFault::held = saving.held, StepFault::counts.clear();
            zarnik::SetPlatformFault(&StepFault::Call);
            const zarnik_pack::SaveOutcome saved = SaveAChange(dir, saving);
            zarnik::SetPlatformFault(nullptr);
            const std::vector<Listed> now = Listing(ReadBackPath(dir, saving));
            const std::string trace = std::string(saving.name) + ", step " + std::to_string(failAt) + ": " + saved.reason;
            if (failAt == 0) {
                ASSERT_EQ(saved.problem, EditProblem::None) << trace;
                after = now;
                cleanSave = FilesBelow(dir.path());
                EXPECT_EQ(StepFault::counts[zarnik::PlatformStep::Flush], saving.sync ? int(saved.written.size()) : 0);
                EXPECT_EQ(StepFault::counts[zarnik::PlatformStep::FlushDirectory] > 0, saving.sync) << trace;
                continue;
            }
            const bool changed = now == after;
            EXPECT_TRUE(changed || now == before) << trace;
            EXPECT_TRUE(saved.problem != EditProblem::None || changed) << trace;
            EXPECT_TRUE(!changed || !saving.backup || Listing(ReadBackPath(dir, saving) + ".bak", saving.layout == 2) == before) << trace;
            // Nothing but what was there before, or what a save that fails nowhere
            // leaves, or what the save named.
            for (const auto &file : FilesBelow(dir.path())) {
                const bool named = std::any_of(saved.leftOver.begin(), saved.leftOver.end(),
                                               [&](const std::string &path) { return dir.file(file.first) == path; });
                EXPECT_TRUE(named || (changed ? cleanSave : beside).count(file.first)) << trace << file.first;
            }
            if (StepFault::calls < failAt)
                break;
        }
        // Stopped, and a source changed after it was written, in the read-back.
        for (const bool stop : {true, false}) {
            const Sample dir(saving.layout);
            std::atomic<bool> stopFlag{false};
            const auto checking = [&](zarnik_pack::SaveStage stage) {
                if (stage == zarnik_pack::SaveStage::Checking && stop)
                    stopFlag = true;
                else if (stage == zarnik_pack::SaveStage::Checking)
                    WriteAll(dir.file("new.txt"), zarnik_pack::ToBytes(std::string(4000, 'N')));
            };
            const zarnik_pack::SaveOutcome saved = SaveAChange(dir, saving, checking, &stopFlag);
            EXPECT_EQ(saved.problem, stop ? EditProblem::Stopped : EditProblem::CheckFailed) << saving.name;
            EXPECT_EQ(Listing(ReadBackPath(dir, saving)), before) << saving.name;
        }
    }
}

#ifndef _WIN32
// In place, the new pack takes the old one's place for the same users: owner, group
// and mode (setgid, sticky) kept, whatever the umask; through a symbolic link from
// another folder, the file it leads to is changed where it lies; a hard link's other
// name keeps the old pack.
TEST(PackEdit, InPlaceTheNewPackTakesTheOldOnesPlaceForItsUsers)
{
    const mode_t mask = umask(0);
    const passwd *nobody = getpwnam("nobody");
    const struct { const char *what; mode_t mode; bool ofNobody; const char *reachedAs; } rows[] = {
        {"read and written by owner and group", 0660, false, ""}, {"read-only", 0444, false, ""},
        {"setgid and sticky", 03640, false, ""},                   {"of nobody, for nobody", 0600, true, ""},
        {"of nobody, setgid", 02640, true, ""},                    {"through a link", 0644, false, "link"},
        {"beside a hard link", 0644, false, "hard link"},
    };
    for (const auto &row : rows) {
        if (row.ofNobody && (geteuid() != 0 || !nobody))
            continue; // only root gives a file away
        TempDir dir;
        const std::string pack = WritePack(dir, 0), other = dir.file("elsewhere/l.upk");
        const Bytes original = ReadAll(pack);
        ASSERT_EQ(chown(pack.c_str(), row.ofNobody ? nobody->pw_uid : geteuid(), row.ofNobody ? nobody->pw_gid : getegid()), 0);
        ASSERT_EQ(chmod(pack.c_str(), row.mode), 0);
        fs::create_directory(dir.path() / "elsewhere");
        if (row.reachedAs == std::string("link"))
            fs::create_symlink("../p.upk", other);
        else if (row.reachedAs == std::string("hard link"))
            fs::create_hard_link(pack, other);
        struct stat before, after;
        ASSERT_EQ(stat(pack.c_str(), &before), 0);
        const std::string opened = row.reachedAs == std::string("link") ? other : pack;
        ASSERT_EQ(SaveChange(opened, [](PackEdit &e) { return e.Delete("content\\z.bin"); }).problem, EditProblem::None) << row.what;
        ASSERT_EQ(stat(pack.c_str(), &after), 0);
        EXPECT_EQ(Listing(pack).size(), kEntries.size() - 1) << row.what;
        EXPECT_EQ(std::tie(after.st_mode, after.st_uid, after.st_gid), std::tie(before.st_mode, before.st_uid, before.st_gid))
            << row.what;
        // The link leads to the new pack; the other name of the old file keeps it.
        EXPECT_TRUE(row.reachedAs != std::string("link") || fs::is_symlink(other)) << row.what;
        EXPECT_TRUE(row.reachedAs != std::string("hard link") || ReadAll(other) == original) << row.what;
    }
    umask(mask);
}
#endif
