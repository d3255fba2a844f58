// Runs of the engine over 7z archives, numbered 7z sets and every member of the tar family, made by
// 7z and bsdtar: extracted into bind folders named after the archive (a double extension removed
// whole), compared byte for byte with the packed tree, then disposed of; and the option that turns
// these formats off.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "engine/ArchiveKinds.h"
#include "engine/SplitSets.h"
#include "platform/AnsiCodec.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

// Three top-level elements (so every archive gets a bind folder), names with cp932 trail bytes 0x5C.
void MakeTree(const std::string& root) {
    std::mt19937 rng(11);
    std::string bin(120000, '\0');
    for (auto& c : bin) c = static_cast<char>(rng() % 3 ? 'x' : rng());
    WriteFile(root + "/ソ表.txt", "so-hyo\n");
    WriteFile(root + "/フォルダ/表示.bin", bin);
    WriteFile(root + "/empty.txt", "");
}

std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = it->path().lexically_relative(root).string();
        out[rel] = it->is_directory() ? "d" : "f:" + ReadFile(it->path().string());
    }
    return out;
}

class FormatsRun : public ::testing::Test {
protected:
    void SetUp() override {
        NORVEX_REQUIRE_MODULE("7-zip32.dll");
        NORVEX_REQUIRE_MODULE("TAR32.DLL");
        if (!HaveTool("7z") || !HaveTool("bsdtar")) GTEST_SKIP() << "7z and bsdtar are needed";
        MakeTree(td / "src");
    }
    std::string Make7z(const std::string& name, std::vector<std::string> extra = {}) {
        std::vector<std::string> argv{"7z", "a", "-bd"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.insert(argv.end(), {td / name, "ソ表.txt", "フォルダ", "empty.txt"});
        const ToolResult r = RunTool(argv, td / "src");
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return td / name;
    }
    std::string MakeTar(const std::string& name, const std::string& filter) {
        std::vector<std::string> argv{"env", "LC_ALL=C.UTF-8", "bsdtar", "-c", "-f", td / name};
        if (!filter.empty()) argv.push_back(filter);
        argv.insert(argv.end(), {"ソ表.txt", "フォルダ", "empty.txt"});
        const ToolResult r = RunTool(argv, td / "src");
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return td / name;
    }
    TempDir td;
};

}  // namespace

