// What a module may call a success: every byte it wrote was decoded from the archive and checked.
// One flipped data byte per format and method must fail (and, end to end, keep the archive under
// "-d"); a size field that claims more than the archive holds must fail at once, without padding.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "modules/common/LibarchiveSource.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/modules/LhaTestSupport.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/reliability/ReliabilitySupport.h"
#include "tests/support/RarWriter.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

uint32_t Le32(const std::string& s, std::size_t at) {
    return static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8 |
           static_cast<unsigned char>(s[at + 2]) << 16 | static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24;
}
void Put32(std::string& s, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// A ZIP of one entry "data.bin" made by Python's zipfile with the given method constant.
bool PythonZip(const std::string& archive, const std::string& payloadFile, const std::string& method) {
    return RunPython("import sys, zipfile\n"
                     "with zipfile.ZipFile(sys.argv[1], 'w', getattr(zipfile, sys.argv[3])) as z:\n"
                     "    z.write(sys.argv[2], 'data.bin')\n",
                     {archive, payloadFile, method});
}

// A cabinet of one entry "data.bin" made by gcab (compressed with MSZIP when zip is set).
bool Gcab(const std::string& archive, const std::string& folder, bool zip) {
    std::vector<std::string> args = {"gcab", "-c"};
    if (zip) args.push_back("-z");
    args.push_back(archive);
    args.push_back("data.bin");
    return RunTool(args, folder).exitCode == 0;
}

struct Module {
    const char* dll;
    const char* prefix;
};
const Module kZip{"UNZIP32.DLL", "UnZip"}, kRar{"UNRAR32.DLL", "Unrar"}, kCab{"CAB32.DLL", "Cab"},
    kLha{"UNLHA32.DLL", "Unlha"}, kTar{"TAR32.DLL", "Tar"};

// One way to make an archive holding data.bin with the given content; false (with a reason) when
// the tool is missing.
struct Sample {
    std::string label;
    Module module;
    std::string ext;
    std::function<bool(const TempDir&, const std::string& archive, const std::string& content, std::string& why)> build;
};

std::string RarCorpus() {
    for (const char* p : {NORVEX_RAR_CORPUS_A, NORVEX_RAR_CORPUS_B})
        if (fs::exists(std::string(p) + "/rar_compress_normal.rar")) return p;
    return {};
}

std::vector<Sample> Samples() {
    auto zip = [](const char* method) {
        return [method](const TempDir& td, const std::string& archive, const std::string& content, std::string& why) {
            WriteFile(td / "src/data.bin", content);
            if (!HaveTool("python3")) return why = "python3 is missing", false;
            return PythonZip(archive, td / "src/data.bin", method);
        };
    };
    auto cab = [](bool compressed) {
        return [compressed](const TempDir& td, const std::string& archive, const std::string& content, std::string& why) {
            WriteFile(td / "src/data.bin", content);
            if (!HaveTool("gcab")) return why = "gcab is missing", false;
            return Gcab(archive, td / "src", compressed);
        };
    };
    auto lzh = [](norvex::lzh::LzhMethod method) {
        return [method](const TempDir&, const std::string& archive, const std::string& content, std::string&) {
            WriteFile(archive, EncodeOneEntry("data.bin", content, method));
            return true;
        };
    };
    return {
        {"zip stored", kZip, ".zip", zip("ZIP_STORED")},
        {"zip deflate", kZip, ".zip", zip("ZIP_DEFLATED")},
        {"zip bzip2", kZip, ".zip", zip("ZIP_BZIP2")},
        {"zip lzma", kZip, ".zip", zip("ZIP_LZMA")},
        {"rar4 stored", kRar, ".rar",
         [](const TempDir&, const std::string& archive, const std::string& content, std::string&) {
             WriteFile(archive, BuildRar4({{"data.bin", content}})[0]);
             return true;
         }},
        {"rar5 stored", kRar, ".rar",
         [](const TempDir&, const std::string& archive, const std::string& content, std::string&) {
             WriteFile(archive, BuildRar5({{{"data.bin", content}}})[0]);
             return true;
         }},
        {"cab none", kCab, ".cab", cab(false)},
        {"cab mszip", kCab, ".cab", cab(true)},
        {"lzh lh5", kLha, ".lzh", lzh(norvex::lzh::LzhMethod::Lh5)},
        {"lzh lh6", kLha, ".lzh", lzh(norvex::lzh::LzhMethod::Lh6)},
        {"lzh lh7", kLha, ".lzh", lzh(norvex::lzh::LzhMethod::Lh7)},
        {"lzh lh0", kLha, ".lzh",
         [](const TempDir&, const std::string& archive, const std::string& content, std::string&) {
             WriteFile(archive, BuildHandArchive({{"data.bin", content}}));
             return true;
         }},
        // Random data leaves gzip's blocks stored: only the trailer's CRC can tell the flip.
        {"tar.gz", kTar, ".tar.gz",
         [](const TempDir& td, const std::string& archive, const std::string& content, std::string&) {
             WriteFile(td / "src/data.bin", content);
             return RunTool({"tar", "-czf", archive, "-C", td / "src", "data.bin"}).exitCode == 0;
         }},
    };
}

int32_t Extract(const LoadedModule& m, const std::string& archive, const std::string& dest, std::string* log = nullptr) {
    return m.run(nullptr, "x -o \"" + archive + "\" \"" + dest + "/\"", log);
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> out;
    if (fs::exists(folder))
        for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename());
    return out;
}

}  // namespace

