#include "ExportThread.h"

#include <QFile>

ExportThread::ExportThread(CZarnikArchive *archive, const ArchiveNode *node,
                           const QString &destination, QObject *parent)
    : QThread(parent)
    , m_archive(archive)
    , m_node(node)
    , m_totalBytes(TotalBytes(node))
{
    m_result.destination = destination;
    m_result.filesTotal = CountFiles(node);
    // done() is queued before finished(): whoever connects to it reads the
    // result before the object goes.
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

ExportThread::~ExportThread()
{
    // Whoever deletes a running export (the window going with the
    // application) lets it finish: the archive goes only after this.
    wait();
}

void ExportThread::run()
{
    CZarnikArchive::ExtractOptions options;
    options.stop = &m_stop;
    // The library writes with the system's 8-bit calls: the file-system
    // encoding keeps every name the dialog can return writable.
    m_result.end = m_archive->Extract(
        m_node, QFile::encodeName(m_result.destination).toStdString(), this, options);
    emit done(m_result);
}

void ExportThread::OnExtractFile(const std::string &path)
{
    m_currentBytes = 0;
    emit fileStarted(QString::fromLatin1(path.data(), qsizetype(path.size())),
                     m_result.filesReported + 1, m_result.filesTotal);
}

void ExportThread::OnExtractBytes(uint64_t count)
{
    m_currentBytes += count;
    reportProgress();
}

void ExportThread::OnExtractResult(const ArchiveNode &node, ExtractOutcome outcome)
{
    // A file counts whole once reported, written or not, so the bar ends at
    // 100; a folder that could not be made takes its files with it.
    m_bytesDone += TotalBytes(&node);
    m_currentBytes = 0;
    m_result.filesReported += node.IsFolder() ? CountFiles(&node) : 1;
    if (outcome == ExtractOutcome::Written) {
        ++m_result.filesWritten;
        m_result.bytesWritten += node.m_UnpackedSize;
    } else {
        m_result.failures.append(
            {QString::fromLatin1(node.m_Path.data(), qsizetype(node.m_Path.size())), outcome});
    }
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

uint64_t ExportThread::TotalBytes(const ArchiveNode *node)
{
    if (!node->IsFolder())
        return node->m_UnpackedSize;
    uint64_t total = 0;
    for (const ArchiveNode *child : node->m_Children)
        total += TotalBytes(child);
    return total;
}

int ExportThread::CountFiles(const ArchiveNode *node)
{
    if (!node->IsFolder())
        return 1;
    int count = 0;
    for (const ArchiveNode *child : node->m_Children)
        count += CountFiles(child);
    return count;
}
