// The decoder on streams hand-built from the block layout, independent of our compressor.
#include "TestSupport.h"
#include "BlockDecoder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

using zarnik::DecodeStream;
using zarnik::kDecodeDamaged;

using testsupport::operator+;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes B(const std::string &s) { return Bytes(s.begin(), s.end()); }

// `v`'s low `n` bytes, little-endian.
Bytes Le(uint32_t v, int n)
{
    Bytes out;
    for (int i = 0; i < n; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
    return out;
}

// One block: flags bit 0 = compressed, bit 1 = 4-byte size fields.
Bytes Block(bool compressed, bool wide, const Bytes &payload, uint32_t raw)
{
    const int width = wide ? 4 : 1;
    return Bytes{static_cast<unsigned char>((compressed ? 1 : 0) | (wide ? 2 : 0))} +
           Le(static_cast<uint32_t>(payload.size()) + (wide ? 9 : 3), width) + Le(raw, width) + payload;
}

// Match items, one per form (the short forms have a fixed length).
Bytes Match1(uint32_t off, uint32_t = 3) { return {static_cast<unsigned char>(off << 2)}; }
Bytes Match2(uint32_t off, uint32_t = 3) { return Le(off << 2 | 1, 2); }
Bytes Match2L(uint32_t off, uint32_t len) { return Le(off << 6 | (len - 3) << 2 | 2, 2); }
Bytes Match3(uint32_t off, uint32_t len) { return Le(off << 7 | (len - 2) << 2 | 3, 3); }
Bytes Match4(uint32_t off, uint32_t len) { return Le(off << 15 | (len - 3) << 7 | 3, 4); }
const struct Form
{
    Bytes (*make)(uint32_t, uint32_t);
    uint32_t maxOff, maxLen;
} kForms[] = {{Match1, 63, 3}, {Match2, 16383, 3}, {Match2L, 1023, 18}, {Match3, 131071, 33}, {Match4, 131071, 258}};

// A compressed payload from items; control words carry 31 flags and bit 31.
struct Item
{
    bool match;
    Bytes bytes;
};
using Items = std::vector<Item>;
Bytes Payload(const Items &items)
{
    Bytes out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i % 31 == 0) {
            uint32_t word = 0x80000000u;
            for (size_t k = i; k < items.size() && k < i + 31; ++k)
                word |= (items[k].match ? 1u : 0u) << (k - i);
            out = out + Le(word, 4);
        }
        out.insert(out.end(), items[i].bytes.begin(), items[i].bytes.end());
    }
    return out;
}
Items Literals(const std::string &s)
{
    Items items;
    for (unsigned char c : s)
        items.push_back({false, {c}});
    return items;
}
Items operator+(Items a, const Items &b) { a.insert(a.end(), b.begin(), b.end()); return a; }
Items M(const Bytes &match) { return {{true, match}}; }

