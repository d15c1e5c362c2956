// What the explorer remembers of its user between runs (QSettings): the last
// packs opened, newest first, and the folders Open and Export last used.
#pragma once

#include <QString>
#include <QStringList>

namespace Habits {

constexpr int kRecentPacks = 8;

QStringList recentPacks();
// Puts `path` first, once; the oldest beyond kRecentPacks go.
void addRecentPack(const QString &path);
void removeRecentPack(const QString &path);
void clearRecentPacks();

QString openFolder();
void setOpenFolder(const QString &folder);
QString exportFolder();
void setExportFolder(const QString &folder);

} // namespace Habits
