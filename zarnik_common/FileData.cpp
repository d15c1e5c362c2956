// Reading one file's data whole, unpacked, into memory.
#include "StoredBytes.h"
#include "ZarnikArchive_packunpack.h"

namespace zarnik {

bool CZarnikArchive::ReadFileData(const ArchiveNode *node, std::unique_ptr<unsigned char[]> &out,
                                  ExtractOutcome &failure) const
{
    out.reset();
    std::unique_ptr<unsigned char[]> stored =
        ReadStored(DataFileOf(*node), *node, failure, [] { return false; });
    if (!stored)
        return false;
    if (!node->IsPacked()) {
        out = std::move(stored);
        return true;
    }
    std::unique_ptr<unsigned char[]> unpacked(AllocateBytes(node->m_UnpackedSize));
    if (!unpacked) {
        failure = ExtractOutcome::NoMemory;
        return false;
    }
    const uint32_t written = Unpack(unpacked.get(), stored.get(), node->m_PackedSize,
                                    node->m_UnpackedSize);
    if (written == kUnpackDamaged || written != node->m_UnpackedSize) {
        failure = written == kUnpackDamaged ? ExtractOutcome::Damaged : ExtractOutcome::WrongSize;
        return false;
    }
    out = std::move(unpacked);
    return true;
}

} // namespace zarnik
