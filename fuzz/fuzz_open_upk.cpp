// Opens the input as a single pack (mapped) and walks its tree.
#include "FuzzSupport.h"

using zarnik::CZarnikArchive;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto &dir = fuzzsupport::ProcessDir::Get();
    static const std::string path = dir.file("input.upk");
    fuzzsupport::WriteOrDie(path, data, size);

    const CZarnikArchive::OpenResult opened = CZarnikArchive::Open(path);
    if (opened.archive) {
        if (opened.failure != zarnik::OpenFailure::None)
            std::abort();
        fuzzsupport::AllNodes(*opened.archive);
    } else if (opened.failure == zarnik::OpenFailure::None) {
        std::abort(); // a failed open says why
    }
    return 0;
}
