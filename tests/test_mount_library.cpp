// The mount's library in process, without /dev/fuse: the tree and its
// lookups, folder listings, the decoded-stretch cache, reads (damaged,
// ahead, in parallel, of a changed pack), the kernel's agreement, the
// mount table, and the changes of a writable mount.
#include "ArchiveSupport.h"
#include "BlockDecoder.h"
#include "MountCache.h"
#include "MountFileSystem.h"
#include "MountSample.h"
#include "MountSave.h"
#include "MountTable.h"
#include "PlatformFaults.h"

#include <linux/fuse.h>
#include <sched.h>
#include <csignal>
#include <sys/mount.h>
#include <sstream>
#include <thread>

using namespace testsupport;
using zarnik::StreamOutcome;
using zarnik_mount::CMountCache;
using zarnik_mount::CMountFileSystem;
using zarnik_mount::MountEntry;
using zarnik_pack::Storage;

namespace {

const Bytes &kBig = BigText();

struct Mounted
{
    std::unique_ptr<const zarnik::CZarnikArchive> archive;
    std::vector<std::string> failed; // "path: why"
    std::unique_ptr<CMountFileSystem> mount;

    explicit Mounted(const std::string &pack, unsigned aheadThreads = 0, size_t cacheBytes = 8u << 20)
        : archive(MustOpen(pack))
    {
        CMountFileSystem::Settings settings;
        settings.cacheBytes = cacheBytes, settings.aheadThreads = aheadThreads;
        mount = std::make_unique<CMountFileSystem>(
            *archive, settings, [](const zarnik::ArchiveNode &, const char *) {},
            [this](const zarnik::ArchiveNode &n, const std::string &why) { failed.push_back(n.m_Path + ": " + why); });
    }
    // The inode at the '/'-separated `path` below the top, or 0.
    uint64_t InodeAt(const std::string &path) const
    {
        uint64_t inode = 1;
        std::istringstream segments(path);
        struct stat st;
        for (std::string segment; inode && std::getline(segments, segment, '/');)
            inode = mount->Lookup(inode, segment, &st) == 0 ? st.st_ino : 0;
        return inode;
    }
    // The pack's entry at `path`, or null.
    const MountEntry *At(const std::string &path) const
    {
        const uint64_t inode = InodeAt(path);
        return inode ? mount->EntryOf(inode) : nullptr;
    }
    // The names listed in folder `path`, through a buffer of `size` bytes.
    // Each name takes the room a kernel's listing gives it, and is kept only when it fits;
    // a name counted that did not fit fails the test.
    std::vector<std::string> List(const std::string &path, size_t size = 4096) const
    {
        std::vector<std::string> names;
        std::vector<char> buffer(size);
        for (off_t offset = 0;;) {
            size_t used = 0, fitted = 0;
            const auto add = [&](char *, size_t room, const char *name, const struct stat &, bool, off_t next) {
                const size_t needed = 16 + (std::strlen(name) + 7) / 8 * 8;
                if (needed <= room)
                    names.push_back(name), fitted += needed, offset = next;
                return needed;
            };
            if (mount->List(InodeAt(path), offset, buffer.data(), size, add, &used) != 0 || used == 0)
                return names;
            if (used != fitted) {
                ADD_FAILURE() << used << " bytes counted, " << fitted << " listed";
                return names;
            }
        }
    }
    // The file at `path` read from `offset` to its end in reads of `step`
    // bytes, as far as they go; false at the first failure.
    bool Read(const std::string &path, Bytes *out, size_t step = 65536, uint64_t offset = 0) const
    {
        CMountFileSystem::COpenFile *file = nullptr;
        bool direct = false;
        out->clear();
        if (mount->Open(InodeAt(path), O_RDONLY, &file, &direct) != 0)
            return false;
        int got = 0;
        do {
            zarnik_mount::CMountFiles::CPieces pieces;
            got = mount->Read(*file, offset + out->size(), step, &pieces);
            for (const iovec &piece : pieces.pieces) // a failed read's pieces are never sent
                if (got > 0)
                    out->insert(out->end(), static_cast<const unsigned char *>(piece.iov_base),
                                static_cast<const unsigned char *>(piece.iov_base) + piece.iov_len);
        } while (got > 0);
        mount->Release(file);
        return got == 0;
    }
};

// `bytes` put into `pack` at `at` from the header of block `block` of the stream stored at `offset`.
void PatchBlock(const std::string &pack, size_t offset, int block, size_t at, const Bytes &bytes)
{
    Bytes data = ReadAll(pack);
    zarnik::BlockHeader header;
    for (int i = 0; i < block && zarnik::ReadBlockHeader(&data[offset], data.size() - offset, header); ++i)
        offset += header.blockLength;
    std::copy(bytes.begin(), bytes.end(), data.begin() + ptrdiff_t(offset + at));
    WriteAll(pack, data);
}

} // namespace

