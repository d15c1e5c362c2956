// PackLock: one change of a pack, or of a .vfs set, at a time.
//
// Every change that replaces a pack or changes a set takes it: PackEdit's
// save does, unless its caller holds it already (the tool takes it before
// it opens the pack, so that a change waiting for another one opens the
// pack that one left). It is a lock file beside the pack, NAME.zarnik-lock
// (for a set content.vfi.zarnik-lock in its folder), which the system
// locks for one process at a time and lets go when the process ends, how
// ever it ends; the holder removes the file before letting go. A second
// change waits until the first is done rather than fail: two changes made
// at once then both take effect, one after the other. Readers take none.
#pragma once

#include "PlatformFile.h"

#include <atomic>
#include <functional>
#include <string>

namespace zarnik_pack {

class PackLock
{
public:
    enum class Outcome {
        Taken,
        Stopped, // a stop was asked for while waiting
        Failed,  // the lock file cannot be made (see Failure())
    };

    PackLock() = default;
    ~PackLock() { Release(); }
    PackLock(const PackLock &) = delete;
    PackLock &operator=(const PackLock &) = delete;

    // Takes the lock of the pack at `packPath` (a single pack, content.vfi
    // or a data file of a set; a link is followed to the pack it leads
    // to), waiting as long as another change holds it: `waiting` is called
    // once when it must wait, and a raised `stop` ends the wait.
    Outcome Take(const std::string &packPath, const std::atomic<bool> *stop = nullptr,
                 const std::function<void()> &waiting = {});
    // Whether this holds the lock of the pack at `packPath`.
    bool Holds(const std::string &packPath) const;
    void Release();
    // The lock file itself while this holds it (false when it does not), so
    // that a walk of its folder can pass over it.
    bool Stamp(zarnik::PlatformFileStamp *stamp) const { return m_File && zarnik::PlatformStampOf(m_File, stamp); }
    const zarnik::PlatformFailure &Failure() const { return m_Failure; }

private:
    std::string m_Folder; // where the lock file lies, and its name
    std::string m_Name;
    zarnik::PlatformDirectory *m_Directory = nullptr;
    zarnik::PlatformFile *m_File = nullptr;
    zarnik::PlatformFailure m_Failure;
};

} // namespace zarnik_pack
