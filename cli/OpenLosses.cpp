#include "OpenLosses.h"

#include "PackText.h"

using zarnik::OpenReportItem;

std::string Counted(uint64_t count, const char *one, const char *many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

OpenLosses CountOpenLosses(const zarnik::CZarnikArchive &archive)
{
    OpenLosses losses;
    for (const OpenReportItem &item : archive.GetOpenReport()) {
        switch (item.kind) {
        case OpenReportItem::Kind::ChunkCutShort:
            ++losses.cutChunks;
            break;
        case OpenReportItem::Kind::DataFileMissing:
            // A chunk that holds no entry loses nothing with its data file.
            losses.missingFiles += item.entriesLost;
            break;
        default: // each of the others is one entry left out
            ++losses.entries;
            break;
        }
    }
    return losses;
}

std::string OpenLossesText(const OpenLosses &losses)
{
    std::string text;
    const auto add = [&text](const std::string &clause) { text += (text.empty() ? "" : ", ") + clause; };
    if (losses.entries)
        add(Counted(losses.entries, "entry was", "entries were") + " passed over");
    if (losses.cutChunks)
        add(Counted(losses.cutChunks, "chunk is", "chunks are") + " cut short by the end of the file");
    if (losses.missingFiles)
        add(Counted(losses.missingFiles, "data file is", "data files are") + " missing");
    return text;
}

std::string OpenReportPlace(const OpenReportItem &item)
{
    return item.path.empty() ? "pack offset " + std::to_string(item.offset) : ShownPath(item.path);
}

bool LostBeforeReading(const OpenReportItem &item)
{
    switch (item.kind) {
    case OpenReportItem::Kind::DuplicatePath:
    case OpenReportItem::Kind::EmptyName:
        return false;
    default:
        return item.entriesLost;
    }
}

bool IsMissingDataFile(const zarnik::CZarnikArchive &archive, const std::string &name)
{
    for (const OpenReportItem &item : archive.GetOpenReport())
        if (item.kind == OpenReportItem::Kind::DataFileMissing && item.path == name)
            return true;
    return false;
}
