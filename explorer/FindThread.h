// Find in Files' search: every file of an open pack searched on a worker
// thread by zarnik_search (several files at once), and what it finds handed
// to the window in pieces, in the pack's order, as it comes.
//
// The window gets rows ready to show: each line with its matches placed in
// the text shown, a file that could not be read, or a binary file that
// matches. Only the first kListed rows are made; past them the search only
// counts, so that a pattern found everywhere costs the window no more.
#pragma once

#include "Preview.h"

#include <QElapsedTimer>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>

namespace zarnik {
class CZarnikArchive;
struct ArchiveNode;
} // namespace zarnik
namespace zarnik_search {
class CMatcher;
} // namespace zarnik_search

// One row of the results.
struct FoundLine
{
    enum class Kind { Line, Binary, Unread };

    Kind kind = Kind::Line;
    const zarnik::ArchiveNode *file = nullptr;
    TextSpot spot;                // line 0 unless a Line
    QString text;                 // the line as shown (its start left out when far from the match), or why not
    QList<QPair<int, int>> marks; // the matches in `text`: start, length
};

// How far a search got, and what it found.
struct FindTally
{
    enum class End { Running, Finished, Stopped };

    End end = End::Running;
    quint64 filesTotal = 0, bytesTotal = 0;
    quint64 filesSearched = 0, bytesRead = 0;
    quint64 files = 0;   // with a match
    quint64 matches = 0; // a selected line counts each of its matches, at least one
    quint64 unread = 0;  // files not searched whole
    quint64 rows = 0;    // rows made; at most kListed
};

class FindThread : public QThread
{
    Q_OBJECT

public:
    static constexpr int kListed = 10000;
    // What a row shows of a line: this many characters of it, starting a
    // little before its first match.
    static constexpr int kShownChars = 240;
    static constexpr int kContextChars = 40;
    // A row keeps the places of this many matches of its line, for the
    // row and the preview to mark; a line of a megabyte matched at every
    // byte would otherwise keep megabytes in each row.
    static constexpr int kKeptMatches = 256;

    // Searches every file of `archive` (which must stay until the thread is
    // deleted) with `matcher`. `serial` marks its reports.
    FindThread(const zarnik::CZarnikArchive &archive, std::unique_ptr<zarnik_search::CMatcher> matcher,
               quint64 serial, QObject *parent);
    // Stops the search and waits for it.
    ~FindThread() override;

public slots:
    // From any thread: the search ends within a second.
    void requestStop() { m_stop.store(true); }

signals:
    // New rows, and the tally so far; queued to the window a few times a
    // second, and once more at the end with the tally's end set.
    void report(quint64 serial, const QList<FoundLine> &rows, const FindTally &tally);

protected:
    void run() override;

private:
    class Collector;

    const zarnik::CZarnikArchive &m_archive;
    std::unique_ptr<zarnik_search::CMatcher> m_matcher;
    const quint64 m_serial;
    std::atomic<bool> m_stop{false};
};

Q_DECLARE_METATYPE(FoundLine)
Q_DECLARE_METATYPE(FindTally)
