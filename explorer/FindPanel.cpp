#include "FindPanel.h"

#include "FindHighlight.h"
#include "FindResults.h"
#include "FindThread.h"
#include "Matcher.h"
#include "ShownText.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

FindPanel::FindPanel(QWidget *parent)
    : QDockWidget(tr("Find in Files"), parent)
{
    setObjectName(QStringLiteral("findPanel"));
    setWidget(makeControls());
    hide();

    m_findAction = new QAction(tr("Find in &Files..."), this);
    m_findAction->setObjectName(QStringLiteral("actionFindInFiles"));
    m_findAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    m_findAction->setToolTip(tr("Search inside the files of the pack as saved"));
    connect(m_findAction, &QAction::triggered, this, [this] {
        show();
        raise();
        m_pattern->setFocus(Qt::ShortcutFocusReason);
        m_pattern->selectAll();
    });
    m_nextAction = new QAction(tr("Find &Next"), this);
    m_nextAction->setObjectName(QStringLiteral("actionFindNext"));
    m_nextAction->setShortcut(QKeySequence(Qt::Key_F3));
    connect(m_nextAction, &QAction::triggered, this, [this] { step(1); });
    m_previousAction = new QAction(tr("Find Pre&vious"), this);
    m_previousAction->setObjectName(QStringLiteral("actionFindPrevious"));
    m_previousAction->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));
    connect(m_previousAction, &QAction::triggered, this, [this] { step(-1); });
    updateCommands();
}

FindPanel::~FindPanel()
{
    stopSearch();
}

QWidget *FindPanel::makeControls()
{
    auto *controls = new QWidget(this);
    m_pattern = new QLineEdit(controls);
    m_pattern->setObjectName(QStringLiteral("findPattern"));
    m_pattern->setPlaceholderText(tr("Text to find inside the files"));
    m_pattern->setClearButtonEnabled(true);
    m_matchCase = new QCheckBox(tr("Match &case"), controls);
    m_wholeWord = new QCheckBox(tr("&Whole word"), controls);
    m_regex = new QCheckBox(tr("Regular e&xpression"), controls);
    m_findButton = new QPushButton(tr("Find"), controls);
    m_findButton->setObjectName(QStringLiteral("findButton"));
    m_status = new QLabel(controls);
    m_status->setObjectName(QStringLiteral("findStatus"));
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_scope = new QLabel(controls);
    m_scope->setObjectName(QStringLiteral("findScope"));
    m_scope->setWordWrap(true);
    m_scope->setText(tr("The pack is searched as it was last saved: the changes waiting are not searched "
                        "until they are saved."));
    m_scope->hide();
    m_progress = new QProgressBar(controls);
    m_progress->setObjectName(QStringLiteral("findProgress"));
    m_progress->setRange(0, 1000);
    m_progress->setMaximumWidth(200);
    // Its room stays when it hides, so that the panel keeps still and Cancel
    // stays under the pointer as a search starts and ends.
    QSizePolicy keepRoom = m_progress->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    m_progress->setSizePolicy(keepRoom);
    m_progress->hide();

    m_results = new FindResults(this);
    m_view = new QTreeView(controls);
    m_view->setObjectName(QStringLiteral("findResults"));
    m_view->setModel(m_results);
    m_view->setRootIsDecorated(false);
    m_view->setUniformRowHeights(true);
    m_view->setAllColumnsShowFocus(true);
    m_view->setItemDelegateForColumn(FindResults::TextColumn, new MatchDelegate(FindResults::MarksRole, m_view));
    QHeaderView *header = m_view->header();
    header->setStretchLastSection(true);
    header->resizeSection(FindResults::FileColumn, 260);
    header->resizeSection(FindResults::LineColumn, 60);

    auto *line = new QHBoxLayout;
    line->addWidget(m_pattern, 1);
    for (QWidget *w : std::initializer_list<QWidget *>{m_matchCase, m_wholeWord, m_regex, m_findButton})
        line->addWidget(w);
    auto *state = new QHBoxLayout;
    state->addWidget(m_status, 1);
    state->addWidget(m_progress);
    auto *layout = new QVBoxLayout(controls);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addLayout(line);
    layout->addWidget(m_scope);
    layout->addLayout(state);
    layout->addWidget(m_view, 1);

    connect(m_pattern, &QLineEdit::returnPressed, this, &FindPanel::findOrNext);
    connect(m_pattern, &QLineEdit::textChanged, this, &FindPanel::updateCommands);
    connect(m_findButton, &QPushButton::clicked, this, [this] { m_running ? cancel() : start(); });
    connect(m_view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) {
                if (current.isValid())
                    choose(current.row());
            });
    for (QWidget *w : std::initializer_list<QWidget *>{m_pattern, m_matchCase, m_wholeWord, m_regex, m_view})
        w->installEventFilter(this);
    return controls;
}

QList<QAction *> FindPanel::commands() const
{
    return {m_findAction, m_nextAction, m_previousAction};
}

void FindPanel::setPack(const zarnik::CZarnikArchive *archive, const QString &fileName)
{
    stopSearch();
    const bool searched = !m_lastQuery.isEmpty();
    m_results->clear();
    m_lastQuery.clear();
    m_scope->hide();
    m_progress->hide();
    // A save opens the pack again: what was found there may have moved.
    m_status->setText(searched && archive && fileName == m_fileName
                          ? tr("The pack was saved since the last search: Find again to search it as it is now.")
                          : QString());
    m_archive = archive;
    m_fileName = fileName;
    setWindowTitle(archive ? tr("Find in Files - %1").arg(QFileInfo(fileName).fileName()) : tr("Find in Files"));
    updateCommands();
}