// Every format and method the tests can make: the untouched archive extracts byte for byte; with one
// data byte flipped, extraction, the test command and the full check all fail and nothing is left.
TEST(Integrity, OneFlippedDataByteFailsInEveryFormatAndMethod) {
    const std::string content = RandomBytes(200000, 7);
    for (const Sample& s : Samples()) {
        SCOPED_TRACE(s.label);
        LoadedModule m(s.module.dll, s.module.prefix);
        if (!m.ok()) continue;
        TempDir td;
        const std::string archive = td / ("a" + s.ext);
        std::string why;
        if (!s.build(td, archive, content, why)) {
            ASSERT_FALSE(why.empty()) << "could not build the archive";
            continue;
        }
        ASSERT_EQ(Extract(m, archive, td / "good"), 0);
        ASSERT_EQ(ReadFile(td / "good/data.bin"), content);

        std::string bytes = ReadFile(archive);
        bytes[bytes.size() / 2] ^= 0x20;
        WriteFile(archive, bytes);
        std::string log;
        EXPECT_GE(Extract(m, archive, td / "bad", &log), ARC_ERROR_FIRST) << log;
        EXPECT_TRUE(Names(td / "bad").empty()) << ::testing::PrintToString(Names(td / "bad"));
        EXPECT_GE(m.run(nullptr, "t \"" + archive + "\""), ARC_ERROR_FIRST);
        EXPECT_EQ(m.checkArchive(archive.c_str(), ARC_CHECKARCHIVE_FULLCRC), 0);
    }
}

// Real RAR archives (compressed, RAR 4 and 5) with a flipped byte in their data.
TEST(Integrity, FlippedByteInRealRarArchivesFails) {
    const std::string corpus = RarCorpus();
    if (corpus.empty()) GTEST_SKIP() << "the RAR corpus is not beside the checkout";
    LoadedModule rar(kRar.dll, kRar.prefix);
    if (!rar.ok()) GTEST_SKIP();
    for (const char* name : {"rar_compress_normal.rar", "rar_compress_best.rar", "rar_filter.rar", "rar5_compressed.rar"}) {
        SCOPED_TRACE(name);
        TempDir td;
        std::string bytes = ReadFile(corpus + "/" + name);
        ASSERT_EQ(Extract(rar, corpus + "/" + name, td / "good"), 0);
        bytes[bytes.size() * 2 / 3] ^= 0x01;
        WriteFile(td / "x.rar", bytes);
        EXPECT_GE(Extract(rar, td / "x.rar", td / "bad"), ARC_ERROR_FIRST);
    }
}

// Every byte of a real RAR 5 entry's header tail and data flipped in turn: each fails as damage, never
// as a method we lack (libarchive calls a damaged block header "unsupported"), or lands the very
// bytes (a flip in bits the decoder never reads).
TEST(Integrity, FlippedRar5DataNeverReadsAsAnUnsupportedMethod) {
    const std::string corpus = RarCorpus();
    if (corpus.empty()) GTEST_SKIP() << "the RAR corpus is not beside the checkout";
    LoadedModule rar(kRar.dll, kRar.prefix);
    if (!rar.ok()) GTEST_SKIP();
    TempDir td;
    ASSERT_EQ(Extract(rar, corpus + "/rar5_compressed.rar", td / "good"), 0);
    const std::string good = ReadFile(td / "good/test.bin");
    const std::string bytes = ReadFile(corpus + "/rar5_compressed.rar");
    for (std::size_t at = bytes.find("test.bin") + 8; at + 8 < bytes.size(); ++at) {  // not the end header
        std::string bad = bytes;
        bad[at] ^= 0x01;
        WriteFile(td / "x.rar", bad);
        std::string log;
        const std::string out = td / ("out" + std::to_string(at));
        const int32_t code = Extract(rar, td / "x.rar", out, &log);
        if (code == 0) {
            EXPECT_EQ(ReadFile(out + "/test.bin"), good) << at;
        } else {
            EXPECT_GE(code, ARC_ERROR_FIRST) << at;
            EXPECT_NE(code, ARC_METHOD) << at << "\n" << log;
        }
    }
}

