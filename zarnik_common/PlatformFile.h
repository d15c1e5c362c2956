// The file layer: every system call of the archive library goes through here.
//
// It behaves like the Windows file calls the library was designed around
// (open for reading, size, a read-only view of a whole file, positioned
// reads, create-new, create directory, write). Paths are 8-bit strings in
// which both '\' and '/' separate components. One implementation per
// platform; PlatformFile_posix.cpp is the POSIX one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zarnik {

struct PlatformFile;    // an open file
struct PlatformMapping; // a read-only mapping object of a whole file

// Reading side.

// Opens an existing file read-only; nullptr when it cannot be opened (or is
// not a regular file).
PlatformFile *PlatformOpenRead(const std::string &path);

// The file's size in bytes; false when it cannot be queried.
bool PlatformFileSize(PlatformFile *file, uint64_t *size);

// A read-only mapping object for the whole file; nullptr for an empty file
// or on failure.
PlatformMapping *PlatformCreateMapping(PlatformFile *file, uint64_t size);

// Maps a read-only view of the first `length` bytes; nullptr on failure.
const unsigned char *PlatformMapView(PlatformMapping *mapping, uint64_t length);
void PlatformUnmapView(PlatformMapping *mapping, const unsigned char *view);
void PlatformCloseMapping(PlatformMapping *mapping);

// Reads up to `count` bytes at `position`; returns the number delivered,
// which is short at the end of the file or on failure.
uint32_t PlatformReadAt(PlatformFile *file, uint64_t position, void *buffer, uint32_t count);

void PlatformClose(PlatformFile *file);

// Writing side.

// Creates a directory; true when it was made or a directory already exists.
bool PlatformCreateDirectory(const std::string &path);

// Creates a new file for writing; nullptr when anything exists at the path
// (a dangling link included) or it cannot be created.
PlatformFile *PlatformCreateNew(const std::string &path);

// Writes every byte (looping over partial writes); false on any failure.
bool PlatformWriteAll(PlatformFile *file, const void *data, size_t count);

// Copies `count` bytes of `from`, starting at `offset`, to the end of what
// has been written to `to`; in the kernel where it can. False on any failure,
// a source that ends early included.
bool PlatformCopyRange(PlatformFile *from, uint64_t offset, PlatformFile *to, uint64_t count);

// Closes a file that was written; false when the close reports an error
// (the data may not have reached the disk).
bool PlatformCloseWritten(PlatformFile *file);

// Removes a file; true when it is gone.
bool PlatformRemoveFile(const std::string &path);

// True when anything (file, directory, link) exists at the path.
bool PlatformExists(const std::string &path);

// A name from a pack (8-bit, Latin-1) as a file-system name component: on
// POSIX the file names are UTF-8, so bytes of 0x80 and above become two.
std::string PlatformNameFromLatin1(const std::string &name);

// The path as the system wants it: every '\' becomes '/'.
std::string PlatformNativePath(const std::string &path);

} // namespace zarnik
