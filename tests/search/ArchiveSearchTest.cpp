// The search core without a window: wildcard masks (tables, and a differential check against a small
// recursive matcher), entry paths on cp932, and walks over real archives made here with zip, bsdtar
// and our LHA module.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archivers/Archives.h"
#include "platform/ModuleLoader.h"
#include "platform/AnsiCodec.h"
#include "regexp/RECommon.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "ui/ArchiveSearch.h"

using namespace norvex;
using namespace norvex::literals;
using norvex::test::TempDir;

namespace {

// ---- A reference matcher over whole characters, straight from the definition ----------------------

std::vector<std::string> Chars(std::string_view s) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = AnsiCharLength(s, i);
        out.emplace_back(s.substr(i, n));
        i += n;
    }
    return out;
}

bool SameLiteral(const std::string& a, const std::string& b) {
    if (a.size() == 1 && b.size() == 1)
        return std::toupper(static_cast<unsigned char>(a[0])) == std::toupper(static_cast<unsigned char>(b[0]));
    return a == b;
}

bool RefMatch(const std::vector<std::string>& m, std::size_t i, const std::vector<std::string>& n, std::size_t j) {
    if (i == m.size()) return j == n.size();
    if (m[i] == "*") {
        for (std::size_t k = j; k <= n.size(); ++k)
            if (RefMatch(m, i + 1, n, k)) return true;
        return false;
    }
    if (j == n.size()) return false;
    if (m[i] == "?") return RefMatch(m, i + 1, n, j + 1);
    return SameLiteral(m[i], n[j]) && RefMatch(m, i + 1, n, j + 1);
}

void Enumerate(const std::vector<std::string>& alphabet, std::size_t maxLen, const std::function<void(const std::string&)>& f) {
    std::vector<std::string> level{""};
    f("");
    for (std::size_t len = 1; len <= maxLen; ++len) {
        std::vector<std::string> next;
        for (const std::string& s : level)
            for (const std::string& c : alphabet) {
                next.push_back(s + c);
                f(next.back());
            }
        level = std::move(next);
    }
}

// ---- Archives made for the tests -----------------------------------------------------------------

std::string Body(std::size_t size) {
    std::string s(size, 'x');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>('a' + (i * 7) % 26);
    return s;
}

// Writes files (relative UTF-8 paths) under dir/src-<name> and packs them with zip into dir/name.
std::string MakeZip(const TempDir& dir, const std::string& name, const std::vector<std::string>& files,
                    std::size_t size = 100) {
    const std::string src = dir / ("src-" + name);
    std::filesystem::create_directories(src);
    std::vector<std::string> argv{"zip", "-q", "-r", dir / name};
    for (const std::string& f : files) {
        test::WriteFile(src + "/" + f, Body(size));
        argv.push_back(f);
    }
    const auto r = test::RunTool(argv, src);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return dir / name;
}

std::string MakeTar(const TempDir& dir, const std::string& name, const std::vector<std::string>& files) {
    const std::string src = dir / ("src-" + name);
    std::vector<std::string> argv{"bsdtar", "-cf", dir / name};
    for (const std::string& f : files) {
        test::WriteFile(src + "/" + f, Body(10));
        argv.push_back(f);
    }
    const auto r = test::RunTool(argv, src);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return dir / name;
}

// An LZH archive packed by our own LHA module, then given the name asked for (".lha" included).
std::string MakeLzh(const TempDir& dir, const std::string& name, const std::vector<std::string>& files) {
    const std::string src = dir / ("src-" + name);
    for (const std::string& f : files) test::WriteFile(src + "/" + f, Body(50));
    const std::string packed = dir / (name + ".lzh");
    TArchiveFile arc;
    arc.SetFileName(ToAnsi(packed));
    arc.Options().jso = 1;
    arc.SetOutputSize(4096);
    TFileList list;
    for (const std::string& f : files) list.push_back(ToAnsi(src + "/" + f));
    EXPECT_LT(arc.PackFiles(nullptr, nullptr, ToAnsi(src), list), ARC_ERROR_FIRST) << arc.Output();
    std::filesystem::rename(packed, dir / name);
    return dir / name;
}

