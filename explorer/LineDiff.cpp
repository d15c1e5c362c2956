#include "LineDiff.h"

#include <algorithm>

namespace {

// The Myers search over before[a0, a1) and after[b0, b1): for each number of
// edits d, the furthest x reached on every diagonal k = x - y; the diagonals
// -d..d of each d are kept (d² numbers in all, hence the cap) so that the
// path can be walked back. False when more than `maxEdits` are needed.
bool shortestScript(const QStringList &before, const QStringList &after, int a0, int a1, int b0, int b1,
                    int maxEdits, std::vector<LineDiff::Line> &out)
{
    const int n = a1 - a0, m = b1 - b0, offset = n + m + 1;
    std::vector<int> v(size_t(2 * offset + 1), 0);
    std::vector<std::vector<int>> trace;
    int found = -1;
    for (int d = 0; d <= std::min(n + m, maxEdits) && found < 0; ++d) {
        trace.emplace_back(v.begin() + (offset - d), v.begin() + (offset + d + 1));
        for (int k = -d; k <= d; k += 2) {
            const bool down = k == -d || (k != d && v[size_t(offset + k - 1)] < v[size_t(offset + k + 1)]);
            int x = down ? v[size_t(offset + k + 1)] : v[size_t(offset + k - 1)] + 1;
            int y = x - k;
            while (x < n && y < m && before[a0 + x] == after[b0 + y])
                ++x, ++y;
            v[size_t(offset + k)] = x;
            if (x >= n && y >= m) {
                found = d;
                break;
            }
        }
    }
    if (found < 0)
        return false;
    // Back from the end, one edit and the run of equal lines before it at a time.
    std::vector<LineDiff::Line> reversed;
    int x = n, y = m;
    for (int d = found; d >= 0; --d) {
        const std::vector<int> &kept = trace[size_t(d)];
        const auto at = [&](int diagonal) { return kept[size_t(diagonal + d)]; };
        const int k = x - y;
        const bool down = k == -d || (k != d && at(k - 1) < at(k + 1));
        const int prevK = down ? k + 1 : k - 1;
        const int prevX = d == 0 ? 0 : at(prevK);
        const int prevY = prevX - prevK;
        while (x > prevX && y > prevY && x > 0 && y > 0)
            reversed.push_back({LineDiff::Op::Same, a0 + --x}), --y;
        if (d > 0)
            down ? reversed.push_back({LineDiff::Op::Added, b0 + --y}) : reversed.push_back({LineDiff::Op::Removed, a0 + --x});
    }
    out.insert(out.end(), reversed.rbegin(), reversed.rend());
    return true;
}

} // namespace

LineDiff diffLines(const QStringList &before, const QStringList &after, int maxEdits)
{
    LineDiff diff;
    int a0 = 0, b0 = 0, a1 = int(before.size()), b1 = int(after.size());
    while (a0 < a1 && b0 < b1 && before[a0] == after[b0])
        ++a0, ++b0;
    while (a1 > a0 && b1 > b0 && before[a1 - 1] == after[b1 - 1])
        --a1, --b1;
    for (int i = 0; i < a0; ++i)
        diff.lines.push_back({LineDiff::Op::Same, i});
    if (!shortestScript(before, after, a0, a1, b0, b1, maxEdits, diff.lines)) {
        diff.capped = true;
        for (int i = a0; i < a1; ++i)
            diff.lines.push_back({LineDiff::Op::Removed, i});
        for (int i = b0; i < b1; ++i)
            diff.lines.push_back({LineDiff::Op::Added, i});
    }
    for (int i = a1; i < int(before.size()); ++i)
        diff.lines.push_back({LineDiff::Op::Same, i});
    return diff;
}
