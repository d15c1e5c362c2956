// The folder tree built from entry paths, including the odd paths a pack
// may hold.
#include "TestSupport.h"

using namespace testsupport;

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
        CZarnikArchive archive;
        std::vector<ArchiveNode> files(c.paths.size());
        std::vector<ArchiveNode *> list;
        for (size_t i = 0; i < files.size(); ++i) {
            files[i].m_Path = c.paths[i];
            files[i].m_PackedSize = files[i].m_UnpackedSize = 1;
            list.push_back(&files[i]);
        }
        CheckRecorder checks;
        EXPECT_TRUE(archive.BuildTree(list));
        EXPECT_EQ(Dump(archive), c.tree) << c.paths[0];
        EXPECT_EQ(checks.fired(), std::vector<std::string>(c.leftOut, "NULL != parent")) << c.paths[0];
        for (const ArchiveNode &file : files)
            EXPECT_EQ(archive.FindNode(file.m_Path), nullptr) << "files are not in the map";
    }
}

TEST(ArchiveTree, FindNodeAndAddNodeWithoutRoot)
{
    CZarnikArchive archive;
    ArchiveNode file;
    file.m_Path = "content\\x\\y\\c.txt";
    file.m_PackedSize = 1;
    {
        CheckRecorder checks;
        EXPECT_EQ(archive.AddNode("content\\a.txt", &file), nullptr);
        EXPECT_EQ(checks.fired(), std::vector<std::string>{"NULL != lastDir"});
    }
    ASSERT_TRUE(archive.BuildTree({&file}));
    const ArchiveNode *y = archive.FindNode("content\\x\\y");
    ASSERT_NE(y, nullptr);
    EXPECT_TRUE(y->m_Name == "y" && y->m_PackedSize == 0 && y->m_Children.at(0) == &file);
    EXPECT_EQ(file.m_Name, "c.txt");
    EXPECT_EQ(archive.FindNode("CONTENT\\x"), nullptr);
}
