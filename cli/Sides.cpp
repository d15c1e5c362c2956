#include "Sides.h"

#include "Glob.h"
#include "OpenPack.h"
#include "PackText.h"

#include <functional>

using zarnik::CCompareSide;

std::unique_ptr<const CCompareSide> OpenSide(const std::string &argument)
{
    CCompareSide::OpenResult opened = CCompareSide::Open(LibraryPath(argument));
    if (!opened.side)
        PrintError("cannot open " + Printable(argument) + ": " + opened.error);
    return std::move(opened.side);
}

PathScope::PathScope(const std::vector<std::string> &typed) : m_Typed(typed)
{
    for (const std::string &pattern : typed)
        m_Patterns.push_back(NormalizePattern(pattern));
}

bool PathScope::operator()(const std::string &path) const
{
    if (m_Patterns.empty())
        return true;
    const std::string slashed = SlashPath(path);
    for (const std::string &pattern : m_Patterns) {
        // The path itself, or a folder it lies in.
        for (size_t end = slashed.size(); end != std::string::npos && end > 0; end = slashed.rfind('/', end - 1))
            if (GlobMatch(pattern, slashed.substr(0, end)))
                return true;
    }
    return false;
}

zarnik::CompareSettings PathScope::Settings(unsigned jobs) const
{
    zarnik::CompareSettings settings;
    settings.workers = jobs;
    if (!Everything())
        settings.inScope = std::ref(*this);
    return settings;
}

std::vector<std::string> PathScope::Unmatched(const std::vector<const CCompareSide *> &sides) const
{
    std::vector<std::string> unmatched;
    for (size_t i = 0; i < m_Patterns.size(); ++i) {
        bool matched = false;
        for (const CCompareSide *side : sides) {
            for (const zarnik::SideFile &file : side->Files())
                matched = matched || GlobMatch(m_Patterns[i], SlashPath(file.path));
            for (const std::string &folder : side->Folders())
                matched = matched || GlobMatch(m_Patterns[i], SlashPath(folder));
        }
        if (!matched)
            unmatched.push_back(m_Typed[i]);
    }
    return unmatched;
}