// Real RAR archives cut short: libarchive takes a cut between two headers (or inside one) for the
// archive's end, so the entries behind it must not vanish from a call that succeeds. RAR 5 is cut
// everywhere (every volume closes with an end header); RAR 4, whose oldest writers left the end
// block out, inside each of its blocks.
TEST(Integrity, RealRarArchivesCutShortFail) {
    const std::string corpus = RarCorpus();
    if (corpus.empty()) GTEST_SKIP() << "the RAR corpus is not beside the checkout";
    LoadedModule rar(kRar.dll, kRar.prefix);
    if (!rar.ok()) GTEST_SKIP();
    TempDir td;
    auto expectFailure = [&](const std::string& bytes, std::size_t cut) {
        WriteFile(td / "x.rar", bytes.substr(0, cut));
        std::string log;
        EXPECT_GE(Extract(rar, td / "x.rar", td / ("out" + std::to_string(cut)), &log), ARC_ERROR_FIRST)
            << "cut at " << cut << "\n" << log;
    };
    for (const char* name : {"rar5_compressed.rar", "rar5_solid.rar"}) {
        SCOPED_TRACE(name);
        const std::string bytes = ReadFile(corpus + "/" + name);
        for (std::size_t cut = 1; cut < bytes.size(); cut += 3) expectFailure(bytes, cut);
    }
    const std::string bytes = ReadFile(corpus + "/rar_compress_normal.rar");
    for (std::size_t at = 7; at + 7 <= bytes.size();) {  // each block: 7 bytes, its header, its data
        const std::size_t size = static_cast<unsigned char>(bytes[at + 5]) | static_cast<unsigned char>(bytes[at + 6]) << 8;
        const bool data = bytes[at + 2] == 0x74 || (bytes[at + 4] & 0x80);
        const std::size_t end = at + size + (data ? Le32(bytes, at + 7) : 0);
        for (const std::size_t cut : {at + 3, at + size - 1, (at + size + end) / 2})
            if (cut > at && cut < end) expectFailure(bytes, cut);
        at = end;
    }
}

