// Export Differences on a worker: the added, modified and renamed files of
// the other version written below a folder, with removed.txt, through the
// library's ExportDifferences (the one `zarnik diff --export` calls). Its
// reports reach the window as queued signals; the thread deletes itself
// after finishing, and its destructor stops the worker and waits for it.
#pragma once

#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

class Comparison;

class DifferencesThread : public QThread
{
    Q_OBJECT

public:
    // `comparison` stays until the thread is deleted.
    DifferencesThread(const Comparison &comparison, const QString &folder, QObject *parent);
    ~DifferencesThread() override;

public slots:
    void requestStop() { m_stop.store(true); }

signals:
    // After each file: its path, and how many of `count` are done.
    void fileDone(const QString &path, int number, int count);
    // The last report: how many files were written, what was not and why
    // (one line each), and whether a stop ended it; `refused` when nothing
    // could be written at all.
    void done(int written, const QStringList &failed, bool stopped, const QString &refused);

protected:
    void run() override;

private:
    const Comparison &m_comparison;
    const QString m_folder;
    std::atomic<bool> m_stop{false};
};
