#include "FindThread.h"

#include "PackPath.h"
#include "PackSearch.h"
#include "ZarnikArchive.h"

#include <QCoreApplication>

#include <algorithm>
#include <utility>

using zarnik::ArchiveNode;
using zarnik::ReadOutcome;
using zarnik_search::CMatcher;
using zarnik_search::FileSearchEnd;
using zarnik_search::SearchHit;

namespace {

// Reports reach the window at most this often, so that a search that finds
// much keeps it responsive.
const qint64 kReportEveryMs = 100;

// The files below `folder`, in the order `zarnik list` prints them.
void collectFiles(const ArchiveNode &folder, std::vector<const ArchiveNode *> &files)
{
    for (const ArchiveNode *child : folder.m_Children)
        child->IsFolder() ? collectFiles(*child, files) : files.push_back(child);
}

bool continuation(char byte)
{
    return (uchar(byte) & 0xC0) == 0x80;
}

// The first kKeptMatches matches of `line` that are not empty, in order,
// and in `count` how many there are in all; `whole`: the line ends where
// its bytes do (else it was cut, and a match may run past them).
QList<QPair<quint32, quint32>> matchesIn(CMatcher &matcher, const std::string &line, bool whole, quint64 &count)
{
    QList<QPair<quint32, quint32>> found;
    count = 0;
    const auto *bytes = reinterpret_cast<const unsigned char *>(line.data());
    zarnik_search::MatchSpan span;
    for (size_t from = 0; from <= line.size();) {
        if (matcher.Find({bytes, line.size(), from, true, whole}, span) != zarnik_search::FindResult::Match)
            break;
        count += span.end > span.begin ? 1 : 0;
        if (span.end > span.begin && found.size() < FindThread::kKeptMatches)
            found.append({quint32(span.begin), quint32(span.end)});
        // Past an empty match by a whole character, as grep -o goes on.
        from = span.end > span.begin ? span.end : span.begin + 1;
        while (from < line.size() && continuation(line[from]))
            ++from;
    }
    return found;
}

QString printable(const std::string &line, size_t begin, size_t end)
{
    return QString::fromStdString(zarnik::Printable(line.substr(begin, end - begin)));
}

// What a row shows of `line`: from a little before its first match (its
// indentation left out), escaped as the tool prints it, matches marked.
// The '\r' that ends a whole line of a CRLF file is its break, not its text.
void showLine(const std::string &line, bool whole, const QList<QPair<quint32, quint32>> &matches, FoundLine &row)
{
    const size_t size = line.size() - (whole && !line.empty() && line.back() == '\r' ? 1 : 0);
    const size_t first = matches.isEmpty() ? 0 : matches.first().first;
    size_t begin = first > size_t(FindThread::kContextChars) ? first - FindThread::kContextChars : 0;
    while (begin > 0 && continuation(line[begin]))
        --begin;
    const bool indented = begin == 0;
    while (indented && begin < first && (line[begin] == ' ' || line[begin] == '\t'))
        ++begin;
    size_t end = std::min(size, begin + FindThread::kShownChars);
    while (end < size && end > begin && continuation(line[end]))
        --end;
    const QChar ellipsis(0x2026);
    row.text = indented ? QString() : QString(ellipsis);
    size_t at = begin;
    for (const auto &match : matches) {
        if (match.first >= end)
            break;
        row.text += printable(line, at, match.first);
        const int start = int(row.text.size());
        at = std::min<size_t>(match.second, end);
        row.text += printable(line, match.first, at);
        row.marks.append({start, int(row.text.size()) - start});
    }
    row.text += printable(line, at, end);
    if (end < size)
        row.text += ellipsis;
}

} // namespace

// Gathers what the search finds into rows and counts on the thread that
// runs it, and sends them on now and then.
class FindThread::Collector : public zarnik_search::CSearchCallback
{
public:
    Collector(FindThread &thread, CMatcher &matcher) : m_thread(thread), m_matcher(matcher) { m_sent.start(); }

