// The explorer's Open command on a large pack: 100,000 files in 2,000
// folders, on the offscreen platform. Times from the moment the file dialog
// is accepted to the filled tree view (the command's return), for a fresh
// window and for a window that still shows the same pack (its items are
// cleared first).
#include "MainWindow.h"
#include "PackWriter.h"

#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

const int kAreas = 50;
const int kSubsPerArea = 40; // 2,000 folders with files, 50 above them
const int kFiles = 100000;

std::string PackPath()
{
    return (std::filesystem::temp_directory_path() / "zarnik-bench-explorer-100k.upk").string();
}

void MakePack(const std::string &path)
{
    std::vector<zarnik_pack::Entry> entries(kFiles);
    char name[96];
    for (int i = 0; i < kFiles; ++i) {
        const int folder = i / (kFiles / (kAreas * kSubsPerArea));
        std::snprintf(name, sizeof name, "content\\area_%02d\\sub_%02d\\file_%06d.dds",
                      folder / kSubsPerArea, folder % kSubsPerArea, i);
        entries[size_t(i)].path = name;
        entries[size_t(i)].data = {static_cast<unsigned char>(i)};
        entries[size_t(i)].storage = zarnik_pack::Storage::Stored;
    }
    if (!zarnik_pack::WriteFile(path, zarnik_pack::BuildUpk(entries)))
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

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
