// An archive is disposed of only when every entry of it landed. norvex-cli -d on archives whose names
// all list whole (so that the top-level count stands for the header test) while the data of their
// last entry cannot land: a cabinet whose last file reaches past its folder's data, an LZH whose last
// entry fails its CRC; the archive is reported failed and kept. And archives extracted whole but for
// a file that an existing one kept from its name (declined, "never overwrite", or "if newer" before a
// newer file): kept, exit 3.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/cli/CliSupport.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/LzhEntries.h"
#include "tests/support/RarWriter.h"
#include "tests/support/RunTool.h"
#include "tests/support/TarEntries.h"

using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

void Put16(std::string& s, uint16_t v) { s += static_cast<char>(v & 0xFF), s += static_cast<char>(v >> 8); }
void Put32(std::string& s, uint32_t v) { Put16(s, static_cast<uint16_t>(v)), Put16(s, static_cast<uint16_t>(v >> 16)); }

struct Listed {
    std::string name;
    uint32_t offset, size;
};

// One stored folder of one block holding data (no block checksum), with the files listed.
std::string Cabinet(const std::string& data, const std::vector<Listed>& files) {
    std::size_t table = 0;
    for (const Listed& f : files) table += 16 + f.name.size() + 1;
    const uint32_t dataAt = static_cast<uint32_t>(36 + 8 + table);
    std::string cab = "MSCF";
    Put32(cab, 0);
    Put32(cab, static_cast<uint32_t>(dataAt + 8 + data.size()));
    Put32(cab, 0);
    Put32(cab, 36 + 8);  // the file table
    Put32(cab, 0);
    cab += "\x03\x01";
    Put16(cab, 1);
    Put16(cab, static_cast<uint16_t>(files.size()));
    Put16(cab, 0), Put16(cab, 0), Put16(cab, 0);
    Put32(cab, dataAt), Put16(cab, 1), Put16(cab, 0);
    for (const Listed& f : files) {
        Put32(cab, f.size), Put32(cab, f.offset), Put16(cab, 0);
        Put16(cab, 0x5821), Put16(cab, 0x6000), Put16(cab, 0x20);
        cab += f.name + '\0';
    }
    Put32(cab, 0), Put16(cab, static_cast<uint16_t>(data.size())), Put16(cab, static_cast<uint16_t>(data.size()));
    return cab + data;
}


}  // namespace

TEST(CliDisposal, AnArchiveWhoseLastEntryCannotLandIsNeverDeleted) {
    NORVEX_REQUIRE_MODULE("CAB32.DLL");
    NORVEX_REQUIRE_MODULE("UNLHA32.DLL");
    TempDir td;
    WriteFile(td / "empty.ini", "");
    const std::string data(3000, 'c');
    struct Case {
        const char* what;
        std::string file, bytes;
    } cases[] = {
        {"cabinet, last range past the data", td / "in/past.cab", Cabinet(data, {{"a.txt", 0, 2000}, {"b.txt", 2000, 1500}})},
        {"LZH, last CRC wrong", td / "in/crc.lzh",
         StoredLzhEntry("a.txt", data) + StoredLzhEntry("b.txt", data, static_cast<uint16_t>(LzhCrc16(data) ^ 1)) + '\0'},
    };
    for (const Case& c : cases) {
        WriteFile(c.file, c.bytes);
        const CliResult r = RunCli(td, {"--ini", td / "empty.ini", "--to", td / "out", "-d", "--confirm-delete", "yes", c.file});
        EXPECT_EQ(r.exitCode, 1) << c.what << "\n" << r.err;
        EXPECT_NE(r.err.find("解凍 0、失敗 1"), std::string::npos) << c.what << "\n" << r.err;
        EXPECT_TRUE(fs::exists(c.file)) << c.what;
        EXPECT_FALSE(fs::exists(td / "out/past/b.txt") || fs::exists(td / "out/crc/b.txt")) << c.what;
    }
    // The same cabinet with a sound last range is extracted and deleted: the builder is not at fault.
    const std::string sound = td / "in/sound.cab";
    WriteFile(sound, Cabinet(data, {{"a.txt", 0, 2000}, {"b.txt", 2000, 1000}}));
    const CliResult r = RunCli(td, {"--ini", td / "empty.ini", "--to", td / "out", "-d", "--confirm-delete", "yes", sound});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fs::exists(sound));
    EXPECT_EQ(ReadFile(td / "out/sound/b.txt"), std::string(1000, 'c'));
}

