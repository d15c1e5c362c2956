// Opens through the index: the input is split into "content.vfi" and the
// data file "data0.vfs". Its first 4 bytes (little-endian, modulo the rest's
// length + 1) give the index's length; the rest after the index is the data
// file. Every file's bytes are then read through the data file's handle.
#include "ByteOrder.h"
#include "FuzzSupport.h"

using zarnik::CZarnikArchive;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto &dir = fuzzsupport::ProcessDir::Get();
    static const std::string index = dir.file("content.vfi");
    static const std::string pack = dir.file("data0.vfs");
    if (size < 4)
        return 0;
    const uint32_t split = zarnik::LittleEndian32(data);
    data += 4;
    size -= 4;
    const size_t indexLength = split % (size + 1);
    fuzzsupport::WriteOrDie(index, data, indexLength);
    fuzzsupport::WriteOrDie(pack, data + indexLength, size - indexLength);

    const std::unique_ptr<const CZarnikArchive> archive = CZarnikArchive::Open(pack).archive;
    if (archive) {
        if (!archive->IsIndexRoute() || archive->GetDataFileSize(0) != size - indexLength)
            std::abort();
        fuzzsupport::ReadEveryFile(*archive);
    }
    return 0;
}
