// What the desktop opens for the explorer: a file of the pack with the
// application for its type, and the folder an export wrote to.
#pragma once

#include <QString>

#include <memory>
#include <vector>

namespace zarnik {
struct ArchiveNode;
} // namespace zarnik
class QTemporaryDir;

class DesktopOpen
{
public:
    DesktopOpen();
    ~DesktopOpen();

    // Where `file` is written before it is opened: a temporary folder of
    // its own, kept while this object lives, as the application may read
    // it long after it started. Empty when no folder can be made.
    QString placeFor(const zarnik::ArchiveNode &file);

    // Hands `path` to the desktop's opener; false when none took it.
    static bool open(const QString &path);
    // The folder an export to `destination` wrote into: the destination
    // when it is a folder, else the folder that holds it.
    static bool openFolderOf(const QString &destination);

private:
    std::vector<std::unique_ptr<QTemporaryDir>> m_folders;
};
