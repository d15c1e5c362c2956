#include "SaveThread.h"

#include "EditRecord.h"
#include "PackEdit.h"
#include "ShownText.h"

#include <QFile>

SaveThread::SaveThread(const zarnik_pack::PackEdit &edit, const QString &target, QObject *parent)
    : QThread(parent)
    , m_edit(edit)
    , m_target(target)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    // The record counts a folder the first time it is asked and keeps the
    // count; once the root is counted every folder is, and each change keeps
    // them so. Counted here, on the window's thread, the save's walk only
    // reads the record while the window goes on painting from it.
    edit.FileCount();
}

SaveThread::~SaveThread()
{
    requestStop();
    wait();
}

void SaveThread::run()
{
    // Walked here, off the window's thread, in one pass: a pack of a million
    // files takes a while to walk. Only each file's node is kept, to name it
    // as it is written; its path is asked for then. The progress counts kept
    // entries by their stored bytes and new files by their size, as the
    // edit reports them.
    const zarnik_pack::EditRecord &record = m_edit.Record();
    const auto bytesOf = [&record](const zarnik::ArchiveNode *node) {
        const zarnik_pack::DiskSource *source = record.Source(node);
        return source ? source->size : node->m_PackedSize;
    };
    std::vector<const zarnik::ArchiveNode *> files;
    uint64_t totalBytes = 0;
    record.ForEachFile([&](const zarnik::ArchiveNode *node, const std::string &) {
        files.push_back(node);
        totalBytes += bytesOf(node);
    });
    const int count = int(files.size());
    int percent = -1;
    int announced = 0;
    // The read-back goes through the new pack's files in the order they
    // were written, but counts only the bytes it reads from the disk: its
    // bar is weighed by the files checked so far, as the writing was.
    bool checking = false;
    size_t weighed = 0;
    uint64_t checkedBytes = 0;
    zarnik_pack::SaveOptions options;
    options.out = m_target.isEmpty() ? std::string() : QFile::encodeName(m_target).toStdString();
    options.stop = &m_stop;
    options.stage = [&](zarnik_pack::SaveStage stage) {
        if (stage != zarnik_pack::SaveStage::Checking || checking)
            return;
        checking = true;
        announced = 0;
        percent = -1;
        emit checkStarted();
    };
    options.progress = [&](uint64_t filesDone, uint64_t bytesDone) {
        if (int(filesDone) < count && announced <= int(filesDone)) {
            announced = int(filesDone) + 1;
            emit fileStarted(shownText(record.Path(files[filesDone])), announced, count);
        }
        for (; checking && weighed < filesDone && weighed < files.size(); ++weighed)
            checkedBytes += bytesOf(files[weighed]);
        const uint64_t done = std::min(checking ? checkedBytes : bytesDone, totalBytes);
        const int now = totalBytes == 0 ? 100 : int(done * 100 / totalBytes);
        if (now != percent)
            emit progressChanged(percent = now);
    };
    if (count > 0)
        emit fileStarted(shownText(record.Path(files.front())), announced = 1, count);
    const zarnik_pack::SaveOutcome outcome = m_edit.Save(options);
    emit done(outcome.problem == zarnik_pack::EditProblem::None,
              outcome.problem == zarnik_pack::EditProblem::Stopped,
              QString::fromStdString(outcome.reason));
}