TEST(ArchiveKinds, ExtensionsAndNumberedParts) {
    const struct {
        const char* name;
        const char* ext;
        bool extra;
    } cases[] = {
        {"photos.tar.gz", ".tar.gz", true}, {"P.TAR.BZ2", ".tar.bz2", true}, {"a.b.tar.xz", ".tar.xz", true},
        {"x.tar.zst", ".tar.zst", true},     {"x.tgz", ".tgz", true},         {"x.TBZ2", ".tbz2", true},
        {"x.txz", ".txz", true},             {"x.tzst", ".tzst", true},       {"x.7z", ".7z", true},
        {"x.7Z.001", ".7z", true},           {"x.7z.12", ".7z", true},        {"x.gz", ".gz", false},
        {"x.tar.gz.001", ".001", false},     {"x.zip", ".zip", false},        {".tar.gz", ".gz", false},
        {"noext", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const AnsiString ext = ArchiveExtension(std::string("/d/") + c.name);
        EXPECT_EQ(ext, c.ext);
        EXPECT_EQ(IsExtraFormatExtension(ext), c.extra);
        EXPECT_EQ(IsAcceptedExtension(ext, false), ext == ".zip");
    }
    const struct {
        const char* name;
        TVolumeKind kind;
    } parts[] = {{"x.7z.001", TVolumeKind::FirstVolume}, {"x.7Z.1", TVolumeKind::FirstVolume},
                 {"x.7z.010", TVolumeKind::LaterVolume}, {"x.7z", TVolumeKind::NotSplit},
                 {".7z.001", TVolumeKind::NotSplit}};
    for (const auto& p : parts) EXPECT_EQ(ClassifyVolumeName(p.name, ArchiveExtension(p.name)).Kind, p.kind) << p.name;
    EXPECT_EQ(ForcedArchiverType(".txz"), atTar);
    EXPECT_EQ(ForcedArchiverType(".7z"), at7z);
    EXPECT_EQ(ForcedArchiverType(".zip"), atNone);
}

TEST_F(FormatsRun, EveryTarMemberAnd7zIntoBindFoldersThenDeleted) {
    const std::vector<std::pair<std::string, std::string>> tars = {
        {"t1.tar", ""},        {"t2.tar.gz", "-z"}, {"t3.tgz", "-z"},      {"t4.tar.bz2", "-j"},
        {"t5.tbz", "-j"},      {"t6.tbz2", "-j"},   {"t7.tar.xz", "-J"},   {"t8.txz", "-J"},
        {"t9.tar.zst", "--zstd"}, {"t10.tzst", "--zstd"}};
    std::vector<std::string> archives;
    for (const auto& [name, filter] : tars) archives.push_back(MakeTar(name, filter));
    archives.push_back(Make7z("photos.2005.7z", {"-m0=LZMA2"}));
    archives.push_back(Make7z("solid.7z", {"-m0=PPMd", "-ms=on"}));
    TEngineRun run;
    run.settings.AfterMethod = TAfterMethod::Delete;
    run.Run(archives);
    const auto expected = Snapshot(td / "src");
    for (const std::string bind : {"t1", "t2", "t3", "t4", "t5", "t6", "t7", "t8", "t9", "t10", "photos", "solid"}) {
        SCOPED_TRACE(bind);
        ASSERT_TRUE(fs::is_directory(td / bind));
        EXPECT_EQ(Snapshot(td / bind), expected);
        EXPECT_TRUE(run.host.HasLine("> [ バインド起動 ] まとめフォルダ新規作成 \"" + bind + "\""));
    }
    for (const std::string& a : archives) EXPECT_FALSE(fs::exists(a)) << a;
    EXPECT_TRUE(run.host.files.empty());
}

TEST_F(FormatsRun, NumberedSetRunsFromItsFirstPartAndIsDisposedOfWhole) {
    Make7z("set.7z", {"-m0=Copy", "-v50k"});
    std::vector<std::string> parts;
    for (int i = 1; fs::exists(td / ("set.7z.00" + std::to_string(i))); ++i) parts.push_back(td / ("set.7z.00" + std::to_string(i)));
    ASSERT_GE(parts.size(), 3u);
    for (const TAfterMethod method : {TAfterMethod::Nothing, TAfterMethod::Move}) {
        SCOPED_TRACE(static_cast<int>(method));
        fs::remove_all(td / "set");
        TEngineRun run;
        run.settings.AfterMethod = method;
        run.settings.MoveFolder = ToAnsi(td / "keep");
        // The later parts come first in the list: each is skipped, the first runs with its set.
        run.Run({parts[2], parts[1], parts[0]});
        EXPECT_EQ(Snapshot(td / "set"), Snapshot(td / "src"));
        EXPECT_TRUE(run.host.HasLine("> [ 分割圧縮ファイル検出 ]： "));
        for (const auto& p : parts) EXPECT_TRUE(run.host.HasLine("> " + p));
        EXPECT_TRUE(run.host.HasLine("> [ 書庫テスト ]\t テスト通過"));
        EXPECT_TRUE(run.host.HasLine("> [非先頭分割ファイル]：先頭以外の分割ファイルは無視されます。"));
        if (method == TAfterMethod::Nothing) {
            EXPECT_EQ(run.host.FilesUtf8(), (std::vector<std::string>{parts[2], parts[1]}));
            for (const auto& p : parts) EXPECT_TRUE(fs::exists(p));
        } else {
            for (const auto& p : parts) {
                EXPECT_FALSE(fs::exists(p));
                EXPECT_TRUE(fs::exists(td / "keep" / fs::path(p).filename()));
            }
        }
    }
}

TEST_F(FormatsRun, IncompleteSetAndEncrypted7zAreKept) {
    Make7z("gap.7z", {"-m0=Copy", "-v50k"});
    fs::remove(td / "gap.7z.002");
    Make7z("enc.7z", {"-psecret", "-mhe=on"});
    TEngineRun run;
    run.settings.AfterMethod = TAfterMethod::Delete;
    run.settings.PreTestArc = false;
    run.Run({td / "gap.7z.001", td / "enc.7z"});
    EXPECT_TRUE(fs::exists(td / "gap.7z.001"));
    EXPECT_TRUE(fs::exists(td / "gap.7z.003"));
    EXPECT_TRUE(fs::exists(td / "enc.7z"));
    EXPECT_EQ(run.host.files.size(), 2u);
    EXPECT_FALSE(fs::exists(td / "gap"));  // the residue of the bind folder is gone
}

TEST_F(FormatsRun, TheOptionTurnsTheFormatsOff) {
    const std::string tgz = MakeTar("off.tar.gz", "-z"), sz = Make7z("off.7z");
    TEngineRun run;
    run.settings.ExtraFormats = false;
    run.Run({tgz, sz});
    EXPECT_EQ(run.host.files.size(), 2u);
    int refused = 0;
    for (const auto& t : run.host.texts) refused += t == "> [ 前段階エラー ]： 扱えない形式の拡張子";
    EXPECT_EQ(refused, 2);
    EXPECT_FALSE(fs::exists(td / "off"));
}