// An LZH name with a NUL inside ("a\0x") is refused as ZIP refuses one, each refusal named on a line of
// its own: cut at the NUL, two such entries landed on one another as "a" and the archive was deleted.
// NULs that only pad the name field are no part of the name.
TEST(CliDisposal, AnLzhNameWithANulInsideIsRefusedAndTheArchiveKept) {
    NORVEX_REQUIRE_MODULE("UNLHA32.DLL");
    TempDir td;
    WriteFile(td / "empty.ini", "");
    using namespace std::string_literals;
    const std::string archive = td / "in/nul.lzh";
    WriteFile(archive, StoredLzhEntry("a\0x"s, "one") + StoredLzhEntry("a\0y"s, "two") + StoredLzhEntry("b.txt", "b") + '\0');
    CliResult r = RunCli(td, {"--ini", td / "empty.ini", "--to", td / "out", "-d", "--confirm-delete", "yes", archive});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(fs::exists(archive));
    EXPECT_FALSE(fs::exists(td / "out/nul/a"));
    EXPECT_TRUE(HasText(r.out, "> 危険なパスのため展開しません: a\\x00x")) << r.err;
    EXPECT_TRUE(HasText(r.out, "> 危険なパスのため展開しません: a\\x00y")) << r.err;

    const std::string padded = td / "in/padded.lzh";
    WriteFile(padded, StoredLzhEntry("a\0\0"s, "one") + StoredLzhEntry("b.txt", "b") + '\0');
    r = RunCli(td, {"--ini", td / "empty.ini", "--to", td / "out", "-d", "--confirm-delete", "yes", padded});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fs::exists(padded));
    EXPECT_EQ(ReadFile(td / "out/padded/a"), "one");
}

// A plain tar that ends after a whole entry without its end blocks (a download cut there) extracts
// what it holds but is not deleted, with a line that says why (exit 3); the same entries closed by
// the end blocks are deleted as ever.
TEST(CliDisposal, ATarWithoutItsEndMarkIsExtractedButKept) {
    NORVEX_REQUIRE_MODULE("TAR32.DLL");
    TempDir td;
    WriteFile(td / "empty.ini", "");
    const std::string entries = TarEntry("a.txt", std::string(3000, 'a')) + TarEntry("b.txt", "b");
    const std::string cut = td / "in/cut.tar", whole = td / "in/whole.tar";
    WriteFile(cut, entries);
    WriteFile(whole, entries + std::string(10240 - entries.size() % 10240, '\0'));
    CliResult r = RunCli(td, {"--ini", td / "empty.ini", "--to", td / "out", "-d", "--confirm-delete", "yes", cut});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_TRUE(fs::exists(cut));
    EXPECT_EQ(ReadFile(td / "out/cut/b.txt"), "b");
    EXPECT_TRUE(HasText(r.out, "> [ 後始末エラー ] 書庫の終わりを示す印がなく、途中で切れているおそれがあるため、書庫を削除しませんでした。")) << r.err;
    r = RunCli(td, {"--ini", td / "empty.ini", "--to", td / "out", "-d", "--confirm-delete", "yes", whole});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fs::exists(whole));
    EXPECT_EQ(ReadFile(td / "out/whole/a.txt"), std::string(3000, 'a'));
}

// A file the user chose not to write over never landed: the archive that holds it is not deleted
// (its version exists nowhere else), while one whose every entry landed is. Answered yes, both go.
TEST(CliDisposal, AnArchiveWhoseFileWasNotWrittenOverIsNotDeleted) {
    NORVEX_REQUIRE_MODULE("UNLHA32.DLL");
    TempDir td;
    WriteFile(td / "empty.ini", "");
    const std::string name = "\x83\x5c\x95\x5c\"q.txt";  // cp932 "ソ表" (trail bytes 0x5C) and a quote
    for (const char* answer : {"no", "yes"}) {
        SCOPED_TRACE(answer);
        fs::remove_all(td / "in");
        fs::remove_all(td / "out");
        const std::string first = td / "in/first.lzh", second = td / "in/second.lzh";
        WriteFile(first, StoredLzhEntry(name, "first version") + '\0');
        WriteFile(second, StoredLzhEntry(name, "other version") + '\0');
        const CliResult r = RunCli(td, {"--ini", td / "empty.ini", "--to", td / "out", "-d", "--confirm-delete", "yes",
                                        "--answer", answer, first, second});
        EXPECT_FALSE(fs::exists(first)) << r.err;
        if (std::string(answer) == "no") {
            EXPECT_EQ(r.exitCode, 3) << r.err;
            EXPECT_TRUE(fs::exists(second)) << r.err;
            const std::vector<std::string> log = LogTexts(r.out);
            EXPECT_NE(std::find(log.begin(), log.end(), "> [ 後始末エラー ] 上書きしなかったファイルがあるため、書庫を削除しませんでした。"),
                      log.end());
            EXPECT_EQ(ReadFile(td / "out/ソ表\"q.txt"), "first version");
        } else {
            EXPECT_EQ(r.exitCode, 0) << r.err;
            EXPECT_FALSE(fs::exists(second)) << r.err;
            EXPECT_EQ(ReadFile(td / "out/ソ表\"q.txt"), "other version");
        }
    }
}

