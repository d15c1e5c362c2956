// What opening a pack passed over, counted for people: the entries lost,
// not the lines of the open report.
#pragma once

#include "ZarnikArchive.h"

#include <cstdint>
#include <string>

struct OpenLosses
{
    uint64_t entries = 0;      // entries read but left out of the tree
    uint64_t cutChunks = 0;    // chunks cut by the end of their file: what they held past it is lost
    uint64_t missingFiles = 0; // data files the index names that are not there
    bool Any() const { return entries || cutChunks || missingFiles; }
};

OpenLosses CountOpenLosses(const zarnik::CZarnikArchive &archive);

// One clause naming every loss, e.g. "2 entries were passed over, 1 data
// file is missing"; "" when nothing was lost.
std::string OpenLossesText(const OpenLosses &losses);

// "1 file", "2 files": a count with its noun in the right number.
std::string Counted(uint64_t count, const char *one, const char *many);

// Where `item` lies, for a line that names it: the entry's path, or its
// chunk's place in the pack.
std::string OpenReportPlace(const zarnik::OpenReportItem &item);

// True when what `item` reports is lost to every reader of files: the
// entries it names are not in the tree. A repeated path or an empty name
// stays in the tree, where reading that file says what is wrong with it.
bool LostBeforeReading(const zarnik::OpenReportItem &item);

// True when the index names `name` as a data file that is missing.
bool IsMissingDataFile(const zarnik::CZarnikArchive &archive, const std::string &name);