// What the tree shows, and the line for the name it hides, Mount.ShowsEveryFileAsExtractionWritesIt
// compares with extraction through the kernel, which looks each file up; here, what is not there.
TEST(MountTree, FindsNothingThatIsNotThere)
{
    TempDir work;
    const Mounted m(WriteUpk(work, MountSample()));
    for (const char *path : {"content/a", "content/b.txt", "content/zz", "content/a.txt/x", "content/.."})
        EXPECT_EQ(m.At(path), nullptr) << path;
}

TEST(MountFileSystem, ListsEveryNameOnceWhateverTheBufferHolds)
{
    TempDir work;
    std::vector<testpack::Entry> entries;
    std::vector<std::string> expected{".", ".."};
    for (int i = 0; i < 3000; ++i) {
        expected.push_back("file-" + std::to_string(100000 + i) + ".txt");
        entries.push_back(MakeEntry("content\\" + expected.back(), "x", Storage::Stored));
    }
    const Mounted m(WriteUpk(work, entries));
    for (const size_t size : {size_t(32768), size_t(40), size_t(4096)})
        EXPECT_EQ(m.List("content", size), expected) << size;
}

TEST(MountFileSystem, PackedFilesGoAroundThePageCacheOnlyOnceTheKernelAgreed)
{
    TempDir work;
    Mounted m(WriteUpk(work, MountSample()));
    struct stat st;
    m.mount->Attributes(m.InodeAt("content/gfx/big.txt"), &st);
    EXPECT_NE(st.st_blksize, 1 << 20);
    // The kernel's opening request offers mapped direct I/O (flags2 bit 4);
    // libfuse's answer goes out with it asked for, and it counts as agreed.
    struct { fuse_in_header header; fuse_init_in init; } in = {};
    in.header.opcode = FUSE_INIT, in.header.unique = 7, in.init.flags = FUSE_INIT_EXT, in.init.flags2 = 1u << 4;
    m.mount->Agreement().NoteRequest(&in, sizeof in);
    fuse_out_header header = {0, 0, 7};
    fuse_init_out init = {};
    iovec pieces[2] = {{&header, sizeof header}, {&init, sizeof init}};
    const std::vector<unsigned char> sent = m.mount->Agreement().AmendedAnswer(pieces, 2);
    ASSERT_EQ(sent.size(), sizeof header + sizeof init);
    std::memcpy(&init, sent.data() + sizeof header, sizeof init);
    EXPECT_EQ(init.flags2 & (1u << 4), 1u << 4);
    m.mount->Agreement().AmendedSent(true);
    for (const auto &[path, direct] : {std::pair<const char *, bool>{"content/gfx/big.txt", true}, {"content/a.txt", false}}) {
        m.mount->Attributes(m.InodeAt(path), &st);
        EXPECT_EQ(st.st_blksize == 1 << 20, direct) << path;
        CMountFileSystem::COpenFile *file = nullptr;
        bool directIo = !direct;
        EXPECT_EQ(m.mount->Open(m.InodeAt(path), O_RDONLY, &file, &directIo), 0);
        EXPECT_EQ(directIo, direct) << path;
        EXPECT_EQ(m.mount->Open(m.InodeAt(path), O_RDWR, &file, &directIo), EROFS);
    }
}