// "Never overwrite" keeps the file an earlier archive extracted, without a question: the later
// archive's version of it never landed, so that archive is neither deleted nor trashed nor moved,
// and the run ends as when an overwrite is declined (exit 3), in every format (each gets the setting
// as its own switch); its other file lands. Alone, with nothing in its way, the same archive is
// disposed of as asked.
TEST(CliDisposal, AnArchiveWhoseFileNeverOverwriteKeptIsNotDisposedOf) {
    NORVEX_REQUIRE_MODULE("UNLHA32.DLL");
    NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
    NORVEX_REQUIRE_MODULE("UNRAR32.DLL");
    NORVEX_REQUIRE_MODULE("TAR32.DLL");
    NORVEX_REQUIRE_MODULE("7-zip32.dll");
    NORVEX_REQUIRE_MODULE("CAB32.DLL");
    if (!HaveTool("zip") || !HaveTool("tar") || !HaveTool("7z") || !HaveTool("gcab"))
        GTEST_SKIP() << "zip, tar, 7z or gcab is missing";
    TempDir td;
    setenv("XDG_DATA_HOME", (td / "xdg").c_str(), 1);
    WriteFile(td / "src/q.txt", "second version");
    WriteFile(td / "src/new.txt", "only in the second");

    // The later archive, holding q.txt and new.txt, in each format.
    auto makeSecond = [&](const std::string& ext) {
        const std::string path = td / ("in/second." + ext);
        fs::create_directories(td / "in");
        bool made = true;
        if (ext == "lzh")
            WriteFile(path, StoredLzhEntry("q.txt", "second version") + StoredLzhEntry("new.txt", "only in the second") + '\0');
        else if (ext == "rar") WriteFile(path, BuildRar4({{"q.txt", "second version"}, {"new.txt", "only in the second"}}).at(0));
        else if (ext == "zip") made = MakeZip(path, td / "src", {"q.txt", "new.txt"});
        else if (ext == "tar") made = RunTool({"tar", "-cf", path, "q.txt", "new.txt"}, td / "src").exitCode == 0;
        else if (ext == "cab") made = RunTool({"gcab", "-c", "-z", path, "q.txt", "new.txt"}, td / "src").exitCode == 0;
        else made = RunTool({"7z", "a", "-bd", "-bso0", path, "q.txt", "new.txt"}, td / "src").exitCode == 0;
        EXPECT_TRUE(made);
        return path;
    };
    struct Method {
        const char* what;
        int after;
        const char* line;
        std::function<bool(const std::string& name)> disposedOf;
    } methods[] = {
        {"delete", 1, "> [ 後始末エラー ] 上書きしなかったファイルがあるため、書庫を削除しませんでした。",
         [&](const std::string& name) { return !fs::exists(td / ("in/" + name)); }},
        {"trash", 2, "> [ 後始末エラー ] 上書きしなかったファイルがあるため、書庫をごみ箱へ移しませんでした。",
         [&](const std::string& name) { return fs::exists(td / ("xdg/Trash/files/" + name)) && !fs::exists(td / ("in/" + name)); }},
        {"move", 3, "> [ 後始末エラー ] 上書きしなかったファイルがあるため、書庫を移動しませんでした。",
         [&](const std::string& name) { return fs::exists(td / ("moved/" + name)) && !fs::exists(td / ("in/" + name)); }},
    };
    for (const Method& m : methods) {
        // Every format for delete; trash and move take the same path after the module, so one will
        // do, there also with the question declined (OverWrite=0, answered no).
        std::vector<std::pair<std::string, int>> runs{{"zip", 2}, {"zip", 0}};
        if (m.after == 1) runs = {{"lzh", 2}, {"zip", 2}, {"rar", 2}, {"tar", 2}, {"7z", 2}, {"cab", 2}};
        for (const auto& [ext, overWrite] : runs) {
            SCOPED_TRACE(std::string(m.what) + " " + ext + " OverWrite=" + std::to_string(overWrite));
            const std::string ini = td / "settings.ini";
            WriteFile(ini, "[Main]\nOverWrite=" + std::to_string(overWrite) + "\nAfterMethod=" + std::to_string(m.after) +
                               "\nMoveFolder=" + td / "moved" + "\n[Sub_Bind]\nBindFolder=0\n");
            for (const char* folder : {"in", "out", "alone", "moved", "xdg"}) fs::remove_all(td / folder);
            const std::string first = td / "in/first.lzh";
            WriteFile(first, StoredLzhEntry("q.txt", "first version") + '\0');
            const std::string second = makeSecond(ext);
            const std::string secondName = fs::path(second).filename();

            CliResult r = RunCli(td, {"--ini", ini, "--to", td / "out", "--confirm-delete", "yes", first, second});
            EXPECT_EQ(r.exitCode, 3) << r.err;
            EXPECT_NE(r.err.find("解凍 2、失敗 0、スキップ 0、後始末 1（後始末の失敗 1）"), std::string::npos) << r.err;
            EXPECT_TRUE(m.disposedOf("first.lzh"));
            EXPECT_TRUE(fs::exists(second));
            EXPECT_FALSE(m.disposedOf(secondName));
            EXPECT_TRUE(HasText(r.out, m.line));
            EXPECT_EQ(ReadFile(td / "out/q.txt"), "first version");
            EXPECT_EQ(ReadFile(td / "out/new.txt"), "only in the second");
            // Declined (no --answer: "no") the question ends the same way, so only its absence tells.
            EXPECT_EQ(r.err.find("上書き確認") == std::string::npos, overWrite == 2) << r.err;

            r = RunCli(td, {"--ini", ini, "--to", td / "alone", "--confirm-delete", "yes", second});
            EXPECT_EQ(r.exitCode, 0) << r.err;
            EXPECT_TRUE(m.disposedOf(secondName));
            EXPECT_FALSE(HasTextContaining(r.out, "[ 後始末エラー ]"));
            EXPECT_EQ(ReadFile(td / "alone/q.txt"), "second version");
        }
    }
    unsetenv("XDG_DATA_HOME");
}