bool HaveModules() { return std::filesystem::exists(FromAnsi(ModuleFolder()) + "/unzip32.so"); }

struct Found {
    std::string name;     // UTF-8
    std::string archive;  // base name, UTF-8
};

std::vector<Found> Search(const TArchiveSearch& s, const std::vector<std::string>& archives,
                          TSearchSummary* summary = nullptr) {
    std::vector<AnsiString> list;
    for (const std::string& a : archives) list.push_back(ToAnsi(a));
    std::vector<Found> found;
    TSearchSummary sum = s.Run(list, [&](const TSearchHit& h) {
        found.push_back({FromAnsi(h.name), FromAnsi(ArchiveBaseName(h.archive))});
    });
    if (summary) *summary = sum;
    return found;
}

std::vector<std::string> Names(const std::vector<Found>& found) {
    std::vector<std::string> names;
    for (const Found& f : found) names.push_back(f.name);
    std::sort(names.begin(), names.end());
    return names;
}

using Strings = std::vector<std::string>;

}  // namespace

// ---- Masks -----------------------------------------------------------------------------------------

TEST(MaskTest, NormalisesRunsOfWildcardsAndTheTrailingStarDot) {
    const std::pair<const char*, const char*> cases[] = {
        {"*?*", "?*"},        {"**", "*"},          {"*??*x", "??*x"}, {"a*?b", "a?*b"},
        {"*.", "*.*"},        {"a*.", "a*.*"},      {"a.", "a."},      {"*.*", "*.*"},
        {"?", "?"},           {"??.txt", "??.txt"}, {"", ""},          {"**.jpg", "*.jpg"},
        {"*?*.", "?*.*"},     {"x*.y", "x*.y"},
    };
    for (auto [in, out] : cases) EXPECT_EQ(NormalizeMask(in), out) << in;
}

TEST(MaskTest, MaskListsAsTheSearchBuildsThem) {
    // The search matches the list "*" + text + "*"; only the first and last masks get the stars. Empty
    // pieces (a trailing ";") are dropped first, so they never turn into a bare "*".
    struct Case {
        const char* text;
        const char* name;
        bool hit;
    } cases[] = {
        {"abc", "abc", true},          {"abc", "xxABCyy.txt", true}, {"abc", "ab.c", false},
        {"*.jpg;*.png", "a.jpg", true}, {"*.jpg;*.png", "a.jpg.txt", false},
        {"*.jpg;*.png", "a.png.txt", true}, {"*.jpg;*.png", "a.PNG", true},
        {"*.mp3;*.wav;*.mid;", "readme.txt", false}, {"*.mp3;*.wav;*.mid;", "x.MID", true},
        {"*.mp3;*.wav;*.mid;", "x.midi", true},       {";*.wav", "x.wav.bak", true},
        {"*.htm;*.html;", "x", false}, {"*.exe", "setup.exe", true}, {"*.exe", "setup.exe.bak", true},
        {"a?c", "abc", true},          {"a?c", "ac", false},         {";;", "anything", false},
        {"a;;b", "bx", true},          {"a;;b", "xbx", false},
        {"ａ", "Ａ", false},            // full-width letters are not folded
    };
    for (const Case& c : cases)
        EXPECT_EQ(TArchiveSearch::Wildcard(ToAnsi(c.text)).Matches(ToAnsi(c.name)), c.hit) << c.text << " on " << c.name;
    EXPECT_EQ(TMaskList("a;;b;").Masks(), (std::vector<AnsiString>{"a", "b"}));
}

