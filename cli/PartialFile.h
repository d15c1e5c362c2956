// One output file of `create`, written under its temporary name in the
// destination folder and removed again unless it was published.
#pragma once

#include "PlatformFile.h"

#include <string>

class PartialFile
{
public:
    PartialFile(zarnik::PlatformDirectory *folder, const std::string &name);
    ~PartialFile();
    PartialFile(const PartialFile &) = delete;
    PartialFile &operator=(const PartialFile &) = delete;

    // The open file; null when it could not be created (see Failure).
    zarnik::PlatformFile *File() const { return m_File; }
    const zarnik::PlatformFailure &Failure() const { return m_Failure; }

    // Flushed to the disk first when `sync` is set; false (see Failure)
    // when the flush or the close fails.
    bool Close(bool sync);
    // The final name; false when something already stands there.
    bool Publish();
    // Takes a published file back, when its partner could not be published.
    void Unpublish();

private:
    zarnik::PlatformDirectory *m_Folder;
    std::string m_Name;
    std::string m_TempName;
    zarnik::PlatformFile *m_File;
    zarnik::PlatformFailure m_Failure;
    bool m_Published = false;
};