    FindTally tally;

    bool OnHit(const ArchiveNode &file, const SearchHit &hit) override
    {
        quint64 count = 0;
        const QList<QPair<quint32, quint32>> matches = matchesIn(m_matcher, hit.text, !hit.cut, count);
        tally.matches += std::max<quint64>(count, 1);
        m_fileMatched = true;
        if (tally.rows < quint64(kListed)) {
            FoundLine row;
            row.file = &file;
            row.spot = {hit.line, hit.offset - hit.column, matches};
            showLine(hit.text, !hit.cut, matches, row);
            add(std::move(row));
        }
        send(false);
        return !m_thread.m_stop.load();
    }

    bool OnFileEnd(const ArchiveNode &file, const FileSearchEnd &end) override
    {
        ++tally.filesSearched;
        if (end.summary.binaryMatch) {
            ++tally.matches;
            m_fileMatched = true;
            addNote(file, FoundLine::Kind::Binary, FindThread::tr("binary file matches"));
        }
        if (end.read != ReadOutcome::Sound || !end.summary.trouble.empty()) {
            ++tally.unread;
            addNote(file, FoundLine::Kind::Unread,
                    end.read != ReadOutcome::Sound
                        ? FindThread::tr("searched only as far as it could be read: %1")
                              .arg(QString::fromUtf8(zarnik::ReadOutcomeText(end.read)))
                        : QString::fromStdString(end.summary.trouble));
        }
        tally.files += m_fileMatched ? 1 : 0;
        m_fileMatched = false;
        send(false);
        return !m_thread.m_stop.load();
    }

    void OnProgress(uint64_t, uint64_t bytes) override
    {
        tally.bytesRead = bytes;
        send(false);
    }

    // The rows and the tally so far, to the window: at the end (`last`), or
    // when a while has passed since the last time.
    void send(bool last)
    {
        if (!last && m_sent.elapsed() < kReportEveryMs)
            return;
        emit m_thread.report(m_thread.m_serial, std::exchange(m_rows, {}), tally);
        m_sent.restart();
    }

private:
    void add(FoundLine &&row)
    {
        ++tally.rows;
        m_rows.append(std::move(row));
    }

    void addNote(const ArchiveNode &file, FoundLine::Kind kind, const QString &text)
    {
        if (tally.rows >= quint64(kListed))
            return;
        FoundLine row;
        row.kind = kind;
        row.file = &file;
        row.text = text;
        add(std::move(row));
    }

    FindThread &m_thread;
    CMatcher &m_matcher; // the search clones it for its workers; this one is the thread's own
    QList<FoundLine> m_rows;
    QElapsedTimer m_sent;
    bool m_fileMatched = false;
};

FindThread::FindThread(const zarnik::CZarnikArchive &archive, std::unique_ptr<CMatcher> matcher, quint64 serial,
                       QObject *parent)
    : QThread(parent)
    , m_archive(archive)
    , m_matcher(std::move(matcher))
    , m_serial(serial)
{
    qRegisterMetaType<QList<FoundLine>>();
    qRegisterMetaType<FindTally>();
}

FindThread::~FindThread()
{
    // The archive it reads goes only after this.
    requestStop();
    wait();
}

void FindThread::run()
{
    std::vector<const ArchiveNode *> files;
    collectFiles(*m_archive.GetRoot(), files);
    Collector collector(*this, *m_matcher);
    collector.tally.filesTotal = files.size();
    for (const ArchiveNode *file : files)
        collector.tally.bytesTotal += file->m_UnpackedSize;
    collector.send(true);
    zarnik_search::SearchSettings settings;
    settings.stop = &m_stop;
    zarnik_search::SearchFiles(m_archive, files, *m_matcher, settings, collector);
    collector.tally.end = m_stop.load() ? FindTally::End::Stopped : FindTally::End::Finished;
    collector.send(true);
}
