// What changed between two sides (CompareSide.h): files added, removed,
// modified and renamed, and folders present on one side only.
//
// What decides is a file's unpacked bytes, whatever its stored form. Files
// whose stored bytes are the same on both sides are equal without
// unpacking; any other pair is unpacked and compared a window at a time,
// and only as far as its first difference. A saved hash list is compared by
// digest. Workers compare several files at once; each holds a window or two
// of bytes, whatever the files' sizes.
#pragma once

#include "CompareSide.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zarnik {

struct Difference
{
    enum class Change { Added, Removed, Modified, Renamed };
    Change change = Change::Modified;
    bool folder = false; // a folder present on one side only
    std::string path;    // archive path; for a rename, the new one
    std::string from;    // a rename's old path
    // Unpacked sizes (a folder's: of every file below it); none on the side
    // it is absent from, or where a hash list does not say.
    std::optional<uint64_t> sizeA, sizeB;
};

// The line `zarnik diff` prints for `d` (a letter A, D, M or R, a tab, for
// a rename the old path and a tab, the path as `list` prints it, a folder
// with '/'), with its newline; `zarnik mount --status` prints the same.
std::string DifferenceText(const Difference &d);

// A file whose bytes could not be had: what it is, on which side, and why.
struct CompareProblem
{
    int side = 0;     // 0: A, 1: B
    std::string path; // archive path; empty for what has none
    std::string text;
};

struct CompareSettings
{
    // Files compared at once; 0: one per core, at most 8.
    unsigned workers = 0;
    // Set from any thread to stop; looked at before every window.
    const std::atomic<bool> *stop = nullptr;
    // Bytes compared or hashed so far of those that may need it, called
    // on the calling thread a few times a second and at the end.
    std::function<void(uint64_t done, uint64_t total)> progress;
    // Whether an archive path is compared at all; none: every path. A
    // folder in scope brings everything below it.
    std::function<bool(const std::string &path)> inScope;
};

struct CompareResult
{
    // In PathLess order of their paths; at one path a removal comes before
    // an addition.
    std::vector<Difference> differences;
    // What either side could not give (its own Problems() first), in order.
    std::vector<CompareProblem> problems;
    bool stopped = false; // the stop flag was raised: the rest is not known
};

// A folder only on one side is one difference; what lies below it is not
// listed again, except files renamed to or from it. A path gone from A
// whose bytes stand in B at a new path is a rename. Several candidates of
// the same bytes pair first by name (the last segment), each with the
// first of the same name in path order, then the rest in path order. A
// file whose bytes cannot be had is a problem, never a difference, unless
// its path is gone (then it is removed or added, and was not paired).
CompareResult CompareSides(const CCompareSide &a, const CCompareSide &b, const CompareSettings &settings);

// The digest of each file of `side` in scope, in Files() order.
struct HashedFile
{
    const SideFile *file = nullptr;
    std::optional<Sha256Digest> digest; // none when the bytes could not be had
    std::string problem;                // then: why
};
std::vector<HashedFile> HashSide(const CCompareSide &side, const CompareSettings &settings, bool *stopped);

} // namespace zarnik
