// `zarnik list`: the tree, one node per line, or as a JSON array.
#include "Commands.h"
#include "OpenPack.h"
#include "PackText.h"
#include "TreeWalk.h"

#include <nlohmann/json.hpp>

#include <cinttypes>
#include <cstdio>

namespace {

// Written item by item as the tree is walked, so that memory does not grow
// with the pack; the layout is that of the whole array dumped with an
// indent of 2.
void PrintJson(const ArchiveNode *root)
{
    bool first = true;
    std::string text;
    WalkBelow(root, [&](const ArchiveNode *node) {
        // ordered_json keeps the keys in the order written here.
        nlohmann::ordered_json item;
        item["path"] = DisplayName(node->m_Path);
        item["name"] = DisplayName(node->m_Name);
        item["type"] = node->IsFolder() ? "folder" : "file";
        item["unpacked"] = node->m_UnpackedSize;
        item["stored"] = node->m_PackedSize;
        item["offset"] = node->m_Offset;
        text = first ? "[\n  " : ",\n  ";
        for (char c : item.dump(2)) {
            text.push_back(c);
            if (c == '\n')
                text += "  ";
        }
        std::fwrite(text.data(), 1, text.size(), stdout);
        first = false;
    });
    std::fputs(first ? "[]\n" : "\n]\n", stdout);
}

} // namespace

int RunList(const std::string &pack, bool longFormat, bool json)
{
    const auto archive = OpenPack(pack);
    if (!archive)
        return kExitUsage;
    if (json) {
        PrintJson(archive->GetRoot());
        return kExitOk;
    }
    WalkBelow(archive->GetRoot(), [longFormat](const ArchiveNode *node) {
        const std::string path = ShownPath(node->m_Path) + (node->IsFolder() ? "/" : "");
        if (!longFormat)
            std::printf("%s\n", path.c_str());
        else if (node->IsFolder())
            std::printf("%12s %12s %-6s  %s\n", "-", "-", "-", path.c_str());
        else
            std::printf("%12" PRIu32 " %12" PRIu32 " %-6s  %s\n", node->m_UnpackedSize,
                        node->m_PackedSize, node->IsPacked() ? "packed" : "stored", path.c_str());
    });
    return kExitOk;
}
