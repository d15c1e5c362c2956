// The save job: the pending edit written as a new pack on a worker thread,
// checked and published by the pack writer. Its reports reach the window as
// plain signals (queued into the GUI thread), as the export's do. The edit
// must stay unchanged until the thread is deleted; the thread deletes itself
// after finishing, and its destructor stops the worker and waits for it.
#pragma once

#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>

namespace zarnik_pack {
class PackEdit;
}

class SaveThread : public QThread
{
    Q_OBJECT

public:
    // `target`: the new pack's path; empty: over the pack the edit changes.
    SaveThread(const zarnik_pack::PackEdit &edit, const QString &target, QObject *parent);
    ~SaveThread() override;

public slots:
    // From any thread: the worker stops between blocks and leaves no file.
    void requestStop() { m_stop.store(true); }

signals:
    // Before each file of the new pack: its path and its number of `count`.
    void fileStarted(const QString &path, int number, int count);
    // Percentage of the bytes to write, sent when it changes.
    void progressChanged(int percent);
    // The new pack is written and is being read back: the files and the
    // percentage from now on are those of the check, from the first again.
    void checkStarted();
    // The last report: empty `reason` when the new pack stands under its
    // name; else why not, and whether a stop ended it.
    void done(bool saved, bool stopped, const QString &reason);

protected:
    void run() override;

private:
    const zarnik_pack::PackEdit &m_edit;
    QString m_target;
    std::atomic<bool> m_stop{false};
};
