#include "Corpus.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace zarnik_corpus {
namespace {

class Random
{
public:
    explicit Random(uint32_t seed) : m_state(0x9E3779B97F4A7C15ull ^ seed) {}
    uint32_t Next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return static_cast<uint32_t>(m_state >> 16);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
    // Small numbers far more often than large ones, roughly as word
    // frequencies fall off.
    uint32_t Skewed(uint32_t n)
    {
        const uint32_t a = Below(n), b = Below(n);
        const uint32_t c = a < b ? a : b;
        return c * Below(n) / n;
    }

private:
    uint64_t m_state;
};

// The prose's words, each followed by one space.
const char kWordText[] =
    "the of and to a in is it that was he for on are with as his they be at one have this "
    "from or had by but what some we can out other were all there when up use your how said "
    "an each she which do their time if will way about many then them write would like so "
    "these her long make thing see him two has look more day could go come did number sound "
    "no most people my over know water than call first who may down side been now find any "
    "new work part take get place made live where after back little only round man year came "
    "show every good me give our under name very through just form sentence great think say "
    "help low line differ turn cause much mean before move right boy old too same tell does "
    "set three want air well also play small end put home read hand port large spell add "
    "even land here must big high such follow act why ask men change went light kind off "
    "need house picture try us again animal point mother world near build self earth father "
    "head stand own page should country found answer school grow study still learn plant "
    "cover food sun four between state keep eye never last let thought city tree cross farm "
    "hard start might story saw far sea draw left late run while press close night real life "
    "few north open seem together next white children begin got walk example ease paper "
    "group always music those both mark often letter until mile river car feet care second "
    "book carry took science eat room friend began idea fish mountain stop once base hear "
    "horse cut sure watch color face wood main enough plain girl usual young ready above "
    "ever red list though feel talk bird soon body dog family direct pose leave song measure "
    "door product black short numeral class wind question happen complete ship area half "
    "rock order fire south problem piece told knew pass since top whole king space heard "
    "best hour better during hundred five remember step early hold west ground interest "
    "reach fast verb sing listen six table travel less morning ten simple several vowel "
    "toward war lay against pattern slow center love person money serve appear road map rain "
    "rule govern pull cold notice voice unit power town fine certain fly fall lead cry dark "
    "machine note wait plan figure star box noun field rest correct able pound done beauty "
    "drive stood contain front teach week final gave green oh quick develop ocean warm free "
    "minute strong special mind behind clear tail produce fact street inch multiply nothing "
    "course stay wheel full force blue object decide surface deep moon island foot system "
    "busy test record boat common gold possible plane stead dry wonder laugh thousand ago "
    "ran check game shape equate hot miss brought heat snow tire bring yes distant fill east "
    "paint language among Zarnik Meridian Halvorsen quartermaster thunderous obsidian "
    "labyrinthine cartographer ephemeral ";

constexpr uint32_t CountWords(const char *text)
{
    uint32_t n = 0;
    for (; *text; ++text)
        n += *text == ' ';
    return n;
}
const uint32_t kWordCount = CountWords(kWordText);

// The word numbered `i` in kWordText.
const std::string &Word(uint32_t i)
{
    static const std::vector<std::string> words = [] {
        std::vector<std::string> all;
        for (const char *w = kWordText; *w;) {
            const char *end = std::strchr(w, ' ');
            all.emplace_back(w, end);
            w = end + 1;
        }
        return all;
    }();
    return words[i];
}

// Word choice of the prose. Words are not drawn independently, as in no
// real text: each word has a few likely successors (collocations such as
// "of the", "at once"), and some word sequences recur as set phrases. Both
// are fixed per seed.
class Prose
{
public:
    explicit Prose(Random &rnd) : m_rnd(rnd)
    {
        for (uint32_t w = 0; w < kWordCount; ++w)
            for (uint32_t k = 0; k < kSuccessors; ++k)
                m_successors[w][k] = static_cast<uint16_t>(m_rnd.Skewed(kWordCount));
        for (uint32_t k = 0; k < kPhrases; ++k) {
            uint32_t w = m_rnd.Skewed(kWordCount);
            const uint32_t n = 2 + m_rnd.Below(5);
            for (uint32_t i = 0; i < n; ++i) {
                m_phrases[k].push_back(static_cast<uint16_t>(w));
                w = Successor(w);
            }
        }
    }

    // Appends the next words (one, or a whole phrase) to `words`.
    void Next(std::vector<uint16_t> &words)
    {
        if (m_rnd.Below(8) == 0) {
            const std::vector<uint16_t> &phrase = m_phrases[m_rnd.Skewed(kPhrases)];
            words.insert(words.end(), phrase.begin(), phrase.end());
        } else if (!words.empty() && m_rnd.Below(10) < 6) {
            words.push_back(static_cast<uint16_t>(Successor(words.back())));
        } else {
            words.push_back(static_cast<uint16_t>(m_rnd.Skewed(kWordCount)));
        }
    }

private:
    static const uint32_t kSuccessors = 6;
    static const uint32_t kPhrases = 400;
    uint32_t Successor(uint32_t w) { return m_successors[w][m_rnd.Skewed(kSuccessors)]; }

    Random &m_rnd;
    uint16_t m_successors[kWordCount][kSuccessors];
    std::vector<uint16_t> m_phrases[kPhrases];
};

} // namespace

