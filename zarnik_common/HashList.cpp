#include "HashList.h"

#include "PackPath.h"

#include <nlohmann/json.hpp>

#include <set>

namespace zarnik {

namespace {

const char kPathKey[] = "path", kDigestKey[] = "sha256", kSizeKey[] = "unpacked";

bool NeedsEscape(char c) { return c == '\\' || c == '\n' || c == '\r'; }

// A name of sha256sum's escaped form back to its bytes; false on an escape
// it never writes.
bool Unescaped(const std::string &name, std::string *out)
{
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '\\') {
            out->push_back(name[i]);
            continue;
        }
        const char next = i + 1 < name.size() ? name[++i] : '\0';
        if (next != '\\' && next != 'n' && next != 'r')
            return false;
        out->push_back(next == 'n' ? '\n' : next == 'r' ? '\r' : '\\');
    }
    return true;
}

// A path as a list holds it (UTF-8, '/' or '\' between the folders) in the
// archive's form; false when no pack can hold it.
bool ArchivePathOf(const std::string &listed, std::string *path)
{
    const std::optional<std::string> latin1 = Latin1FromUtf8(listed);
    if (!latin1 || latin1->empty())
        return false;
    *path = WithBackslashes(*latin1);
    return true;
}

// One line of sha256sum's form.
bool ParseSumLine(std::string line, HashListEntry *entry)
{
    const bool escaped = !line.empty() && line[0] == '\\';
    if (escaped)
        line.erase(0, 1);
    // sha256sum writes "  " for text mode and " *" for binary; the bytes
    // are the same either way.
    if (line.size() < 67 || line[64] != ' ' || (line[65] != ' ' && line[65] != '*') ||
        !DigestFromHex(line.substr(0, 64), &entry->digest))
        return false;
    std::string name;
    if (!escaped)
        name = line.substr(66);
    else if (!Unescaped(line.substr(66), &name))
        return false;
    return ArchivePathOf(name, &entry->path);
}

bool ParseSumLines(const std::string &text, std::vector<HashListEntry> *entries, std::string *error)
{
    size_t number = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        // A name's own carriage return is escaped: one at the end is the
        // line's, from a list that passed through Windows.
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        HashListEntry entry;
        if (!ParseSumLine(line, &entry)) {
            *error = "line " + std::to_string(number) + " is not a SHA-256 digest, two spaces and a path a pack can hold";
            return false;
        }
        entries->push_back(std::move(entry));
    }
    return true;
}

bool ParseJsonItem(const nlohmann::json &item, HashListEntry *entry)
{
    if (!item.is_object() || !item.contains(kPathKey) || !item[kPathKey].is_string() ||
        !item.contains(kDigestKey) || !item[kDigestKey].is_string() ||
        !DigestFromHex(item[kDigestKey].get<std::string>(), &entry->digest) ||
        !ArchivePathOf(item[kPathKey].get<std::string>(), &entry->path))
        return false;
    if (item.contains(kSizeKey) && item[kSizeKey].is_number_unsigned())
        entry->size = item[kSizeKey].get<uint64_t>();
    else if (item.contains(kSizeKey) && !item[kSizeKey].is_null())
        return false;
    return true;
}

bool ParseJson(const std::string &text, std::vector<HashListEntry> *entries, std::string *error)
{
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_array()) {
        *error = "not a JSON array";
        return false;
    }
    for (size_t i = 0; i < json.size(); ++i) {
        HashListEntry entry;
        if (!ParseJsonItem(json[i], &entry)) {
            *error = "item " + std::to_string(i + 1) + " is not an object with a path a pack can hold, a SHA-256 "
                     "digest and an unpacked size";
            return false;
        }
        entries->push_back(std::move(entry));
    }
    return true;
}

bool StartsAsJson(const std::string &text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    return first != std::string::npos && text[first] == '[';
}

} // namespace

std::string SumLine(const HashListEntry &entry)
{
    const std::string name = FileSystemName(WithSlashes(entry.path));
    std::string line = HexOf(entry.digest) + "  ";
    bool escaped = false;
    for (char c : name) {
        escaped = escaped || NeedsEscape(c);
        if (NeedsEscape(c))
            line += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : "\\r";
        else
            line.push_back(c);
    }
    return (escaped ? "\\" : "") + line + "\n";
}

std::string HashJsonItem(const HashListEntry &entry)
{
    nlohmann::ordered_json item;
    item[kPathKey] = FileSystemName(entry.path);
    item[kDigestKey] = HexOf(entry.digest);
    if (entry.size)
        item[kSizeKey] = *entry.size;
    else
        item[kSizeKey] = nullptr;
    return item.dump(2);
}

bool LooksLikeHashList(const std::string &start)
{
    if (StartsAsJson(start))
        return true;
    const size_t hex = !start.empty() && start[0] == '\\' ? 1 : 0;
    Sha256Digest digest;
    return start.size() >= hex + 66 && DigestFromHex(start.substr(hex, 64), &digest) && start[hex + 64] == ' ' &&
           (start[hex + 65] == ' ' || start[hex + 65] == '*');
}

bool ParseHashList(const std::string &text, std::vector<HashListEntry> *entries, std::string *error)
{
    entries->clear();
    if (!(StartsAsJson(text) ? ParseJson(text, entries, error) : ParseSumLines(text, entries, error)))
        return false;
    std::set<std::string> seen;
    for (const HashListEntry &entry : *entries) {
        if (!seen.insert(entry.path).second) {
            *error = ShownPath(entry.path) + " is listed twice";
            return false;
        }
    }
    return true;
}

} // namespace zarnik
