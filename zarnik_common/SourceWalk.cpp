// The one walk of a folder on disk for what goes into a pack.
#include "SourceWalk.h"

#include "PackPath.h"
#include "PathRule.h"
#include "PlatformFile.h"

#include <algorithm>
#include <set>

namespace zarnik {

namespace {

using Kind = SourceSkip::Kind;

#ifdef _WIN32
const char kDiskSeparator = '\\';
#else
const char kDiskSeparator = '/';
#endif

// A folder still to list: where it is on disk, the pack folder its entries
// go into, and why that folder cannot go into a pack (empty when it can).
struct Pending
{
    std::string disk;
    std::string pack;
    std::string refusal;
};

class Walker
{
public:
    Walker(SourceWalk &walk, const std::vector<PlatformFileStamp> &passOver) : m_Walk(walk), m_PassOver(passOver) {}

    void Folder(const Pending &folder, bool top);
    void File(const std::string &disk, const std::string &packPath);
    // The pack path of the disk name `name` in the pack folder `pack`, or
    // empty after the name was refused (the line names `disk`).
    std::string PackPathOf(const std::string &disk, const std::string &name, const std::string &pack,
                           bool isFolder, std::string *refusal);
    void Skip(Kind kind, const std::string &disk, const std::string &why)
    {
        (kind == Kind::Refused ? m_Walk.refused : m_Walk.passedOver).push_back({kind, Printable(disk + ": " + why)});
    }
    // A refused folder is named once, and only when a file lies below it.
    void RefuseOnce(const std::string &line)
    {
        if (m_Reported.insert(line).second)
            m_Walk.refused.push_back({Kind::Refused, line});
    }
    std::vector<Pending> m_Folders;

private:
    bool IsPassedOver(const std::string &disk) const;

