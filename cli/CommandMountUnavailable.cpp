// Mounting needs FUSE, which Windows does not have: the commands say so.
#include "Commands.h"
#include "OpenPack.h"

int RunMount(const MountOptions &)
{
    PrintError("mount is not available on Windows (there is no FUSE there); use extract");
    return kExitUsage;
}

int RunUnmount(const UnmountOptions &)
{
    PrintError("unmount is not available on Windows (there is no FUSE there)");
    return kExitUsage;
}
