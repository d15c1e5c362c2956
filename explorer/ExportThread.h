// The export job: runs the archive's extraction on a worker thread and
// turns its per-file reports into progress for the dialog.
#pragma once

#include "ZarnikArchive.h"

#include <QThread>

#include <cstdint>
#include <string>

class ProgressDlg;

class ExportThread : public QThread, public CZarnikArchive::Callback
{
    Q_OBJECT

public:
    ExportThread();
    ~ExportThread() override;

    // Called once in the GUI thread before start(): everything the worker
    // reads is written here and never changed while it runs, so no lock is
    // needed. `destPath` is in the file-system encoding.
    void SetupExport(ArchiveNode *node, const std::string &destPath, CZarnikArchive *archive,
                     ProgressDlg *progressDlg);

    // Worker thread: once per file, before its bytes are read.
    void OnExtractFile(const std::string &path) override;

    // The files below `node` at every depth; folders do not count, because
    // extraction reports files only and the bar has to end at 100.
    static uint32_t CountNodes(const ArchiveNode *node);

signals:
    void FileNameChanged(const QString &text);
    void ProgressChanged(int progress);

protected:
    void run() override;

private:
    ArchiveNode *m_node;
    std::string m_destPath;
    CZarnikArchive *m_archive;
    ProgressDlg *m_progressDlg;
    uint32_t m_total;
    uint32_t m_done; // the worker's alone
};
