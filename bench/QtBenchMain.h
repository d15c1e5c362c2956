// The main of a benchmark that drives the explorer's window: Qt offscreen
// unless told otherwise, and the window's remembered packs and folders kept
// in Qt's test settings, not the user's.
#pragma once

#include <QApplication>
#include <QStandardPaths>

#include <benchmark/benchmark.h>

inline int RunExplorerBenchmarks(int argc, char **argv)
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