TEST(MaskTest, DoubleByteCharactersAreWholeCharacters) {
    const AnsiString so = "ソ"_ansi;  // 0x83 0x5C
    ASSERT_EQ(so, "\x83\x5C");
    EXPECT_FALSE(MatchMask("*\\*", so + ".txt")) << "the trail byte is not a backslash";
    EXPECT_TRUE(MatchMask("?.txt", so + ".txt")) << "one ? takes the whole character";
    EXPECT_FALSE(MatchMask("??.txt", so + ".txt"));
    EXPECT_TRUE(MatchMask("*" + so + "*", "ソース"_ansi));
    // A literal never matches from the middle of a character: 0x5C 0x83 inside "ソソ" is not "\\" + lead.
    EXPECT_FALSE(MatchMask("*\\\x83*", so + so));
}

// Every mask and name over a small alphabet (with a double-byte character whose trail byte is "\\",
// both cases of a letter, and the wildcards), against the recursive definition.
TEST(MaskTest, AgreesWithTheRecursiveDefinition) {
    const std::string so = "\x83\x5C";
    std::vector<std::pair<std::string, std::vector<std::string>>> names;
    Enumerate({"a", "A", so, "\\", "."}, 4, [&](const std::string& n) { names.emplace_back(n, Chars(n)); });
    int checked = 0;
    Enumerate({"a", so, "\\", "*", "?", "."}, 4, [&](const std::string& raw) {
        const AnsiString mask = NormalizeMask(raw);
        const std::vector<std::string> rawChars = Chars(raw), maskChars = Chars(mask);
        // Normalising keeps the meaning, apart from the "*" added after a final star and dot.
        const bool starDot = raw.ends_with(".") && mask.ends_with("*.*");
        for (const auto& [name, nameChars] : names) {
            const bool expected = RefMatch(maskChars, 0, nameChars, 0);
            ASSERT_EQ(MatchMask(mask, name), expected) << "mask " << mask << " name " << name;
            if (!starDot) {
                ASSERT_EQ(RefMatch(rawChars, 0, nameChars, 0), expected) << "raw " << raw << " name " << name;
            }
            ++checked;
        }
    });
    EXPECT_GT(checked, 100000);
}

// ---- Entry paths -----------------------------------------------------------------------------------

TEST(EntryPathTest, SplitsAtTheLastWholeCharacterSeparator) {
    AnsiString folder, name;
    SplitEntryPath("a/b\\c.txt", folder, name);
    EXPECT_EQ(folder, "a/b\\");
    EXPECT_EQ(name, "c.txt");
    SplitEntryPath("ソース.txt"_ansi, folder, name);
    EXPECT_EQ(folder, "");
    EXPECT_EQ(name, "ソース.txt"_ansi);
    SplitEntryPath("表\\ソ"_ansi, folder, name);  // both end in a trail byte 0x5C
    EXPECT_EQ(folder, "表\\"_ansi);
    EXPECT_EQ(name, "ソ"_ansi);

    EXPECT_TRUE(IsFolderEntry("a/"));
    EXPECT_TRUE(IsFolderEntry("a\\"));
    EXPECT_FALSE(IsFolderEntry("ソ"_ansi));
    EXPECT_EQ(FolderComponents("a\\b/ソ/"_ansi), (std::vector<AnsiString>{"a", "b", "ソ"_ansi}));

    EXPECT_EQ(KiloBytes(1023), "0 KB");
    EXPECT_EQ(KiloBytes(1536), "1 KB");
    EXPECT_EQ(KiloBytes(5ull << 32), "20971520 KB");

    for (const char* yes : {"/x/a.LZH", "/x/a.lha", "/x/a.Zip", "/x/b.rar", "/x/c.cab"}) EXPECT_TRUE(IsBrowsableArchive(yes)) << yes;
    for (const char* no : {"/x/a.7z", "/x/a.tar", "/x/zip", "/x.zip/a", "/x/a.zip.gz"}) EXPECT_FALSE(IsBrowsableArchive(no)) << no;
}

// ---- Walks over real archives ----------------------------------------------------------------------

class ArchiveWalkTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveModules()) GTEST_SKIP() << "the archiver modules are not built";
        if (!test::HaveTool("zip")) GTEST_SKIP() << "zip is missing";
    }
    TempDir dir;
};

