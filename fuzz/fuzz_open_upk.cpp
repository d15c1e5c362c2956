// Opens the input as a single pack (mapped) and walks its tree.
#include "FuzzSupport.h"

using zarnik::CZarnikArchive;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto &dir = fuzzsupport::ProcessDir::Get();
    static const std::string path = dir.file("input.upk");
    fuzzsupport::WriteOrDie(path, data, size);

    CZarnikArchive archive;
    if (archive.Open(path)) {
        if (archive.GetOpenFailure() != CZarnikArchive::OpenFailure::None)
            std::abort();
        fuzzsupport::AllNodes(archive);
    } else if (archive.GetOpenFailure() == CZarnikArchive::OpenFailure::None) {
        std::abort(); // a failed open says why
    }
    return 0;
}
