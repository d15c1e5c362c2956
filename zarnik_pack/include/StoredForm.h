// Which form an entry's bytes take in a pack. A reader tells the two forms
// apart by the sizes alone: equal stored and unpacked sizes mean "stored as
// is", different ones a packed stream. So a packed form is kept only when it
// differs in length from the bytes, and under Storage::Auto only when it is
// strictly smaller; and an empty file is always packed, as stored it would
// read back as a folder.
#pragma once

#include "Bytes.h"

#include <cstddef>
#include <cstdint>

namespace zarnik_pack {

enum class Storage {
    Auto,   // packed when that is smaller, else stored as is
    Stored, // as is (an empty file is packed all the same)
    Packed, // always a packed stream
};

// True when a packed stream of `packedSize` bytes is kept for `size` bytes
// under `storage`.
bool KeepPacked(Storage storage, uint64_t packedSize, uint64_t size);

// Whether `size` bytes under `storage` are packed at all.
bool TriesPacking(Storage storage, uint64_t size);

// The bytes as a packed stream whose length differs from `size`.
Bytes PackedForm(const unsigned char *data, size_t size);

// The stored form of `size` bytes under `storage`.
Bytes StoredForm(const unsigned char *data, size_t size, Storage storage);

} // namespace zarnik_pack
