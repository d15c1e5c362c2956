#include "MountNames.h"

#include "PackFormat.h"
#include "PackPath.h"

#include <cerrno>

namespace zarnik_mount {

int NameErrno(const std::string &mountPath, size_t below, const std::vector<std::string> &siblings)
{
    std::string packPath;
    for (size_t at = 0; at <= mountPath.size();) {
        const size_t end = std::min(mountPath.find('/', at), mountPath.size());
        const std::optional<std::string> name = zarnik::Latin1FromUtf8(mountPath.substr(at, end - at));
        if (!name)
            return EILSEQ;
        packPath += (packPath.empty() ? "" : "\\") + *name;
        at = end + 1;
    }
    if (packPath.size() + below > zarnik::packformat::kMaxPathLength)
        return ENAMETOOLONG;
    const size_t last = packPath.rfind('\\');
    const std::string name = packPath.substr(last + 1);
    if (name == "content" || !zarnik::IsSafeName(zarnik::FileSystemName(name)))
        return EINVAL;
    for (const std::string &sibling : siblings)
        if (zarnik::CaseFolded(sibling) == zarnik::CaseFolded(zarnik::FileSystemName(name)))
            return EINVAL;
    return 0;
}

} // namespace zarnik_mount