// "Overwrite if newer" keeps an existing file at least as new as the entry: that entry's version is
// then only in the archive, which is kept as for "never" (exit 3), in every format and for a split
// set's every volume. Where the existing file is older, it is written over and the archive deleted.
TEST(CliDisposal, AnArchiveWhoseOlderFileIfNewerKeptIsNotDeleted) {
    NORVEX_REQUIRE_MODULE("UNLHA32.DLL");
    NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
    NORVEX_REQUIRE_MODULE("UNRAR32.DLL");
    NORVEX_REQUIRE_MODULE("CAB32.DLL");
    NORVEX_REQUIRE_MODULE("TAR32.DLL");
    NORVEX_REQUIRE_MODULE("7-zip32.dll");
    if (!HaveTool("zip") || !HaveTool("tar") || !HaveTool("7z")) GTEST_SKIP() << "zip, tar or 7z is missing";
    TempDir td;
    const std::string content = "the archive's version of q.txt";
    WriteFile(td / "src/q.txt", content);
    const fs::file_time_type now = fs::last_write_time(td / "src/q.txt");
    const std::string ini = td / "settings.ini";
    WriteFile(ini, "[Main]\nOverWrite=3\nAfterMethod=1\n");

    // Each archive holds q.txt alone, dated now or before; returns its volumes, the first one first.
    auto make = [&](const std::string& ext) {
        fs::remove_all(td / "in");
        fs::create_directories(td / "in");
        std::vector<std::string> volumes{td / ("in/second." + ext)};
        bool made = true;
        if (ext == "lzh") WriteFile(volumes[0], StoredLzhEntry("q.txt", content) + '\0');
        else if (ext == "cab") WriteFile(volumes[0], Cabinet(content, {{"q.txt", 0, static_cast<uint32_t>(content.size())}}));
        else if (ext == "zip") made = MakeZip(volumes[0], td / "src", {"q.txt"});
        else if (ext == "tar") made = RunTool({"tar", "-cf", volumes[0], "q.txt"}, td / "src").exitCode == 0;
        else if (ext == "7z") made = RunTool({"7z", "a", "-bd", "-bso0", volumes[0], "q.txt"}, td / "src").exitCode == 0;
        else {
            const std::vector<std::string> parts = BuildRar4({{"q.txt", content}}, 16);
            EXPECT_GE(parts.size(), 2u);
            volumes.clear();
            for (std::size_t i = 0; i < parts.size(); ++i) {
                volumes.push_back(td / ("in/second.part" + std::to_string(i + 1) + ".rar"));
                WriteFile(volumes.back(), parts[i]);
            }
        }
        EXPECT_TRUE(made);
        return volumes;
    };
    for (const char* ext : {"lzh", "cab", "zip", "tar", "7z", "rar"}) {
        SCOPED_TRACE(ext);
        for (const bool existingIsNewer : {true, false}) {
            SCOPED_TRACE(existingIsNewer ? "existing file newer" : "existing file older");
            const std::vector<std::string> volumes = make(ext);
            fs::remove_all(td / "out");
            WriteFile(td / "out/q.txt", "mine");
            // A day ahead, or some forty years back (before any date the archives carry).
            fs::last_write_time(td / "out/q.txt", existingIsNewer ? now + std::chrono::hours(24)
                                                                  : now - std::chrono::hours(24 * 365 * 40));

            std::vector<std::string> args{"--ini", ini, "--to", td / "out", "--confirm-delete", "yes"};
            args.insert(args.end(), volumes.begin(), volumes.end());
            const CliResult r = RunCli(td, args);
            for (const std::string& volume : volumes) EXPECT_EQ(fs::exists(volume), existingIsNewer) << volume;
            if (existingIsNewer) {
                EXPECT_EQ(r.exitCode, 3) << r.err;
                EXPECT_TRUE(HasText(r.out, "> [ 後始末エラー ] 上書きしなかったファイルがあるため、書庫を削除しませんでした。"));
                EXPECT_EQ(ReadFile(td / "out/q.txt"), "mine");
            } else {
                EXPECT_EQ(r.exitCode, 0) << r.err;
                EXPECT_EQ(ReadFile(td / "out/q.txt"), content);
            }
        }
    }
}

