// The pack-list builder on a real tree.
#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>

#include "platform/AnsiCodec.h"
#include "tests/support/TempDir.h"
#include "util/PackList.h"
#include "util/Times.h"

using namespace norvex;
using namespace norvex::literals;
using norvex::test::TempDir;
using norvex::test::WriteFile;

namespace {

using List = std::vector<AnsiString>;

// base/
//   a.txt  b.doc  .hid.txt  表ソ.txt
//   sub/c.txt  sub/d.doc  sub/deeper/e.txt
//   .dot/f.txt
class PackTree : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"a.txt", "b.doc", ".hid.txt", "表ソ.txt", "sub/c.txt", "sub/d.doc",
                                 "sub/deeper/e.txt", ".dot/f.txt"})
            WriteFile(dir / name, name);
        base = ToAnsi(dir.path());
        cwd = GetCurrentDir();
    }
    void TearDown() override { EXPECT_EQ(GetCurrentDir(), cwd) << "the builder left the current folder changed"; }

    List Build(const List& files) { return BuildPackList(files, options, base, context); }

    void SetWriteTime(const char* name, int y, int mo, int d, int h, int mi, int s, int ms = 0) {
        TDateTime dt = 0;
        ASSERT_TRUE(TryEncodeDateTime(y, mo, d, h, mi, s, ms, dt));
        const FILETIME ft = LocalFileTimeToFileTime(DateTimeToFileTime(dt));
        ASSERT_TRUE(SetFileTimes(ToAnsi(dir / name), nullptr, &ft, &ft));
    }

    TempDir dir;
    AnsiString base;
    AnsiString cwd;
    TPackListOptions options;
    TPackContext context;
};

}  // namespace

TEST_F(PackTree, WildcardWithoutRecursionStaysInItsFolder) {
    EXPECT_EQ(Build({"*.txt"}), (List{"a.txt", "表ソ.txt"_ansi}));
    EXPECT_EQ(Build({"sub/*.*"}), (List{"sub/c.txt", "sub/d.doc"}));
    EXPECT_EQ(Build({"a.txt", "a.txt", "sub/c.txt"}), (List{"a.txt", "sub/c.txt"}));  // duplicates once
    EXPECT_EQ(Build({"nothing*"}), List{});
    EXPECT_EQ(Build({"missing/*.*"}), List{});
}

TEST_F(PackTree, NoArgumentsTakesTheBaseFolder) {
    EXPECT_EQ(Build({}), (List{"a.txt", "b.doc", "表ソ.txt"_ansi}));
}

TEST_F(PackTree, RecursionWalksSubFoldersWithTheSameMask) {
    options.r = 1;
    // Hidden folders are walked; hidden files are not taken without "a".
    EXPECT_EQ(Build({"*.txt"}), (List{".dot/f.txt", "a.txt", "sub/c.txt", "sub/deeper/e.txt", "表ソ.txt"_ansi}));
    options.r = 1;
    options.a = 1;
    EXPECT_EQ(Build({"*.txt"}),
              (List{".dot/f.txt", ".hid.txt", "a.txt", "sub/c.txt", "sub/deeper/e.txt", "表ソ.txt"_ansi}));
}

TEST_F(PackTree, FolderArgumentStandsForItsContentsFromR2) {
    options.r = 2;
    EXPECT_EQ(Build({"sub"}), (List{"sub/c.txt", "sub/d.doc", "sub/deeper/e.txt"}));
    // With r 1 a folder argument is a mask: files named "sub" anywhere below, of which there are none.
    options.r = 1;
    EXPECT_EQ(Build({"sub"}), List{});
}

TEST_F(PackTree, PathMaskWithoutWildcardDoesNotDescendUnderP) {
    WriteFile(dir / "sub/a.txt", "second a");
    options.r = 1;
    options.p = 1;
    EXPECT_EQ(Build({"a.txt"}), (List{"a.txt"}));
    options.r = 1;
    options.p = 1;
    EXPECT_EQ(Build({"a.*"}), (List{"a.txt", "sub/a.txt"}));
    options.r = 1;
    options.p = -1;
    EXPECT_EQ(Build({"a.txt"}), (List{"a.txt", "sub/a.txt"}));
}

TEST_F(PackTree, ExclusionsAreWalkedLikeArguments) {
    options.r = 1;
    options.jx = {"*.doc", "sub/deeper/e.txt"};
    EXPECT_EQ(Build({"*.*"}), (List{".dot/f.txt", "a.txt", "sub/c.txt", "表ソ.txt"_ansi}));
}

