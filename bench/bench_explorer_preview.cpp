// The explorer's GUI thread while a preview loads, on the offscreen platform:
// a 4 MiB text without a line break, a 4 MiB text of short lines, and a
// 3000 x 2000 picture, each chosen in the tree of a shown window. Reports the
// longest time the event loop was held ("worst_ms": a keystroke typed then
// waits that long) from the click to 300 ms after the preview is shown.
#include "DetailsPane.h"
#include "MainWindow.h"
#include "PackWriter.h"

#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <string>

namespace {

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

void Open(MainWindow &window, const QString &path)
{
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto *dlg = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        answer.stop();
        dlg->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
        static_cast<QDialog *>(dlg)->accept();
    });
    answer.start(1);
    window.findChild<QAction *>(QStringLiteral("action_Open"))->trigger();
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
    zarnik_pack::WriteFile(QFile::encodeName(pack).toStdString(), zarnik_pack::BuildUpk(entries));
    MainWindow window;
    window.resize(1000, 700);
    window.show();
    Open(window, pack);
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
    QStandardPaths::setTestModeEnabled(true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