// The file-extraction filter ("*.txt") extracts only what matches it: an archive that also holds
// other data is neither deleted nor trashed (exit 3, with its own line); one whose data all matches
// is disposed of as asked.
TEST(CliDisposal, AnArchiveTheFilterTookOnlyPartOfIsNotDisposedOf) {
    NORVEX_REQUIRE_MODULE("UNLHA32.DLL");
    NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
    if (!HaveTool("zip")) GTEST_SKIP() << "zip is missing";
    TempDir td;
    setenv("XDG_DATA_HOME", (td / "xdg").c_str(), 1);
    WriteFile(td / "src/a.txt", "text");
    WriteFile(td / "src/b.bin", "other data");
    WriteFile(td / "src/c.txt", "more text");
    struct Case {
        const char* name;
        const char* after;
        bool partial;
    } cases[] = {{"mixed.zip", "-d", true}, {"mixed.lzh", "-d", true}, {"mixed.zip", "-t", true},
                 {"text.zip", "-d", false}, {"text.lzh", "-t", false}};
    const std::string ini = td / "settings.ini";
    WriteFile(ini, "[Main]\nFileSpec=*.txt\n[Sub]\nSpecialExt=1\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.after);
        for (const char* folder : {"in", "out", "xdg"}) fs::remove_all(td / folder);
        fs::create_directories(td / "in");
        const std::string path = td / (std::string("in/") + c.name);
        const std::vector<std::string> names = c.partial ? std::vector<std::string>{"a.txt", "b.bin"}
                                                         : std::vector<std::string>{"a.txt", "c.txt"};
        if (fs::path(path).extension() == ".zip") {
            ASSERT_TRUE(MakeZip(path, td / "src", names));
        } else {
            std::string lzh;
            for (const std::string& n : names) lzh += StoredLzhEntry(n, ReadFile(td / ("src/" + n)));
            WriteFile(path, lzh + '\0');
        }
        const CliResult r = RunCli(td, {"--ini", ini, "--to", td / "out", "--confirm-delete", "yes", c.after, path});
        std::vector<std::string> landed;  // file names, wherever the count put them
        for (const auto& e : fs::recursive_directory_iterator(td / "out"))
            if (e.is_regular_file()) landed.push_back(e.path().filename());
        std::sort(landed.begin(), landed.end());
        EXPECT_EQ(landed, c.partial ? std::vector<std::string>{"a.txt"} : names);
        EXPECT_EQ(fs::exists(path), c.partial);
        EXPECT_EQ(r.exitCode, c.partial ? 3 : 0) << r.err;
        const std::string line = std::string("> [ 後始末エラー ] ファイル抽出パターンで解凍しなかったファイルがあるため、") +
                                 (c.after == std::string("-d") ? "書庫を削除しませんでした。" : "書庫をごみ箱へ移しませんでした。");
        EXPECT_EQ(HasText(r.out, line), c.partial);
    }
    unsetenv("XDG_DATA_HOME");
}

