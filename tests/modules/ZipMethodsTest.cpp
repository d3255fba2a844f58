// UNZIP32.DLL on ZIP archives whose entries use methods beyond deflate, made by 7z -tzip -m0=...:
// every method libarchive decodes extracts byte for byte; the ones it cannot decode fail as a method
// failure with nothing half-written; WinZip AES and the traditional encryption ask for the password.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "modules/common/LibarchiveSource.h"
#include "platform/AnsiCodec.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;

namespace {

std::string Q(const std::string& s) { return "\"" + s + "\""; }

struct ZipMethods : ::testing::Test {
    void SetUp() override {
        if (!module.ok()) GTEST_SKIP() << "unzip32.so is not built";
        if (!HaveTool("7z")) GTEST_SKIP() << "7z is not installed";
        std::mt19937 rng(7);
        std::string mixed(250000, '\0');
        for (std::size_t i = 0; i < mixed.size(); ++i) mixed[i] = static_cast<char>(rng() % 4 == 0 ? rng() : 'a' + i % 9);
        WriteFile(dir / "src/ソ表/data.bin", mixed);
        WriteFile(dir / "src/text.txt", std::string(60000, 't') + "end\n");
        WriteFile(dir / "src/empty.txt", "");
    }
    void Pack(const std::string& archive, const std::vector<std::string>& switches) {
        std::vector<std::string> argv{"env", "LC_ALL=C.UTF-8", "7z", "a", "-tzip", "-bd"};
        argv.insert(argv.end(), switches.begin(), switches.end());
        argv.insert(argv.end(), {dir / archive, "."});
        ToolResult r = RunTool(argv, dir / "src");
        ASSERT_EQ(r.exitCode, 0) << r.output;
    }
    int32_t Extract(const std::string& archive, const std::string& out, TestWindow* w) {
        return module.run(w, "-x -q --i -o " + Q(dir / archive) + " " + Q(out + "/"));
    }
    LoadedModule module{"UNZIP32.DLL", "UnZip"};
    TempDir dir;
    TestWindow window;
};

// The method field (offset 8 of a local header, 10 of a central one) of every entry set to method.
void SetMethod(const std::string& path, uint16_t method) {
    std::string data = ReadFile(path);
    for (std::size_t i = 0; i + 12 < data.size(); ++i) {
        if (data.compare(i, 4, "PK\x03\x04") == 0 || data.compare(i, 4, "PK\x01\x02") == 0) {
            std::size_t at = i + (data[i + 2] == 3 ? 8 : 10);
            data[at] = static_cast<char>(method & 0xFF);
            data[at + 1] = static_cast<char>(method >> 8);
        }
    }
    WriteFile(path, data);
}

void Put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

// A ZIP of the given files whose data is compressed by the zstd tool (method 93): 7z cannot write
// one, and no ZIP tool here can.
std::string ZstdZip(const TempDir& dir, const std::vector<std::pair<std::string, std::string>>& files) {
    std::string zip, central;
    for (const auto& [name, data] : files) {
        WriteFile(dir / "plain.bin", data);
        if (RunTool({"zstd", "-q", "-f", "-19", dir / "plain.bin", "-o", dir / "packed.zst"}).exitCode != 0) return {};
        const std::string packed = ReadFile(dir / "packed.zst");
        const uint32_t crc = norvex::modules::Crc32(0, data.data(), data.size());
        const uint32_t offset = static_cast<uint32_t>(zip.size());
        std::string common;
        Put16(common, 63);                                    // version needed
        Put16(common, 0x0800);                                // UTF-8 name
        Put16(common, 93);                                    // Zstandard
        Put32(common, 0x00210000);                            // 1980-01-01 00:00
        Put32(common, crc);
        Put32(common, static_cast<uint32_t>(packed.size()));
        Put32(common, static_cast<uint32_t>(data.size()));
        Put16(common, static_cast<uint32_t>(name.size()));
        Put16(common, 0);                                     // extra
        zip += "PK\x03\x04" + common + name + packed;
        central += "PK\x01\x02";
        Put16(central, 63);
        central += common;
        Put16(central, 0);                                    // comment
        Put16(central, 0);                                    // disk
        Put16(central, 0);                                    // internal attributes
        Put32(central, 0);                                    // external attributes
        Put32(central, offset);
        central += name;
    }
    const uint32_t cdOffset = static_cast<uint32_t>(zip.size());
    zip += central;
    zip += "PK\x05\x06";
    Put32(zip, 0);
    Put16(zip, static_cast<uint32_t>(files.size()));
    Put16(zip, static_cast<uint32_t>(files.size()));
    Put32(zip, static_cast<uint32_t>(central.size()));
    Put32(zip, cdOffset);
    Put16(zip, 0);
    return zip;
}

}  // namespace

