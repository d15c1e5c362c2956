#include "PackLock.h"

#include "PackPath.h"
#include "SaveSteps.h"

#include <chrono>
#include <thread>

namespace zarnik_pack {

namespace {

const char kLockSuffix[] = ".zarnik-lock";
// How often a waiting change asks for the lock again, and so how soon it
// sees a stop.
const auto kRetry = std::chrono::milliseconds(50);

// The lock file of the pack at `packPath`: beside the file a single pack's
// link leads to, and in a set's own folder for every file of the set.
PathParts LockFileOf(const std::string &packPath)
{
    if (zarnik::RouteOf(packPath) != zarnik::PackRoute::SinglePack)
        return {SplitPath(packPath).folder, std::string(zarnik::kIndexName) + kLockSuffix};
    PathParts pack = SplitPath(ResolvedPackPath(packPath));
    pack.name += kLockSuffix;
    return pack;
}

} // namespace

PackLock::Outcome PackLock::Take(const std::string &packPath, const std::atomic<bool> *stop,
                                 const std::function<void()> &waiting)
{
    Release();
    const PathParts lock = LockFileOf(packPath);
    m_Directory = zarnik::PlatformOpenDirectory(lock.folder.empty() ? "." : lock.folder);
    bool told = false;
    while (m_Directory) {
        m_File = zarnik::PlatformTakeLock(m_Directory, lock.name);
        if (m_File) {
            m_Folder = lock.folder;
            m_Name = lock.name;
            return Outcome::Taken;
        }
        if (zarnik::PlatformLastError() != zarnik::PlatformError::Busy)
            break;
        if (stop && stop->load()) {
            Release();
            return Outcome::Stopped;
        }
        if (!told && waiting)
            waiting();
        told = true;
        std::this_thread::sleep_for(kRetry);
    }
    m_Failure = zarnik::PlatformLastFailure();
    Release();
    return Outcome::Failed;
}

bool PackLock::Holds(const std::string &packPath) const
{
    if (!m_File)
        return false;
    const PathParts lock = LockFileOf(packPath);
    return lock.folder == m_Folder && lock.name == m_Name;
}

void PackLock::Release()
{
    zarnik::PlatformReleaseLock(m_Directory, m_Name, m_File);
    zarnik::PlatformCloseDirectory(m_Directory);
    m_File = nullptr;
    m_Directory = nullptr;
    m_Folder.clear();
    m_Name.clear();
}

} // namespace zarnik_pack