// Real RAR archives with encrypted entries, which libarchive cannot decrypt: those entries fail as
// encrypted, in Japanese, whatever libarchive's decoder made of the noise (RAR 5 data used to fail as
// an unsupported method), and none of them lands.
TEST(Integrity, EncryptedEntriesOfRealRarArchivesFailAsEncrypted) {
    const std::string corpus = RarCorpus();
    if (corpus.empty()) GTEST_SKIP() << "the RAR corpus is not beside the checkout";
    LoadedModule rar(kRar.dll, kRar.prefix);
    if (!rar.ok()) GTEST_SKIP();
    const struct {
        const char* archive;
        std::vector<std::string> encrypted;
    } cases[] = {{"rar_encryption_data.rar", {"foo.txt", "bar.txt"}}, {"rar5_encrypted.rar", {"b.txt", "d.txt"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.archive);
        TempDir td;
        std::string log;
        EXPECT_EQ(Extract(rar, corpus + "/" + c.archive, td / "out", &log), ARC_PASSWORD_FILE);
        // libarchive reads no further than the first of them.
        EXPECT_NE(log.find("展開できません: " + c.encrypted[0] + " (暗号化された項目は展開できません"), std::string::npos) << log;
        for (const std::string& name : c.encrypted) EXPECT_FALSE(fs::exists(td / ("out/" + name))) << name;
    }
}

// A stored RAR 4 entry split over volumes is checked against the whole file's CRC, which only the
// last part's header holds.
TEST(Integrity, SplitStoredRarIsCheckedAsAWhole) {
    LoadedModule rar(kRar.dll, kRar.prefix);
    if (!rar.ok()) GTEST_SKIP();
    const std::string content = RandomBytes(50000, 3);
    for (bool flip : {false, true}) {
        TempDir td;
        auto volumes = BuildRar4({{"data.bin", content}}, 20000);
        ASSERT_GE(volumes.size(), 3u);
        if (flip) volumes[1][volumes[1].size() / 2] ^= 0x10;
        for (std::size_t i = 0; i < volumes.size(); ++i)
            WriteFile(td / ("s.part" + std::to_string(i + 1) + ".rar"), volumes[i]);
        const int32_t code = Extract(rar, td / "s.part1.rar", td / "out");
        if (flip) {
            EXPECT_GE(code, ARC_ERROR_FIRST);
            EXPECT_TRUE(Names(td / "out").empty());
        } else {
            EXPECT_EQ(code, 0);
            EXPECT_EQ(ReadFile(td / "out/data.bin"), content);
        }
    }
}

// End to end: a damaged archive fails with the failure line and "-d" keeps it.
TEST(Integrity, FlippedByteKeepsTheArchiveUnderDelete) {
    if (!HaveTool("python3")) GTEST_SKIP();
    TempDir td;
    WriteFile(td / "empty.ini", "");
    fs::create_directories(td / "log");
    fs::create_directories(td / "arc");
    const std::string content = RandomBytes(100000, 9);
    struct Case {
        const char* dll;
        std::string archive;
    } cases[] = {{"UNZIP32.DLL", td / "arc/z.zip"}, {"UNRAR32.DLL", td / "arc/r.rar"}, {"UNLHA32.DLL", td / "arc/l.lzh"}};
    WriteFile(td / "src/data.bin", content);
    ASSERT_TRUE(PythonZip(cases[0].archive, td / "src/data.bin", "ZIP_DEFLATED"));
    WriteFile(cases[1].archive, BuildRar4({{"data.bin", content}})[0]);
    WriteFile(cases[2].archive, EncodeOneEntry("data.bin", content, norvex::lzh::LzhMethod::Lh5));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive);
        if (!HaveModule(c.dll)) continue;
        std::string bytes = ReadFile(c.archive);
        bytes[bytes.size() / 2] ^= 0x04;
        WriteFile(c.archive, bytes);
        const CliRun run = RunCli({"--ini", td / "empty.ini", "--to", td / "out", "--answer", "yes", "-d", c.archive},
                                  td.path(), td / "log");
        EXPECT_EQ(run.exitCode, 1) << ::testing::PrintToString(run.lines);
        EXPECT_GE(CountLogContaining(run, "> [ 解凍失敗 ]"), 1) << ::testing::PrintToString(run.lines);
        EXPECT_TRUE(fs::exists(c.archive));
    }
}

