// The folder tree built from entry paths, including the odd paths a pack
// may hold.
#include "TestSupport.h"

using namespace testsupport;
using zarnik::CZarnikArchive;

TEST(ArchiveTree, FoldersFromPaths)
{
    struct Case
    {
        std::vector<std::string> paths; // every entry a 1-byte file
        std::string tree;
        size_t leftOut; // entries whose folder has no parent
    };
    const Case cases[] = {
        // Folders are made once, in first-met order, also after jumps
        // between folders; file paths stay as stored.
        {{"content\\a.txt", "content\\x\\b.txt", "content\\x\\y\\c.txt", "content\\x\\d.txt",
          "content\\x\\y\\e.txt", "content\\late\\f.txt", "content\\x\\g.txt", "content\\z\\h.txt",
          "content\\i.txt", "top.bin"},
         "a.txt\nx/\n  b.txt\n  y/\n    c.txt\n    e.txt\n  d.txt\n  g.txt\nlate/\n  f.txt\nz/\n  h.txt\ni.txt\ntop.bin\n", 0},
        // A later segment "content" starts again at the root.
        {{"content\\a\\content\\b\\c.txt", "content\\a\\content\\d.txt"},
         "a/\n  d.txt\nb/\n  c.txt\n", 0},
        // Any first segment stands for the root; empty segments are names.
        {{"content\\a\\\\b.txt", "content\\trailing\\", "\\content\\lead.txt", "data\\x.bin",
          "data\\content\\sub\\z.bin"},
         "a/\n  /\n    b.txt\ntrailing/\n  \nlead.txt\nx.bin\nsub/\n  z.bin\n", 0},
        // A folder below a first segment other than "content" has no parent:
        // reported, its file left out, the others kept.
        {{"content\\ok.txt", "data\\sub\\x.bin", "Content\\sub\\y.bin", "content\\after.txt"},
         "ok.txt\nafter.txt\n", 2},
    };
    for (const Case &c : cases) {
        TempDir dir;
        std::vector<zarnik_pack::Entry> entries;
        for (const std::string &path : c.paths)
            entries.push_back(MakeEntry(path, "x", zarnik_pack::Storage::Stored));
        WriteAll(dir.file("p.upk"), zarnik_pack::BuildUpk(entries));
        CZarnikArchive archive;
        CheckRecorder checks;
        ASSERT_TRUE(archive.Open(dir.file("p.upk")));
        EXPECT_EQ(Dump(archive), c.tree) << c.paths[0];
        EXPECT_EQ(checks.fired(), std::vector<std::string>(c.leftOut, "NULL != parent")) << c.paths[0];
        // Folders are found by their path, exactly as stored; files are not.
        EXPECT_EQ(archive.FindNode("content"), archive.GetRoot());
        for (const std::string &path : c.paths)
            EXPECT_EQ(archive.FindNode(path), nullptr) << path;
    }
}
