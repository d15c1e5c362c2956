// `zarnik list`: the tree, one node per line, or as a JSON array.
#include "Commands.h"
#include "JsonArray.h"
#include "OpenPack.h"
#include "PackText.h"
#include "TreeWalk.h"

#include <nlohmann/json.hpp>

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <vector>

using zarnik::ArchiveNode;
using zarnik::CZarnikArchive;

namespace {

void PrintJson(const ArchiveNode *root, const std::vector<std::string> &dataNames)
{
    JsonArrayOut out;
    WalkBelow(root, [&](const ArchiveNode *node) {
        // ordered_json keeps the keys in the order written here.
        nlohmann::ordered_json item;
        item["path"] = DisplayName(node->m_Path);
        item["name"] = DisplayName(node->m_Name);
        item["type"] = node->IsFolder() ? "folder" : "file";
        item["unpacked"] = node->m_UnpackedSize;
        item["stored"] = node->m_PackedSize;
        item["offset"] = node->m_Offset;
        if (node->IsFolder())
            item["data"] = nullptr;
        else
            item["data"] = DisplayName(dataNames.at(node->m_DataFile));
        out.Add(item.dump(2));
    });
}

// The file name of each data file of the archive, by ArchiveNode::m_DataFile.
std::vector<std::string> DataFileNames(const CZarnikArchive &archive)
{
    std::vector<std::string> names;
    for (size_t i = 0; i < archive.GetDataFileCount(); ++i)
        names.push_back(std::filesystem::path(archive.GetDataFilePath(i)).filename().string());
    return names;
}

} // namespace

int RunList(const std::string &pack, bool longFormat, bool json)
{
    const auto archive = OpenPack(pack);
    if (!archive)
        return kExitUsage;
    const std::vector<std::string> dataNames = DataFileNames(*archive);
    if (json) {
        PrintJson(archive->GetRoot(), dataNames);
        return kExitOk;
    }
    // A whole index names each file's data file in a column of its own.
    const bool dataColumn = dataNames.size() > 1;
    WalkBelow(archive->GetRoot(), [&](const ArchiveNode *node) {
        const std::string path = ShownPath(node->m_Path) + (node->IsFolder() ? "/" : "");
        const std::string data =
            !dataColumn ? "" : Printable(node->IsFolder() ? "-" : dataNames.at(node->m_DataFile)) + "  ";
        if (!longFormat)
            std::printf("%s\n", path.c_str());
        else if (node->IsFolder())
            std::printf("%12s %12s %-6s  %s%s\n", "-", "-", "-", data.c_str(), path.c_str());
        else
            std::printf("%12" PRIu32 " %12" PRIu32 " %-6s  %s%s\n", node->m_UnpackedSize,
                        node->m_PackedSize, node->IsPacked() ? "packed" : "stored", data.c_str(),
                        path.c_str());
    });
    return kExitOk;
}
