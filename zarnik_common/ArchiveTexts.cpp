// What the library says to people: why a node was not written, what opening
// passed over, and why a pack did not open. The tool and the explorer show
// these same sentences.
#include "ZarnikArchive.h"

#include "PackPath.h"
#include "PlatformFile.h"

namespace zarnik {

const char *ReadOutcomeText(ReadOutcome outcome)
{
    switch (outcome) {
    case ReadOutcome::Sound:
        return "sound";
    case ReadOutcome::OutOfRange:
        return "stored bytes lie outside the data file";
    case ReadOutcome::Unreadable:
        return "stored bytes could not be read; the pack changed or was cut short";
    case ReadOutcome::Damaged:
        return "packed data is damaged";
    case ReadOutcome::WrongSize:
        return "packed data unpacks to another size than the entry says";
    case ReadOutcome::TooLarge:
        return "a block of packed data is larger than 8 MiB; refused";
    case ReadOutcome::NoMemory:
        return "not enough memory to unpack the file; nothing is known to be wrong with it";
    case ReadOutcome::Stopped:
        return "stopped";
    }
    return "";
}

namespace {

// How a read's end reaches an extraction's report: each read outcome has
// its kind of the same name there, Sound being Written. Looked up both ways.
const struct
{
    ReadOutcome read;
    ExtractOutcome extract;
} kReadKinds[] = {
    {ReadOutcome::Sound, ExtractOutcome::Written},        {ReadOutcome::OutOfRange, ExtractOutcome::OutOfRange},
    {ReadOutcome::Unreadable, ExtractOutcome::Unreadable}, {ReadOutcome::Damaged, ExtractOutcome::Damaged},
    {ReadOutcome::WrongSize, ExtractOutcome::WrongSize},   {ReadOutcome::TooLarge, ExtractOutcome::TooLarge},
    {ReadOutcome::NoMemory, ExtractOutcome::NoMemory},     {ReadOutcome::Stopped, ExtractOutcome::Stopped},
};

} // namespace

ExtractOutcome ExtractOutcomeOf(ReadOutcome read)
{
    for (const auto &kind : kReadKinds)
        if (kind.read == read)
            return kind.extract;
    return ExtractOutcome::Unreadable;
}

const char *ExtractOutcomeText(ExtractOutcome outcome)
{
    switch (outcome) {
    case ExtractOutcome::Written:
        return "written";
    case ExtractOutcome::Exists:
        return "a file already exists there; left untouched";
    case ExtractOutcome::UnsafeName:
        return "unsafe name, one too long, or one Windows would misread; not written, nor anything below it";
    case ExtractOutcome::EmptyName:
        return "the entry has an empty name; not written";
    case ExtractOutcome::Duplicate:
        return "another entry has the same path; only the first file of it, or the folder, is written";
    case ExtractOutcome::CaseTwin:
        return "its name differs only in case from one beside it, which this disk takes for the same "
               "name; not written, nor anything below it";
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
    default: // a failure to read the file: said as every reader says it
        break;
    }
    for (const auto &kind : kReadKinds)
        if (kind.extract == outcome)
            return ReadOutcomeText(kind.read);
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

const char *OpenReportItemText(const OpenReportItem &item)
{
    return item.entriesLost ? OpenReportText(item.kind)
                            : "the index names a data file that is missing; its chunk holds no entry, so nothing is lost";
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

namespace {

// The data files an index names that are not there, when it names no
// other: "no data file it names is there: data0.vfs, data1.vfs"; else "".
std::string MissingDataFiles(const std::vector<OpenReportItem> &report)
{
    std::string names;
    for (const OpenReportItem &item : report)
        if (item.kind == OpenReportItem::Kind::DataFileMissing)
            names += (names.empty() ? "" : ", ") + Printable(FileSystemName(item.path));
    return names.empty() ? "" : "no data file it names is there: " + names;
}

bool CutShort(const std::vector<OpenReportItem> &report)
{
    for (const OpenReportItem &item : report)
        if (item.kind == OpenReportItem::Kind::ChunkCutShort)
            return true;
    return false;
}

} // namespace

std::string OpenFailureReason(const std::string &path, const CZarnikArchive::OpenResult &opened)
{
    std::string reason = OpenFailureText(opened.failure);
    switch (opened.failure) {
    case OpenFailure::IndexUnreadable: {
        const size_t separator = PlatformLastSeparator(path);
        const std::string index =
            (separator == std::string::npos ? std::string() : path.substr(0, separator + 1))
            + "content.vfi";
        reason += ": " + Printable(index) + ": " + PlatformWhyUnreadable(index);
        break;
    }
    case OpenFailure::NotNamedInIndex: {
        // A data file the user mistyped is missing before it is unnamed.
        PlatformListed::Kind kind;
        if (!PlatformKindOf(path, &kind))
            reason = PlatformWhyUnreadable(path);
        break;
    }
    case OpenFailure::DataUnreadable:
        reason = MissingDataFiles(opened.report);
        if (reason.empty())
            reason = PlatformWhyUnreadable(path);
        break;
    case OpenFailure::NoFileTable:
        // Junk reads as a chunk running past the end as well.
        if (CutShort(opened.report))
            reason = "the file ends inside a chunk before any file table: a pack cut short, or no Zarnik pack";
        break;
    case OpenFailure::NoEntries:
        if (CutShort(opened.report))
            reason = "the pack is cut short before its first entry";
        break;
    default:
        break;
    }
    return reason;
}

} // namespace zarnik