TEST(MountCache, DecodesAStretchOnceAndOnlyKeepsItWhenSound)
{
    // What each decode of one stretch ends in, in turn; how many decodes
    // four readers need.
    const struct { std::vector<StreamOutcome> outcomes; int decodes; } cases[] = {
        {{StreamOutcome::Sound}, 1},
        {{StreamOutcome::Damaged, StreamOutcome::Damaged, StreamOutcome::Damaged, StreamOutcome::Damaged}, 4},
        {{StreamOutcome::NoMemory, StreamOutcome::Sound}, 2},
    };
    for (const auto &c : cases) {
        CMountCache cache(1 << 20);
        std::atomic<int> decodes{0}, sound{0};
        std::vector<std::thread> readers;
        for (int r = 0; r < 4; ++r)
            readers.emplace_back([&] {
                const CMountCache::Got got = cache.GetOrDecode({3, 1}, [&](zarnik::DecodedStretch &out) {
                    const StreamOutcome outcome = c.outcomes[size_t(decodes++)];
                    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // the others come meanwhile
                    out.bytes.reset(new unsigned char[10]());
                    out.size = outcome == StreamOutcome::Sound ? 10 : 4;
                    return outcome;
                });
                sound += got.outcome == StreamOutcome::Sound && got.bytes->size == 10;
            });
        for (std::thread &r : readers)
            r.join();
        EXPECT_EQ(decodes, c.decodes);
        EXPECT_EQ(sound, c.outcomes.back() == StreamOutcome::Sound ? 4 - c.decodes + 1 : 0);
    }
    int decoded = 0;
    const auto of = [&decoded](size_t size) {
        return [&decoded, size](zarnik::DecodedStretch &out) {
            out.bytes.reset(new unsigned char[out.size = size]());
            return ++decoded, StreamOutcome::Sound;
        };
    };
    // A decode that throws gives its claim up: the next reader decodes.
    CMountCache cache(1 << 20);
    const auto throws = [](zarnik::DecodedStretch &) -> StreamOutcome { throw std::bad_alloc(); };
    EXPECT_THROW(cache.GetOrDecode({1, 0}, throws), std::bad_alloc);
    cache.DecodeAhead({1, 0}, of(1));
    EXPECT_EQ(cache.GetOrDecode({1, 0}, throws).bytes->size, 1u);
    // A stretch larger than the whole cache pushes out none of what is kept.
    CMountCache small(9);
    decoded = 0;
    for (const auto &[key, size] : {std::pair<CMountCache::Key, size_t>{{1, 0}, 5}, {{2, 0}, 10}, {{1, 0}, 5}})
        small.GetOrDecode(key, of(size));
    EXPECT_EQ(decoded, 2);
}

TEST(MountFiles, ReadTheSoundFileAndFailEachFormOfDamage)
{
    // Damage as packs from the internet hold it, in the big file; it is
    // read whole through the mount and decoded ahead of the reader.
    const struct { const char *what; bool damaged; uint32_t packedExtra, unpackedExtra; int block; size_t at; Bytes bytes; } cases[] = {
        {"sound", false, 0, 0, 0, 0, {}},
        {"a block header forged after the last block", true, 64, 0, 0, 0, {}},
        {"one byte more than the blocks hold", true, 0, 1, 0, 0, {}},
        {"a block's raw length one short", true, 0, 0, 5, 5, {0xff, 0xff, 0, 0}},
        {"a block length of 0", true, 0, 0, 5, 1, {0, 0, 0, 0}},
        {"zero control words", true, 0, 0, 9, 9, Bytes(32, 0)},
    };
    for (const auto &c : cases) {
        TempDir work;
        auto entries = MountSample();
        entries[1].packedSize = uint32_t(testpack::StoredForm(entries[1]).size()) + c.packedExtra;
        entries[1].unpackedSize = uint32_t(kBig.size()) + c.unpackedExtra;
        const std::string pack = WriteUpk(work, entries);
        if (!c.bytes.empty())
            PatchBlock(pack, Mounted(pack).At("content/gfx/big.txt")->node->m_Offset, c.block, c.at, c.bytes);
        const Mounted m(pack, 2);
        // Twice: a failure is neither kept nor left claimed. Every read
        // before the damaged block gets the file's bytes; damage the blocks
        // do not show fails the read that reaches the end.
        const size_t before = !c.damaged ? kBig.size() : c.bytes.empty() ? kBig.size() / 4096 * 4096 : size_t(c.block) * 65536;
        for (int round = 0; round < 2; ++round) {
            Bytes got;
            EXPECT_EQ(m.Read("content/gfx/big.txt", &got, 4096), !c.damaged) << c.what;
            EXPECT_TRUE(got.size() >= before && std::equal(kBig.begin(), kBig.begin() + ptrdiff_t(before), got.begin())) << c.what << got.size();
            EXPECT_EQ(got.size() == kBig.size(), !c.damaged) << c.what;
        }
        EXPECT_EQ(m.failed.empty(), !c.damaged) << c.what;
        Bytes neighbour;
        EXPECT_TRUE(m.Read("content/caf\xc3\xa9.txt", &neighbour)) << c.what;
        EXPECT_EQ(neighbour, Pattern(70000)) << c.what;
    }
}

