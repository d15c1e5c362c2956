// `zarnik grep`, run as a program, held against GNU grep run over an
// extraction of the same packs: the same lines, counts and exit statuses.
#include "PackPath.h"
#include "ToolRun.h"

#include <sstream>
#include <tuple>

using namespace testsupport;
using testpack::Entry;
using zarnik_pack::Storage;

namespace {

#ifndef _WIN32
const std::string kCafe = "content\\caf\xE9\\\xE9t\xE9.txt"; // Latin-1 names, UTF-8 text

// Files whose lines a block boundary cuts (the writer packs 64 KiB a
// block), one line longer than a block, CRLF, a NUL byte, names outside
// ASCII, packed and stored.
std::vector<Entry> PackedFiles()
{
    std::string prose;
    for (int i = 0; prose.size() < 150000; ++i)
        prose += "line " + std::to_string(i) + ": the quick brown fox, Foo and foobar\n";
    prose.replace(65536 - 3, 6, "needle");
    const std::string longLine = std::string(100000, 'x') + " needle " + std::string(50000, 'y') + "\nshort needle";
    return {MakeEntry("content\\prose.txt", prose, Storage::Packed),
            MakeEntry("content\\long\\line.txt", longLine, Storage::Packed),
            MakeEntry("content\\crlf.txt", "first Needle\r\nsecond\r\nneedle end\r\n", Storage::Stored),
            MakeEntry("content\\bin.dat", std::string("needle\0binary\nneedle\n", 21)),
            MakeEntry(kCafe, "été needle\tÉTÉ\x1b[0m\nÉté\n")};
}

// GNU grep over `folder`, the extraction of `pack`, naming its files in the pack's order, with its output put
// in zarnik's form: `label` for the folder, the text escaped, "grep:" as "zarnik:".
Result GnuGrep(const std::vector<std::string> &options, const std::string &pack, const std::string &folder,
               const std::string &label, bool withText, const std::string &cwd)
{
    const bool fixed = std::find(options.begin(), options.end(), "-F") != options.end();
    std::vector<std::string> args = options;
    std::vector<std::string> files;
    std::istringstream listed(Zarnik({"list", pack}, cwd).out);
    for (std::string line; std::getline(listed, line);)
        if (line.back() != '/') {
            files.push_back(line);
            args.push_back(folder + "/" + line);
        }
    // Run in the tool's place: the shell drops the tool's path.
    const Result gnu = Zarnik(args, cwd, Shell(std::string("shift; export LC_ALL=C.UTF-8; exec grep -H") + (fixed ? "" : " -P") +
                                               " \"$@\""));
    Result result{gnu.status, "", ""};
    for (const std::string *text : {&gnu.out, &gnu.err}) {
        std::istringstream lines(*text);
        std::string &into = text == &gnu.out ? result.out : result.err;
        for (std::string line; std::getline(lines, line);) {
            const bool error = line.rfind("grep: ", 0) == 0;
            std::string rest = error ? line.substr(6) : line;
            if (rest.rfind(folder + "/", 0) == 0)
                rest = label + rest.substr(folder.size() + 1);
            for (const std::string &file : files) {
                if (withText && !error && rest.find(file + ":") != std::string::npos) {
                    size_t at = rest.find(file + ":") + file.size() + 1;
                    if (std::find(options.begin(), options.end(), "-n") != options.end())
                        at = rest.find(':', at) + 1;
                    rest = rest.substr(0, at) + zarnik::Printable(rest.substr(at));
                    break;
                }
            }
            into += (error ? "zarnik: " : "") + rest + "\n";
        }
    }
    return result;
}
#endif

} // namespace

