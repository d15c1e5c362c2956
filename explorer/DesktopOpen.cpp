#include "DesktopOpen.h"

#include "PackPath.h"
#include "ZarnikArchive.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

DesktopOpen::DesktopOpen() = default;
DesktopOpen::~DesktopOpen() = default;

QString DesktopOpen::placeFor(const zarnik::ArchiveNode &file)
{
    auto folder = std::make_unique<QTemporaryDir>();
    if (!folder->isValid())
        return QString();
    const QString path =
        QDir(folder->path()).filePath(QString::fromStdString(zarnik::FileSystemName(file.m_Name)));
    m_folders.push_back(std::move(folder));
    return path;
}

bool DesktopOpen::open(const QString &path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool DesktopOpen::openFolderOf(const QString &destination)
{
    const QFileInfo info(destination);
    return open(info.isDir() ? info.absoluteFilePath() : info.absolutePath());
}
