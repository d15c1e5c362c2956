#include "DifferencesThread.h"

#include "CompareExport.h"
#include "Comparison.h"
#include "ShownText.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>

DifferencesThread::DifferencesThread(const Comparison &comparison, const QString &folder, QObject *parent)
    : QThread(parent)
    , m_comparison(comparison)
    , m_folder(folder)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

DifferencesThread::~DifferencesThread()
{
    requestStop();
    wait();
}

void DifferencesThread::run()
{
    const int count = m_comparison.filesToExport() + 1; // and removed.txt
    int number = 0, written = 0;
    QStringList failed;
    zarnik::ExportSettings settings;
    settings.stop = &m_stop;
    settings.result = [&](const std::string &path, zarnik::ExtractOutcome outcome, const std::string &reason) {
        const QString shown = shownText(path);
        if (outcome == zarnik::ExtractOutcome::Written)
            ++written;
        else if (outcome != zarnik::ExtractOutcome::Stopped)
            failed << shown + QStringLiteral(": ") + QString::fromUtf8(zarnik::ExtractOutcomeText(outcome))
                          + (reason.empty() ? QString() : QStringLiteral(" (%1)").arg(QString::fromStdString(reason)));
        emit fileDone(shown, ++number, std::max(count, number));
    };
    const zarnik::ExportEnd end = zarnik::ExportDifferences(m_comparison.sideB(), m_comparison.result().differences,
                                                            QFile::encodeName(m_folder).toStdString(), settings);
    if (end.end == zarnik::ExtractEnd::DiskFull)
        failed << QCoreApplication::translate("DifferencesThread",
                                              "The disk is full or read-only: the export is not complete.");
    emit done(written, failed, end.end == zarnik::ExtractEnd::Stopped, QString::fromStdString(end.refused));
}
