#include "ExportThread.h"

#include "ShownText.h"

#include "PackPath.h"

#include <QFile>

using zarnik::ArchiveNode;
using zarnik::CZarnikArchive;
using zarnik::ExtractDestination;
using zarnik::ExtractOutcome;

ExportThread::ExportThread(const CZarnikArchive *archive, const QList<ExportItem> &items,
                           const QString &destination, unsigned workers, QObject *parent)
    : QThread(parent)
    , m_archive(archive)
    , m_items(items)
    , m_totalBytes(0)
    , m_workers(workers)
{
    m_result.destination = destination;
    for (const ExportItem &item : items) {
        const zarnik::TreeTotals totals = zarnik::CountTree(item.node);
        m_totalBytes += totals.unpackedBytes;
        m_result.filesTotal += int(totals.files);
    }
    // done() is queued before finished(): whoever connects to it reads the
    // result before the object goes.
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

ExportThread::~ExportThread()
{
    // Whoever deletes a running export (the window closed, or going with
    // the application) has it stopped and ended here: the archive it reads
    // goes only after this.
    requestStop();
    wait();
}

void ExportThread::run()
{
    zarnik::ExtractSettings settings;
    settings.stop = &m_stop;
    settings.workers = m_workers;
    const zarnik::CExtraction extraction(*m_archive, this, settings);
    // The library writes with the system's 8-bit calls: the file-system
    // encoding keeps every name the dialog can return writable.
    const std::string destination = QFile::encodeName(m_result.destination).toStdString();
    for (const ExportItem &item : qAsConst(m_items)) {
        const ArchiveNode *node = item.node;
        // One file alone goes to exactly the path chosen; anything else
        // below the directory chosen, at its place below its leading
        // folders.
        const bool alone = m_items.size() == 1 && !m_below && !node->IsFolder() && item.leadingFolders.empty();
        m_result.end = extraction.Extract(*node, alone ? ExtractDestination::File(destination)
                                                       : ExtractDestination::Folder(destination, item.leadingFolders));
        if (m_result.end != zarnik::ExtractEnd::Finished)
            break; // stopped, the disk full, or no data to read
    }
    emit done(m_result);
}

void ExportThread::OnExtractFile(const std::string &path)
{
    // With several workers a file is announced when it is handed out, a
    // little ahead of the results.
    emit fileStarted(shownText(path), ++m_filesStarted,
                     m_result.filesTotal);
}

void ExportThread::OnExtractBytes(uint64_t count)
{
    m_currentBytes += count;
    reportProgress();
}

void ExportThread::OnExtractReason(const ArchiveNode &, const std::string &reason)
{
    m_reason = QString::fromLocal8Bit(reason.c_str());
}

void ExportThread::OnExtractResult(const ArchiveNode &node, ExtractOutcome outcome)
{
    // A written file's bytes came in as they were written (with several
    // workers, of several files at once); any other counts whole once
    // reported, so the bar ends at 100. A folder that could not be made
    // takes its files with it.
    const zarnik::TreeTotals totals = zarnik::CountTree(&node);
    if (outcome != ExtractOutcome::Written)
        m_bytesDone += totals.unpackedBytes;
    m_result.filesReported += int(totals.files);
    if (outcome == ExtractOutcome::Written) {
        ++m_result.filesWritten;
        m_result.bytesWritten += node.m_UnpackedSize;
    } else {
        m_result.failures.append({shownText(node.m_Path), outcome, m_reason});
    }
    m_reason.clear();
    reportProgress();
}

void ExportThread::reportProgress()
{
    uint64_t done = m_bytesDone + m_currentBytes;
    if (done > m_totalBytes)
        done = m_totalBytes; // an entry that unpacks to more than it says
    const int percent = m_totalBytes == 0 ? 100 : int(done * 100 / m_totalBytes);
    if (percent == m_percent)
        return;
    m_percent = percent;
    emit progressChanged(percent);
}