// `n` bytes ending at a guard page: any access past them faults, sanitizer or not.
struct Guarded
{
    static const size_t kPage = 65536; // a multiple of every page size in use
    size_t span;
    unsigned char *base, *data;
    explicit Guarded(size_t n) : span((n / kPage + 2) * kPage)
    {
#ifdef _WIN32
        base = static_cast<unsigned char *>(VirtualAlloc(nullptr, span, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD old;
        VirtualProtect(base + span - kPage, kPage, PAGE_NOACCESS, &old);
#else
        base = static_cast<unsigned char *>(mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base + span - kPage, kPage, PROT_NONE);
#endif
        data = base + span - kPage - n;
    }
#ifdef _WIN32
    ~Guarded() { VirtualFree(base, 0, MEM_RELEASE); }
#else
    ~Guarded() { munmap(base, span); }
#endif
};

// Unpacks a stream and an output buffer that both end at a guard page.
uint32_t UnpackAll(const Bytes &stream, uint32_t capacity, Bytes *result = nullptr)
{
    Guarded in(stream.size()), out(capacity);
    std::copy(stream.begin(), stream.end(), in.data);
    const uint32_t n = DecodeStream(out.data, in.data, static_cast<uint32_t>(stream.size()), capacity);
    EXPECT_TRUE(n == kDecodeDamaged || n <= capacity);
    if (result && n != kDecodeDamaged)
        result->assign(out.data, out.data + n);
    return n;
}

Bytes Decode(const Bytes &stream, uint32_t capacity)
{
    Bytes result;
    EXPECT_NE(UnpackAll(stream, capacity, &result), kDecodeDamaged);
    return result;
}

const Bytes kWorked = {0x01, 0x17, 0x1A, 0x08, 0x00, 0x00, 0x80, 0x61, 0x62, 0x63, 0xE6, 0x00,
                       0x58, 0x59, 0x5A, 0x57, 0x56, 0x55, 0x54, 0x53, 0x52, 0x51, 0x50};

} // namespace

TEST(Unpack, SoundStreamsOfEveryBlockKind)
{
    testsupport::CheckRecorder checks;
    const Bytes abc = B("abcabcabcabcabcXYZWVUTSRQP");
    EXPECT_EQ(Decode(kWorked, 26), abc);
    EXPECT_EQ(Decode(kWorked, 1000), abc);
    // The same payload under a 9-byte header.
    EXPECT_EQ(Decode(Block(true, true, Bytes(kWorked.begin() + 3, kWorked.end()), 26), 26), abc);

    // In the last 11 bytes flags are ignored: a control word is skipped, match flags give literals.
    const std::string text = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345678";
    const Bytes skipped = Le(0x80000000u, 4) + B(text.substr(0, 31)) + Bytes(4, 0xFF) + B(text.substr(31));
    const Bytes flagged = Le(0x87FE0000u, 4) + B(text.substr(0, 16)) + Bytes(11, 0x0C);
    EXPECT_EQ(Decode(Block(true, false, skipped, 35), 35), B(text));
    EXPECT_EQ(Decode(Block(true, false, flagged, 27), 27), B(text.substr(0, 16)) + Bytes(11, 0x0C));
    // A block of 11 bytes or fewer is all literals.
    EXPECT_EQ(Decode(Block(true, false, Payload(Literals("hello world")), 11), 11), B("hello world"));

    // Empty streams; raw blocks of both widths, extra payload bytes not output.
    EXPECT_EQ(UnpackAll({}, 0), 0u);
    EXPECT_EQ(Decode(Block(false, false, B("plain"), 5), 5), B("plain"));
    EXPECT_EQ(Decode(Block(false, true, B("plainer"), 5), 5), B("plain"));
    EXPECT_EQ(Decode(Block(false, false, {}, 0) + Block(false, false, B("x"), 1), 1), B("x"));
    EXPECT_TRUE(checks.fired().empty());
}

TEST(Unpack, MatchFormsAndOverlappingCopies)
{
    const std::string tail = "0123456789!";
    // Every form, offset and length up to each form's longest, against a byte-at-a-time copy.
    const std::string prefix = "The quick brown fox jumps over the lazy dog 0123456789";
    for (const Form &form : kForms) {
        for (uint32_t off = 3; off <= prefix.size() && off <= form.maxOff; ++off) {
            for (uint32_t len = 3; len <= form.maxLen; len = len == form.maxLen ? len + 1 : std::min(form.maxLen, len + (len < 40 ? 1 : 37))) {
                std::string expected = prefix;
                for (uint32_t i = 0; i < len; ++i)
                    expected.push_back(expected[expected.size() - off]);
                // Tails: long, too short for 8-byte overshoot, and the shortest legal.
                for (const std::string &t : {tail, std::string(6, '!'), std::string("!")}) {
                    if (len + t.size() < 12)
                        continue;
                    const std::string want = expected + t;
                    const Bytes stream = Block(true, true, Payload(Literals(prefix) + M(form.make(off, len)) + Literals(t)),
                                               static_cast<uint32_t>(want.size()));
                    ASSERT_EQ(Decode(stream, static_cast<uint32_t>(want.size())), B(want)) << off << " " << len;
                }
            }
        }
    }
    // Only a literal flag starts the tail: a match may begin within the last 11 bytes.
    std::string want = prefix;
    for (uint32_t i = 0; i < 12 + 3; ++i)
        want.push_back(want[want.size() - (i < 12 ? 4 : 3)]);
    want += "!";
    const Bytes stream = Block(true, true, Payload(Literals(prefix) + M(Match2L(4, 12)) + M(Match1(3)) + Literals("!")),
                               static_cast<uint32_t>(want.size()));
    EXPECT_EQ(Decode(stream, static_cast<uint32_t>(want.size())), B(want));

    // Long random blocks: literal runs 0-40, every form, offsets <8, <16 and beyond.
    uint32_t x = 12345;
    auto next = [&x](uint32_t n) {
        x = x * 1664525u + 1013904223u;
        return (x >> 8) % n;
    };
    for (int round = 0; round < 4; ++round) {
        Items items;
        want.clear();
        while (want.size() < 20000u + 9000u * round) {
            const uint32_t run = want.size() < 3 ? 3 : next(4) == 0 ? next(41) : next(4);
            for (uint32_t i = 0; i < run; ++i) {
                const unsigned char c = static_cast<unsigned char>('a' + next(26));
                items.push_back({false, {c}});
                want.push_back(static_cast<char>(c));
            }
            const Form &form = kForms[next(5)];
            const uint32_t kind = next(5), span = static_cast<uint32_t>(want.size()), len = 3 + next(form.maxLen - 2);
            const uint32_t off = std::min({kind == 0 ? 3 + next(5) : kind == 1 ? 8 + next(8) : 3 + next(std::min(span, 131071u) - 2), span, form.maxOff});
            items.push_back({true, form.make(off, len)});
            for (uint32_t i = 0; i < len; ++i)
                want.push_back(want[want.size() - off]);
        }
        items = items + Literals("the last 11");
        want += "the last 11";
        ASSERT_EQ(Decode(Block(true, true, Payload(items), static_cast<uint32_t>(want.size())),
                         static_cast<uint32_t>(want.size())), B(want)) << round;
    }
}

TEST(Unpack, DamagedStreamsAreReportedAndNothingElse)
{
    testsupport::CheckRecorder checks;
    // Damaged, and the one failed check named (or none).
    auto damaged = [&](const Bytes &stream, uint32_t capacity, const char *check) {
        std::vector<std::string> expected = checks.fired();
        if (check)
            expected.push_back(check);
        EXPECT_EQ(UnpackAll(stream, capacity), kDecodeDamaged);
        EXPECT_EQ(checks.fired(), expected);
    };
    const std::string tail = "0123456789!";
    const Items sixteen = Literals("abcdefghijklmnop");
    Bytes cut = Payload(sixteen + M(Match3(3, 5)));
    cut.pop_back();
    const Bytes zeroWord = Le(0, 4), oneWord = Le(1, 4), late = Payload(Literals(std::string(31, 'l'))) + oneWord;
    const struct { Bytes stream; uint32_t capacity; const char *check; } cases[] = {
        // Block lengths 0 and short of the header.
        {{0x00, 0x00, 0x00}, 100, nullptr}, {{0x00, 0x02, 0x00}, 100, nullptr},
        {{0x02, 8, 0, 0, 0, 0, 0, 0, 0}, 100, nullptr},
        // A raw payload shorter than its raw length.
        {Block(false, false, B("abc"), 4), 100, nullptr},
        // Output beyond the capacity, in one block or over several.
        {Block(false, false, B("abcd"), 4), 3, nullptr}, {kWorked, 25, nullptr},
        {Block(false, false, B("abcd"), 4) + kWorked, 29, nullptr},
        // Control word, literals or match past the payload; a tail needing the next word.
        {Block(true, false, {0x00, 0x00, 0x80}, 5), 100, nullptr}, {Block(true, false, Payload(Literals("abcdefgh")), 9), 100, nullptr},
        {Block(true, false, Payload(Literals("abcdefghijklmnopqrst")), 21), 100, nullptr},
        {Block(true, false, Payload(Literals(std::string(31, 'q'))), 33), 100, nullptr},
        {Block(true, false, cut, 40), 100, nullptr},
        // Control words 0 and 1 leave the control value at 0, also late in long blocks.
        {Block(true, false, zeroWord + B(std::string(30, 'z')), 30), 100, "mask != 0"},
        {Block(true, false, oneWord + Match1(3) + B(std::string(30, 'z')), 30), 100, "outp - off >= outData"},
        {Block(true, false, late + Match1(3) + B(std::string(20, 'z')), 54), 100, "mask != 0"},
        {Block(true, true, Payload(Literals(std::string(775, 'w'))) + oneWord + Match1(3) + B(std::string(1100, 'z')), 1878), 2000, "mask != 0"},
        // A match before the block's first byte, also across a block boundary.
        {Block(true, false, Payload(Literals("abc") + M(Match2L(4, 3)) + Literals(tail)), 17), 100, "outp - off >= outData"},
        {Block(false, false, B("abcdef"), 6) + Block(true, false, Payload(Literals("abc") + M(Match2L(5, 3)) + Literals(tail)), 17), 100, "outp - off >= outData"},
        // A match ending on the block's last byte.
        {Block(true, false, Payload(Literals("abc") + M(Match4(3, 30))), 33), 100, "outp + len <= outlast"},
        {Block(true, true, Payload(sixteen + M(Match4(3, 258)) + Literals("x")), 274), 1000, "outp + len <= outlast"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        damaged(cases[i].stream, cases[i].capacity, cases[i].check);
    }
    // Offsets 0-2 and one before the block, deep in a long block (fast paths); 800 is sound.
    const Bytes noise = testsupport::Pattern(800, 9);
    const std::string lead(noise.begin(), noise.end());
    for (uint32_t f = 0; f < 5; ++f) {
        for (uint32_t off : {0u, 1u, 2u, 800u, 801u}) for (uint32_t after : {400u, 1200u}) {
            if (off > kForms[f].maxOff)
                continue; // the 1-byte form has 6 offset bits
            const Bytes item = kForms[f].make(off, 3);
            const uint32_t raw = 800 + 3 + after;
            const Bytes stream = Block(true, true, Payload(Literals(lead) + M(item) + Literals(std::string(after, 't'))), raw);
            if (off == 800)
                EXPECT_EQ(UnpackAll(stream, raw), raw) << f;
            else
                damaged(stream, raw, off == 801 ? "outp - off >= outData" : nullptr);
        }
    }
}

// Three blocks cut at every byte: only block boundaries give a sound stream. Control words of 31
// longest matches, cut short of raw length or payload at every place in a word's reach: damaged, and
// the guard pages show no stray access.
TEST(Unpack, StreamsCutAnywhereButAtBlockEndsAreDamaged)
{
    const std::string tail = "0123456789!";
    const Bytes a = Block(true, false, Payload(Literals("abc") + M(Match2L(3, 12)) + Literals(std::string(40, 'k'))), 55);
    const Bytes b = Block(false, false, B("raw bytes"), 9);
    const Bytes c = Block(true, true, Payload(Literals("0123456789") + M(Match4(10, 100)) + Literals(tail)), 121);
    const Bytes whole = a + b + c;
    EXPECT_EQ(UnpackAll(whole, 185), 185u);
    for (size_t cutAt = 1; cutAt < whole.size(); ++cutAt) {
        const uint32_t n = UnpackAll(Bytes(whole.begin(), whole.begin() + cutAt), 185);
        EXPECT_EQ(n, cutAt == a.size() ? 55u : cutAt == a.size() + b.size() ? 64u : kDecodeDamaged) << cutAt;
    }

    Items items = Literals(std::string(40, 'h'));
    for (int i = 0; i < 31 * 6; ++i)
        items = items + M(Match3(33, 33));
    const Bytes payload = Payload(items);
    for (uint32_t raw = 1800; raw < 2900; ++raw)
        ASSERT_EQ(UnpackAll(Block(true, true, payload, raw), raw), kDecodeDamaged) << raw;
    for (size_t cut = 0; cut < 120; ++cut)
        ASSERT_EQ(UnpackAll(Block(true, true, Bytes(payload.begin(), payload.end() - cut), 8000), 8000),
                  kDecodeDamaged) << cut;
}