    SourceWalk &m_Walk;
    const std::vector<PlatformFileStamp> &m_PassOver;
    std::set<std::string> m_Reported;
};

std::string Walker::PackPathOf(const std::string &disk, const std::string &name, const std::string &pack,
                               bool isFolder, std::string *refusal)
{
    std::string path;
    const PathCheck check = CheckDiskName(pack, name, isFolder, &path);
    if (check)
        return path;
    *refusal = Printable(disk + ": " + check.reason);
    return {};
}

void Walker::Folder(const Pending &folder, bool top)
{
    std::vector<PlatformListed> listed;
    if (!PlatformListFolder(folder.disk, &listed))
        return Skip(Kind::Unreadable, folder.disk, "cannot read it: " + PlatformLastFailure().text);
    std::sort(listed.begin(), listed.end(),
              [](const PlatformListed &a, const PlatformListed &b) { return a.name < b.name; });
    for (const PlatformListed &entry : listed) {
        const std::string disk = folder.disk + kDiskSeparator + entry.name;
        if (entry.kind == PlatformListed::Kind::Link) {
            Skip(Kind::Link, disk, "a symbolic link; links are not followed");
            continue;
        }
        // Windows opens no file of such a name as itself.
        if (!IsSafeName(entry.name)) {
            Skip(Kind::UnsafeName, disk, "no file can have this name on this system, so it cannot be read");
            continue;
        }
        const bool isFolder = entry.kind == PlatformListed::Kind::Folder;
        // The root's folder at the top is the root itself, as extraction writes it.
        if (isFolder && top && folder.pack == kRootName && entry.name == kRootName) {
            m_Folders.push_back({disk, folder.pack, folder.refusal});
            continue;
        }
        std::string refusal = folder.refusal;
        const std::string path = refusal.empty() ? PackPathOf(disk, entry.name, folder.pack, isFolder, &refusal)
                                                 : std::string();
        if (isFolder)
            m_Folders.push_back({disk, path, refusal});
        else if (!refusal.empty())
            RefuseOnce(refusal);
        else
            File(disk, path);
    }
}

bool Walker::IsPassedOver(const std::string &disk) const
{
    PlatformFileStamp stamp;
    return !m_PassOver.empty() && PlatformStampAt(disk, &stamp) &&
           std::any_of(m_PassOver.begin(), m_PassOver.end(), [&stamp](const PlatformFileStamp &file) {
               return file.volume == stamp.volume && file.file == stamp.file;
           });
}

void Walker::File(const std::string &disk, const std::string &packPath)
{
    if (IsPassedOver(disk))
        return Skip(Kind::ThePack, disk, "the pack being changed");
    uint64_t size = 0;
    std::string reason;
    if (!SourceFileSize(disk, &size, &reason))
        return Skip(PlatformLastError() == PlatformError::NotRegular ? Kind::NotRegular : Kind::Unreadable, disk,
                    reason);
    m_Walk.files.push_back({packPath, disk, Printable(disk), size});
    m_Walk.bytes += size;
}

// Orders paths so that everything at and below a folder stands together,
// names that differ only in case side by side: letters folded, and the
// separator before every other character.
bool FoldedBefore(const SourceFile *a, const SourceFile *b)
{
    const auto key = [](char c) { return c == '\\' ? -1 : int(static_cast<unsigned char>(FoldedLatin1(c))); };
    const std::string &x = a->packPath, &y = b->packPath;
    for (size_t i = 0; i < x.size() && i < y.size(); ++i)
        if (key(x[i]) != key(y[i]))
            return key(x[i]) < key(y[i]);
    return x.size() < y.size();
}

// Why two files next to each other in folded order (`a` first) cannot
// both go in, as a line: a name differing only in case, one path taken
// twice, or a file where the other has a folder. Empty when they can.
std::string ClashOf(const SourceFile &a, const SourceFile &b)
{
    const std::string &x = a.packPath, &y = b.packPath;
    for (size_t start = 0;;) {
        const size_t endX = std::min(x.find('\\', start), x.size()), endY = std::min(y.find('\\', start), y.size());
        const std::string nameX = x.substr(start, endX - start), nameY = y.substr(start, endY - start);
        if (nameX != nameY) {
            if (!SameNameIgnoringCase(nameX, nameY))
                return {};
            // Named one way round, whichever of the two comes first here.
            const std::string one = x.substr(0, endX), other = y.substr(0, endY);
            return Printable(Utf8Path(std::max(one, other)) + ": " + CaseTwinCheck(std::min(one, other)).reason);
        }
        if (endX == x.size() || endY == y.size()) {
            const bool aShorter = endX == x.size();
            return (aShorter ? b : a).shown + ": " +
                   (endX == x.size() && endY == y.size() ? "takes the path of " : "a folder of it takes the path of ") +
                   (aShorter ? a : b).shown + " in the pack";
        }
        start = endX + 1;
    }
}

// Refuses what two files of the walk could not both be, each clash once.
void RefuseClashes(SourceWalk &walk)
{
    std::vector<const SourceFile *> folded;
    for (const SourceFile &file : walk.files)
        folded.push_back(&file);
    std::stable_sort(folded.begin(), folded.end(), FoldedBefore);
    std::set<std::string> reported;
    for (size_t i = 1; i < folded.size(); ++i) {
        const std::string clash = ClashOf(*folded[i - 1], *folded[i]);
        if (!clash.empty() && reported.insert(clash).second)
            walk.refused.push_back({Kind::Refused, clash});
    }
}

void Finish(SourceWalk &walk)
{
    std::sort(walk.files.begin(), walk.files.end(),
              [](const SourceFile &a, const SourceFile &b) { return a.packPath < b.packPath; });
    RefuseClashes(walk);
}

} // namespace

bool SourceFileSize(const std::string &diskPath, uint64_t *size, std::string *reason)
{
    PlatformFile *file = PlatformOpenRead(diskPath);
    if (!file) {
        *reason = PlatformLastError() == PlatformError::NotRegular ? "not a regular file (a FIFO, socket or device)"
                                                                   : "cannot read it: " + PlatformLastFailure().text;
        return false;
    }
    bool sized = PlatformFileSize(file, size);
    if (!sized) {
        *reason = "cannot read it: " + PlatformLastFailure().text;
    } else if (*size == 0) {
        unsigned char byte;
        if (PlatformReadAt(file, 0, &byte, 1) == 1) {
            sized = false;
            *reason = "it reads as more than the empty file its size says (as files of /proc do), so it "
                      "cannot be packed whole";
        }
    }
    PlatformClose(file);
    return sized;
}

SourceWalk WalkFolder(const std::string &folder, const std::string &packFolder,
                      const std::vector<PlatformFileStamp> &passOver)
{
    SourceWalk walk;
    Walker walker(walk, passOver);
    walker.Folder({folder, packFolder, {}}, true);
    while (!walker.m_Folders.empty()) {
        const Pending next = std::move(walker.m_Folders.back());
        walker.m_Folders.pop_back();
        walker.Folder(next, false);
    }
    Finish(walk);
    return walk;
}

SourceWalk WalkSource(const std::string &source, const std::string &packFolder,
                      const std::vector<PlatformFileStamp> &passOver)
{
    PlatformListed::Kind kind;
    SourceWalk walk;
    Walker walker(walk, passOver);
    if (!PlatformKindOf(source, &kind)) {
        walker.Skip(Kind::Unreadable, source, "cannot read it: " + PlatformLastFailure().text);
        return walk;
    }
    const std::string name = PlatformNameOf(source);
    if (kind == PlatformListed::Kind::Folder && name == kRootName && packFolder == kRootName)
        return WalkFolder(source, packFolder, passOver);
    if (name.empty()) {
        walker.Skip(Kind::Refused, source, "it has no name of its own to go into a pack under");
        return walk;
    }
    std::string refusal;
    const std::string path =
        walker.PackPathOf(source, name, packFolder, kind == PlatformListed::Kind::Folder, &refusal);
    if (!refusal.empty())
        walker.RefuseOnce(refusal);
    else if (kind == PlatformListed::Kind::Folder)
        return WalkFolder(source, path, passOver);
    else
        walker.File(source, path);
    return walk;
}

} // namespace zarnik