TEST(MountFiles, ParallelReadersOfRandomRangesAcrossBlockEdgesGetTheRightBytes)
{
    TempDir work;
    // A cache of 1 MiB: stretches are pushed out and decoded again.
    const Mounted m(WriteUpk(work, MountSample()), 2, 1u << 20);
    zarnik_mount::CMountFiles &files = m.mount->Files();
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (unsigned t = 0; t < 6; ++t)
        readers.emplace_back([&, t] {
            std::mt19937 random(t);
            zarnik_mount::CMountFiles::CHandle *handle = files.OpenFile(m.mount->InodeOf(*m.At("content/gfx/big.txt")) - 1);
            for (int i = 0; i < 150; ++i) {
                const size_t edge = (random() % (kBig.size() / 65536 + 1)) * 65536;
                const size_t offset = std::min(kBig.size(), size_t(std::max<long>(0, long(edge) + long(random() % 600) - 300)));
                const size_t count = 1 + random() % 300000;
                zarnik_mount::CMountFiles::CPieces pieces;
                const int n = files.Read(*handle, offset, count, &pieces);
                Bytes got;
                for (const iovec &piece : pieces.pieces)
                    got.insert(got.end(), static_cast<unsigned char *>(piece.iov_base), static_cast<unsigned char *>(piece.iov_base) + piece.iov_len);
                const size_t expect = std::min(count, kBig.size() - offset);
                wrong += n != int(expect) || got.size() != expect || !std::equal(got.begin(), got.end(), kBig.begin() + ptrdiff_t(offset));
            }
            files.CloseFile(handle);
        });
    for (std::thread &reader : readers)
        reader.join();
    EXPECT_EQ(wrong, 0);
}

TEST(MountFiles, ShowThePackAsItWasMountedAndFailOnceItIsWrittenTo)
{
    // A file of the set ends where its data file does; after the mount the
    // pack is cut short, rewritten in place, or replaced by a changed pack
    // under its name (as `zarnik add` does), whose new file is not shown.
    enum class Change { None, Cut, Rewrite, Replace };
    for (const Change change : {Change::None, Change::Cut, Change::Rewrite, Change::Replace}) {
        TempDir work;
        const std::string pack = WriteVfs(work, {MakeEntry("content\\a.txt", "first", Storage::Stored),
                                                 MakeEntry("content\\big.txt", kBig, Storage::Packed),
                                                 MakeEntry("content\\last.bin", Pattern(5000), Storage::Stored)});
        const Mounted m(pack);
        if (change == Change::Cut) {
            fs::resize_file(pack, fs::file_size(pack) - 1);
        } else if (change == Change::Rewrite) {
            Bytes bytes = ReadAll(pack);
            std::reverse(bytes.end() - 1000, bytes.end());
            const auto written = fs::last_write_time(pack);
            WriteAll(pack, bytes);
            fs::last_write_time(pack, written + std::chrono::seconds(1));
        } else if (change == Change::Replace) {
            WriteAll(work.file("new.vfs"), testpack::BuildVfs({MakeEntry("content\\new.txt", "new")}).data);
            fs::rename(work.file("new.vfs"), pack);
        }
        const bool sound = change == Change::None || change == Change::Replace;
        Bytes got;
        for (const char *path : {"content/a.txt", "content/big.txt", "content/last.bin"}) {
            Bytes end; // read from its end: the end of the file, damaged or not
            EXPECT_TRUE(m.Read(path, &end, 4096, m.At(path)->node->m_UnpackedSize)) << path << " " << int(change);
            EXPECT_EQ(m.Read(path, &got), sound) << path << " " << int(change);
        }
        EXPECT_EQ(got == Pattern(5000), sound) << int(change);
        EXPECT_EQ(m.At("content/new.txt"), nullptr);
        EXPECT_EQ(m.failed.size(), sound ? 0u : 3u) << int(change);
    }
}

