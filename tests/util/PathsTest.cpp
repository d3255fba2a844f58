// Paths: file-name parts, joins, wildcards, folders and the base folder.
#include <gtest/gtest.h>

#include "platform/AnsiCodec.h"
#include "tests/support/TempDir.h"
#include "util/Paths.h"

using namespace norvex;
using namespace norvex::literals;
using norvex::test::TempDir;
using norvex::test::WriteFile;

TEST(UtilPaths, FileNamePartIsAfterTheLastWholeSeparator) {
    EXPECT_EQ(ExtractName("a/b\\c.txt"), "c.txt");
    EXPECT_EQ(ExtractName("x:y.txt"), "y.txt");
    EXPECT_EQ(ExtractName("plain"), "plain");
    EXPECT_EQ(ExtractName("dir/"), "");
    EXPECT_EQ(ExtractName(""), "");
    // The trail byte 0x5C of "ソ" and "表" is part of its character, not a separator.
    EXPECT_EQ(ExtractName("ソ"_ansi), "ソ"_ansi);
    EXPECT_EQ(ExtractName("表示\\ソフト.txt"_ansi), "ソフト.txt"_ansi);
    EXPECT_EQ(ExtractName("a/表"_ansi), "表"_ansi);
}

TEST(UtilPaths, JoinAddsOneSeparatorUnlessThereIsOne) {
    EXPECT_EQ(JoinPath("", "a.txt"), "a.txt");
    EXPECT_EQ(JoinPath("/x", "a.txt"), "/x/a.txt");
    EXPECT_EQ(JoinPath("/x/", "a.txt"), "/x/a.txt");
    // "\\" ends a folder's name, not the path: a folder "back\\" holds the file.
    EXPECT_EQ(JoinPath("back\\", "a.txt"), "back\\/a.txt");
    // A folder ending in "ソ" or "表" does not end in a separator.
    EXPECT_EQ(JoinPath("/ソ"_ansi, "a.txt"), "/ソ/a.txt"_ansi);
    EXPECT_EQ(JoinPath("表"_ansi, "表"_ansi), "表/表"_ansi);
}

TEST(UtilPaths, NormalizedPathsAreWrittenPlainly) {
    const std::pair<const char*, const char*> cases[] = {
        {"/usr/bin/../lib/norvex/modules", "/usr/lib/norvex/modules"},
        {"/a/./b//c/", "/a/b/c"},
        {"/../x", "/x"},
        {"/", "/"},
        {"a/../../b", "../b"},
        {"/back\\/..", "/"},
        {"/表/./ソ", "/表/ソ"},
    };
    for (const auto& [path, plain] : cases) EXPECT_EQ(NormalizeHostPath(ToAnsi(path)), ToAnsi(plain)) << path;
}

TEST(UtilPaths, HostSplitKeepsBackslashAndColonInNames) {
    EXPECT_EQ(ExtractHostFolder("a/b:c\\d.txt"), "a/");
    EXPECT_EQ(ExtractHostName("a/b:c\\d.txt"), "b:c\\d.txt");
    EXPECT_EQ(ExtractHostFolder("b.txt"), "");
    EXPECT_EQ(ExtractHostName("/b.txt"), "b.txt");
    EXPECT_EQ(ExtractHostFolder("/b.txt"), "/");
}

TEST(UtilPaths, WildcardsAndFolders) {
    EXPECT_TRUE(HasWildcard("*.txt"));
    EXPECT_TRUE(HasWildcard("a?"));
    EXPECT_FALSE(HasWildcard("表ソ.txt"_ansi));

    TempDir dir;
    WriteFile(dir / "f", "");
    EXPECT_TRUE(IsFolder(ToAnsi(dir.path())));
    EXPECT_FALSE(IsFolder(ToAnsi(dir / "f")));
    EXPECT_FALSE(IsFolder(ToAnsi(dir / "missing")));

    TSearchRec rec;
    EXPECT_NE(FindFirstEntry(ToAnsi(dir / "missing/*.*"), faAnyFile, rec), 0);
    EXPECT_EQ(rec.FindHandle, nullptr);
    ASSERT_EQ(FindFirstEntry(ToAnsi(dir / "*.*"), faAnyFile, rec), 0);
    EXPECT_EQ(rec.Name, "f");
}

TEST(UtilPaths, BaseFolderIsEnteredAndLeft) {
    TempDir dir;
    WriteFile(dir / "ソ/f", "");
    const AnsiString before = GetCurrentDir();
    {
        TSavedFolders saved;
        EXPECT_TRUE(EnterBaseFolder("", saved));  // nothing to do
        EXPECT_EQ(GetCurrentDir(), before);
        RestoreFolders(saved);
        EXPECT_EQ(GetCurrentDir(), before);
    }
    {
        TSavedFolders saved;
        EXPECT_FALSE(EnterBaseFolder(ToAnsi(dir / "missing"), saved));
        EXPECT_EQ(GetCurrentDir(), before);
        RestoreFolders(saved);
        EXPECT_EQ(GetCurrentDir(), before);
    }
    try {
        TBaseFolderScope scope(ToAnsi(dir / "ソ"));
        EXPECT_TRUE(scope.ok());
        EXPECT_TRUE(FileExists("f"));
        throw 1;
    } catch (int) {
    }
    EXPECT_EQ(GetCurrentDir(), before);
}