void FindPanel::closeEvent(QCloseEvent *event)
{
    // A search nobody sees is of no use.
    cancel();
    QDockWidget::closeEvent(event);
}

bool FindPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Escape && m_running) {
            cancel();
            return true;
        }
        // Enter in the results goes to the next one; on a toggle, it finds
        // as in the pattern.
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && watched != m_pattern) {
            watched == m_view ? step(1) : findOrNext();
            return true;
        }
    }
    return QDockWidget::eventFilter(watched, event);
}

QString FindPanel::query() const
{
    return QStringLiteral("%1%2%3:").arg(int(m_matchCase->isChecked())).arg(int(m_wholeWord->isChecked()))
               .arg(int(m_regex->isChecked()))
           + m_pattern->text();
}

void FindPanel::findOrNext()
{
    if (query() == m_lastQuery && m_results->rowCount() > 0)
        step(1);
    else
        start();
}

void FindPanel::start()
{
    if (!m_archive || m_pattern->text().isEmpty())
        return;
    zarnik_search::PatternSettings settings;
    settings.patterns = {m_pattern->text().toStdString()};
    settings.fixed = !m_regex->isChecked();
    settings.ignoreCase = !m_matchCase->isChecked();
    settings.wholeWord = m_wholeWord->isChecked();
    std::string error;
    std::unique_ptr<zarnik_search::CMatcher> matcher = zarnik_search::CompileMatcher(settings, error);
    stopSearch();
    m_results->clear();
    m_lastQuery = query();
    if (!matcher) {
        m_scope->hide();
        m_status->setText(tr("Not a pattern to search for: %1").arg(QString::fromStdString(error)));
        updateCommands();
        return;
    }
    updateScope();
    m_thread = std::make_unique<FindThread>(*m_archive, std::move(matcher), ++m_serial, this);
    connect(m_thread.get(), &FindThread::report, this, &FindPanel::take);
    m_running = true;
    m_progress->setValue(0);
    m_progress->show();
    showTally(FindTally());
    updateCommands();
    m_thread->start();
}

void FindPanel::updateScope()
{
    m_scope->setVisible(!m_lastQuery.isEmpty() && m_pending && m_pending());
}

void FindPanel::cancel()
{
    if (m_thread)
        m_thread->requestStop(); // its last report says where it stopped
}

void FindPanel::stopSearch()
{
    // Its reports still on their way are dropped by their serial.
    ++m_serial;
    m_thread.reset();
    m_running = false;
}

void FindPanel::take(quint64 serial, const QList<FoundLine> &rows, const FindTally &tally)
{
    if (serial != m_serial)
        return; // a search that was stopped, or of a pack gone
    m_results->append(rows);
    if (tally.end != FindTally::End::Running) {
        m_running = false;
        m_thread.reset();
    }
    showTally(tally);
    updateCommands();
}

void FindPanel::showTally(const FindTally &tally)
{
    const auto count = [](quint64 n, const QString &one, const QString &many) { return countText(n, one, many); };
    QString text = tally.matches == 0 ? tr("No matches")
                                      : tr("%1 in %2").arg(count(tally.matches, tr("1 match"), tr("%1 matches")),
                                                           count(tally.files, tr("1 file"), tr("%1 files")));
    if (tally.unread > 0)
        text += tr("; %1 not searched whole")
                    .arg(count(tally.unread, tr("1 file"), tr("%1 files")));
    if (tally.rows >= quint64(FindThread::kListed))
        text += tr("; the first %1 listed").arg(QLocale().toString(FindThread::kListed));
    const QString searched = tr("%1 of %2 files searched")
                                 .arg(QLocale().toString(tally.filesSearched), QLocale().toString(tally.filesTotal));
    if (tally.end == FindTally::End::Running)
        text = tr("Searching... %1 (%2)").arg(text, searched);
    else if (tally.end == FindTally::End::Stopped)
        text = tr("Cancelled: %1; %2").arg(text, searched);
    m_status->setText(text);
    m_progress->setVisible(tally.end == FindTally::End::Running);
    m_progress->setValue(tally.bytesTotal == 0 ? 0 : int(std::min(tally.bytesRead, tally.bytesTotal) * 1000 / tally.bytesTotal));
}

void FindPanel::updateCommands()
{
    m_findButton->setText(m_running ? tr("Cancel") : tr("Find"));
    m_findButton->setEnabled(m_running || (m_archive && !m_pattern->text().isEmpty()));
    m_findAction->setEnabled(m_archive != nullptr);
    const bool results = m_results->rowCount() > 0;
    m_nextAction->setEnabled(results);
    m_previousAction->setEnabled(results);
}

void FindPanel::step(int by)
{
    const int rows = m_results->rowCount();
    if (rows == 0)
        return;
    const int current = m_view->currentIndex().isValid() ? m_view->currentIndex().row() : (by > 0 ? -1 : rows);
    const int next = ((current + by) % rows + rows) % rows;
    if (next == current)
        return choose(next); // the only result: shown again
    m_view->setCurrentIndex(m_results->index(next, 0));
}

void FindPanel::choose(int row)
{
    const FoundLine &found = m_results->row(row);
    m_view->scrollTo(m_results->index(row, 0));
    emit resultChosen(found.file, found.spot);
}