TEST(MountTable, OnlyAPackMountedByThisToolIsOurs)
{
    const std::string table = "/dev/sda1 / ext4 rw 0 0\n"
                              "tmpfs /tmp/t tmpfs rw 0 0\n"
                              "p.upk /tmp/m fuse.zarnik ro 0 0\n"
                              "q.upk /tmp/with\\040space fuse.zarnik ro 0 0\n"
                              "sshfs /tmp/s fuse.sshfs rw 0 0\n"
                              "p.upk /tmp/over fuse.zarnik ro 0 0\n"
                              "tmpfs /tmp/over tmpfs rw 0 0\n";
    using State = zarnik_mount::MountState;
    for (const auto &[dir, state] : std::vector<std::pair<const char *, State>>{
             {"/tmp/t", State::Other}, {"/tmp/m", State::Ours}, {"/tmp/with space", State::Ours}, {"/tmp/s", State::Other},
             {"/tmp/over", State::Other}, {"/tmp/m/sub", State::None}, {"/tmp", State::None}})
        EXPECT_EQ(zarnik_mount::ListedAt(table, dir), state) << dir;
}

// The write layer: changes through the file system's calls, taken up again
// from the change folder, saved into the pack.
namespace {

// A pack mounted for writing, its changes below `home`.
struct Writable : Mounted
{
    std::string note; // what taking the change folder said
    std::unique_ptr<zarnik_mount::CMountControl> control;

    Writable(const std::string &pack, const std::string &home, uint64_t limit = zarnik::packformat::kMaxPackSize)
        : Mounted(pack)
    {
        std::string why;
        auto folder = zarnik_mount::TakeChangeFolder(home, pack, *archive, &why, &note);
        if (!folder)
            throw std::runtime_error(why);
        const std::vector<std::string> problems = mount->AllowChanges(std::move(folder), limit);
        EXPECT_TRUE(problems.empty()) << problems.front();
        control = std::make_unique<zarnik_mount::CMountControl>(*mount->Changes(), *archive, pack);
    }
    // The folder inode of `path`'s parent and its last name.
    std::pair<uint64_t, std::string> Place(const std::string &path) const
    {
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos)
            return {1, path};
        return {InodeAt(path.substr(0, slash)), path.substr(slash + 1)};
    }
    // Writes `data` at `offset` (-1: the end) of the file at `path`, made
    // when missing, emptied first with `empty`: 0 or the error.
    int Write(const std::string &path, const std::string &data, int64_t offset, bool empty)
    {
        CMountFileSystem::COpenFile *file = nullptr;
        struct stat st;
        bool direct = false;
        const auto [parent, name] = Place(path);
        int error = InodeAt(path) ? mount->Open(InodeAt(path), O_WRONLY | (empty ? O_TRUNC : 0), &file, &direct)
                                  : mount->Create(parent, name, O_WRONLY, &st, &file);
        if (!error && mount->Attributes(InodeAt(path), &st) == 0) {
            const int put = mount->Write(*file, offset < 0 ? st.st_size : offset, data.data(), data.size());
            error = put < 0 ? -put : 0;
        }
        if (file)
            mount->Release(file);
        return error;
    }
};

