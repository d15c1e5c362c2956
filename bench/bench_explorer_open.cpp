// The explorer's Open command on a large pack: 100,000 files in 2,000
// folders, on the offscreen platform. Times from the moment the file dialog
// is accepted to the filled tree view (the command's return), for a fresh
// window and for a window that still shows the same pack (its items are
// cleared first). Then the filter line on 100,000 and 1,000,000 entries:
// one keystroke, from the changed text to the repainted tree. Last, the GUI
// thread while a large preview loads: a 4 MiB text without a line break, a
// 4 MiB text of short lines and a 3000 x 2000 picture, each chosen in the
// tree; "worst_ms" is the longest the event loop was held (a keystroke
// typed then waits that long), from the click to 300 ms after the preview.
// And a pack of 1,000,000 files (one folder of 200,000, 800 of 1,000): the
// window made and the pack opened until it is drawn and idle, its resident
// memory then, and Delete, Rename (F2) and Undo of a file and of the folder
// of 200,000 files, open, each from the command to the repainted tree; and
// 20,000 files dropped into an open folder, deleted at once and undone; and
// the peak resident memory while one rename is saved as a new pack.
// Last, Shift+Page Down held over a folder of 25,000 files: the process's
// CPU time for 680 presses, each handled before the next comes.
#include "ArchiveTree.h"
#include "DetailsPane.h"
#include "MainWindow.h"
#include "OutputFile.h"
#include "PackEditor.h"
#include "PackWriter.h"
#include "PeakMemory.h"
#include "QtBenchMain.h"

#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QEventLoop>
#include <QImage>
#include <QTemporaryDir>
#include <QStandardPaths>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QDropEvent>
#include <QUrl>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sys/wait.h>
#include <ctime>
#include <unistd.h>

namespace {

const int kAreas = 50;
const int kSubsPerArea = 40; // 2,000 folders with files, 50 above them
const int kFiles = 100000;

std::string PackPath(int files = kFiles)
{
    return (std::filesystem::temp_directory_path()
            / ("zarnik-bench-explorer-" + std::to_string(files / 1000) + "k.upk"))
        .string();
}

// The name of file `i` of `files`.
using Namer = std::function<void(int i, int files, char (&name)[96])>;

// `files` in 2,000 folders.
void InFolders(int i, int files, char (&name)[96])
{
    const int folder = i / (files / (kAreas * kSubsPerArea));
    std::snprintf(name, sizeof name, "content\\area_%02d\\sub_%02d\\file_%06d.dds", folder / kSubsPerArea,
                  folder % kSubsPerArea, i);
}

bool MakePack(const std::string &path, int files = kFiles, const Namer &named = InFolders)
{
    std::vector<zarnik_pack::Entry> entries(static_cast<size_t>(files));
    char name[96];
    for (int i = 0; i < files; ++i) {
        named(i, files, name);
        entries[size_t(i)].path = name;
        entries[size_t(i)].data = {static_cast<unsigned char>(i)};
        entries[size_t(i)].storage = zarnik_pack::Storage::Stored;
    }
    const std::optional<zarnik_pack::Bytes> pack = zarnik_pack::BuildUpk(entries);
    if (!pack || !zarnik_pack::WriteNewFile(path, *pack)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

// The rows the tree holds below `parent`, each folder's made as it is asked for.
int CountRows(const QAbstractItemModel &model, const QModelIndex &parent = QModelIndex())
{
    int n = 0;
    for (int i = 0; i < model.rowCount(parent); ++i)
        n += 1 + CountRows(model, model.index(i, 0, parent));
    return n;
}

// Runs the Open command on `window`, answering its dialog with `path`;
// returns the seconds from accepting the dialog to the command's return.
double TimedOpen(MainWindow &window, const QString &path)
{
    QElapsedTimer clock;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto *dlg = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        answer.stop();
        dlg->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
        clock.start();
        static_cast<QDialog *>(dlg)->accept();
    });
    answer.start(1);
    window.findChild<QAction *>(QStringLiteral("action_Open"))->trigger();
    return clock.isValid() ? double(clock.nsecsElapsed()) / 1e9 : -1.0;
}

void Run(benchmark::State &state, bool reopen)
{
    const std::string path = PackPath();
    if (!std::filesystem::exists(path))
        MakePack(path);
    const QString qpath = QFile::decodeName(QByteArray::fromStdString(path));
    std::unique_ptr<MainWindow> window;
    int items = 0;
    for (auto _ : state) {
        if (!reopen || !window) {
            window = std::make_unique<MainWindow>();
            window->show();
            if (reopen)
                TimedOpen(*window, qpath);
        }
        const double seconds = TimedOpen(*window, qpath);
        auto *tree = window->findChild<ArchiveTree *>(QStringLiteral("treeWidget"));
        if (seconds < 0 || tree->model()->rowCount() != 1) {
            state.SkipWithError("the pack did not open");
            break;
        }
        state.SetIterationTime(seconds);
        items = CountRows(*tree->model());
        if (!reopen)
            window.reset();
    }
    state.counters["items"] = items;
}

void BM_ExplorerOpenFresh(benchmark::State &state)
{
    Run(state, false);
}
void BM_ExplorerOpenAgain(benchmark::State &state)
{
    Run(state, true);
}

BENCHMARK(BM_ExplorerOpenFresh)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ExplorerOpenAgain)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// What a user types, key by key, into the filter of a pack of state.range(0)
// files: a name narrowing to one file, a wildcard over all, then Escape.
// Reports the slowest keystroke as "worst_ms".
void BM_ExplorerFilterKeystroke(benchmark::State &state)
{
    const int files = int(state.range(0));
    const std::string path = PackPath(files);
    if (!std::filesystem::exists(path))
        MakePack(path, files);
    MainWindow window;
    window.resize(1000, 700);
    window.show();
    TimedOpen(window, QFile::decodeName(QByteArray::fromStdString(path)));
    auto *tree = window.findChild<ArchiveTree *>(QStringLiteral("treeWidget"));
    auto *filter = window.findChild<QLineEdit *>(QStringLiteral("filterEdit"));
    if (!tree || !filter || tree->model()->rowCount() != 1) {
        state.SkipWithError("the pack did not open");
        return;
    }
    const QStringList typed{"f", "fi", "fil", "file", "file_", "file_0", "file_00", "file_000",
                            "file_0001", "file_00012", "file_000123", "*", "*.", "*.d",
                            "*.dd", "*.dds", "*_?9.dds", ""};
    double worst = 0;
    int step = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        filter->setText(typed[step++ % typed.size()]);
        tree->viewport()->repaint(); // lays the rows out and paints them
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        worst = std::max(worst, seconds);
        state.SetIterationTime(seconds);
    }
    state.counters["worst_ms"] = worst * 1000;
}

