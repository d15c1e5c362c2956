#include "CompareView.h"

#include "ArchiveTree.h"
#include "CompareExport.h"
#include "CompareThread.h"
#include "Comparison.h"
#include "DetailsPane.h"
#include "DifferencesThread.h"
#include "EditRecord.h"
#include "Habits.h"
#include "ProgressDlg.h"
#include "ShownText.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMainWindow>
#include <QMessageBox>
#include <QStatusBar>

using zarnik::ArchiveNode;

CompareView::CompareView(QMainWindow *window, ArchiveTree *tree, DetailsPane *details,
                         std::function<QString()> packShown, std::function<const zarnik_pack::EditRecord *()> normal)
    : m_window(window)
    , m_tree(tree)
    , m_details(details)
    , m_packShown(std::move(packShown))
    , m_normal(std::move(normal))
{
    const auto action = [this](const char *name, const QString &text, auto slot) {
        auto *a = new QAction(text, m_window);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    m_compare = action("actionCompare", tr("Compare &with..."), [this] { chooseOther(false); });
    m_compareFolder = action("actionCompareFolder", tr("Compare with F&older..."), [this] { chooseOther(true); });
    m_only = action("actionOnlyDifferences", tr("Only &Differences"), [this](bool on) { setOnlyDifferences(on); });
    m_only->setCheckable(true);
    m_exportAction = action("actionExportDifferences", tr("Export Di&fferences..."), [this] { exportDifferences(); });
    m_stop = action("actionStopComparing", tr("S&top Comparing"), [this] { leave(); });
    updateActions();
}

CompareView::~CompareView()
{
    endJobs();
    if (!m_comparison)
        return;
    // The window goes: its slots hear nothing more of the tree.
    const QSignalBlocker quiet(m_tree);
    m_details->clear();
    m_tree->packModel()->setChangeMarks(nullptr);
    m_tree->showRecord(nullptr);
}

QList<QAction *> CompareView::actions() const
{
    return {m_compare, m_compareFolder, m_only, m_exportAction, m_stop};
}

bool CompareView::active() const
{
    return m_thread || m_comparison;
}

QString CompareView::otherName() const
{
    return m_comparison ? QFileInfo(m_other).fileName() : QString();
}

bool CompareView::mayClose()
{
    if (!m_export)
        return true;
    const auto answer = QMessageBox::question(
        m_window, tr("Export running"),
        tr("The differences are being exported. Cancel the export and close?\n"
           "Files written so far stay; the one being written is removed."),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return false;
    endJobs();
    return true;
}

void CompareView::updateActions()
{
    m_compare->setEnabled(!m_thread && !m_export);
    m_compareFolder->setEnabled(m_compare->isEnabled());
    m_only->setEnabled(m_comparison != nullptr);
    m_exportAction->setEnabled(m_comparison && !m_export);
    m_stop->setEnabled(m_comparison && !m_export);
}

ProgressDlg *CompareView::progress(const QString &title, const QString &running, const QString &question)
{
    auto *dlg = new ProgressDlg(m_window);
    dlg->setWindowTitle(title);
    dlg->setNotice(running, question, tr("Cancelling..."));
    return dlg;
}

void CompareView::chooseOther(bool folder)
{
    // A folder is read as `zarnik create` packs it, an extraction as its pack.
    const QString other = folder
        ? QFileDialog::getExistingDirectory(m_window, tr("Compare With Folder"), Habits::openFolder(),
                                            QFileDialog::ShowDirsOnly)
        : QFileDialog::getOpenFileName(m_window, tr("Compare With"), Habits::openFolder(),
                                       tr("Zarnik packs and hash lists (%1 *.sha256 *.json);;All files (*)")
                                           .arg(QString::fromLatin1(zarnik::kPackNamePatterns)));
    if (!other.isEmpty())
        compareWith(other);
}

void CompareView::compareWith(const QString &other)
{
    if (m_thread || m_export)
        return;
    const QString pack = m_packShown();
    if (pack.isEmpty())
        return;
    leave();
    m_pack = pack;
    m_other = QDir::cleanPath(other);
    m_thread = new CompareThread(QFile::encodeName(pack).toStdString(), QFile::encodeName(m_other).toStdString(),
                                 m_window);
    m_progressDlg = progress(tr("Comparing"),
                             tr("Comparing %1 with %2...").arg(QFileInfo(pack).fileName(), QFileInfo(m_other).fileName()),
                             tr("Cancel the comparison?\nThe pack is shown as it is."));
    connect(m_thread, &CompareThread::progressChanged, m_progressDlg, &ProgressDlg::setProgress);
    connect(m_thread, &CompareThread::done, this, &CompareView::onCompareDone);
    connect(m_progressDlg, &ProgressDlg::cancelRequested, m_thread, &CompareThread::requestStop);
    updateActions();
    emit modeChanged();
    m_progressDlg->show();
    m_thread->start();
}

void CompareView::onCompareDone(bool compared, const QString &reason)
{
    std::unique_ptr<Comparison> comparison = compared && m_thread ? m_thread->take() : nullptr;
    m_thread = nullptr; // it deletes itself once finished
    endJobs();
    if (!comparison) {
        if (!reason.isEmpty())
            QMessageBox::warning(m_window, tr("Cannot compare"), tr("The comparison could not be made:\n%1").arg(reason));
        updateActions();
        emit modeChanged();
        return;
    }
    m_comparison = std::move(comparison);
    showComparison();
    const std::vector<zarnik::CompareProblem> &problems = m_comparison->result().problems;
    const size_t count = m_comparison->result().differences.size();
    m_window->statusBar()->showMessage(
        countText(count, tr("1 difference from %2"), tr("%1 differences from %2"), tr("No difference from %2"))
            .arg(QFileInfo(m_other).fileName()));
    if (problems.empty())
        return;
    // Files whose bytes could not be had, and what a folder holds that no
    // pack can (links, FIFOs), are neither the same nor different.
    QStringList lines;
    for (const zarnik::CompareProblem &problem : problems)
        lines << (problem.side == 0 ? tr("this version") : tr("the other version")) + QStringLiteral(": ")
                     + (problem.path.empty() ? QString() : shownText(problem.path) + QStringLiteral(": "))
                     + QString::fromStdString(problem.text);
    QMessageBox box(QMessageBox::Warning, tr("Compared with omissions"),
                    countText(problems.size(), tr("1 file is not compared: the details say why."),
                              tr("%1 files are not compared: the details say why.")),
                    QMessageBox::Ok, m_window);
    box.setDetailedText(lines.join(QLatin1Char('\n')));
    box.exec();
}

void CompareView::showComparison()
{
    const Comparison *comparison = m_comparison.get();
    m_tree->packModel()->setChangeMarks([comparison](const ArchiveNode *node) { return comparison->marks(node); });
    m_tree->showRecord(&comparison->record());
    setOnlyDifferences(m_only->isChecked());
    updateActions();
    emit modeChanged();
}

void CompareView::setOnlyDifferences(bool only)
{
    const Comparison *comparison = m_comparison.get();
    if (!comparison)
        return;
    PackModel *model = m_tree->packModel();
    if (only)
        model->setShown([comparison](const ArchiveNode *node) {
            return comparison->kindOf(node) != Comparison::Kind::Same || comparison->changesBelow(node) > 0;
        });
    else
        model->setShown(nullptr);
    m_tree->choose(comparison->record().Root());
    m_tree->expand(model->index(0, 0));
}

void CompareView::endJobs()
{
    // Each stops its worker and waits for it.
    delete m_thread;
    delete m_export;
    if (m_progressDlg) {
        m_progressDlg->finish();
        delete m_progressDlg;
    }
}

void CompareView::leave()
{
    endJobs();
    if (m_comparison) {
        m_details->clear();
        PackModel *model = m_tree->packModel();
        model->setShown(nullptr);
        model->setChangeMarks(nullptr);
        const zarnik_pack::EditRecord *normal = m_normal();
        m_tree->showRecord(normal);
        if (normal)
            m_tree->choose(normal->Root());
        m_comparison.reset();
    }
    updateActions();
    emit modeChanged();
}

void CompareView::showDetails(const QList<const ArchiveNode *> &nodes)
{
    if (!m_comparison)
        return;
    const Comparison &c = *m_comparison;
    const zarnik_pack::EditRecord &record = c.record();
    if (nodes.size() != 1) { // the selection's
        m_details->showSeveral(int(nodes.size()), m_tree->selectedTotals());
        return;
    }
    const ArchiveNode *node = nodes.first();
    const DetailsPane::Entry entry{shownText(record.Name(node)), shownText(record.Path(node)),
                                   c.marks(node).tips.join(QLatin1Char('\n')), tr("Compared:")};
    const zarnik::SideFile *a = c.fileInA(node), *b = c.fileInB(node);
    const zarnik::CZarnikArchive *archiveB = c.sideB().Archive();
    if (!record.IsFile(node))
        m_details->showFolder(entry, m_tree->totals(node), storedOf(node));
    else if (a && b && (b->node || !b->diskPath.empty()) && c.kindOf(node) == Comparison::Kind::Modified)
        m_details->showCompared(entry, PreviewFile::inPack(*c.sideA().Archive(), *a->node),
                                b->node ? PreviewFile::inPack(*archiveB, *b->node)
                                        : PreviewFile::onDisk(QFile::decodeName(QByteArray::fromStdString(b->diskPath)),
                                                              b->size.value_or(0)));
    else if (b && b->node)
        m_details->showFile(archiveB, b->node, entry);
    else if (a && a->node)
        m_details->showFile(c.sideA().Archive(), a->node, entry);
    else // a file on disk, or a saved hash list, which holds no bytes
        m_details->showPendingFile(entry, b && b->size ? *b->size : 0,
                                   b && !b->diskPath.empty() ? QFile::decodeName(QByteArray::fromStdString(b->diskPath))
                                                             : tr("a list of hashes, without the bytes"));
}

DetailsPane::StoredOf CompareView::storedOf(const ArchiveNode *folder) const
{
    // What the Stored column shows of the folder, and of which version.
    const Comparison &c = *m_comparison;
    if (!c.storedIsB(folder))
        return {QFileInfo(m_pack).fileName(), m_tree->totals(folder).storedBytes};
    return {otherName(), c.storedInB(folder)};
}

void CompareView::exportDifferences()
{
    if (!m_comparison || m_export)
        return;
    if (m_comparison->sideB().GetKind() == zarnik::CCompareSide::Kind::HashList) {
        QMessageBox::information(m_window, tr("Export Differences"),
                                 tr("%1 is a list of hashes: it holds no files to export.")
                                     .arg(QFileInfo(m_other).fileName()));
        return;
    }
    const QString folder = QFileDialog::getExistingDirectory(m_window, tr("Export Differences to..."),
                                                             Habits::exportFolder(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty())
        return;
    Habits::setExportFolder(folder);
    m_export = new DifferencesThread(*m_comparison, folder, m_window);
    m_progressDlg = progress(tr("Exporting Differences"),
                             tr("Writing the added, modified and renamed files of %1, and %2, into %3...")
                                 .arg(QFileInfo(m_other).fileName(), QString::fromLatin1(zarnik::kRemovedListName),
                                      QDir::toNativeSeparators(folder)),
                             tr("Cancel the export?\nFiles written so far stay; the one being written is removed."));
    connect(m_export, &DifferencesThread::fileDone, m_progressDlg, [dlg = m_progressDlg](const QString &path, int n, int count) {
        dlg->setFile(path, n, count);
        dlg->setProgress(n * 100 / count);
    });
    connect(m_export, &DifferencesThread::done, this, &CompareView::onExportDone);
    connect(m_progressDlg, &ProgressDlg::cancelRequested, m_export, &DifferencesThread::requestStop);
    updateActions();
    m_progressDlg->show();
    m_export->start();
}

void CompareView::onExportDone(int written, const QStringList &failed, bool stopped, const QString &refused)
{
    m_export = nullptr; // it deletes itself once finished
    endJobs();
    updateActions();
    const QString files = countText(quint64(written), tr("1 file"), tr("%1 files"), tr("no file"));
    if (!refused.isEmpty()) {
        QMessageBox::critical(m_window, tr("Export Differences"), tr("Nothing was exported:\n%1").arg(refused));
    } else if (stopped || !failed.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, tr("Export Differences"),
                        stopped ? tr("The export was cancelled: %1 written.").arg(files)
                                : tr("%1 written; %2 not.").arg(files, countText(quint64(failed.size()), tr("1 file"),
                                                                                   tr("%1 files"))),
                        QMessageBox::Ok, m_window);
        box.setDetailedText(failed.join(QLatin1Char('\n')));
        box.exec();
    } else {
        m_window->statusBar()->showMessage(tr("Exported the differences: %1 written").arg(files));
    }
}