// With folders ignored and overwriting on, files of one name in different folders land on each other:
// the extraction no longer holds the earlier ones, so the archive stays (exit 3, with its own line).
// Distinct names are disposed of as asked.
TEST(CliDisposal, FilesThatIgnoringFoldersLandsOnEachOtherKeepTheArchive) {
    NORVEX_REQUIRE_MODULE("UNZIP32.DLL");
    if (!HaveTool("zip")) GTEST_SKIP() << "zip is missing";
    TempDir td;
    WriteFile(td / "src/a/readme.txt", "first");
    WriteFile(td / "src/b/readme.txt", "second");
    WriteFile(td / "src/c/other.txt", "other");
    const std::string ini = td / "settings.ini";
    WriteFile(ini, "[Main]\nIgnoreDirectory=1\nOverWrite=1\n");
    for (const bool collide : {true, false}) {
        SCOPED_TRACE(collide);
        fs::remove_all(td / "out");
        const std::string zip = td / "in.zip";
        fs::remove(zip);
        ASSERT_TRUE(MakeZip(zip, td / "src", collide ? std::vector<std::string>{"a", "b", "c"}
                                                      : std::vector<std::string>{"a", "c"}));
        const CliResult r =
            RunCli(td, {"--ini", ini, "--to", td / "out", "--answer", "yes", "--confirm-delete", "yes", "-d", zip});
        EXPECT_EQ(fs::exists(zip), collide);
        EXPECT_EQ(r.exitCode, collide ? 3 : 0) << r.err;
        EXPECT_EQ(HasText(r.out, "> [ 後始末エラー ] ディレクトリ構成の無視で同じ名前になったファイルがあるため、"
                                 "書庫を削除しませんでした。"),
                  collide);
    }
}

// The extracted files are written to the device before the archive is deleted, and an archive moved
// to another file system is written there before it is removed here (a power cut must not leave the
// removal on the disk and the data only in memory): a sync of the file system, then the unlink.
TEST(CliDisposal, DataIsSyncedBeforeTheArchiveIsRemoved) {
    NORVEX_REQUIRE_MODULE("UNLHA32.DLL");
    if (!HaveTool("strace")) GTEST_SKIP() << "strace is missing";
    TempDir td;
    struct stat shm {}, here {};
    const bool otherFileSystem = stat("/dev/shm", &shm) == 0 && stat(td.path().c_str(), &here) == 0 &&
                                 shm.st_dev != here.st_dev && access("/dev/shm", W_OK) == 0;
    char moveFolder[] = "/dev/shm/norvex-move-XXXXXX";
    if (otherFileSystem) {
        ASSERT_NE(mkdtemp(moveFolder), nullptr);
    }
    struct TRemove {
        const char* path;
        bool made;
        ~TRemove() {
            std::error_code ec;
            if (made) fs::remove_all(path, ec);
        }
    } removeMoveFolder{moveFolder, otherFileSystem};
    for (const char* after : {"1", "3"}) {
        SCOPED_TRACE(after);
        if (after == std::string("3") && !otherFileSystem) continue;  // no second file system to move to
        fs::remove_all(td / "in");
        fs::remove_all(td / "out");
        const std::string archive = td / "in/a.lzh";
        WriteFile(archive, StoredLzhEntry("a.txt", "text") + '\0');
        fs::create_directories(td / "out");
        WriteFile(td / "settings.ini", std::string("[Main]\nAfterMethod=") + after + "\nMoveFolder=" + moveFolder + "\n");
        const std::string trace = td / "trace.txt";
        // The leak check of a sanitizer build cannot stop the threads of a traced process: it is off.
        const ToolResult r = RunTool({"env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-f", "-qq", "-o", trace, "-e",
                                      "trace=syncfs,unlink,unlinkat", NORVEX_CLI_PATH, "--ini", td / "settings.ini", "--to",
                                      td / "out", "--confirm-delete", "yes", archive});
        if (r.exitCode != 0 && r.output.find("ptrace") != std::string::npos) GTEST_SKIP() << "strace cannot trace here";
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_FALSE(fs::exists(archive));
        EXPECT_EQ(ReadFile(td / "out/a.txt"), "text");
        const std::string calls = ReadFile(trace);
        const std::size_t synced = calls.find("syncfs("), unlinked = calls.find("a.lzh\"");
        ASSERT_NE(unlinked, std::string::npos) << calls;
        EXPECT_LT(synced, unlinked) << calls;
    }
    if (otherFileSystem) {
        EXPECT_EQ(ReadFile(std::string(moveFolder) + "/a.lzh"), StoredLzhEntry("a.txt", "text") + '\0');
    }
}

