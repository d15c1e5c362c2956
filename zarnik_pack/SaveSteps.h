// The steps a save of a single pack and of a .vfs set share: writing the
// items into a writer, reading the written entries back, and keeping the
// original under a backup name.
#pragma once

#include "OutputFile.h"
#include "PackEdit.h"
#include "PackWriter.h"
#include "PlatformFile.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zarnik_pack {

struct FileCloser
{
    void operator()(zarnik::PlatformFile *file) const { zarnik::PlatformClose(file); }
};
using ReadFile = std::unique_ptr<zarnik::PlatformFile, FileCloser>;

struct DirectoryCloser
{
    void operator()(zarnik::PlatformDirectory *d) const { zarnik::PlatformCloseDirectory(d); }
};
using Folder = std::unique_ptr<zarnik::PlatformDirectory, DirectoryCloser>;

inline SaveOutcome Fail(EditProblem problem, const std::string &reason)
{
    SaveOutcome outcome;
    outcome.problem = problem;
    outcome.reason = reason;
    return outcome;
}

// The stored form of `size` bytes is at most this long.
uint64_t MostStored(uint64_t size);

// Writes items one after another into `writer`, the kept ones' stored bytes
// from `source`; counts files and bytes across calls.
class ItemWriter
{
public:
    explicit ItemWriter(const SaveOptions &options) : m_Options(options) {}
    bool Stopped() const { return m_Options.stop && m_Options.stop->load(); }
    // False when the writer failed or a stop was asked for.
    bool Write(DataWriter &writer, const PackEdit::Item &item, zarnik::PlatformFile *source);
    // After the last Write: None, or what went wrong.
    SaveOutcome Outcome(const DataWriter &writer, const PackSink &sink) const;

private:
    void Report() const;

    const SaveOptions &m_Options;
    uint64_t m_Files = 0;
    uint64_t m_Bytes = 0;
    std::string m_ReadFailure; // the source that could not be read
};

// The entries of a new pack or data file (`file`, `fileSize` bytes)
// compared with the items they were written from: the same paths in order,
// kept entries with their sizes, new ones reading back as their sources.
// Empty when they match; `checked` counts files and bytes across calls.
std::string CheckEntries(const std::vector<const zarnik::ArchiveNode *> &entries,
                         const std::vector<const PackEdit::Item *> &items, zarnik::PlatformFile *file,
                         uint64_t fileSize, const SaveOptions &options, uint64_t &files, uint64_t &bytes);

// Puts `temp` in the place of `name` in `folder` by one rename; with the
// options' backup, `name` is kept as NAME.bak, linked first under a
// temporary name so that an interruption leaves no NAME.bak in the way of
// a re-run. Calls the options' releasePack and stage(Replacing) on the
// way. `replaced` tells whether the rename was made: then a failure is
// the backup's naming alone.
SaveOutcome ReplaceOriginal(zarnik::PlatformDirectory *folder, OutputFile &temp, const std::string &name,
                            const SaveOptions &options, bool &replaced);

} // namespace zarnik_pack