TEST_F(ArchiveWalkTest, WildcardMatchesNamePartsOfFilesOnly) {
    const std::string zip = MakeZip(dir, "a.zip", {"abc.txt", "xABCx.jpg", "abc/inner.txt", "abc/deep/zabc.png", "1.txt", "readme"});
    TSearchSummary sum;
    EXPECT_EQ(Names(Search(TArchiveSearch::Wildcard("abc"), {zip}, &sum)), (Strings{"abc.txt", "xABCx.jpg", "zabc.png"}))
        << "the folder abc/ and the file inside it do not count; a folder entry is never a hit";
    EXPECT_EQ(sum.hits, 3);
    EXPECT_EQ(sum.searched, 1);
    EXPECT_TRUE(sum.failures.empty());
    EXPECT_EQ(Names(Search(TArchiveSearch::Wildcard("*.jpg;*.png"), {zip})), (Strings{"xABCx.jpg", "zabc.png"}));
    EXPECT_TRUE(Search(TArchiveSearch::Wildcard("*.mp3;*.wav;*.mid;"), {zip}).empty()) << "a trailing ';' matches nothing more";
    EXPECT_EQ(Names(Search(TArchiveSearch::Wildcard("*."), {zip})).size(), 5u) << "'*.' becomes '**.*': names with a dot";
}

TEST_F(ArchiveWalkTest, WalksTheListInOrderAndSkipsOtherFormats) {
    const std::string one = MakeZip(dir, "one.zip", {"same.txt", "other.dat"});
    const std::string two = MakeZip(dir, "two.zip", {"same.txt"});
    const std::string tar = MakeTar(dir, "t.tar", {"same.txt"});
    std::filesystem::copy_file(one, dir / "s.7z");
    // The LZH follows a ZIP: it is opened on its own and found by its contents.
    const std::string lha = MakeLzh(dir, "x.lha", {"same.txt"});

    std::vector<int> visited;
    std::vector<AnsiString> list{ToAnsi(one), ToAnsi(tar), ToAnsi(two), ToAnsi(dir / "s.7z"), ToAnsi(lha)};
    std::vector<Found> found;
    const TSearchSummary sum = TArchiveSearch::Wildcard("same").Run(
        list, [&](const TSearchHit& h) { found.push_back({FromAnsi(h.name), FromAnsi(ArchiveBaseName(h.archive))}); },
        nullptr, [&](int index, const AnsiString&) { visited.push_back(index); });
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].archive, "one.zip");
    EXPECT_EQ(found[1].archive, "two.zip");
    EXPECT_EQ(found[2].archive, "x.lha");
    EXPECT_EQ(visited, (std::vector<int>{0, 2, 4}));
    EXPECT_EQ(sum.skipped, 2);
    EXPECT_EQ(sum.searched, 3);
    EXPECT_TRUE(sum.failures.empty());
}

TEST_F(ArchiveWalkTest, AnArchiveThatFailsDoesNotEndTheWalk) {
    test::WriteFile(dir / "broken.zip", "this is not an archive");
    test::WriteFile(dir / "junk.lha", "neither is this");
    const std::string good = MakeZip(dir, "good.zip", {"found.txt"});
    const std::string lzh = MakeLzh(dir, "later.lzh", {"found.txt"});
    TSearchSummary sum;
    auto found = Search(TArchiveSearch::Wildcard("found"), {dir / "broken.zip", dir / "junk.lha", good, lzh}, &sum);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].archive, "good.zip");
    ASSERT_EQ(sum.failures.size(), 2u);
    EXPECT_EQ(sum.failures[0].archive, ToAnsi(dir / "broken.zip"));
    EXPECT_EQ(sum.failures[0].message, "") << "the module gave no handle";

    // Without the ZIP module the ZIP archive fails with the access layer's message and the LZH after
    // it is still searched.
    const std::string modules = dir / "modules";
    std::filesystem::create_directories(modules);
    std::filesystem::copy_file(FromAnsi(ModuleFolder()) + "/unlha32.so", modules + "/unlha32.so");
    FreeArchiverDlls();
    SetModuleFolder(ToAnsi(modules));
    found = Search(TArchiveSearch::Wildcard("found"), {good, lzh}, &sum);
    SetModuleFolder("");
    FreeArchiverDlls();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].archive, "later.lzh");
    ASSERT_EQ(sum.failures.size(), 1u);
    EXPECT_EQ(sum.failures[0].archive, ToAnsi(good));
    EXPECT_NE(sum.failures[0].message, "") << "the access layer's message is kept";
}

