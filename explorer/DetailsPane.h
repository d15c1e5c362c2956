// The right pane: what the selection is. For a file its path, sizes, how it
// is stored, where it lies and a preview (see Preview), made on a worker
// thread; for a folder what lies below it; for several items their count.
// A preview that comes after the selection moved on is dropped.
#pragma once

#include "ArchiveTree.h"
#include "ComparedPreview.h"
#include "Preview.h"

#include <QThreadPool>
#include <QWidget>

#include <atomic>
#include <optional>

namespace zarnik {
class CZarnikArchive;
struct ArchiveNode;
} // namespace zarnik
namespace Ui {
class DetailsPane;
}

class DetailsPane : public QWidget
{
    Q_OBJECT

public:
    explicit DetailsPane(QWidget *parent = nullptr);
    ~DetailsPane() override;

    // What the tree shows of an entry: its name and path as they will be
    // saved (a deleted one's as they were), and what a pending change does
    // to it, if anything.
    struct Entry
    {
        QString name, path, change;
        QString changeLabel = QString(); // the change's row: "Pending:" when empty
    };
    // `archive` must stay until clear() or the pane's end. With a `spot`
    // (of line 1 or more) the preview is the text around it, marked.
    void showFile(const zarnik::CZarnikArchive *archive, const zarnik::ArchiveNode *file, const Entry &entry,
                  const TextSpot &spot = {});
    // With two versions shown, a folder's Stored line names the version it
    // is of, whose figure may not be known (a version that is no pack).
    struct StoredOf
    {
        QString version;
        std::optional<quint64> bytes;
    };
    void showFolder(const Entry &entry, const ArchiveTree::Totals &totals, const StoredOf &storedOf = {});
    void showSeveral(int count, const ArchiveTree::Totals &totals);
    // A file added or replaced since the pack was opened: its `size` bytes
    // come from `source` on the disk when the pack is saved.
    void showPendingFile(const Entry &entry, quint64 size, const QString &source);
    // A file in two versions that differ: both sizes, and both versions in
    // the preview (see ComparedPreview). What they read from must stay as
    // for showFile.
    void showCompared(const Entry &entry, const PreviewFile &before, const PreviewFile &after);
    // Back to the hint; returns once no preview reads the archive any more.
    void clear();

signals:
    // A preview is on the screen (or its reason for none).
    void previewShown();

protected:
    void changeEvent(QEvent *e) override;

private:
    void showPreview(quint64 generation, const Preview &preview);
    void showComparedPreview(quint64 generation, const ComparedPreview &preview);
    void showMessage(const QString &text);
    // What a search found in the text shown: marked, and the first match in view.
    void markFound(const Preview &preview);
    // The coming preview is not wanted; dropPreview() does not wait for a
    // running one, forgetPreview() does.
    void dropPreview();
    void forgetPreview();

    Ui::DetailsPane *ui;
    QThreadPool m_pool;       // one preview at a time
    std::atomic<quint64> m_generation{0}; // of the preview the pane waits for
};
