// The export job: the archive's extraction of the chosen nodes, one after
// the other, on a worker thread.
// Its reports reach the window as plain signals (queued into the GUI
// thread); what became of every file is gathered into an ExportResult that
// done() hands over. The thread owns its teardown: it deletes itself after
// finishing, and its destructor stops the worker and waits for it, so the
// archive it reads outlives every use.
#pragma once

#include "Extraction.h"

#include <QList>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <vector>

// One node to export; with `leadingFolders` (the folders from a selected one
// down to the node's parent) it is written below the destination directory
// at its place under them, as a filtered export writes only what matched.
struct ExportItem
{
    const zarnik::ArchiveNode *node = nullptr;
    std::vector<const zarnik::ArchiveNode *> leadingFolders;
};

struct ExportResult
{
    struct Failure
    {
        QString path; // the node's archive path
        zarnik::ExtractOutcome outcome;
        QString reason; // the system's own words, where it gave any
    };

    QString destination;     // what the user chose, as the dialog gave it
    int filesTotal = 0;      // the files below the exported nodes
    int filesWritten = 0;
    int filesReported = 0;   // written or not, each with its outcome
    uint64_t bytesWritten = 0; // unpacked bytes of the written files
    QList<Failure> failures; // every node that was tried and not written
    zarnik::ExtractEnd end = zarnik::ExtractEnd::Finished;

    // The rest of a stopped export.
    int filesNotTried() const { return filesTotal - filesReported; }
    bool complete() const
    {
        return end == zarnik::ExtractEnd::Finished && failures.isEmpty();
    }
};

class ExportThread : public QThread, private zarnik::ExtractCallback
{
    Q_OBJECT

public:
    // `archive` and the items' nodes must stay until the thread is deleted.
    // One item goes to `destination` as the library writes it (a file to
    // exactly that path, a folder below it); several go below the directory
    // `destination`, each under its own name or at its place below its
    // leading folders. `workers`: files written at once (0: the library
    // chooses).
    ExportThread(const zarnik::CZarnikArchive *archive, const QList<ExportItem> &items,
                 const QString &destination, unsigned workers, QObject *parent);
    ~ExportThread() override;

    // Before start(): even one node goes below the directory `destination`
    // under its own name, as several do.
    void placeBelow() { m_below = true; }

public slots:
    // From any thread: the worker stops within a second and removes the
    // file it was writing.
    void requestStop() { m_stop.store(true); }

signals:
    // Before each file: its archive path and its number of `count`.
    void fileStarted(const QString &path, int number, int count);
    // Percentage of the bytes to write, sent when it changes.
    void progressChanged(int percent);
    // The last report, before finished(): what the export did.
    void done(const ExportResult &result);

protected:
    void run() override;

private:
    // Worker thread.
    void OnExtractFile(const std::string &path) override;
    void OnExtractBytes(uint64_t count) override;
    void OnExtractReason(const zarnik::ArchiveNode &node, const std::string &reason) override;
    void OnExtractResult(const zarnik::ArchiveNode &node, zarnik::ExtractOutcome outcome) override;
    void reportProgress();

    // Written in the GUI thread before start() and only read by the worker.
    const zarnik::CZarnikArchive *m_archive;
    QList<ExportItem> m_items;
    uint64_t m_totalBytes;
    std::atomic<bool> m_stop{false};
    unsigned m_workers;
    bool m_below = false;
    int m_filesStarted = 0;

    // The worker's alone while it runs.
    ExportResult m_result;
    uint64_t m_bytesDone = 0;    // the sizes of the files reported not written
    uint64_t m_currentBytes = 0; // written so far, of every file
    QString m_reason; // the system's words for the result that follows
    int m_percent = -1;
};