std::vector<unsigned char> Text(size_t size, uint32_t seed)
{
    Random rnd(seed);
    Prose prose(rnd);
    std::string out;
    out.reserve(size + 128);
    size_t lineStart = 0;
    std::vector<uint16_t> sentence;
    while (out.size() < size) {
        // One paragraph of 2 to 8 sentences.
        const uint32_t sentences = 2 + rnd.Below(7);
        for (uint32_t s = 0; s < sentences; ++s) {
            const uint32_t words = 4 + rnd.Below(16);
            sentence.clear();
            while (sentence.size() < words)
                prose.Next(sentence);
            for (uint32_t w = 0; w < sentence.size(); ++w) {
                std::string word = Word(sentence[w]);
                if (w == 0)
                    word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
                if (w + 1 == sentence.size()) {
                    const uint32_t r = rnd.Below(10);
                    word += r < 7 ? "." : r < 9 ? "?" : "!";
                } else if (rnd.Below(9) == 0) {
                    word += rnd.Below(4) == 0 ? ";" : ",";
                } else if (rnd.Below(40) == 0) {
                    word = "\"" + word + "\"";
                } else if (rnd.Below(60) == 0) {
                    word += " " + std::to_string(rnd.Below(2000));
                }
                if (out.size() - lineStart + word.size() + 1 > 76) {
                    out += '\n';
                    lineStart = out.size();
                } else if (out.size() != lineStart) {
                    out += ' ';
                }
                out += word;
            }
        }
        out += "\n\n";
        lineStart = out.size();
    }
    out.resize(size);
    return std::vector<unsigned char>(out.begin(), out.end());
}

std::vector<unsigned char> Binary(size_t size, uint32_t seed)
{
    static const char *const kNames[] = {"player", "crate", "door", "torch", "banner", "golem",
                                         "arrow", "chest", "lever", "portal"};
    // A few instruction shapes; the x bytes vary (registers, displacements,
    // immediates, call targets).
    static const char *const kShapes[] = {"55", "8bec", "83ecx", "8b45x", "8945x", "e8xxxx",
                                          "85c0", "74x", "75x", "ebx", "c3", "33c0", "50",
                                          "ff75x", "8d4dx", "6axx", "0f84xxxx", "c745xxxxxx"};
    Random rnd(seed);
    std::vector<unsigned char> out;
    out.reserve(size + 4096);
    uint32_t id = 1000, time = 1600000000;
    float x = 0, y = 0, z = 0;
    while (out.size() < size) {
        const uint32_t records = 64 + rnd.Below(128);
        for (uint32_t r = 0; r < records; ++r) {
            unsigned char rec[40] = {};
            id += 1 + (rnd.Below(8) == 0 ? rnd.Below(50) : 0);
            time += rnd.Below(300);
            x += static_cast<float>(rnd.Below(200)) / 100.0f - 1.0f;
            y += static_cast<float>(rnd.Below(200)) / 100.0f - 1.0f;
            z = static_cast<float>(rnd.Below(4)) * 16.0f;
            const uint16_t type = static_cast<uint16_t>(rnd.Skewed(10));
            const uint16_t flags = static_cast<uint16_t>(rnd.Below(4) == 0 ? rnd.Below(16) : 1);
            std::memcpy(rec, &id, 4);
            std::memcpy(rec + 4, &type, 2);
            std::memcpy(rec + 6, &flags, 2);
            std::memcpy(rec + 8, &x, 4);
            std::memcpy(rec + 12, &y, 4);
            std::memcpy(rec + 16, &z, 4);
            std::memcpy(rec + 20, &time, 4);
            const char *name = kNames[type];
            std::memcpy(rec + 24, name, std::strlen(name));
            out.insert(out.end(), rec, rec + sizeof(rec));
        }
        const uint32_t instructions = 256 + rnd.Below(1024);
        for (uint32_t i = 0; i < instructions; ++i) {
            const char *shape = kShapes[rnd.Skewed(sizeof(kShapes) / sizeof(kShapes[0]))];
            for (const char *c = shape; *c; c += 2) {
                if (*c == 'x') {
                    out.push_back(static_cast<unsigned char>(rnd.Below(4) == 0 ? rnd.Next() : rnd.Below(16) * 4));
                    --c; // one 'x' per byte
                } else {
                    auto hex = [](char h) { return h <= '9' ? h - '0' : h - 'a' + 10; };
                    out.push_back(static_cast<unsigned char>(hex(c[0]) * 16 + hex(c[1])));
                }
            }
        }
    }
    out.resize(size);
    return out;
}

std::vector<zarnik_pack::Entry> MillionEntries()
{
    const int areas = 1000, subsPerArea = 20, files = 1000000;
    std::vector<zarnik_pack::Entry> entries(files);
    char name[96];
    for (int i = 0; i < files; ++i) {
        const int folder = i / (files / (areas * subsPerArea));
        std::snprintf(name, sizeof name, "content\\area_%04d\\sub_%d\\file_%06d.dds",
                      folder / subsPerArea, folder % subsPerArea, i);
        entries[i].path = name;
        entries[i].data = {static_cast<unsigned char>(i)};
        entries[i].storage = zarnik_pack::Storage::Stored;
    }
    return entries;
}

std::vector<zarnik_pack::Entry> ThousandFolders()
{
    const int filesPerFolder = 1000, files = 1000000;
    std::vector<zarnik_pack::Entry> entries(files);
    char name[96];
    for (int i = 0; i < files; ++i) {
        std::snprintf(name, sizeof name, "content\\area_%d\\dir_%03d\\file_%06d.dds", i / kFilesPerArea,
                      i % kFilesPerArea / filesPerFolder, i);
        entries[i].path = name;
        entries[i].data = {static_cast<unsigned char>(i)};
        entries[i].storage = zarnik_pack::Storage::Stored;
    }
    return entries;
}

std::filesystem::path BenchPath(const char *name, const std::filesystem::path &fallback)
{
    const char *chosen = std::getenv("ZARNIK_BENCH_DIR");
    return (chosen && *chosen ? std::filesystem::path(chosen) : fallback) / name;
}

} // namespace zarnik_corpus
