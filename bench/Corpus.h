// Deterministic sample data for the benchmarks and the compressor tests:
// text-like prose and binary-like records with code-like bytes. The same
// size and seed always give the same bytes.
#pragma once

#include "PackWriter.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

namespace zarnik_corpus {

// Prose from a word list, each word likely to follow the one before and set
// phrases recurring: sentences with punctuation, lines of at most 76
// characters, paragraphs separated by empty lines.
std::vector<unsigned char> Text(size_t size, uint32_t seed = 1);

// Sections of fixed-layout records (ids, types, coordinates, time stamps,
// names) alternating with sections of machine-code-like instruction bytes.
std::vector<unsigned char> Binary(size_t size, uint32_t seed = 1);

// 1,000,000 one-byte stored files in 20,000 folders of 1,000 areas
// (content\area_0000\sub_0\file_000000.dds ...), for the open and list
// benchmarks.
std::vector<zarnik_pack::Entry> MillionEntries();

// 1,000,000 one-byte stored files in 1,000 folders of 1,000 files, 200 of
// them in each of five areas (content\area_0\dir_000\file_000000.dds ...):
// an area is a folder of 200,000 files, for the edit and explorer benchmarks.
std::vector<zarnik_pack::Entry> ThousandFolders();
const int kFilesPerArea = 200000;

// Where a benchmark keeps its files: `name` in the folder ZARNIK_BENCH_DIR
// names (to choose the file system: /dev/shm leaves the disk out), else in
// `fallback`.
std::filesystem::path BenchPath(const char *name,
                                const std::filesystem::path &fallback = std::filesystem::temp_directory_path());

} // namespace zarnik_corpus
