// The pairing half of a comparison: paths matched across the sides, renames
// found among the paths gone and the paths new, folders present on one
// side only; the reading is CompareBytes'.
#include "Compare.h"

#include "CompareBytes.h"
#include "PackPath.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_set>

namespace zarnik {

namespace {

const SideFile *const kNone = nullptr;

// Files of one side in scope, in PathLess order.
std::vector<const SideFile *> FilesInScope(const CCompareSide &side, const CompareSettings &settings)
{
    std::vector<const SideFile *> files;
    for (const SideFile &file : side.Files())
        if (!settings.inScope || settings.inScope(file.path))
            files.push_back(&file);
    return files;
}

std::string NameOf(const std::string &path) { return path.substr(path.rfind('\\') + 1); }

// One run of CompareSides.
class CComparison
{
public:
    CComparison(const CCompareSide &a, const CCompareSide &b, const CompareSettings &settings)
        : m_Sides{&a, &b}, m_Settings(settings)
    {
    }
    CompareResult Run();

private:
    // A file on one side whose path the other has no file at.
    struct Lone
    {
        const SideFile *file;
        std::optional<Sha256Digest> digest;
        bool paired = false;
    };
    void MatchPaths();
    // Keeps as rename candidates the lone files whose size some lone file
    // of the other side may share.
    void KeepCandidates();
    void ReadAll();
    void PairRenames();
    void ListLoneFiles();
    void ListFolders(int side, Difference::Change change);
    std::optional<uint64_t> SizeBelow(int side, const std::string &folder) const;
    bool InScope(const std::string &path) const { return !m_Settings.inScope || m_Settings.inScope(path); }

