// Runs over several archives, where the listing of the next archive is read ahead while the current
// one is extracted: the log, the questions, the files and the list are those of each archive run
// alone, and a next archive that is broken, missing, deleted or replaced after it was read ahead is
// taken as it is when its turn comes.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>

#include "platform/AnsiCodec.h"
#include "engine/ListingWarmUp.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/LzhEntries.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

// An LZH archive of stored level-0 entries; names are the bytes given (cp932).
std::string Lzh(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string out;
    for (const auto& [name, data] : entries) out += StoredLzhEntry(name, data);
    return out + '\0';
}

// A stored ZIP of the given files (relative path, content) made in a scratch folder of td.
std::string Zip(const TempDir& td, const std::string& zipPath, const std::vector<std::pair<std::string, std::string>>& files) {
    const std::string src = td / "zipsrc";
    fs::remove_all(src);
    std::vector<std::string> names;
    for (const auto& [name, content] : files) {
        WriteFile(src + "/" + name, content);
        names.push_back(name);
    }
    fs::create_directories(fs::path(zipPath).parent_path());
    EXPECT_TRUE(MakeZip(zipPath, src, names, /*stored=*/true));
    fs::remove_all(src);
    return zipPath;
}

// Every file below root: its path relative to root, and its content.
std::map<std::string, std::string> Tree(const std::string& root) {
    std::map<std::string, std::string> files;
    if (!fs::exists(root)) return files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = ReadFile(e.path().string());
    return files;
}

std::string Replaced(std::string s, const std::string& from, const std::string& to) {
    for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
    return s;
}

// The log of a run cut into the sections of its archives (each begins with the blank line before
// ">>>> [ ... ]").
std::vector<std::vector<std::string>> Sections(const std::vector<std::string>& texts) {
    std::vector<std::vector<std::string>> sections;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (texts[i] == " " && i + 1 < texts.size() && texts[i + 1].rfind(">>>> [", 0) == 0) sections.emplace_back();
        if (!sections.empty()) sections.back().push_back(texts[i]);
    }
    return sections;
}

class ReadAheadRun : public ::testing::Test {
protected:
    void SetUp() override {
        NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
        NORVEX_REQUIRE_MODULE("UNLHA32.DLL");
        if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
        SetReadAheadForTesting(true);  // on a machine of two cores too
    }
    void TearDown() override { SetReadAheadForTesting(std::nullopt); }

    // A run into the folder out (made here) over paths.
    static void RunInto(TEngineRun& run, const std::string& out, const std::vector<std::string>& paths) {
        fs::create_directories(out);
        run.settings.PutLocation = TPutLocation::SpecialFolder;
        run.settings.SpecialFolder = ToAnsi(out + "/");
        run.Run(paths);
    }

    TempDir td;
};

}  // namespace

TEST_F(ReadAheadRun, EachArchiveGivesWhatItGivesAlone) {
    // Names with cp932 characters, a double quote, an asterisk and an escape sequence; ZIP and LZH
    // following each other, a broken archive and a missing one among them.
    std::vector<std::pair<std::string, std::string>> many;
    for (int i = 0; i < 40; ++i) many.emplace_back("束/f" + std::to_string(i) + ".txt", std::string(100 + i, 'a' + i % 26));
    const std::vector<std::string> paths{
        Zip(td, td / "in/資料 \"引用\".zip", many),
        (WriteFile(td / "in/star*.lzh", Lzh({{ToAnsi("表.txt"), "hyou"}, {"b.txt", "bee"}})), td / "in/star*.lzh"),
        Zip(td, td / "in/esc\x1b[31m.zip", {{"a.txt", "a"}, {"名前.txt", "namae"}, {"c.txt", "c"}}),
        (WriteFile(td / "in/broken.zip", "PK\x03\x04 this is no archive"), td / "in/broken.zip"),
        td / "in/missing.lzh",
        (WriteFile(td / "in/" + FromAnsi(ToAnsi("最後")) + ".lzh", Lzh({{ToAnsi("単独.txt"), "tandoku"}})),
         td / "in/最後.lzh"),
        Zip(td, td / "in/tail.zip", {{"t/x.txt", "tail"}}),
    };

    TEngineRun all;
    RunInto(all, td / "all", paths);
    const std::vector<std::vector<std::string>> sections = Sections(all.host.texts);
    ASSERT_EQ(sections.size(), paths.size());

    std::map<std::string, std::string> alone;
    std::vector<std::string> left, questions;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string out = td / ("one" + std::to_string(i));
        TEngineRun one;
        RunInto(one, out, {paths[i]});
        std::vector<std::string> expected;
        for (const std::string& text : one.host.texts) expected.push_back(Replaced(text, out + "/", td / "all/"));
        EXPECT_EQ(sections[i], expected) << paths[i];
        for (const auto& [name, content] : Tree(out)) alone[name] = content;
        for (const std::string& f : one.host.FilesUtf8()) left.push_back(f);
        questions.insert(questions.end(), one.host.questions.begin(), one.host.questions.end());
    }
    EXPECT_EQ(Tree(td / "all"), alone);
    EXPECT_EQ(alone.size(), 40u + 2u + 3u + 1u + 1u);
    EXPECT_EQ(all.host.FilesUtf8(), left);
    EXPECT_EQ(left, (std::vector<std::string>{paths[3], paths[4]}));
    EXPECT_EQ(all.host.questions, questions);
    EXPECT_EQ(alone["star*/表.txt"], "hyou");
    EXPECT_EQ(alone["esc\x1b[31m/名前.txt"], "namae");
    EXPECT_EQ(alone["単独.txt"], "tandoku");
}

