#include "Progress.h"

#include "Console.h"

#include <cstdio>

std::string HumanBytes(uint64_t bytes)
{
    static const char *const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < sizeof units / sizeof *units) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

bool ProgressWish::Shown() const
{
    return !never && (always || StandardErrorIsTerminal());
}

namespace {

// The last `columns` characters of UTF-8 text, "..." in front when cut.
std::string TailColumns(const std::string &text, size_t columns)
{
    size_t characters = 0;
    for (unsigned char c : text)
        characters += (c & 0xC0) != 0x80;
    if (characters <= columns)
        return text;
    size_t drop = characters - columns + 3;
    size_t at = 0;
    while (at < text.size() && drop > 0) {
        ++at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
            ++at;
        --drop;
    }
    return "..." + text.substr(at);
}

} // namespace

ProgressLine::ProgressLine(bool enabled, uint64_t totalFiles)
    : m_Enabled(enabled), m_TotalFiles(totalFiles), m_Start(std::chrono::steady_clock::now())
{
}

void ProgressLine::Update(uint64_t filesDone, uint64_t bytesDone, const std::string &current)
{
    if (!m_Enabled)
        return;
    m_FilesDone = filesDone;
    m_BytesDone = bytesDone;
    m_Current = current;
    const auto now = std::chrono::steady_clock::now();
    if (m_Shown && now - m_LastDraw < std::chrono::milliseconds(100) && filesDone < m_TotalFiles)
        return;
    m_LastDraw = now;
    Draw();
}

void ProgressLine::Draw()
{
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_Start).count();
    const uint64_t rate = seconds > 0.05 ? static_cast<uint64_t>(m_BytesDone / seconds) : 0;
    std::string line = std::to_string(m_FilesDone) + "/" + std::to_string(m_TotalFiles) +
                       " files  " + HumanBytes(m_BytesDone) + "  " + HumanBytes(rate) + "/s  ";
    const size_t width = TerminalWidth() - 1;
    if (line.size() < width)
        line += TailColumns(m_Current, width - line.size());
    // "\033[K" clears what a longer earlier line left on the right.
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    m_Shown = true;
}

void ProgressLine::Clear()
{
    if (!m_Shown)
        return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    m_Shown = false;
}
