// A saved list of the SHA-256 of a pack's files, a version of it that may be
// gone: in sha256sum's form (`sha256sum -c` checks an extraction with it),
// or as the JSON array `zarnik hash --json` writes. Both forms are written
// and read here, so that what one writes the other reads back.
#pragma once

#include "Sha256.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zarnik {

struct HashListEntry
{
    std::string path; // archive path: Latin-1, '\' between the folders
    Sha256Digest digest{};
    std::optional<uint64_t> size; // unpacked; the sha256sum form has none
};

// One line of sha256sum's form: the digest, two spaces, the path as a file
// extraction writes (UTF-8, '/' between the folders), then "\n". A path
// holding '\', a newline or a carriage return is written as sha256sum
// writes such a name: the line begins with '\' and they become \\, \n, \r.
std::string SumLine(const HashListEntry &entry);

// One object of the JSON form, {"path", "sha256", "unpacked"}, dumped with
// an indent of 2; the path as `list --json` writes it.
std::string HashJsonItem(const HashListEntry &entry);

// Whether the first bytes of a file (up to a line) look like either form.
bool LooksLikeHashList(const std::string &start);

// The entries of a saved list in either form; false, with `error` saying
// where and why, when it is not one: a line or an item that is not one
// digest with its path, a name no pack can hold, a path listed twice.
bool ParseHashList(const std::string &text, std::vector<HashListEntry> *entries, std::string *error);

} // namespace zarnik
