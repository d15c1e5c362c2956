#include "ExportThread.h"

#include "ProgressDlg.h"

ExportThread::ExportThread()
    : QThread(nullptr)
    , m_node(nullptr)
    , m_archive(nullptr)
    , m_progressDlg(nullptr)
    , m_total(0)
    , m_done(0)
{
}

ExportThread::~ExportThread() = default;

void ExportThread::SetupExport(ArchiveNode *node, const std::string &destPath,
                               CZarnikArchive *archive, ProgressDlg *progressDlg)
{
    m_node = node;
    m_destPath = destPath;
    m_archive = archive;
    m_progressDlg = progressDlg;

    if (m_progressDlg) {
        m_progressDlg->SetLabel1Text(tr("Exporting files, please wait, it may take several minutes..."));
        // Not exec(): the GUI thread goes back to its event loop, and the
        // window-modal dialog keeps the user away from the archive meanwhile.
        m_progressDlg->show();
    }

    m_done = 0;
    m_total = m_node->m_PackedSize != 0 ? 1 : CountNodes(m_node);

    // This object lives in the GUI thread and emits from the worker, so the
    // automatic connections queue every report into the GUI thread.
    if (m_progressDlg) {
        connect(this, &ExportThread::FileNameChanged, m_progressDlg, &ProgressDlg::SetLabel2Text);
        connect(this, &ExportThread::ProgressChanged, m_progressDlg, &ProgressDlg::SetProgress);
    }
}

void ExportThread::run()
{
    m_archive->Extract(m_node, m_destPath, this);
}

void ExportThread::OnExtractFile(const std::string &path)
{
    ++m_done;
    if (!m_progressDlg)
        return;

    emit FileNameChanged(QString::fromLatin1(path.data(), qsizetype(path.size())));

    // A folder without files reports nothing, so a total of 0 never divides;
    // the guard only keeps that true should extraction ever report more files
    // than were counted.
    if (m_total == 0)
        return;
    int progress = int(double(m_done) / double(m_total) * 100.0);
    if (progress > 100)
        progress = 100;
    emit ProgressChanged(progress);
}

uint32_t ExportThread::CountNodes(const ArchiveNode *node)
{
    uint32_t count = 0;
    for (const ArchiveNode *child : node->m_Children)
        count += (child->m_PackedSize != 0 ? 1 : 0) + CountNodes(child);
    return count;
}