int ThroughMount(Writable &m, const Change &c)
{
    const auto [parent, name] = m.Place(c.a);
    struct stat st;
    switch (c.op) {
    case Op::Write: return m.Write(c.a, c.b, 0, true);
    case Op::Append: return m.Write(c.a, c.b, -1, false);
    case Op::Cut: return m.mount->Resize(m.InodeAt(c.a), std::stoul(c.b), &st);
    case Op::Folder: return m.mount->MakeFolder(parent, name, &st);
    case Op::RemoveFolder: case Op::Remove: return m.mount->Remove(parent, name, c.op == Op::RemoveFolder);
    case Op::Move: case Op::MoveKeeping: {
        const auto [newParent, newName] = m.Place(c.b);
        return m.mount->Rename(parent, name, newParent, newName, c.op == Op::MoveKeeping ? RENAME_NOREPLACE : 0);
    }
    }
    return EINVAL;
}

Files Extracted(const std::string &pack, const TempDir &work, const std::string &name)
{
    const auto archive = MustOpen(pack);
    fs::create_directory(work.path() / name);
    ExtractTo(*archive, archive->GetRoot(), zarnik::ExtractDestination::Folder(work.file(name)), nullptr);
    return FilesBelow(work.path() / name);
}

const std::vector<testpack::Entry> kClean = WritableSample();

// How many names in `dir` `counts` takes.
size_t NamesIn(const std::string &dir, bool (*counts)(const std::string &name))
{
    const auto named = [counts](const fs::directory_entry &e) { return counts(e.path().filename().string()); };
    return size_t(std::count_if(fs::directory_iterator(dir), fs::directory_iterator(), named));
}
// A change folder a mount would take up; a file named as a save names its temporary files.
bool ChangeFolder(const std::string &name) { return name[0] != '.'; }
bool Partial(const std::string &name) { return name.find(zarnik::TemporaryName("", 1)) != std::string::npos; }

} // namespace

TEST(MountWrite, SavedPackExtractsAsTheSameChangesMadeOnAFolder)
{
    for (const bool vfs : {false, true}) {
        TempDir work;
        // A set is changed through its index: its changed data files take new names.
        const std::string pack = vfs ? (WriteVfs(work, kClean), work.file("content.vfi")) : WriteUpk(work, kClean);
        const uint32_t keptSize = MustOpen(pack)->FindFolder("content\\old")->m_Children.at(0)->m_PackedSize; // x.txt
        Extracted(pack, work, "folder");
        // Changed through a path with a link in it, saved through the plain one.
        fs::create_directory_symlink(work.path(), work.path() / "alias");
        std::string status;
        {
            Writable m((work.path() / "alias" / fs::path(pack).filename()).string(), work.file("state"));
            for (const Change &c : SampleChanges()) {
                ASSERT_TRUE(OnDisk(work.path() / "folder", c)) << c.a;
                EXPECT_EQ(ThroughMount(m, c), 0) << c.a << " " << vfs;
            }
            status = m.control->StatusText();
        } // as a killed mount leaves it: the next one takes the changes up
        Writable again(pack, work.file("state"));
        EXPECT_EQ(again.control->StatusText(), status);
        // Saved as `unmount --save --backup --sync` asks: flushed, the old pack kept.
        static int flushes;
        flushes = 0;
        zarnik::SetPlatformFault([](zarnik::PlatformStep step, const std::string &) {
            flushes += step == zarnik::PlatformStep::Flush;
            return false;
        });
        std::string result;
        ASSERT_EQ(again.control->Set("user.zarnik.save", "backup sync"), 0);
        zarnik::SetPlatformFault(nullptr);
        EXPECT_EQ(again.control->Get("user.zarnik.result", &result), 0);
        EXPECT_EQ(result, "");
        EXPECT_GT(flushes, 0);
        EXPECT_TRUE(Extracted(pack, work, "saved") == FilesBelow(work.path() / "folder")) << vfs;
        // What did not change is copied as it was stored.
        EXPECT_EQ(MustOpen(pack)->FindFolder("content\\made\\old")->m_Children.at(0)->m_PackedSize, keptSize);
        EXPECT_FALSE(fs::exists(again.mount->Changes()->Folder().Path()));
        EXPECT_EQ(again.Write("content/b.txt", "late", 0, false), EROFS);
        EXPECT_EQ(again.control->StatusText(), ""); // a plain unmount then ends it
    }
}