TEST_F(ArchiveWalkTest, RegularExpressionsAndTheFuzzyDictionary) {
    const std::string zip = MakeZip(dir, "kana.zip", {"1.txt", "a1.txt", "ab.txt", "がっこう.txt", "ガイド.txt", "ｶﾞｲﾄﾞ.txt", "かいだん.txt"});
    EXPECT_EQ(Names(Search(TArchiveSearch::RegExp("[0-9]", false), {zip})), (Strings{"1.txt", "a1.txt"}));
    EXPECT_EQ(Names(Search(TArchiveSearch::RegExp("^a.\\.txt$", false), {zip})), (Strings{"a1.txt", "ab.txt"}));
    EXPECT_EQ(Names(Search(TArchiveSearch::RegExp("ｶﾞ"_ansi, false), {zip})), (Strings{"ｶﾞｲﾄﾞ.txt"}));
    EXPECT_EQ(Names(Search(TArchiveSearch::RegExp("ｶﾞ"_ansi, true), {zip})), (Strings{"がっこう.txt", "ガイド.txt", "ｶﾞｲﾄﾞ.txt"}));
    EXPECT_EQ(Names(Search(TArchiveSearch::RegExp("AB", true), {zip})), (Strings{"ab.txt"})) << "letters fold with the dictionary";
    EXPECT_THROW(TArchiveSearch::RegExp("a(b", false), ERegExpParser);
    EXPECT_THROW(TArchiveSearch::RegExp("[z-a]", true), ERegExpParser);
}

TEST_F(ArchiveWalkTest, StopsBetweenEntries) {
    const std::string a = MakeZip(dir, "a.zip", {"1.txt", "2.txt", "3.txt"});
    const std::string b = MakeZip(dir, "b.zip", {"4.txt"});
    std::atomic<bool> stop{false};
    int hits = 0;
    const TSearchSummary sum = TArchiveSearch::Wildcard("*").Run({ToAnsi(a), ToAnsi(b)}, [&](const TSearchHit&) {
        ++hits;
        stop = true;
    }, &stop);
    EXPECT_EQ(hits, 1);
    EXPECT_TRUE(sum.stopped);
    EXPECT_EQ(sum.searched, 1) << "the second archive is not opened";
}

TEST_F(ArchiveWalkTest, ListsEntriesWithSizesAndCp932Names) {
    const std::string zip = MakeZip(dir, "sizes.zip", {"ソース.txt", "表/データ.bin"}, 1023);
    std::vector<TListedEntry> entries;
    ASSERT_TRUE(ListArchive(ToAnsi(zip), [&](const TListedEntry& e) {
        entries.push_back(e);
        return true;
    }));
    std::vector<std::string> paths;
    for (const TListedEntry& e : entries) {
        paths.push_back(FromAnsi(e.path));
        if (!IsFolderEntry(e.path)) {
            EXPECT_EQ(e.originalSize, 1023u);
        }
    }
    EXPECT_NE(std::find(paths.begin(), paths.end(), "ソース.txt"), paths.end());
    EXPECT_NE(std::find(paths.begin(), paths.end(), "表/データ.bin"), paths.end());
    EXPECT_FALSE(ListArchive(ToAnsi(dir / "missing.zip"), [](const TListedEntry&) { return true; }));
}
