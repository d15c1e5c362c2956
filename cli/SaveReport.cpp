#include "SaveReport.h"

#include "OpenPack.h"
#include "PackText.h"

void PrintLeftOver(const zarnik_pack::SaveOutcome &outcome)
{
    for (const std::string &path : outcome.leftOver)
        PrintError(Printable(path) + ": could not be removed; nothing needs it, and it may be deleted");
}
