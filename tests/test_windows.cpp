// What only Windows has to refuse: junctions in the destination, and names
// that Windows would read as something else than a plain file name.
#include "TestSupport.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winioctl.h>

using namespace testsupport;
using zarnik::ArchiveNode;
using zarnik::CZarnikArchive;
using zarnik::ExtractOutcome;
using zarnik_pack::Entry;

namespace {

struct Failures : CZarnikArchive::Callback
{
    std::vector<std::pair<std::string, ExtractOutcome>> list;
    void OnExtractResult(const ArchiveNode &node, ExtractOutcome outcome) override
    {
        if (outcome != ExtractOutcome::Written)
            list.emplace_back(node.m_Path, outcome);
    }
};

// Makes `link`, an empty folder, a junction to `target`; false where the
// system cannot (Wine answers ERROR_NOT_SUPPORTED).
bool MakeJunction(const fs::path &link, const fs::path &target)
{
    const std::wstring substitute = L"\\??\\" + fs::absolute(target).wstring();
    const HANDLE handle = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    // A mount-point reparse buffer: tag, data length, reserved, then the
    // substitute name and an empty print name, both zero-terminated.
    const WORD nameBytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    std::vector<unsigned char> buffer(8 + 8 + nameBytes + 4, 0);
    const WORD dataLength = static_cast<WORD>(buffer.size() - 8);
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    const WORD header[] = {dataLength, 0, 0, nameBytes, static_cast<WORD>(nameBytes + 2), 0};
    std::memcpy(buffer.data(), &tag, 4);
    std::memcpy(buffer.data() + 4, header, sizeof header);
    std::memcpy(buffer.data() + 16, substitute.c_str(), nameBytes);
    DWORD returned = 0;
    const bool made = DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, buffer.data(),
                                      static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
    CloseHandle(handle);
    return made;
}

} // namespace

TEST(Windows, AJunctionInTheDestinationIsNotFollowed)
{
    TempDir dir;
    WriteAll(dir.file("p.upk"), zarnik_pack::BuildUpk({MakeEntry("content\\a\\1.txt", "1"),
                                                       MakeEntry("content\\b.txt", "2")}));
    fs::create_directories(dir.path() / "out" / "content" / "a");
    fs::create_directory(dir.path() / "outside");
    if (!MakeJunction(dir.path() / "out" / "content" / "a", dir.path() / "outside"))
        GTEST_SKIP() << "this system cannot make a junction (error " << GetLastError() << ")";
    CZarnikArchive archive;
    ASSERT_TRUE(archive.Open(dir.file("p.upk")));
    Failures failures;
    EXPECT_EQ(CZarnikArchive::ExtractEnd::Finished,
              archive.Extract(archive.GetRoot(), dir.file("out"), &failures));
    EXPECT_EQ(failures.list, (decltype(failures.list){{"content\\a", ExtractOutcome::LinkInPath}}));
    EXPECT_TRUE(fs::is_empty(dir.path() / "outside"));
}

TEST(Windows, NamesWindowsWouldReadOtherwiseAreRefused)
{
    // A colon opens a hidden stream of another file (a:b is stream b of a),
    // wildcards and control characters are no file names, and a trailing dot
    // or space is dropped by most programs, which then find another file.
    const std::vector<std::string> names = {"a:b.txt", "q?.txt", "star*", "tab\t", "dot.", "space "};
    std::vector<Entry> entries;
    for (const std::string &name : names)
        entries.push_back(MakeEntry("content\\" + name, "x"));
    entries.push_back(MakeEntry("content\\c:d\\e.txt", "in a refused folder"));
    TempDir dir;
    WriteAll(dir.file("p.upk"), zarnik_pack::BuildUpk(entries));
    fs::create_directory(dir.path() / "out");
    CZarnikArchive archive;
    ASSERT_TRUE(archive.Open(dir.file("p.upk")));
    Failures failures;
    EXPECT_EQ(CZarnikArchive::ExtractEnd::Finished,
              archive.Extract(archive.GetRoot(), dir.file("out"), &failures));
    EXPECT_EQ(failures.list.size(), names.size() + 1);
    for (const auto &[path, outcome] : failures.list)
        EXPECT_TRUE(outcome == ExtractOutcome::CannotCreate || outcome == ExtractOutcome::NoDirectory)
            << path << " " << ExtractOutcomeText(outcome);
    // Nothing at all was made below content/: no file "a", no "c".
    EXPECT_TRUE(fs::is_empty(dir.path() / "out" / "content"));
}