TEST(Grep, FindsWhatGnuGrepFindsInTheExtractedFiles)
{
    SKIP_ON_WINDOWS("GNU grep");
#ifndef _WIN32
    TempDir dir;
    WriteUpk(dir, PackedFiles(), "p.upk");
    WriteVfs(dir, {MakeEntry("content\\other.txt", "needle in a set\n"), PackedFiles()[2]});
    ASSERT_EQ(Zarnik({"extract", "p.upk", "-C", "p"}, dir.str()).status, 0);
    ASSERT_EQ(Zarnik({"extract", "data0.vfs", "-C", "v"}, dir.str()).status, 0);
    struct Case { std::vector<std::string> options; bool withText; };
    // test_search checks how each pattern matches (case folded, CRLF lines); here the options and the output.
    const Case cases[] = {
        {{"needle"}, true},                       // across a block boundary, in a line longer than a block
        {{"-n", "needle"}, true},
        {{"-w", "-i", "-o", "foo"}, true},
        // In a binary file grep takes NUL bytes for line ends; we do not.
        {{"-v", "-c", "--exclude", "*.dat", "needle"}, false},
        {{"-l", "É|fox"}, false},
        {{"-o", "-n", "\\bn\\w+"}, true},
        {{"-F", "-e", "needle", "-e", "fox,"}, true},
        {{"-a", "binary"}, true},                 // a binary file's lines as text
        {{"absent"}, true},
    };
    for (const Case &c : cases) {
        const Result gnu = GnuGrep(c.options, "p.upk", "p", "", c.withText, dir.str());
        std::vector<std::string> args = {"grep"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back("p.upk");
        const Result ours = Zarnik(args, dir.str());
        EXPECT_EQ(std::tie(ours.status, ours.out, ours.err), std::tie(gnu.status, gnu.out, gnu.err)) << c.options.back();
    }
    // Several packs: each path after its pack, in the order given.
    const Result gnu = GnuGrep({"-n", "needle"}, "data0.vfs", "v", "data0.vfs:", true, dir.str());
    const Result ours = Zarnik({"grep", "-n", "needle", "p.upk", "data0.vfs"}, dir.str());
    EXPECT_EQ(ours.out, Zarnik({"grep", "-H", "-n", "needle", "p.upk"}, dir.str()).out + gnu.out);
#endif
}

TEST(Grep, TroubleIsNamedTheRestIsSearchedAndTheStatusIsTwo)
{
    TempDir dir;
    Entry damaged = MakeEntry("content\\bad.txt", "needle before the damage\n" + std::string(5000, 'z'), Storage::Packed);
    damaged.unpackedSize = 6000;
    WriteUpk(dir, {MakeEntry("content\\a.txt", "needle one\nnone\n"), damaged, MakeEntry("content\\z.txt", "two needle\n")});
    const Result found = Zarnik({"grep", "-F", "-n", "needle", "missing.upk", "p.upk"}, dir.str());
    EXPECT_TRUE(Ran(found, 2, {}, {"cannot open missing.upk", "p.upk:content/bad.txt: packed data unpacks to another size"}));
    EXPECT_EQ(found.out, "p.upk:content/a.txt:1:needle one\np.upk:content/bad.txt:1:needle before the damage\n"
                         "p.upk:content/z.txt:1:two needle\n");
    // -q asks only whether something matched: trouble matters when nothing did.
    EXPECT_TRUE(Ran(Zarnik({"grep", "-q", "-F", "needle", "missing.upk", "p.upk"}, dir.str()), 0, {}));
    EXPECT_TRUE(Ran(Zarnik({"grep", "-q", "-F", "absent", "missing.upk", "p.upk"}, dir.str()), 2, {}));
    // Lines that could not be written are trouble, not "no match".
    if (!kWindows) {
        EXPECT_TRUE(Ran(Zarnik({"grep", "-F", "needle", "p.upk", "--exclude", "bad.txt"}, dir.str(), Shell("exec \"$@\" >/dev/full")),
                        2, {}, {"cannot write to standard output"}));
    }
    // Without PCRE2 (Windows) a regular expression is refused; a plain word is a fixed string.
    const Result regex = Zarnik({"grep", "-c", "ne+dle", "p.upk", "--include", "content/[az].txt"}, dir.str());
    if (kWindows)
        EXPECT_TRUE(Ran(regex, 2, {}, {"regular expressions need PCRE2, which this build lacks"}));
    else
        EXPECT_TRUE(Ran(regex, 0, {"content/a.txt:1\ncontent/z.txt:1\n"}));
    EXPECT_TRUE(Ran(Zarnik({"grep", "-o", "needle", "p.upk", "--include", "content/z.txt"}, dir.str()), 0,
                    {"content/z.txt:needle\n"}));
}