BENCHMARK(BM_ExplorerFilterKeystroke)
    ->Arg(100000)
    ->Arg(1000000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(36);

std::string Text(bool lineBreaks)
{
    std::string text;
    while (text.size() < (4u << 20))
        text += lineBreaks ? "a line of text to show in the preview\n" : "words without end ";
    return text;
}

std::string Picture()
{
    QImage picture(3000, 2000, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    picture.save(&png, "PNG");
    return png.data().toStdString();
}

void BM_ExplorerPreviewStall(benchmark::State &state)
{
    QTemporaryDir dir;
    const char *names[] = {"long.txt", "lines.txt", "big.png"};
    const std::string bytes[] = {Text(false), Text(true), Picture()};
    std::vector<zarnik_pack::Entry> entries;
    for (int i = 0; i < 3; ++i) {
        zarnik_pack::Entry entry;
        entry.path = std::string("content\\") + names[i];
        entry.data = zarnik_pack::ToBytes(bytes[i]);
        entry.storage = zarnik_pack::Storage::Stored;
        entries.push_back(entry);
    }
    const QString pack = dir.filePath(QStringLiteral("preview.upk"));
    const std::optional<zarnik_pack::Bytes> packBytes = zarnik_pack::BuildUpk(entries);
    if (!packBytes || !zarnik_pack::WriteNewFile(QFile::encodeName(pack).toStdString(), *packBytes)) {
        state.SkipWithError("cannot write the preview pack");
        return;
    }
    MainWindow window;
    window.resize(1000, 700);
    window.show();
    TimedOpen(window, pack);
    auto *tree = window.findChild<ArchiveTree *>(QStringLiteral("treeWidget"));
    auto *pane = window.findChild<DetailsPane *>();
    const QAbstractItemModel &model = *tree->model();
    const auto item = [&](const char *name) {
        const QModelIndexList found =
            model.match(model.index(0, 0, model.index(0, 0)), Qt::DisplayRole, QString::fromLatin1(name), 1,
                        Qt::MatchExactly);
        return found.value(0);
    };
    if (!item(names[0]).isValid()) {
        state.SkipWithError("the pack did not open");
        return;
    }
    const char *name = names[state.range(0)];
    double worst = 0;
    for (auto _ : state) {
        tree->setCurrentIndex(model.index(0, 0));
        QApplication::processEvents();
        QElapsedTimer clock, total;
        double longest = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longest = std::max(longest, double(clock.nsecsElapsed()) / 1e6);
            clock.restart();
        });
        QEventLoop loop;
        QObject::connect(pane, &DetailsPane::previewShown, &loop,
                         [&] { QTimer::singleShot(300, &loop, &QEventLoop::quit); });
        tick.start(1);
        total.start();
        clock.start();
        tree->setCurrentIndex(item(name));
        loop.exec();
        longest = std::max(longest, double(clock.nsecsElapsed()) / 1e6);
        state.SetIterationTime(double(total.nsecsElapsed()) / 1e9);
        worst = std::max(worst, longest);
    }
    state.counters["worst_ms"] = worst;
}

