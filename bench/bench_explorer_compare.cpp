// The explorer's File > Compare with... against `zarnik diff`, on the two
// versions of a 1 GiB pack of 256 packed files that bench_diff uses (one
// file replaced), on the offscreen platform: from the command until the
// tree shows the comparison, beside the built tool's diff of the same pair,
// in turns; the medians are reported as counters.
#include "DiffPacks.h"
#include "MainWindow.h"
#include "PeakMemory.h"
#include "ProgressDlg.h"
#include "QtBenchMain.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void BM_CompareAgainstDiff(benchmark::State &state)
{
    if (!zarnik_corpus::PrepareDiffPacks(ZARNIK_EXE)) {
        state.SkipWithError("cannot make the packs");
        return;
    }
    const auto root = zarnik_corpus::DiffPacksRoot();
    const std::string a = (root / "a.upk").string(), b = (root / "b.upk").string();
    MainWindow window;
    window.show();
    if (!window.openPack(QFile::decodeName(a.c_str()))) {
        state.SkipWithError("cannot open a.upk");
        return;
    }
    std::vector<double> explorer, tool;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        window.compareWith(QFile::decodeName(b.c_str()));
        while (window.findChild<ProgressDlg *>())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        explorer.push_back(double(timer.nsecsElapsed()) / 1e9);
        const auto start = std::chrono::steady_clock::now();
        if (RunTool(ZARNIK_EXE, {"diff", a, b}) != 1)
            state.SkipWithError("unexpected exit status of zarnik diff");
        tool.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["explorer_s"] = Median(explorer);
    state.counters["diff_s"] = Median(tool);
    state.counters["explorer_per_diff"] = Median(explorer) / Median(tool);
}

} // namespace

BENCHMARK(BM_CompareAgainstDiff)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

int main(int argc, char **argv) { return RunExplorerBenchmarks(argc, argv); }