    const CCompareSide *m_Sides[2];
    const CompareSettings &m_Settings;
    CompareResult m_Result;
    std::vector<std::pair<const SideFile *, const SideFile *>> m_Pairs; // one path, a file on both sides
    std::vector<Verdict> m_Verdicts;
    std::vector<CompareProblem> m_PairProblems;
    std::vector<Lone> m_Lone[2];
    std::vector<size_t> m_Candidates[2]; // of m_Lone
    std::vector<std::string> m_CandidateProblems[2];
    // Folders present on one side only and in scope: their lines cover
    // what lies below them.
    std::unordered_set<std::string> m_LoneFolders[2];
};

void CComparison::MatchPaths()
{
    const std::vector<const SideFile *> files[2] = {FilesInScope(*m_Sides[0], m_Settings), FilesInScope(*m_Sides[1], m_Settings)};
    size_t i = 0, j = 0;
    while (i < files[0].size() || j < files[1].size()) {
        const SideFile *a = i < files[0].size() ? files[0][i] : kNone;
        const SideFile *b = j < files[1].size() ? files[1][j] : kNone;
        if (a && (!b || PathLess(a->path, b->path))) {
            m_Lone[0].push_back({a, a->digest}), ++i;
        } else if (b && (!a || PathLess(b->path, a->path))) {
            m_Lone[1].push_back({b, b->digest}), ++j;
        } else {
            ++i, ++j;
            // Sizes that differ decide without a byte read.
            if (a->size && b->size && *a->size != *b->size)
                m_Result.differences.push_back({Difference::Change::Modified, false, b->path, {}, a->size, b->size});
            else
                m_Pairs.push_back({a, b});
        }
    }
}

void CComparison::KeepCandidates()
{
    std::set<uint64_t> sizes[2];
    bool unknown[2] = {false, false};
    for (int side = 0; side < 2; ++side) {
        for (const Lone &lone : m_Lone[side]) {
            if (lone.file->size)
                sizes[side].insert(*lone.file->size);
            else
                unknown[side] = true;
        }
    }
    for (int side = 0; side < 2; ++side)
        for (size_t k = 0; k < m_Lone[side].size(); ++k) {
            const std::optional<uint64_t> &size = m_Lone[side][k].file->size;
            if (unknown[1 - side] || !size || sizes[1 - side].count(*size))
                m_Candidates[side].push_back(k);
        }
}

void CComparison::ReadAll()
{
    uint64_t total = 0;
    for (const auto &pair : m_Pairs)
        total += pair.first->size.value_or(0) + pair.second->size.value_or(0);
    for (int side = 0; side < 2; ++side)
        for (size_t k : m_Candidates[side])
            if (!m_Lone[side][k].digest)
                total += m_Lone[side][k].file->size.value_or(0);
    m_Verdicts.assign(m_Pairs.size(), Verdict::Same);
    m_PairProblems.assign(m_Pairs.size(), CompareProblem());
    for (int side = 0; side < 2; ++side)
        m_CandidateProblems[side].assign(m_Candidates[side].size(), std::string());
    const size_t jobs = m_Pairs.size() + m_Candidates[0].size() + m_Candidates[1].size();
    std::atomic<uint64_t> done{0};
    RunJobs(jobs, m_Settings, total, done, [&](size_t job) {
        if (job < m_Pairs.size()) {
            const auto &pair = m_Pairs[job];
            m_Verdicts[job] = SameBytes(*m_Sides[0], *pair.first, *m_Sides[1], *pair.second, m_Settings.stop, done,
                                        &m_PairProblems[job]);
            return;
        }
        job -= m_Pairs.size();
        const int side = job < m_Candidates[0].size() ? 0 : 1;
        const size_t k = side == 0 ? job : job - m_Candidates[0].size();
        Lone &lone = m_Lone[side][m_Candidates[side][k]];
        Sha256Digest digest;
        if (!lone.digest && DigestOf(*m_Sides[side], *lone.file, m_Settings.stop, done, &digest,
                                     &m_CandidateProblems[side][k]))
            lone.digest = digest;
    });
}

void CComparison::PairRenames()
{
    // Each digest's lone files of both sides, in path order.
    std::map<Sha256Digest, std::vector<Lone *>> byDigest[2];
    for (int side = 0; side < 2; ++side)
        for (size_t k : m_Candidates[side])
            if (m_Lone[side][k].digest)
                byDigest[side][*m_Lone[side][k].digest].push_back(&m_Lone[side][k]);
    const auto pair = [&](Lone *gone, Lone *added) {
        gone->paired = added->paired = true;
        m_Result.differences.push_back(
            {Difference::Change::Renamed, false, added->file->path, gone->file->path, gone->file->size, added->file->size});
    };
    for (auto &[digest, gone] : byDigest[0]) {
        const auto found = byDigest[1].find(digest);
        if (found == byDigest[1].end())
            continue;
        std::vector<Lone *> &added = found->second;
        for (Lone *g : gone)
            for (Lone *n : added)
                if (!n->paired && !g->paired && NameOf(g->file->path) == NameOf(n->file->path))
                    pair(g, n);
        size_t next = 0;
        for (Lone *g : gone) {
            while (!g->paired && next < added.size()) {
                if (!added[next]->paired)
                    pair(g, added[next]);
                ++next;
            }
        }
    }
}

std::optional<uint64_t> CComparison::SizeBelow(int side, const std::string &folder) const
{
    const std::vector<SideFile> &files = m_Sides[side]->Files();
    const std::string prefix = folder + '\\';
    auto it = std::lower_bound(files.begin(), files.end(), prefix,
                               [](const SideFile &file, const std::string &p) { return PathLess(file.path, p); });
    uint64_t total = 0;
    for (; it != files.end() && it->path.compare(0, prefix.size(), prefix) == 0; ++it) {
        if (!it->size)
            return std::nullopt;
        total += *it->size;
    }
    return total;
}

void CComparison::ListFolders(int side, Difference::Change change)
{
    const std::vector<std::string> &other = m_Sides[1 - side]->Folders();
    // The root stands on both sides, though a side without files shows none.
    for (const std::string &folder : m_Sides[side]->Folders())
        if (folder.find('\\') != std::string::npos && !std::binary_search(other.begin(), other.end(), folder, PathLess) &&
            InScope(folder))
            m_LoneFolders[side].insert(folder);
    const auto covered = [&](const std::string &path) {
        for (size_t cut = path.rfind('\\'); cut != std::string::npos && cut > 0; cut = path.rfind('\\', cut - 1))
            if (m_LoneFolders[side].count(path.substr(0, cut)))
                return true;
        return false;
    };
    for (const std::string &folder : m_Sides[side]->Folders()) {
        if (!m_LoneFolders[side].count(folder) || covered(folder))
            continue;
        Difference difference{change, true, folder, {}, {}, {}};
        (side == 0 ? difference.sizeA : difference.sizeB) = SizeBelow(side, folder);
        m_Result.differences.push_back(difference);
    }
    for (const Lone &lone : m_Lone[side]) {
        if (lone.paired || covered(lone.file->path))
            continue;
        Difference difference{change, false, lone.file->path, {}, {}, {}};
        (side == 0 ? difference.sizeA : difference.sizeB) = lone.file->size;
        m_Result.differences.push_back(difference);
    }
}

CompareResult CComparison::Run()
{
    for (int side = 0; side < 2; ++side)
        for (const SideProblem &problem : m_Sides[side]->Problems())
            m_Result.problems.push_back({side, problem.path, problem.text});
    MatchPaths();
    KeepCandidates();
    ReadAll();
    if (m_Settings.stop && m_Settings.stop->load()) {
        m_Result.stopped = true;
        m_Result.differences.clear();
        return m_Result;
    }
    for (size_t k = 0; k < m_Pairs.size(); ++k) {
        const SideFile &a = *m_Pairs[k].first, &b = *m_Pairs[k].second;
        if (m_Verdicts[k] == Verdict::Failed)
            m_Result.problems.push_back({m_PairProblems[k].side, (m_PairProblems[k].side ? b : a).path,
                                         m_PairProblems[k].text});
        else if (m_Verdicts[k] == Verdict::Different)
            m_Result.differences.push_back({Difference::Change::Modified, false, b.path, {}, a.size, b.size});
    }
    for (int side = 0; side < 2; ++side)
        for (size_t k = 0; k < m_Candidates[side].size(); ++k)
            if (!m_CandidateProblems[side][k].empty())
                m_Result.problems.push_back(
                    {side, m_Lone[side][m_Candidates[side][k]].file->path, m_CandidateProblems[side][k]});
    PairRenames();
    ListFolders(0, Difference::Change::Removed);
    ListFolders(1, Difference::Change::Added);
    std::stable_sort(m_Result.differences.begin(), m_Result.differences.end(),
                     [](const Difference &x, const Difference &y) {
                         if (x.path != y.path)
                             return PathLess(x.path, y.path);
                         return x.change == Difference::Change::Removed && y.change != Difference::Change::Removed;
                     });
    return m_Result;
}

} // namespace

CompareResult CompareSides(const CCompareSide &a, const CCompareSide &b, const CompareSettings &settings)
{
    return CComparison(a, b, settings).Run();
}

std::vector<HashedFile> HashSide(const CCompareSide &side, const CompareSettings &settings, bool *stopped)
{
    std::vector<HashedFile> hashed;
    uint64_t total = 0;
    for (const SideFile *file : FilesInScope(side, settings)) {
        hashed.push_back({file, {}, {}});
        total += file->digest ? 0 : file->size.value_or(0);
    }
    std::atomic<uint64_t> done{0};
    RunJobs(hashed.size(), settings, total, done, [&](size_t k) {
        Sha256Digest digest;
        if (DigestOf(side, *hashed[k].file, settings.stop, done, &digest, &hashed[k].problem))
            hashed[k].digest = digest;
    });
    *stopped = settings.stop && settings.stop->load();
    return hashed;
}

std::string DifferenceText(const Difference &d)
{
    const char letter = "ADMR"[static_cast<int>(d.change)];
    std::string line = std::string(1, letter) + "\t";
    if (d.change == Difference::Change::Renamed)
        line += ShownPath(d.from) + "\t";
    return line + ShownPath(d.path) + (d.folder ? "/" : "") + "\n";
}

} // namespace zarnik