TEST(MountWrite, RefusesAtOnceWhatAPackCannotHold)
{
    TempDir work;
    const std::string pack = WriteUpk(work, kClean);
    Writable m(pack, work.file("state"), fs::file_size(pack) + 4096);
    const std::string deep = "content/" + std::string(200, 'd');
    ASSERT_EQ(ThroughMount(m, {Op::Folder, deep, ""}), 0);
    ASSERT_EQ(ThroughMount(m, {Op::Write, "content/caf\xc3\xa9.txt", "x"}), 0);
    const struct { Change change; int error; } cases[] = {
        {{Op::Write, "content/\xe2\x82\xac.txt", "x"}, EILSEQ}, // the euro sign: no Latin-1
        {{Op::Write, deep + "/" + std::string(60, 'n'), "x"}, ENAMETOOLONG},
        {{Op::Move, "content/gfx", deep + "/" + std::string(50, 'g')}, ENAMETOOLONG}, // its files' paths grow
        {{Op::Folder, "content/A.TXT", ""}, EINVAL},  // a case twin of a.txt
        {{Op::Write, "content/CAF\xc3\x89.TXT", "x"}, EINVAL}, // of caf\xc3\xa9.txt: Latin-1 capitals fold too
        {{Op::Folder, "content/gfx/content", ""}, EINVAL}, // read back as the root
        {{Op::Write, "content/a\\b.txt", "x"}, EINVAL},    // read back as a folder and a file
        {{Op::MoveKeeping, "content/a.txt", "content/z.txt"}, EEXIST},
        {{Op::Write, "top.txt", "x"}, EPERM},
        {{Op::RemoveFolder, "content", ""}, EBUSY},
        {{Op::RemoveFolder, "content/gfx", ""}, ENOTEMPTY},
        {{Op::Move, "content/old", "content/old/in"}, EINVAL}, // a folder into itself
        {{Op::Move, "content/a.txt", "content/old"}, EISDIR},
        {{Op::Move, "content/old", "content/z.txt"}, ENOTDIR},
    };
    const std::string status = m.control->StatusText();
    for (const auto &c : cases)
        EXPECT_EQ(ThroughMount(m, c.change), c.error) << c.change.a;
    EXPECT_EQ(m.control->StatusText(), status); // nothing of them is kept
    EXPECT_EQ(ThroughMount(m, {Op::Write, "content/gfx/content", "x"}), 0); // a file may bear the root's name
    // A second mount of the pack, reached through a link, finds the first one's changes.
    std::string why;
    const std::string link = work.file("link.upk");
    fs::create_symlink(pack, link);
    EXPECT_EQ(zarnik_mount::CChangeFolder::Take(work.file("state"), link, zarnik_mount::StampsOf(*m.archive, link), &why), nullptr);
    EXPECT_NE(why.find("mounted for writing already"), std::string::npos) << why;
    // The pack would grow past what a reader addresses (here: what the
    // limit allows), counting what an earlier mount of it wrote.
    TempDir other;
    const std::string grown = WriteUpk(other, kClean);
    for (const auto &[path, error] : {std::pair<const char *, int>{"content/one.bin", 0}, {"content/two.bin", EFBIG}}) {
        Writable w(grown, other.file("state"), fs::file_size(grown) + 4096);
        EXPECT_EQ(ThroughMount(w, {Op::Write, path, std::string(3000, 'b')}), error) << path;
    }
}

TEST(MountWrite, AFullChangeDiskRefusesTheWriteYetListsAndDropsTheChanges)
{
    TempDir work;
    const std::string pack = WriteUpk(work, kClean), small = work.file("small");
    fs::create_directory(small);
    const int status = InChild([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0)
            return 3;
        Writable m(pack, small + "/state");
        if (ThroughMount(m, {Op::Write, "content/big.bin", std::string(200000, 'b')}) != ENOSPC)
            return 4;
        std::string listed;
        if (m.control->Get(zarnik_mount::kStatusAttribute, &listed) != 0 || listed.find("A\tcontent/big.bin") != 0)
            return 5;
        return m.control->Set("user.zarnik.discard", "") == 0 && fs::is_empty(small + "/state") ? 0 : 6;
    });
    EXPECT_EQ(status, 0);
}

