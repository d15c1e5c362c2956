// `zarnik hash`: the SHA-256 of each file's unpacked bytes, in sha256sum's
// form or as a JSON array, in the order `diff` lists paths.
#include "Commands.h"
#include "Compare.h"
#include "JsonArray.h"
#include "OpenPack.h"
#include "PackText.h"
#include "Sides.h"

#include <cstdio>

int RunHash(const HashOptions &options)
{
    const auto side = OpenSide(options.pack);
    if (!side)
        return kExitUsage;
    const PathScope scope(options.patterns);
    const zarnik::CompareSettings settings = scope.Settings(options.jobs);
    bool stopped = false; // no stop is asked for: it writes nothing a signal must clean up
    const std::vector<zarnik::HashedFile> hashed = zarnik::HashSide(*side, settings, &stopped);
    bool failed = false;
    {
        std::unique_ptr<JsonArrayOut> json(options.json ? new JsonArrayOut : nullptr);
        for (const zarnik::HashedFile &file : hashed) {
            if (!file.digest) {
                PrintError(ShownPath(file.file->path) + ": " + file.problem);
                failed = true;
                continue;
            }
            const zarnik::HashListEntry entry{file.file->path, *file.digest, file.file->size};
            const std::string text = json ? zarnik::HashJsonItem(entry) : zarnik::SumLine(entry);
            if (json)
                json->Add(text);
            else
                std::fwrite(text.data(), 1, text.size(), stdout);
        }
    }
    // What the side could not give is not in the list either.
    for (const zarnik::SideProblem &problem : side->Problems()) {
        PrintError((problem.path.empty() ? "" : ShownPath(problem.path) + ": ") + problem.text);
        failed = true;
    }
    for (const std::string &pattern : scope.Unmatched({side.get()})) {
        PrintError(Printable(pattern) + ": no file or folder matches this pattern");
        failed = true;
    }
    return failed ? kExitFileFailed : kExitOk;
}
