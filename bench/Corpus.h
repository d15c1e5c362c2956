// Deterministic sample data for the benchmarks and the compressor tests:
// text-like prose and binary-like records with code-like bytes. The same
// size and seed always give the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zarnik_corpus {

// Prose from a word list, each word likely to follow the one before and set
// phrases recurring: sentences with punctuation, lines of at most 76
// characters, paragraphs separated by empty lines.
std::vector<unsigned char> Text(size_t size, uint32_t seed = 1);

// Sections of fixed-layout records (ids, types, coordinates, time stamps,
// names) alternating with sections of machine-code-like instruction bytes.
std::vector<unsigned char> Binary(size_t size, uint32_t seed = 1);

} // namespace zarnik_corpus
