// Runs of the engine in compress mode: each listed file is packed into an LZH beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/AnsiCodec.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;
namespace fs = std::filesystem;

// A file whose name the archive cannot hold (a "\" that is part of the name, a character cp932 lacks)
// is not packed under another name: its packing fails with the reason, and no archive is made. The
// file beside it with a plain name (cp932 with trail bytes 0x5C) is packed.
TEST(CompressRun, AFileIsPackedOnlyUnderItsOwnName) {
    NORVEX_REQUIRE_MODULE("UNLHA32.DLL");
    TempDir td;
    const std::string plain = td / "表ソ.txt", accent = td / "\xc3\xa9t\xc3\xa9.txt", slash = td / "a\\b.txt";
    WriteFile(plain, "plain");
    WriteFile(accent, "accent");
    WriteFile(slash, "backslash");
    TEngineRun run;
    run.settings.CompressMode = true;
    run.Run({plain, accent, slash});

    EXPECT_TRUE(fs::exists(td / "表ソ.lzh"));
    EXPECT_EQ(ReadFile(accent), "accent");
    EXPECT_EQ(ReadFile(slash), "backslash");
    EXPECT_FALSE(fs::exists(td / "\xc3\xa9t\xc3\xa9.lzh"));
    EXPECT_FALSE(fs::exists(td / "a\\b.lzh"));
    EXPECT_TRUE(run.host.HasLine("> cp932で表せない文字を含む名前は書庫に格納できません: " + accent));
    EXPECT_TRUE(run.host.HasLine("> 「\\」を含む名前は書庫に格納できません: " + slash));
    EXPECT_EQ(std::count_if(run.host.texts.begin(), run.host.texts.end(),
                            [](const std::string& t) { return t.rfind("> [ 解凍失敗 ]", 0) == 0; }),
              2);
}