TEST_F(ZipMethods, ZstandardEntries) {
    if (!HaveTool("zstd")) GTEST_SKIP() << "zstd is not installed";
    const std::string text = std::string(60000, 't') + "end\n", bin = ReadFile(dir / "src/ソ表/data.bin");
    const std::string zip = ZstdZip(dir, {{"ソ表/data.bin", bin}, {"text.txt", text}});
    ASSERT_FALSE(zip.empty());
    WriteFile(dir / "z.zip", zip);
    ASSERT_EQ(Extract("z.zip", dir / "out", &window), 0);
    EXPECT_EQ(SnapshotTree(dir / "out"), (std::map<std::string, std::string>{
                                             {"ソ表", "d"}, {"ソ表/data.bin", "f:" + bin}, {"text.txt", "f:" + text}}));
    // A damaged frame is a failure, and its entry is not left behind.
    std::string broken = zip;
    broken[broken.find("\x28\xB5\x2F\xFD") + 20] ^= 0x55;
    WriteFile(dir / "b.zip", broken);
    EXPECT_GE(Extract("b.zip", dir / "bad", &window), ARC_ERROR_FIRST);
    EXPECT_FALSE(std::filesystem::exists(dir / "bad/ソ表/data.bin"));
}

TEST_F(ZipMethods, EveryMethodLibarchiveDecodes) {
    struct Case {
        const char* method;
        const char* listed;
    } cases[] = {{"Copy", "Stored"}, {"Deflate", "Deflate"}, {"BZip2", "BZip2"},
                 {"LZMA", "LZMA"},   {"XZ", "XZ"},           {"PPMd", "PPMd"}};
    const auto expected = SnapshotTree(dir / "src");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        const std::string name = std::string(c.method) + ".zip";
        Pack(name, {std::string("-m0=") + c.method});
        std::filesystem::remove_all(dir / "out");
        ASSERT_EQ(Extract(name, dir / "out", &window), 0);
        EXPECT_EQ(SnapshotTree(dir / "out"), expected);
        EXPECT_TRUE(module.checkArchive(ToAnsi(dir / name).c_str(), 3));
        HARC h = module.openArchive(nullptr, ToAnsi(dir / name).c_str(), 0);
        ASSERT_NE(h, nullptr);
        ArcEntryRecord rec;
        ASSERT_EQ(module.findFirst(h, "data.bin", &rec), 0);
        EXPECT_STREQ(rec.method, c.listed);
        module.closeArchive(h);
    }
}

TEST_F(ZipMethods, MethodsLibarchiveCannotDecodeFailWithoutLeftovers) {
    // Deflate64 as 7z writes it, and a method number nobody knows.
    Pack("d64.zip", {"-m0=Deflate64"});
    Pack("m77.zip", {"-m0=Copy"});
    SetMethod(dir / "m77.zip", 77);
    for (const char* name : {"d64.zip", "m77.zip"}) {
        SCOPED_TRACE(name);
        const std::string out = dir / (std::string("out-") + name);
        EXPECT_EQ(Extract(name, out, &window), ARC_METHOD);
        EXPECT_FALSE(std::filesystem::exists(out + "/text.txt"));
        EXPECT_FALSE(std::filesystem::exists(out + "/ソ表/data.bin"));
        EXPECT_FALSE(module.checkArchive(ToAnsi(dir / name).c_str(), 3));
    }
}

TEST_F(ZipMethods, AesAndTraditionalEncryptionAskForThePassword) {
    for (const char* em : {"AES256", "AES128", "ZipCrypto"}) {
        SCOPED_TRACE(em);
        const std::string name = std::string(em) + ".zip";
        Pack(name, {"-pright", std::string("-mem=") + em, "-m0=Deflate"});
        const std::string out = dir / (std::string("out-") + em);
        EXPECT_EQ(Extract(name, out, nullptr), ARC_PASSWORD_FILE);  // nobody to ask
        TestWindow wrong;
        wrong.passwords = {"bad1", "bad2", "bad3"};
        EXPECT_EQ(Extract(name, out, &wrong), ARC_PASSWORD_FILE);
        EXPECT_GE(wrong.passwordQuestions, 1);
        EXPECT_FALSE(std::filesystem::exists(out + "/text.txt"));
        TestWindow right;
        right.passwords = {"right"};
        ASSERT_EQ(Extract(name, out, &right), 0);
        EXPECT_EQ(SnapshotTree(out), SnapshotTree(dir / "src"));
    }
}