// Size fields that claim far more than the archive holds: each fails at once, writes nothing and
// never pads the entry with zeros.
TEST(Integrity, ClaimedSizesBeyondTheRealDataFailAtOnce) {
    const std::string content(150, 'x');
    struct Case {
        std::string label;
        Module module;
        std::string ext;
        std::function<bool(const TempDir&, const std::string& archive)> build;
    };
    const std::vector<Case> cases = {
        {"zip stored, 4 GiB claimed", kZip, ".zip",
         [&](const TempDir& td, const std::string& archive) {
             WriteFile(td / "src/data.bin", content);
             if (!PythonZip(archive, td / "src/data.bin", "ZIP_STORED")) return false;
             std::string b = ReadFile(archive);
             Put32(b, 22, 0xFFFFFFF0u);  // local header: uncompressed size
             const std::size_t central = b.find("PK\x01\x02");
             Put32(b, central + 24, 0xFFFFFFF0u);
             WriteFile(archive, b);
             return true;
         }},
        {"rar4 stored, 4 GiB claimed", kRar, ".rar",
         [&](const TempDir&, const std::string& archive) {
             std::string b = BuildRar4({{"data.bin", content}})[0];
             const std::size_t file = b.find("data.bin") - 32;  // the file header
             Put32(b, file + 11, 0xFFFFFFF0u);
             const uint16_t size = static_cast<unsigned char>(b[file + 5]) | static_cast<unsigned char>(b[file + 6]) << 8;
             const uint32_t crc = norvex::modules::Crc32(0, b.data() + file + 2, size - 2u);
             b[file] = static_cast<char>(crc & 0xFF);
             b[file + 1] = static_cast<char>((crc >> 8) & 0xFF);
             WriteFile(archive, b);
             return true;
         }},
        {"lzh lh0, 4 GiB claimed", kLha, ".lzh",
         [&](const TempDir&, const std::string& archive) {
             std::string b = BuildHandArchive({{"data.bin", content}});
             Put32(b, 11, 0xFFFFFFF0u);  // level 0: original size
             unsigned sum = 0;
             const std::size_t headerSize = static_cast<unsigned char>(b[0]);
             for (std::size_t i = 2; i < headerSize + 2; ++i) sum += static_cast<unsigned char>(b[i]);
             b[1] = static_cast<char>(sum & 0xFF);
             WriteFile(archive, b);
             return true;
         }},
        {"tar, 2^50 bytes claimed", kTar, ".tar",
         [&](const TempDir&, const std::string& archive) {
             return RunPython("import sys, tarfile\n"
                              "t = tarfile.TarInfo('data.bin'); t.size = 2**50\n"
                              "open(sys.argv[1], 'wb').write(t.tobuf(tarfile.GNU_FORMAT) + b'x' * 150)\n",
                              {archive});
         }},
        {"cab, 4 GiB claimed", kCab, ".cab",
         [&](const TempDir& td, const std::string& archive) {
             WriteFile(td / "src/data.bin", content);
             if (!HaveTool("gcab") || !Gcab(archive, td / "src", false)) return false;
             std::string b = ReadFile(archive);
             Put32(b, Le32(b, 16), 0xFFFFFFF0u);  // the first CFFILE's size
             WriteFile(archive, b);
             return true;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        LoadedModule m(c.module.dll, c.module.prefix);
        if (!m.ok()) continue;
        TempDir td;
        const std::string archive = td / ("a" + c.ext);
        if (!c.build(td, archive)) continue;
        ASSERT_LT(fs::file_size(archive), 4096u);
        const auto start = std::chrono::steady_clock::now();
        std::string log;
        EXPECT_GE(Extract(m, archive, td / "out", &log), ARC_ERROR_FIRST) << log;
        EXPECT_GE(m.run(nullptr, "t \"" + archive + "\""), ARC_ERROR_FIRST);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_TRUE(Names(td / "out").empty()) << ::testing::PrintToString(Names(td / "out"));
    }
}

// An entry whose compression method no decoder knows is an unsupported method (ARC_METHOD), not
// damaged data, in every format whose method field the tests can set.
TEST(Integrity, UnknownMethodsAreReportedAsUnsupported) {
    struct Case {
        std::string label;
        Module module;
        std::string ext;
        std::function<bool(const TempDir&, const std::string& archive)> build;
    };
    const std::string content = "some text that would be compressed by a known method";
    const std::vector<Case> cases = {
        {"zip method 77", kZip, ".zip",
         [&](const TempDir& td, const std::string& archive) {
             WriteFile(td / "src/data.bin", content);
             if (!PythonZip(archive, td / "src/data.bin", "ZIP_STORED")) return false;
             std::string b = ReadFile(archive);
             b[8] = 77;  // local header: method
             b[b.find("PK\x01\x02") + 10] = 77;
             WriteFile(archive, b);
             return true;
         }},
        {"rar4 method 0x3A", kRar, ".rar",
         [&](const TempDir&, const std::string& archive) {
             std::string b = BuildRar4({{"data.bin", content}})[0];
             const std::size_t file = b.find("data.bin") - 32;
             b[file + 25] = 0x3A;
             const uint16_t size = static_cast<unsigned char>(b[file + 5]) | static_cast<unsigned char>(b[file + 6]) << 8;
             const uint32_t crc = norvex::modules::Crc32(0, b.data() + file + 2, size - 2u);
             b[file] = static_cast<char>(crc & 0xFF);
             b[file + 1] = static_cast<char>((crc >> 8) & 0xFF);
             WriteFile(archive, b);
             return true;
         }},
        {"cab type 15", kCab, ".cab",
         [&](const TempDir& td, const std::string& archive) {
             WriteFile(td / "src/data.bin", content);
             if (!HaveTool("gcab") || !Gcab(archive, td / "src", false)) return false;
             std::string b = ReadFile(archive);
             b[36 + 6] = 0x0F;  // the first folder's compression type
             WriteFile(archive, b);
             return true;
         }},
        {"lzh -lhq-", kLha, ".lzh",
         [&](const TempDir&, const std::string& archive) {
             std::string b = BuildHandArchive({{"data.bin", content}});
             b[5] = 'q';  // "-lh0-" becomes "-lhq-"
             unsigned sum = 0;
             for (std::size_t i = 2; i < static_cast<unsigned char>(b[0]) + 2u; ++i) sum += static_cast<unsigned char>(b[i]);
             b[1] = static_cast<char>(sum & 0xFF);
             WriteFile(archive, b);
             return true;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        LoadedModule m(c.module.dll, c.module.prefix);
        if (!m.ok()) continue;
        TempDir td;
        const std::string archive = td / ("a" + c.ext);
        if (!c.build(td, archive)) continue;
        std::string log;
        EXPECT_EQ(Extract(m, archive, td / "out", &log), ARC_METHOD) << log;
        EXPECT_EQ(m.run(nullptr, "t \"" + archive + "\""), ARC_METHOD);
        EXPECT_TRUE(Names(td / "out").empty());
    }
}
