// The one-line progress display of `extract`, `test` and the changes on standard error: files done of
// the total, bytes written, the rate and the file being written. Redrawn in
// place at most ten times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// Human-readable byte count: "532 B", "1.4 KiB", "12.0 MiB".
std::string HumanBytes(uint64_t bytes);

// What the user asked of the progress line, alike for every command that
// draws one: --progress draws it even when standard error is no terminal,
// --quiet never.
struct ProgressWish
{
    bool always = false;
    bool never = false;
    bool Shown() const;
};

class ProgressLine
{
public:
    ProgressLine(bool enabled, uint64_t totalFiles);

    // A new state; drawn when enough time has passed since the last drawing.
    void Update(uint64_t filesDone, uint64_t bytesDone, const std::string &current);
    // Removes the line so that a message can be printed in its place; the
    // next Update draws it again.
    void Clear();

private:
    void Draw();

    bool m_Enabled;
    bool m_Shown = false;
    uint64_t m_TotalFiles;
    uint64_t m_FilesDone = 0;
    uint64_t m_BytesDone = 0;
    std::string m_Current;
    std::chrono::steady_clock::time_point m_Start;
    std::chrono::steady_clock::time_point m_LastDraw;
};
