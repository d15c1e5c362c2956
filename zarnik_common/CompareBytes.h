// The reading half of a comparison: whether two files hold the same bytes,
// a file's digest, and the workers that do many of these at once.
#pragma once

#include "Compare.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace zarnik {

enum class Verdict { Same, Different, Failed };

// Whether `fa` of `a` and `fb` of `b` hold the same unpacked bytes; Failed,
// with `problem` filled in, when either could not be read. Stored bytes
// equal on both sides decide without unpacking. `done` counts the bytes
// read.
Verdict SameBytes(const CCompareSide &a, const SideFile &fa, const CCompareSide &b, const SideFile &fb,
                  const std::atomic<bool> *stop, std::atomic<uint64_t> &done, CompareProblem *problem);

// The SHA-256 of `file`'s unpacked bytes (a hash list's as it says); false,
// with why in `problem`, when the bytes could not be had.
bool DigestOf(const CCompareSide &side, const SideFile &file, const std::atomic<bool> *stop,
              std::atomic<uint64_t> &done, Sha256Digest *digest, std::string *problem);

// Runs job(0) .. job(count - 1) on the settings' workers, and tells the
// progress of `done` against `total` on the calling thread meanwhile.
void RunJobs(size_t count, const CompareSettings &settings, uint64_t total, const std::atomic<uint64_t> &done,
             const std::function<void(size_t)> &job);

} // namespace zarnik
