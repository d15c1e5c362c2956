// A file written whole or not at all: it is written under a temporary name
// beside its final one and takes the final name only when every write and
// the close succeeded; it never replaces anything that stands there. Until
// it is published, destroying it removes the temporary file.
#pragma once

#include "PackSink.h"
#include "PlatformFile.h"

#include <memory>
#include <string>
#include <vector>

namespace zarnik_pack {

// The files a failed or finished save meant to remove and could not
// (another program holds them, or the disk refused): named to the user,
// who may delete them.
struct LeftOver
{
    std::string folderPath; // with its separator
    std::vector<std::string> paths;
    void Note(const std::string &name) { paths.push_back(folderPath + name); }
};

class OutputFile
{
public:
    // Creates the temporary file for `name` in `folder`, which must outlive
    // this object, as must `leftOver`, where a file this object could not
    // remove again is noted; Created() says whether that worked.
    OutputFile(zarnik::PlatformDirectory *folder, const std::string &name, LeftOver *leftOver = nullptr);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    bool Created() const { return m_File != nullptr || m_Closed; }
    // Gives the file the owner, group and permission bits of `original`,
    // the file it is to replace (PlatformCopyAccess), so that the new one
    // is for whoever used the old one and no one else; false when the bits
    // cannot be set.
    bool TakeAccessOf(zarnik::PlatformFile *original);
    // Where the bytes go (valid while the file is open).
    PackSink &Sink() { return *m_Sink; }
    // Closes the file, first flushed to the disk when `sync` is set; false
    // when a write, the flush or the close failed.
    bool Close(bool sync = false);
    // Closes the file if open and gives it its final name; false, with the
    // temporary file removed, when a write, the close or the renaming failed
    // (Exists: something stands at the name).
    bool Publish();
    // The same over whatever stands at the name, in one step (a pack
    // changed in place); on failure the temporary file goes with this
    // object and what stands is untouched.
    bool PublishOver();
    // The name the file is written under until it is published ("" when
    // it could not be created), for reading it back before that.
    const std::string &TemporaryName() const { return m_TempName; }
    // Removes the published file again, when its partner of an index set
    // could not be published; one not published yet goes with this object.
    void Withdraw();
    // Removes the temporary file now (as the destructor would).
    void Discard();
    // Why the last failed step failed.
    const zarnik::PlatformFailure &Failure() const { return m_Failure; }

private:
    zarnik::PlatformDirectory *m_Folder;
    std::string m_Name;
    LeftOver *m_LeftOver;
    std::string m_TempName;
    zarnik::PlatformFile *m_File = nullptr;
    std::unique_ptr<FileSink> m_Sink;
    zarnik::PlatformFailure m_Failure;
    bool m_Closed = false;
    bool m_Sound = true; // every write and the close succeeded
    bool m_Published = false;
};

// `bytes` as the new file `path`, whole or not at all, never replacing
// anything; false (with `failure` filled in when given) on failure.
bool WriteNewFile(const std::string &path, const Bytes &bytes, zarnik::PlatformFailure *failure = nullptr);

} // namespace zarnik_pack
