#include "StoredForm.h"

#include "Compressor.h"

namespace zarnik_pack {

bool TriesPacking(Storage storage, uint64_t size)
{
    return storage != Storage::Stored || size == 0;
}

bool KeepPacked(Storage storage, uint64_t packedSize, uint64_t size)
{
    if (!TriesPacking(storage, size))
        return false;
    if (size == 0)
        return true;
    if (storage == Storage::Packed)
        return packedSize != size;
    return packedSize < size;
}

Bytes PackedForm(const unsigned char *data, size_t size)
{
    Bytes packed = Compress(data, size);
    // Equal lengths would read back as stored. Packed again in blocks of 252
    // bytes, each with a header of its own, the stream comes out longer.
    if (packed.size() == size)
        packed = Compress(data, size, 255 - 3);
    return packed;
}

Bytes StoredForm(const unsigned char *data, size_t size, Storage storage)
{
    if (!TriesPacking(storage, size))
        return Bytes(data, data + size);
    Bytes packed = storage == Storage::Packed ? PackedForm(data, size) : Compress(data, size);
    if (KeepPacked(storage, packed.size(), size))
        return packed;
    return Bytes(data, data + size);
}

} // namespace zarnik_pack
