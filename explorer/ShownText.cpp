#include "ShownText.h"

#include "PackPath.h"

#include <QLocale>

QString shownText(const std::string &latin1)
{
    return QString::fromStdString(zarnik::ShownPath(latin1));
}

QString countText(quint64 n, const QString &one, const QString &many, const QString &none)
{
    if (n == 0 && !none.isEmpty())
        return none;
    return n == 1 ? one : many.arg(QLocale().toString(n));
}