BENCHMARK(BM_ExplorerPreviewStall)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

const int kMillion = 1000000;
const int kBigFolder = 200000;

// content\\big holds 200,000 files, content\\d_000 to d_799 1,000 each; made
// in a child process, so that what making it costs stays out of this one's
// resident memory.
std::string MillionPack()
{
    const std::string path = PackPath(kMillion) + ".million";
    if (std::filesystem::exists(path))
        return path;
    const pid_t child = fork();
    if (child == 0)
        _exit(MakePack(path, kMillion, [](int i, int, char (&name)[96]) {
            if (i < kBigFolder)
                std::snprintf(name, sizeof name, "content\\big\\file_%06d.dds", i);
            else
                std::snprintf(name, sizeof name, "content\\d_%03d\\file_%06d.dds", (i - kBigFolder) / 1000, i);
        }) ? 0 : 1);
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && status == 0 ? path : std::string();
}

// Seconds from `command` to the tree repainted, its events handled; a modal
// dialog it opens is answered with `answer` (the clock starts as it closes).
double Timed(ArchiveTree &tree, const std::function<void()> &command, const QString &answer = QString())
{
    QElapsedTimer clock;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (auto *dlg = qobject_cast<QInputDialog *>(QApplication::activeModalWidget())) {
            watch.stop();
            dlg->setTextValue(answer);
            clock.start();
            dlg->accept();
        }
    });
    if (!answer.isEmpty())
        watch.start(1);
    else
        clock.start();
    command();
    QApplication::processEvents();
    tree.viewport()->repaint();
    return double(clock.nsecsElapsed()) / 1e9;
}

// 20,000 small files in one folder on disk, for a drop of them all at once.
QList<QUrl> ManyFiles()
{
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "zarnik-bench-explorer-drop";
    std::filesystem::create_directories(folder);
    QList<QUrl> urls;
    for (int i = 0; i < 20000; ++i) {
        const std::filesystem::path file = folder / ("n_" + std::to_string(100000 + i) + ".txt");
        if (!std::filesystem::exists(file))
            std::ofstream(file) << i;
        urls << QUrl::fromLocalFile(QString::fromStdString(file.string()));
    }
    return urls;
}

