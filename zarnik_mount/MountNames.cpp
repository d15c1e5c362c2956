#include "MountNames.h"

#include "PackFormat.h"
#include "PackPath.h"
#include "PathRule.h"

#include <cerrno>

namespace zarnik_mount {

namespace {

int ErrnoOf(zarnik::PathProblem problem)
{
    switch (problem) {
    case zarnik::PathProblem::None:
        return 0;
    case zarnik::PathProblem::NotLatin1:
        return EILSEQ;
    case zarnik::PathProblem::TooLong:
        return ENAMETOOLONG;
    default:
        return EINVAL; // a name the rule refuses, whatever the reason
    }
}

} // namespace

int NameErrno(const std::string &folderPath, const std::string &name, bool isFolder, size_t below,
              const std::vector<std::string> &siblings)
{
    // The folder stands already, so its names are the pack's own.
    const std::optional<std::string> folder = zarnik::Latin1FromUtf8(folderPath);
    if (!folder)
        return EILSEQ;
    const std::string packFolder = zarnik::WithBackslashes(*folder);
    std::string path;
    const zarnik::PathCheck check = zarnik::CheckDiskName(packFolder, name, isFolder, &path);
    if (!check)
        return ErrnoOf(check.problem);
    if (path.size() + below > zarnik::packformat::kMaxPathLength)
        return ErrnoOf(zarnik::PathProblem::TooLong); // a path below it would grow too long
    const std::string packName = path.substr(packFolder.size() + 1);
    for (const std::string &sibling : siblings) {
        const std::optional<std::string> other = zarnik::Latin1FromUtf8(sibling);
        if (other && zarnik::SameNameIgnoringCase(*other, packName))
            return ErrnoOf(zarnik::PathProblem::CaseTwin); // Windows takes the two for one file
    }
    return 0;
}

} // namespace zarnik_mount