TEST(MountWrite, AFailedSaveLeavesThePackAsItWasAndKeepsTheChanges)
{
    enum class Trouble { ChangedUnderneath, FullDisk, AskerGone };
    for (const Trouble trouble : {Trouble::ChangedUnderneath, Trouble::FullDisk, Trouble::AskerGone}) {
        TempDir work;
        const std::string small = work.file("small");
        fs::create_directory(small);
        const int status = InChild([&] {
            // The pack on a disk that has room for it and not for a second one.
            if (trouble == Trouble::FullDisk &&
                (unshare(CLONE_NEWNS) != 0 || mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0))
                return 3;
            const std::string pack = small + "/p.upk";
            WriteAll(pack, testpack::BuildUpk({MakeEntry("content\\a.bin", Pattern(40000), Storage::Stored)}));
            Writable m(pack, work.file("state"));
            if (ThroughMount(m, {Op::Write, "content/b.txt", "new"}) != 0)
                return 4;
            if (trouble == Trouble::ChangedUnderneath)
                std::ofstream(pack, std::ios::app) << "x";
            const Bytes before = ReadAll(pack);
            const std::atomic<bool> askerGone{trouble == Trouble::AskerGone};
            const int expected = trouble == Trouble::FullDisk ? ENOSPC : trouble == Trouble::AskerGone ? EINTR : EBUSY;
            if (m.control->Set("user.zarnik.save", "", &askerGone) != expected || ReadAll(pack) != before ||
                FilesBelow(small).size() != 1)
                return 5;
            return m.control->StatusText() == "A\tcontent/b.txt\n" ? 0 : 6;
        });
        EXPECT_EQ(status, 0) << int(trouble);
    }
}

// Killed before each writing step of the file layer in turn, a save leaves
// the old pack and its changes waiting, or the new pack, which the next
// mount knows for the saved one: it says so and drops what is saved.
TEST(MountWrite, ASaveKilledAtAnyStepLosesNoChangeAndKeepsNoneTwice)
{
    for (int killAt = 1;; ++killAt) {
        TempDir work;
        const std::string pack = WriteUpk(work, kClean), home = work.file("state");
        const Bytes original = ReadAll(pack);
        const int status = InChild([&] {
            Writable m(pack, home);
            if (ThroughMount(m, {Op::Write, "content/new.txt", "new"}) != 0)
                return 3;
            static int steps, last; // the child's own
            last = killAt;
            zarnik::SetPlatformFault([](zarnik::PlatformStep, const std::string &) { return ++steps == last && raise(SIGKILL); });
            return SaveChanges(*m.mount->Changes(), *m.archive, pack, {}).error;
        });
        const bool saved = ReadAll(pack) != original;
        const bool left = NamesIn(home, ChangeFolder) == 1;
        Writable again(pack, home);
        EXPECT_EQ(again.control->StatusText(), saved ? "" : "A\tcontent/new.txt\n") << killAt;
        // Saved and found before it was removed: the next mount says what became of it.
        EXPECT_TRUE(!saved || again.archive->GetEntries().size() == kClean.size() + 1) << killAt;
        EXPECT_TRUE(!saved || !left || again.note.find("saved into the pack") != std::string::npos) << killAt;
        EXPECT_EQ(NamesIn(home, ChangeFolder), 1u) << killAt; // none is left for the old pack
        for (const auto &e : fs::directory_iterator(home)) // nor one set aside for removal
            EXPECT_NE(e.path().filename().string().rfind(".removed-", 0), 0u) << killAt << e.path();
        // What the killed save was writing is swept by the mount, and what a
        // change killed meanwhile left by the changes' discard.
        EXPECT_EQ(NamesIn(work.str(), Partial), 0u) << killAt;
        WriteAll(zarnik::TemporaryName(pack, 1), {});
        EXPECT_EQ(again.control->Set("user.zarnik.discard", ""), 0);
        EXPECT_EQ(NamesIn(work.str(), Partial), 0u) << killAt;
        if (status != -SIGKILL) {
            EXPECT_TRUE(status == 0 && saved) << status;
            break;
        }
    }
}
