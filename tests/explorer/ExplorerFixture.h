// What every explorer test starts from: a shown main window with a driver
// for its dialogs and a scratch directory, the packs it opens, and what it
// reads back from disk.
#pragma once

#include "MainWindow.h"
#include "ModalDriver.h"
#include "PackWriter.h"

#include <QAction>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <string>
#include <vector>

namespace explorertest {

using zarnik_pack::Entry;
using zarnik_pack::Storage;

inline Entry entry(const std::string &path, const std::string &text, Storage storage = Storage::Auto)
{
    Entry e;
    e.path = path;
    e.data = zarnik_pack::ToBytes(text);
    e.storage = storage;
    return e;
}

// Nested folders, packed and stored files, a Latin-1 name and an empty file
// (stored size 0: a folder without children for the explorer).
inline std::vector<Entry> sampleEntries()
{
    std::string longText;
    for (int i = 0; i < 400; ++i)
        longText += "line " + std::to_string(i % 17) + " of the logo\n";
    return {
        entry("content\\readme.txt", "hello", Storage::Stored),
        entry("content\\gfx\\logo.bmp", longText, Storage::Packed),
        entry("content\\gfx\\ui\\button.bmp", "button", Storage::Stored),
        entry("content\\caf\xE9.txt", "latin-1 name"),
        entry("content\\gfx\\icon.bmp", longText + "x", Storage::Packed),
        entry("content\\empty.dat", "", Storage::Stored),
        entry("content\\sound\\a.wav", "wave"),
    };
}

inline std::string nativePath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

// A single pack at `path`, its folders made.
inline QString writeUpk(const QString &path, const std::vector<Entry> &entries = sampleEntries())
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    zarnik_pack::WriteFile(nativePath(path), zarnik_pack::BuildUpk(entries));
    return path;
}

// An index-plus-data set in `folder`; returns the data file's path.
inline QString writeVfs(const QString &folder, const std::string &dataName = "data0.vfs")
{
    QDir().mkpath(folder);
    zarnik_pack::VfsOptions options;
    options.dataName = dataName;
    const zarnik_pack::VfsSet set = zarnik_pack::BuildVfs(sampleEntries(), options);
    zarnik_pack::WriteFile(nativePath(folder) + "/content.vfi", set.index);
    zarnik_pack::WriteFile(nativePath(folder) + "/" + dataName, set.data);
    return folder + '/' + QString::fromStdString(dataName);
}

inline QByteArray bytesOf(const Entry &e)
{
    return QByteArray(reinterpret_cast<const char *>(e.data.data()), qsizetype(e.data.size()));
}

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Every file and directory below `dir`, relative, sorted.
inline QStringList listTree(const QString &dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(dir).relativeFilePath(it.next());
    out.sort();
    return out;
}

// Made anew for every test function.
struct Fixture
{
    QTemporaryDir *dir = nullptr;
    MainWindow *window = nullptr;
    QTreeWidget *tree = nullptr;
    ModalDriver *driver = nullptr;

    void setUp(const char *leftAlone = nullptr)
    {
        dir = new QTemporaryDir;
        window = new MainWindow;
        window->show();
        tree = window->findChild<QTreeWidget *>();
        driver = new ModalDriver(leftAlone);
        QVERIFY(dir->isValid());
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }

    // Every dialog the test expected came, and no other.
    void tearDown()
    {
        const size_t pending = driver->pending();
        const int unexpected = driver->unexpected();
        delete driver;
        delete window;
        delete dir;
        QCOMPARE(pending, size_t(0));
        QCOMPARE(unexpected, 0);
    }

    QString path(const QString &relative) const { return dir->filePath(relative); }

    // As the user picks the menu entry or tool button.
    void trigger(const char *action)
    {
        window->findChild<QAction *>(QString::fromLatin1(action))->trigger();
    }

    // Picks `file` in the Open command's dialog.
    void open(const QString &file, ModalDriver::FileDialogSeen *seen = nullptr)
    {
        driver->answerFile(file, seen);
        trigger("action_Open");
    }
};

} // namespace explorertest