// A volume of a split set that cannot be moved (the move folder holds a folder of its name) or
// trashed (no trash folder can be made) is named on the line after the failure, and stays where it
// is; the volumes that could go went, and nothing else changed.
TEST(CliDisposal, AVolumeThatCannotBeMovedOrTrashedIsNamed) {
    NORVEX_REQUIRE_MODULE("UNRAR32.DLL");
    TempDir td;
    const std::vector<std::string> parts = BuildRar4({{"q.txt", std::string(100, 'q')}}, 40);
    ASSERT_GE(parts.size(), 3u);
    const std::string failure[] = {"> [ 後始末エラー ] 書庫を移動できませんでした。 (移動先に同じ名前のものがあります)",
                                   "> [ 後始末エラー ] 書庫をごみ箱へ移せませんでした。"};
    for (const int after : {3, 2}) {
        SCOPED_TRACE(after == 3 ? "move" : "trash");
        for (const char* folder : {"in", "out", "moved"}) fs::remove_all(td / folder);
        std::vector<std::string> volumes;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            volumes.push_back(td / ("in/set.part" + std::to_string(i + 1) + ".rar"));
            WriteFile(volumes.back(), parts[i]);
        }
        WriteFile(td / "moved/set.part2.rar/mine.txt", "mine");
        WriteFile(td / "not-a-folder", "");
        setenv("XDG_DATA_HOME", (td / "not-a-folder/xdg").c_str(), 1);
        const std::string ini = td / "settings.ini";
        WriteFile(ini, "[Main]\nAfterMethod=" + std::to_string(after) + "\nMoveFolder=" + td / "moved" + "\n");
        const CliResult r = RunCli(td, {"--ini", ini, "--to", td / "out", volumes[0]});
        unsetenv("XDG_DATA_HOME");
        EXPECT_EQ(r.exitCode, 3) << r.err;
        EXPECT_EQ(ReadFile(td / "out/q.txt"), std::string(100, 'q'));
        EXPECT_EQ(ReadFile(td / "moved/set.part2.rar/mine.txt"), "mine");
        const std::vector<std::string> log = LogTexts(r.out);
        std::vector<std::string> named;  // the volumes named after a failure line
        for (std::size_t i = 0; i + 1 < log.size(); ++i)
            if (log[i] == failure[after == 3 ? 0 : 1]) named.push_back(log[i + 1]);
        std::vector<std::string> stayed;
        for (std::size_t i = 0; i < volumes.size(); ++i) {
            const bool moved = after == 3 && i != 1;
            const std::string now = moved ? td / ("moved/" + fs::path(volumes[i]).filename().string()) : volumes[i];
            EXPECT_EQ(ReadFile(now), parts[i]) << now;
            EXPECT_EQ(fs::exists(volumes[i]), !moved) << volumes[i];
            if (!moved) stayed.push_back("> " + volumes[i]);
        }
        EXPECT_EQ(named, stayed);
    }
}
