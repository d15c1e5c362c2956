#include "Habits.h"

#include <QSettings>

namespace {

const char kRecentKey[] = "recentPacks";
const char kOpenKey[] = "openFolder";
const char kExportKey[] = "exportFolder";

} // namespace

namespace Habits {

QStringList recentPacks()
{
    return QSettings().value(kRecentKey).toStringList().mid(0, kRecentPacks);
}

void addRecentPack(const QString &path)
{
    QStringList packs = recentPacks();
    packs.removeAll(path);
    packs.prepend(path);
    QSettings().setValue(kRecentKey, packs.mid(0, kRecentPacks));
}

void removeRecentPack(const QString &path)
{
    QStringList packs = recentPacks();
    packs.removeAll(path);
    QSettings().setValue(kRecentKey, packs);
}

void clearRecentPacks()
{
    QSettings().remove(kRecentKey);
}

QString openFolder()
{
    return QSettings().value(kOpenKey).toString();
}

void setOpenFolder(const QString &folder)
{
    QSettings().setValue(kOpenKey, folder);
}

QString exportFolder()
{
    return QSettings().value(kExportKey).toString();
}

void setExportFolder(const QString &folder)
{
    QSettings().setValue(kExportKey, folder);
}

QByteArray layout(const QString &part)
{
    return QSettings().value(QStringLiteral("layout/") + part).toByteArray();
}

void setLayout(const QString &part, const QByteArray &state)
{
    QSettings().setValue(QStringLiteral("layout/") + part, state);
}

} // namespace Habits
