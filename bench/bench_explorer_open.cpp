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
#include "DetailsPane.h"
#include "MainWindow.h"
#include "OutputFile.h"
#include "PackWriter.h"

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
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

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

// `files` in 2,000 folders.
void MakePack(const std::string &path, int files = kFiles)
{
    std::vector<zarnik_pack::Entry> entries(static_cast<size_t>(files));
    char name[96];
    for (int i = 0; i < files; ++i) {
        const int folder = i / (files / (kAreas * kSubsPerArea));
        std::snprintf(name, sizeof name, "content\\area_%02d\\sub_%02d\\file_%06d.dds",
                      folder / kSubsPerArea, folder % kSubsPerArea, i);
        entries[size_t(i)].path = name;
        entries[size_t(i)].data = {static_cast<unsigned char>(i)};
        entries[size_t(i)].storage = zarnik_pack::Storage::Stored;
    }
    const std::optional<zarnik_pack::Bytes> pack = zarnik_pack::BuildUpk(entries);
    if (!pack || !zarnik_pack::WriteNewFile(path, *pack))
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
}

int CountItems(QTreeWidgetItem *item)
{
    int n = 1;
    for (int i = 0; i < item->childCount(); ++i)
        n += CountItems(item->child(i));
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
        auto *tree = window->findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
        if (seconds < 0 || tree->topLevelItemCount() != 1) {
            state.SkipWithError("the pack did not open");
            break;
        }
        state.SetIterationTime(seconds);
        items = CountItems(tree->topLevelItem(0));
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
    auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    auto *filter = window.findChild<QLineEdit *>(QStringLiteral("filterEdit"));
    if (!tree || !filter || tree->topLevelItemCount() != 1) {
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
    auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
    auto *pane = window.findChild<DetailsPane *>();
    const auto item = [&](const char *name) {
        return tree->findItems(QString::fromLatin1(name), Qt::MatchRecursive).value(0);
    };
    if (!item(names[0])) {
        state.SkipWithError("the pack did not open");
        return;
    }
    const char *name = names[state.range(0)];
    double worst = 0;
    for (auto _ : state) {
        tree->setCurrentItem(tree->topLevelItem(0));
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
        tree->setCurrentItem(item(name));
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

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The window remembers packs and folders: here in Qt's test settings,
    // not the user's.
    QStandardPaths::setTestModeEnabled(true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
