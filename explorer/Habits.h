// What the explorer remembers of its user between runs (QSettings): the last
// packs opened, newest first, the folders Open and Export last used, and
// the sizes the window, its panes and columns were left at.
#pragma once

#include <QByteArray>
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

// A saved state of one part of the window ("geometry", "splitter",
// "columns"); empty when none was saved.
QByteArray layout(const QString &part);
void setLayout(const QString &part, const QByteArray &state);

} // namespace Habits
