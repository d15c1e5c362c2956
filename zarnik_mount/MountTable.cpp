#include "MountTable.h"

#include <sstream>

namespace zarnik_mount {

const char *const kMountSubtype = "zarnik";

namespace {

// A field of the table as the kernel writes it: a space, a tab, a newline
// and a backslash in a path are written as \040, \011, \012 and \134.
std::string Unescaped(const std::string &field)
{
    const auto digit = [&field](size_t at, char highest) {
        return at < field.size() && field[at] >= '0' && field[at] <= highest;
    };
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && digit(i + 1, '3') && digit(i + 2, '7') && digit(i + 3, '7')) {
            out += char((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

} // namespace

MountState ListedAt(const std::string &table, const std::string &dir)
{
    std::istringstream lines(table);
    std::string line;
    MountState state = MountState::None;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device, where, type;
        if (fields >> device >> where >> type && Unescaped(where) == dir)
            state = type == std::string("fuse.") + kMountSubtype ? MountState::Ours : MountState::Other;
    }
    return state;
}

} // namespace zarnik_mount
