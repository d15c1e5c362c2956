#include "PackText.h"

#include "PackPath.h"

std::string DisplayName(const std::string &latin1)
{
    return zarnik::FileSystemName(latin1);
}

std::string SlashPath(const std::string &latin1)
{
    return zarnik::WithSlashes(DisplayName(latin1));
}
