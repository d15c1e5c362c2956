// The compare job: both versions opened and compared on a worker thread
// (the library's CompareSides, every core), then laid out as a Comparison
// for the tree. Its reports reach the window as plain signals (queued into
// the GUI thread), as the export's do. The thread deletes itself after
// finishing; its destructor stops the worker and waits for it.
#pragma once

#include <QString>
#include <QThread>

#include <atomic>
#include <memory>

class Comparison;

class CompareThread : public QThread
{
    Q_OBJECT

public:
    // `a` and `b` in the system's form: `a` a pack, `b` a pack, a folder on
    // disk or a saved hash list, as CCompareSide::Open takes them.
    CompareThread(const std::string &a, const std::string &b, QObject *parent);
    ~CompareThread() override;

    // Once done() said so: the comparison, handed over.
    std::unique_ptr<Comparison> take();

public slots:
    // From any thread: the worker stops within a window of bytes.
    void requestStop() { m_stop.store(true); }

signals:
    // Percentage of the bytes that may need comparing, sent when it changes.
    void progressChanged(int percent);
    // The last report: a comparison to take, or why none (empty when
    // stopped).
    void done(bool compared, const QString &reason);

protected:
    void run() override;

private:
    const std::string m_a, m_b;
    std::atomic<bool> m_stop{false};
    std::unique_ptr<Comparison> m_comparison;
};
