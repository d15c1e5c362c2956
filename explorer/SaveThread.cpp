#include "SaveThread.h"

#include "PackEdit.h"
#include "ShownText.h"

#include <QFile>

SaveThread::SaveThread(const zarnik_pack::PackEdit &edit, const QString &target, QObject *parent)
    : QThread(parent)
    , m_edit(edit)
    , m_target(target)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

SaveThread::~SaveThread()
{
    requestStop();
    wait();
}

void SaveThread::run()
{
    // Listed here, off the window's thread: a pack of a million files
    // takes a while to list. The progress counts kept entries by their
    // stored bytes and new files by their size, as the edit reports them.
    const std::vector<zarnik_pack::PackEdit::Item> items = m_edit.Items();
    const int count = int(items.size());
    uint64_t totalBytes = 0;
    for (const zarnik_pack::PackEdit::Item &item : items)
        totalBytes += item.node ? item.node->m_PackedSize : item.size;
    int percent = -1;
    int announced = 0;
    zarnik_pack::SaveOptions options;
    options.out = m_target.isEmpty() ? std::string() : QFile::encodeName(m_target).toStdString();
    options.stop = &m_stop;
    options.progress = [&](uint64_t filesDone, uint64_t bytesDone) {
        if (int(filesDone) < count && announced <= int(filesDone)) {
            announced = int(filesDone) + 1;
            emit fileStarted(shownText(items[filesDone].path), announced, count);
        }
        const int now = totalBytes == 0 ? 100 : int(std::min(bytesDone, totalBytes) * 100 / totalBytes);
        if (now != percent)
            emit progressChanged(percent = now);
    };
    if (count > 0)
        emit fileStarted(shownText(items.front().path), announced = 1, count);
    const zarnik_pack::SaveOutcome outcome = m_edit.Save(options);
    emit done(outcome.problem == zarnik_pack::EditProblem::None,
              outcome.problem == zarnik_pack::EditProblem::Stopped,
              QString::fromStdString(outcome.reason));
}
