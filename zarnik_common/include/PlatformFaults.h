// A seam for tests: makes a step of the file layer that writes fail as the
// system would let it fail (an I/O error), to show what the code above
// does when a flush, a close, a link or a rename goes wrong. In use, no
// call is set and every step goes to the system.
#pragma once

#include <string>

namespace zarnik {

enum class PlatformStep {
    CreateTemporary, // PlatformCreateTemporary
    Flush,           // PlatformFlush
    FlushDirectory,  // PlatformFlushDirectory
    CloseWritten,    // PlatformCloseWritten (the file is closed all the same)
    Publish,         // PlatformPublish
    Replace,         // PlatformReplace
    Link,            // PlatformLinkAt
    Remove,          // PlatformRemoveAt
};

// Asked before each step with the name it concerns (the temporary or the
// final name, the link's name, the folder's "" ); true makes it fail.
using PlatformFaultCall = bool (*)(PlatformStep step, const std::string &name);

// Returns the previous call; nullptr lets every step reach the system.
PlatformFaultCall SetPlatformFault(PlatformFaultCall call);

} // namespace zarnik
