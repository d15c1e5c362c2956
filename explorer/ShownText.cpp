#include "ShownText.h"

#include "PackPath.h"

QString shownText(const std::string &latin1)
{
    return QString::fromStdString(zarnik::ShownPath(latin1));
}
