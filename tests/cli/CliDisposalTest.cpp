// norvex-cli -d on archives whose names all list whole (so that the top-level count stands for the
// header test) while the data of their last entry cannot land: a cabinet whose last file reaches past
// its folder's data, an LZH whose last entry fails its CRC. The archive is reported failed and kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>

#include "tests/cli/CliSupport.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/LzhEntries.h"

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
