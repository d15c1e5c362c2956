// What the library says to people: why a node was not written, what opening
// passed over, and why a pack did not open. The tool and the explorer show
// these same sentences.
#include "ZarnikArchive.h"

namespace zarnik {

const char *ExtractOutcomeText(ExtractOutcome outcome)
{
    switch (outcome) {
    case ExtractOutcome::Written:
        return "written";
    case ExtractOutcome::Exists:
        return "a file already exists there; left untouched";
    case ExtractOutcome::OutOfRange:
        return "stored bytes lie outside the data file";
    case ExtractOutcome::Unreadable:
        return "stored bytes could not be read; the pack changed or was cut short";
    case ExtractOutcome::Damaged:
        return "packed data is damaged";
    case ExtractOutcome::WrongSize:
        return "packed data unpacks to another size than the entry says";
    case ExtractOutcome::NoMemory:
        return "not enough memory for the file";
    case ExtractOutcome::UnsafeName:
        return "unsafe name, or one Windows would misread; not written, nor anything below it";
    case ExtractOutcome::EmptyName:
        return "the entry has an empty name; not written";
    case ExtractOutcome::Duplicate:
        return "another entry has the same path; only the first file of it, or the folder, is written";
    case ExtractOutcome::LinkInPath:
        return "a link stands where a folder goes; not followed";
    case ExtractOutcome::CannotCreate:
        return "cannot create the file";
    case ExtractOutcome::WriteFailed:
        return "write failed; the partial file was removed";
    case ExtractOutcome::NoDirectory:
        return "cannot create the directory; nothing below it was written";
    case ExtractOutcome::DiskFull:
        return "the disk is full or read-only";
    case ExtractOutcome::Stopped:
        return "stopped; the partial file was removed";
    }
    return "";
}

const char *OpenReportText(OpenReportItem::Kind kind)
{
    switch (kind) {
    case OpenReportItem::Kind::ChunkCutShort:
        return "a chunk runs past the end of the file; cut to the bytes present";
    case OpenReportItem::Kind::EntryCutShort:
        return "an entry is cut short by the end of its chunk; it and the rest of the chunk are lost";
    case OpenReportItem::Kind::NameTooLong:
        return "an entry's name is longer than 260 bytes; left out";
    case OpenReportItem::Kind::NoParent:
        return "an entry's folder has no parent folder; left out";
    case OpenReportItem::Kind::DuplicatePath:
        return "another entry has the same path; only the first file of it, or the folder, is written";
    case OpenReportItem::Kind::EmptyName:
        return "an entry has an empty name";
    case OpenReportItem::Kind::DataFileMissing:
        return "the index names a data file that is missing or unreadable; its entries are left out";
    }
    return "";
}

const char *OpenFailureText(OpenFailure failure)
{
    switch (failure) {
    case OpenFailure::NoDirectory:
        return "no folder in the path to look for its index \"content.vfi\" in";
    case OpenFailure::IndexUnreadable:
        return "a \".vfs\" data file needs its index \"content.vfi\" beside it";
    case OpenFailure::NotNamedInIndex:
        return "the index \"content.vfi\" beside it does not name this data file";
    case OpenFailure::DataUnreadable:
        return "the file cannot be read, or is 4 GiB or larger";
    case OpenFailure::NoFileTable:
        return "not a Zarnik pack: it holds no file table";
    case OpenFailure::NoEntries:
        return "the pack holds no entries";
    case OpenFailure::None:
        break;
    }
    return "the pack could not be read";
}

} // namespace zarnik
