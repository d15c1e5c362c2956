// What reading a file's bytes from a pack can end in, whoever reads them:
// extraction, `test`, `cat`, a mount, a comparison or a search. Each failure
// has one sentence, so that every reader names the same fault the same way.
#pragma once

#include "BlockStream.h"

namespace zarnik {

enum class ReadOutcome {
    Sound,      // every byte was read, and they are the file's
    OutOfRange, // the stored bytes lie outside the data file
    Unreadable, // the stored bytes could not be read (the pack changed or shrank)
    Damaged,    // the packed data is damaged
    WrongSize,  // it unpacks to another size than the entry says
    TooLarge,   // a block of its packed data is past the size limit (never allocated)
    NoMemory,   // its buffers could not be allocated; nothing is known to be wrong
    Stopped,    // the reader's caller ended the read: its stop flag, or its sink said no
};

// One short English sentence for each outcome.
const char *ReadOutcomeText(ReadOutcome outcome);

// What a packed stream's outcome means for the file it holds. A sink that
// refused bytes ended the read as its caller chose: Stopped.
ReadOutcome ReadOutcomeOf(StreamOutcome outcome);

} // namespace zarnik