TEST_F(PackTree, DateBoundsKeepFilesWithinWholeDays) {
    SetWriteTime("a.txt", 2003, 1, 14, 23, 59, 59);
    SetWriteTime("b.doc", 2003, 1, 15, 0, 0, 0);
    SetWriteTime("表ソ.txt", 2003, 1, 16, 23, 59, 59, 500);  // still the 16th
    options.jo = "20030115";
    options.job = "030116";
    EXPECT_EQ(Build({"*.*"}), (List{"b.doc", "表ソ.txt"_ansi}));
    options.jo = "030116";
    EXPECT_EQ(Build({"*.*"}), (List{"表ソ.txt"_ansi}));
    options.jo = "20030115120000";
    EXPECT_EQ(Build({"*.*"}), (List{"表ソ.txt"_ansi}));
    options.job = "030115";
    EXPECT_EQ(Build({"*.*"}), (List{"a.txt", "b.doc"}));
}

TEST_F(PackTree, OptionsAreResetForTheArchiverAfterTheBuild) {
    options.r = 2;
    options.p = 0;
    options.jo = "030101";
    options.job = "991231";
    options.jx = {"*.doc"};
    Build({"*.*"});
    EXPECT_EQ(options.r, -1);
    EXPECT_EQ(options.p, 1);
    EXPECT_EQ(options.jo, NotGivenText);
    EXPECT_EQ(options.job, NotGivenText);
    EXPECT_EQ(options.jx, (List{"*.doc"}));  // the caller clears it for the archiver
}

TEST_F(PackTree, ProgressReportsEachNewPathAndCanCancel) {
    std::vector<std::pair<int, std::string>> seen;
    context.OnProgress = [&](int state, const char* path, bool& abort) {
        seen.emplace_back(state, path);
        abort = seen.size() == 2;
    };
    options.r = 1;
    const List got = Build({"*.txt", "a.txt"});
    EXPECT_TRUE(context.Cancel);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, PackListProgressState);
    EXPECT_EQ(got.size(), 2u);  // stopped right after the second
    for (const auto& s : seen) EXPECT_TRUE(std::find(got.begin(), got.end(), s.second) != got.end());

    // A cancel set before the build stops it before the first entry.
    TPackContext cancelled;
    cancelled.Cancel = true;
    EXPECT_EQ(BuildPackList({"*.*"}, options, base, cancelled), List{});
}

TEST_F(PackTree, ProgressPathIsCutToItsBufferAtAWholeCharacter) {
    // Components of "a" + 40 "ソ" (81 bytes) and a "/": the 512th byte is the lead byte of a "ソ",
    // which must not be cut in half.
    std::string component = "a";
    for (int i = 0; i < 40; ++i) component += "ソ";
    std::string rel = component;
    for (int i = 0; i < 6; ++i) rel += "/" + component;
    WriteFile(dir / (rel + "/x"), "");
    std::string reported;
    context.OnProgress = [&](int, const char* path, bool&) { reported = path; };
    options.r = 2;
    const List got = Build({ToAnsi(component)});
    ASSERT_EQ(got.size(), 1u);
    ASSERT_GT(got[0].size(), 512u);
    EXPECT_EQ(reported.size(), 511u);
    EXPECT_EQ(reported, got[0].substr(0, 511));
}

TEST_F(PackTree, LinkedFoldersAreNotEntered) {
    ASSERT_EQ(symlink(dir.path().c_str(), (dir / "sub/loop").c_str()), 0);
    options.r = 1;
    EXPECT_EQ(Build({"*.doc"}), (List{"b.doc", "sub/d.doc"}));
}

TEST_F(PackTree, NamesDifferingInCaseAreBothKept) {
    WriteFile(dir / "A.txt", "upper");
    EXPECT_EQ(Build({"a.txt"}), (List{"A.txt", "a.txt"}));
    EXPECT_EQ(Build({"*.TXT"}), (List{"A.txt", "a.txt", "表ソ.txt"_ansi}));
}

TEST_F(PackTree, RelativeRuleOfJf) {
    const AnsiString absolute = ExpandFileName(base);
    options.jf = 1;
    EXPECT_EQ(Build({absolute + "/sub/*.txt"}), (List{"sub/c.txt"}));
    options.jf = -1;
    EXPECT_EQ(Build({absolute + "/sub/*.txt"}), (List{absolute + "/sub/c.txt"}));
    options.jf = 1;
    options.RelativePath = [](const AnsiString& path, const AnsiString&) { return "<" + path + ">"; };
    EXPECT_EQ(Build({"a.txt"}), (List{"<a.txt>"}));
}

TEST_F(PackTree, BaseFolderThatCannotBeEnteredIsAnError) {
    base = ToAnsi(dir / "missing");
    EXPECT_THROW(Build({"*.*"}), EPackList);
}