// `urls` dropped on the row `at`, as a file manager drops them.
void Drop(ArchiveTree &tree, const QModelIndex &at, const QList<QUrl> &urls)
{
    QMimeData mime;
    mime.setUrls(urls);
    const QPoint point = tree.visualRect(at).center();
    QDragEnterEvent enter(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QDragMoveEvent move(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    for (QEvent *event : std::initializer_list<QEvent *>{&enter, &move, &drop})
        QApplication::sendEvent(tree.viewport(), event);
}

// The row named `name` below `parent` (made if need be).
QModelIndex Row(const QAbstractItemModel &model, const QModelIndex &parent, const QString &name)
{
    return model.match(model.index(0, 0, parent), Qt::DisplayRole, name, 1, Qt::MatchExactly).value(0);
}

// The peak resident memory, in MiB, while the window's pending changes are
// saved as a new pack at `target` by the save's worker, as Save As runs it.
double SavePeakMiB(MainWindow &window, const std::string &target)
{
    std::ofstream("/proc/self/clear_refs") << "5"; // the peak starts again from what is held now
    auto *save = new SaveThread(*window.findChild<PackEditor *>()->edit(), QString::fromStdString(target), nullptr);
    QEventLoop loop;
    QObject::connect(save, &QThread::finished, &loop, &QEventLoop::quit);
    save->start();
    loop.exec();
    const double peak = PeakMiB(getpid());
    std::filesystem::remove(target);
    return peak;
}

void BM_ExplorerMillion(benchmark::State &state)
{
    const std::string path = MillionPack();
    if (path.empty()) {
        state.SkipWithError("cannot write the pack");
        return;
    }
    std::map<std::string, double> ms;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        // As the program starts with the pack named on its command line.
        auto window = std::make_unique<MainWindow>();
        window->resize(1200, 800);
        window->show();
        const bool opened = window->openPack(QFile::decodeName(QByteArray::fromStdString(path)));
        auto *tree = window->findChild<ArchiveTree *>(QStringLiteral("treeWidget"));
        QApplication::processEvents();
        tree->viewport()->repaint();
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        state.counters["resident_MiB"] = ResidentMiB(getpid());
        if (!opened) {
            state.SkipWithError("the pack did not open");
            return;
        }
        const QAbstractItemModel &model = *tree->model();
        const QModelIndex root = model.index(0, 0);
        tree->expand(root);
        tree->expand(Row(model, root, QStringLiteral("big"))); // 200,000 rows
        tree->expand(Row(model, root, QStringLiteral("d_005")));
        const auto choose = [&](const QModelIndex &parent, const char *name) {
            tree->setCurrentIndex(Row(model, parent, QString::fromLatin1(name)));
        };
        const auto trigger = [&](const char *action) {
            return [&window, action] { window->findChild<QAction *>(QString::fromLatin1(action))->trigger(); };
        };
        const QModelIndex d5 = Row(model, root, QStringLiteral("d_005"));
        choose(d5, "file_205010.dds");
        ms["delete_ms"] = Timed(*tree, trigger("actionDelete"));
        ms["undo_delete_ms"] = Timed(*tree, trigger("actionUndo"));
        choose(d5, "file_205010.dds");
        ms["rename_ms"] = Timed(*tree, trigger("actionRename"), QStringLiteral("renamed.dds"));
        state.counters["save_peak_MiB"] = SavePeakMiB(*window, path + ".saved");
        ms["undo_rename_ms"] = Timed(*tree, trigger("actionUndo"));
        // 20,000 files dropped into an open folder of 1,000, then chosen and deleted at once, and the delete
        // undone: rows by the thousand come and go in one folder.
        const QList<QUrl> many = ManyFiles();
        const QModelIndex d6 = Row(model, root, QStringLiteral("d_006"));
        tree->expand(d6);
        tree->scrollTo(d6, QAbstractItemView::PositionAtTop);
        ms["drop_20k_ms"] = Timed(*tree, [&] { Drop(*tree, d6, many); });
        tree->selectionModel()->select(QItemSelection(model.index(1000, 0, d6), model.index(20999, 0, d6)),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        ms["delete_20k_new_ms"] = Timed(*tree, trigger("actionDelete"));
        ms["undo_delete_20k_new_ms"] = Timed(*tree, trigger("actionUndo"));
        choose(root, "big");
        ms["rename_200k_ms"] = Timed(*tree, trigger("actionRename"), QStringLiteral("huge"));
        ms["undo_rename_200k_ms"] = Timed(*tree, trigger("actionUndo"));
        // Unsaved changes would ask before the window goes.
        QElapsedTimer closing;
        closing.start();
        window.reset();
        ms["close_ms"] = double(closing.nsecsElapsed()) / 1e9;
    }
    for (const auto &[name, value] : ms)
        state.counters[name] = value * 1000;
}

BENCHMARK(BM_ExplorerMillion)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// The process's CPU time, in seconds, of every thread.
double CpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// A folder of 25,000 files, its first chosen, then Shift+Page Down pressed
// 680 times, each press handled (its events, a repaint) before the next, as
// a key held down that the window keeps up with: the selection grows by a
// page at each press, to about 20,000 rows.
void BM_ExplorerShiftPageDown(benchmark::State &state)
{
    const int files = 25000;
    const std::string path = PackPath(files) + ".onefolder";
    if (!std::filesystem::exists(path)
        && !MakePack(path, files, [](int i, int, char (&name)[96]) {
               std::snprintf(name, sizeof name, "content\\big\\file_%06d.dds", i);
           })) {
        state.SkipWithError("cannot write the pack");
        return;
    }
    MainWindow window;
    window.resize(1200, 800);
    window.show();
    TimedOpen(window, QFile::decodeName(QByteArray::fromStdString(path)));
    auto *tree = window.findChild<ArchiveTree *>(QStringLiteral("treeWidget"));
    const QAbstractItemModel &model = *tree->model();
    const QModelIndex big = Row(model, model.index(0, 0), QStringLiteral("big"));
    tree->expand(model.index(0, 0));
    tree->expand(big);
    QApplication::processEvents();
    for (auto _ : state) {
        tree->setFocus();
        tree->setCurrentIndex(model.index(0, 0, big));
        QApplication::processEvents();
        const double start = CpuSeconds();
        for (int press = 0; press < 680; ++press) {
            QKeyEvent down(QEvent::KeyPress, Qt::Key_PageDown, Qt::ShiftModifier, QString(), press > 0);
            QApplication::sendEvent(tree, &down);
            QApplication::processEvents();
            tree->viewport()->repaint();
        }
        state.SetIterationTime(CpuSeconds() - start);
        state.counters["rows_selected"] = double(tree->selectionModel()->selectedRows().size());
    }
}

BENCHMARK(BM_ExplorerShiftPageDown)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char **argv) { return RunExplorerBenchmarks(argc, argv); }
