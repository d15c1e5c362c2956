// Two versions of a 1 GiB pack of 256 packed files of 4 MiB, for the
// benchmarks of comparing: a.upk, b.upk (one file replaced by the built
// tool's `add --replace`) and s.upk (the same files stored as they are),
// and big.upk and bigs.upk (the 1 GiB as 4 files, packed and stored). Made
// once and kept below BenchPath("zarnik-bench-diff").
#pragma once

#include <filesystem>

namespace zarnik_corpus {

std::filesystem::path DiffPacksRoot();
// Makes the packs unless they are there; `tool` is the built zarnik.
bool PrepareDiffPacks(const char *tool);

} // namespace zarnik_corpus
