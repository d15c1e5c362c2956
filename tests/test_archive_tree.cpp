// The folder tree built from entry paths, including the odd paths a pack
// may hold.
#include "TestSupport.h"
#include "ZarnikArchive.h"

using namespace testsupport;

namespace {

// Builds a tree straight from paths; every entry is a 1-byte file.
struct Built
{
    CZarnikArchive archive;
    std::vector<ArchiveNode> files;
    std::vector<std::string> checks;

    explicit Built(const std::vector<std::string> &paths) : files(paths.size())
    {
        std::vector<ArchiveNode *> list;
        for (size_t i = 0; i < paths.size(); ++i) {
            files[i].m_Path = paths[i];
            files[i].m_PackedSize = files[i].m_UnpackedSize = 1;
            list.push_back(&files[i]);
        }
        CheckRecorder recorder;
        EXPECT_TRUE(archive.BuildTree(list));
        checks = recorder.fired();
    }
};

} // namespace

TEST(ArchiveTree, FoldersAreMadeOnceInFirstMetOrder)
{
    Built t({"content\\a.txt", "content\\x\\b.txt", "content\\x\\y\\c.txt", "content\\x\\d.txt",
             "content\\x\\y\\e.txt", "content\\late\\f.txt", "content\\x\\g.txt", "top.bin"});
    EXPECT_EQ(Dump(t.archive), "a.txt\n"
                               "x/\n"
                               "  b.txt\n"
                               "  y/\n"
                               "    c.txt\n"
                               "    e.txt\n"
                               "  d.txt\n"
                               "  g.txt\n"
                               "late/\n"
                               "  f.txt\n"
                               "top.bin\n");
    EXPECT_TRUE(t.checks.empty());
    const ArchiveNode *y = t.archive.FindNode("content\\x\\y");
    ASSERT_NE(y, nullptr);
    EXPECT_EQ(y->m_Name, "y");
    EXPECT_EQ(y->m_Path, "content\\x\\y");
    EXPECT_EQ(y->m_PackedSize, 0u);
    EXPECT_EQ(t.files[2].m_Name, "c.txt");
    EXPECT_EQ(t.files[2].m_Path, "content\\x\\y\\c.txt"); // file paths stay as stored
    EXPECT_EQ(t.archive.FindNode("content\\x\\y\\c.txt"), nullptr);
    EXPECT_EQ(t.archive.FindNode("CONTENT\\x"), nullptr);
}

TEST(ArchiveTree, ALaterContentSegmentStartsAgainAtTheRoot)
{
    Built t({"content\\a\\content\\b\\c.txt", "content\\a\\content\\d.txt"});
    EXPECT_EQ(Dump(t.archive), "a/\n"
                               "  d.txt\n"
                               "b/\n"
                               "  c.txt\n");
    EXPECT_NE(t.archive.FindNode("content\\b"), nullptr);
    EXPECT_EQ(t.archive.FindNode("content\\a\\content"), nullptr);
}

TEST(ArchiveTree, EmptySegmentsAndOtherFirstSegments)
{
    Built t({"content\\a\\\\b.txt", "content\\trailing\\", "\\content\\lead.txt", "data\\x.bin",
             "Content\\y.bin", "data\\content\\sub\\z.bin"});
    EXPECT_EQ(Dump(t.archive), "a/\n"
                               "  /\n"
                               "    b.txt\n"
                               "trailing/\n"
                               "  \n"
                               "lead.txt\n"
                               "x.bin\n"
                               "y.bin\n"
                               "sub/\n"
                               "  z.bin\n");
    const ArchiveNode *unnamed = t.archive.FindNode("content\\a\\");
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(unnamed->m_Name, "");
    EXPECT_TRUE(t.checks.empty());
}

TEST(ArchiveTree, AFolderWithoutParentIsReportedAndLeftOut)
{
    Built t({"content\\ok.txt", "data\\sub\\x.bin", "Content\\sub\\y.bin", "content\\after.txt"});
    EXPECT_EQ(Dump(t.archive), "ok.txt\n"
                               "after.txt\n");
    EXPECT_EQ(t.checks, (std::vector<std::string>{"NULL != parent", "NULL != parent"}));
    EXPECT_EQ(t.archive.FindNode("data\\sub"), nullptr);
}

TEST(ArchiveTree, AddNodeWithoutRootIsRefused)
{
    CZarnikArchive archive;
    ArchiveNode file;
    file.m_PackedSize = 1;
    CheckRecorder checks;
    EXPECT_EQ(archive.AddNode("content\\a.txt", &file), nullptr);
    EXPECT_EQ(checks.fired(), std::vector<std::string>{"NULL != lastDir"});
}