TEST_F(ReadAheadRun, TheNextArchiveIsTakenAsItIsWhenItsTurnComes) {
    // The next archive changes after it was read ahead (the current archive's result line comes
    // after its extraction, which started the read-ahead): the count and the extraction see it as it
    // is then. The old and the new archive have the same size, so that only the file's identity and
    // times tell them apart.
    enum class TChange { Delete, RenameOver, RewriteKeepingTime, Break, BecomeFolder };
    const struct {
        TChange change;
        const char* what;
    } cases[] = {
        {TChange::Delete, "deleted"},
        {TChange::RenameOver, "replaced by another file"},
        {TChange::RewriteKeepingTime, "rewritten in place, same size and modification time"},
        {TChange::Break, "made no archive, same size"},
        {TChange::BecomeFolder, "replaced by a folder holding an archive"},
    };
    std::vector<std::pair<std::string, std::string>> many;
    for (int i = 0; i < 60; ++i) many.emplace_back("first/f" + std::to_string(i) + ".txt", std::string(2000, 'f'));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dir = td / c.what;
        const std::string first = Zip(td, dir + "/first.zip", many);
        const std::string second = Zip(td, dir + "/second.zip", {{"s/x.txt", "old!"}});
        const std::string newer = Zip(td, dir + "/newer.zip", {{"s/x.txt", "new!"}});
        const std::string third = (WriteFile(dir + "/third.lzh", Lzh({{"x.txt", "3"}})), dir + "/third.lzh");
        ASSERT_EQ(fs::file_size(second), fs::file_size(newer));

        TEngineRun run;
        bool changed = false;
        run.host.onLog = [&](const std::string& text) {
            if (changed || text.rfind("> [ 解凍 ]", 0) != 0) return;
            changed = true;
            switch (c.change) {
                case TChange::Delete: fs::remove(second); break;
                case TChange::RenameOver: fs::rename(newer, second); break;
                case TChange::RewriteKeepingTime: {
                    const auto time = fs::last_write_time(second);
                    WriteFile(second, ReadFile(newer));
                    fs::last_write_time(second, time);
                    break;
                }
                case TChange::Break: WriteFile(second, std::string(fs::file_size(newer), 'Z')); break;
                case TChange::BecomeFolder:
                    fs::remove(second);
                    fs::create_directories(second);
                    fs::rename(newer, second + "/inner.zip");
                    break;
            }
        };
        RunInto(run, dir + "/out", {first, second, third});
        ASSERT_TRUE(changed);
        EXPECT_EQ(Tree(dir + "/out/first").size(), 60u);
        EXPECT_EQ(ReadFile(dir + "/out/x.txt"), "3");  // the run went on after the second archive
        switch (c.change) {
            case TChange::Delete:
                EXPECT_TRUE(run.host.HasLine("> [ 前段階エラー]： ファイルが存在しません"));
                EXPECT_EQ(run.host.FilesUtf8(), std::vector<std::string>{second});
                break;
            case TChange::RenameOver:
            case TChange::RewriteKeepingTime:
                EXPECT_EQ(ReadFile(dir + "/out/s/x.txt"), "new!");
                EXPECT_TRUE(run.host.files.empty());
                break;
            case TChange::Break:
                EXPECT_TRUE(run.host.HasLine("> [ エラー ] ファイル数の取得に失敗しました。書庫でない可能性があります。"));
                EXPECT_FALSE(fs::exists(dir + "/out/s"));
                EXPECT_EQ(run.host.FilesUtf8(), std::vector<std::string>{second});
                break;
            case TChange::BecomeFolder:
                // Expanded into the archive it holds, which comes last.
                EXPECT_EQ(ReadFile(dir + "/out/s/x.txt"), "new!");
                EXPECT_FALSE(run.host.HasLine("> [ 前段階エラー]： ファイルが存在しません"));
                EXPECT_TRUE(run.host.files.empty());
                break;
        }
    }
}

TEST_F(ReadAheadRun, ABreakDuringTheExtractionEndsTheRunWithoutTheNextArchive) {
    // The next archive was being read ahead when the break came: it is neither counted nor
    // extracted, and the run ends (the read-ahead with it) as before.
    std::vector<std::pair<std::string, std::string>> many;
    for (int i = 0; i < 200; ++i) many.emplace_back("big/f" + std::to_string(i) + ".txt", std::string(4000, 'b'));
    const std::string big = Zip(td, td / "big.zip", many);
    std::vector<std::pair<std::string, std::string>> next;
    for (int i = 0; i < 300; ++i) next.emplace_back("n/" + std::to_string(i), "n");
    const std::string second = Zip(td, td / "next.zip", next);
    TEngineRun run;
    run.host.onProgress = [&](int) {
        if (!run.worker->BreakFlag()) run.Break();
    };
    RunInto(run, td / "out", {big, second});
    EXPECT_TRUE(run.host.HasLine("> [ 強制中断 ] 中断されました。"));
    EXPECT_FALSE(fs::exists(td / "out/n"));
    EXPECT_EQ(run.host.files.size(), 2u);
    for (const std::string& text : run.host.texts) EXPECT_EQ(text.find("next.zip"), std::string::npos) << text;
}
