// Our LZH writer against independent readers: lhasa and bsdtar must read back exactly what went in.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <numeric>

#include "modules/lzh/LzhArchiveWriter.h"
#include "modules/lzh/LzhCrc16.h"
#include "modules/lzh/LzhHeader.h"
#include "modules/lzh/LzhHuffman.h"
#include "platform/AnsiCodec.h"
#include "tests/modules/LhaTestSupport.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

namespace norvex::test {
namespace {

using lzh::LzhMethod;

bool HaveReaders() { return HaveTool("lhasa") && HaveTool("bsdtar"); }

// bsdtar reads cp932 names only when told, and writes them as UTF-8 in a UTF-8 locale.
ToolResult BsdtarExtract(const std::string& archive, const std::string& into) {
    return RunTool({"env", "LC_ALL=C.UTF-8", "bsdtar", "--options", "hdrcharset=CP932", "-xf", archive}, into);
}

TEST(LzhHuffman, SkewedFrequenciesStayWithinSixteenBitsAndComplete) {
    // Fibonacci frequencies make an unlimited Huffman code about as deep as there are symbols.
    std::vector<uint32_t> freq(40);
    freq[0] = freq[1] = 1;
    for (std::size_t i = 2; i < freq.size(); ++i) freq[i] = freq[i - 1] + freq[i - 2];
    freq.push_back(0);  // an unused symbol keeps length 0
    std::vector<uint8_t> len(freq.size());
    EXPECT_EQ(lzh::MakeCodeLengths(freq, len), 40);
    uint64_t kraft = 0;
    for (std::size_t i = 0; i < len.size(); ++i) {
        if (freq[i] == 0) {
            EXPECT_EQ(len[i], 0);
            continue;
        }
        ASSERT_GE(len[i], 1);
        ASSERT_LE(len[i], lzh::kMaxCodeLength);
        kraft += uint64_t{1} << (lzh::kMaxCodeLength - len[i]);
    }
    EXPECT_EQ(kraft, uint64_t{1} << lzh::kMaxCodeLength);
    // More frequent symbols never get longer codes.
    for (std::size_t i = 1; i < 40; ++i) EXPECT_LE(len[i], len[i - 1]);

    std::vector<uint16_t> codes(len.size());
    lzh::MakeCanonicalCodes(len, codes);
    for (std::size_t a = 0; a < 40; ++a)
        for (std::size_t b = 0; b < 40; ++b) {
            if (a == b || len[a] > len[b]) continue;
            // No code is a prefix of another.
            EXPECT_NE(codes[b] >> (len[b] - len[a]), codes[a]) << a << " " << b;
        }
}

// The table-driven CRC agrees with the bit-by-bit definition at every length and alignment, and
// when continued over pieces split anywhere; "123456789" gives the standard check value.
TEST(LzhCrc16, MatchesBitwiseDefinition) {
    auto bitwise = [](uint16_t crc, const std::string& s) {
        for (const unsigned char c : s) {
            crc ^= c;
            for (int k = 0; k < 8; ++k) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
        }
        return crc;
    };
    EXPECT_EQ(lzh::Crc16(0, "123456789", 9), 0xBB3D);
    const std::string data = RandomBytes(400, 5);
    for (std::size_t start = 0; start < 8; ++start)
        for (std::size_t len = 0; start + len <= data.size(); len += 3) {
            const std::string piece = data.substr(start, len);
            const uint16_t want = bitwise(0, piece);
            ASSERT_EQ(lzh::Crc16(0, piece.data(), piece.size()), want) << start << " " << len;
            const std::size_t cut = len / 3;
            ASSERT_EQ(lzh::Crc16(lzh::Crc16(0, piece.data(), cut), piece.data() + cut, len - cut), want);
        }
}

struct Sample {
    const char* name;
    std::string data;
};

std::vector<Sample> Samples() {
    std::string runs;
    for (int i = 0; i < 300; ++i) runs += std::string(static_cast<std::size_t>(i % 7 + 1) * 97, static_cast<char>('a' + i % 3));
    return {
        {"empty", ""},
        {"one", "Z"},
        {"two", "ab"},
        {"repetitive", std::string(200000, 'x')},
        {"runs", runs},
        {"random", RandomBytes(70000)},
        {"text", TextLike(300000)},
        {"mixed", TextLike(90000, 7) + RandomBytes(30000, 9) + std::string(50000, '\0') + TextLike(90000, 7)},
    };
}

// Every sample, coded (never stored) in every method and fed in awkward chunk sizes, decodes to
// itself in lhasa and (for the methods it knows) in bsdtar.
TEST(LzhEncoder, RoundTripsThroughLhasaAndBsdtar) {
    if (!HaveReaders()) GTEST_SKIP() << "lhasa or bsdtar missing";
    TempDir dir;
    const std::pair<LzhMethod, std::size_t> cases[] = {
        {LzhMethod::Lh5, 65536}, {LzhMethod::Lh5, 1}, {LzhMethod::Lh5, 4093},
        {LzhMethod::Lh6, 77777}, {LzhMethod::Lh7, 65536}, {LzhMethod::Lh4, 9999}};
    for (const auto& [method, chunk] : cases) {
        for (const Sample& s : Samples()) {
            if (chunk == 1 && s.data.size() > 100000) continue;  // byte-by-byte feeding is slow to run
            SCOPED_TRACE(std::string(lzh::MethodName(method)) + " " + s.name + " chunk " + std::to_string(chunk));
            const std::string archive = dir / "a.lzh";
            WriteFile(archive, EncodeOneEntry(s.name, s.data, method, chunk));
            const std::string out = dir / "out";
            std::filesystem::remove_all(out);
            std::filesystem::create_directories(out + "/lhasa");
            std::filesystem::create_directories(out + "/bsdtar");
            ToolResult r = RunTool({"lhasa", "xq", archive}, out + "/lhasa");
            ASSERT_EQ(r.exitCode, 0) << r.output;
            EXPECT_TRUE(ReadFile(out + "/lhasa/" + s.name) == s.data);
            if (method == LzhMethod::Lh4) continue;  // libarchive reads -lh5- to -lh7- only
            r = BsdtarExtract(archive, out + "/bsdtar");
            ASSERT_EQ(r.exitCode, 0) << r.output;
            EXPECT_TRUE(ReadFile(out + "/bsdtar/" + s.name) == s.data);
        }
    }
}

TEST(LzhEncoder, CompressesRedundantData) {
    const std::string text = TextLike(200000);
    const std::string archive = EncodeOneEntry("t", text, LzhMethod::Lh5);
    EXPECT_LT(archive.size(), text.size() / 2);
    EXPECT_LT(EncodeOneEntry("z", std::string(1 << 20, '\0'), LzhMethod::Lh5).size(), 8000u);
}

// A tree with cp932 names whose trail byte is 0x5C ("ソ", "表", "能"), nested and empty folders and
// an incompressible file (stored) comes back identical from both readers, names included.
TEST(LzhArchiveWriter, TreeWithCp932NamesReadsBackInBothTools) {
    if (!HaveReaders()) GTEST_SKIP() << "lhasa or bsdtar missing";
    TempDir dir;
    const std::string src = dir / "src";
    WriteFile(src + "/ソ.txt", "so\n");
    WriteFile(src + "/表/ソース/能力.dat", TextLike(100000));
    WriteFile(src + "/表/random.bin", RandomBytes(5000));
    WriteFile(src + "/plain/empty.txt", "");
    std::filesystem::create_directories(src + "/空/中");
    chmod((src + "/ソ.txt").c_str(), 0600);
    const std::string archive = dir / "tree.lzh";
    ASSERT_TRUE(WriteLzhTree(src, archive, LzhMethod::Lh5));
    const auto expected = SnapshotTree(src);

    const std::string viaBsdtar = dir / "bsdtar";
    std::filesystem::create_directories(viaBsdtar);
    ToolResult r = BsdtarExtract(archive, viaBsdtar);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(SnapshotTree(viaBsdtar), expected);
    struct stat st {};
    ASSERT_EQ(stat((viaBsdtar + "/ソ.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // lhasa writes the names' bytes as they are: cp932.
    const std::string viaLhasa = dir / "lhasa";
    std::filesystem::create_directories(viaLhasa);
    r = RunTool({"lhasa", "xq", archive}, viaLhasa);
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::map<std::string, std::string> expectedCp932;
    for (const auto& [name, content] : expected) expectedCp932[Sjis(name)] = content;
    EXPECT_EQ(SnapshotTree(viaLhasa), expectedCp932);

    // The incompressible file went in stored, the text coded.
    const int fd = open(archive.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    std::map<AnsiString, std::string> methods;
    uint64_t offset = 0;
    for (lzh::LzhEntryHeader h; lzh::ReadHeader(fd, offset, std::filesystem::file_size(archive), h) ==
                                lzh::HeaderStatus::Ok;
         offset = h.nextOffset())
        methods[h.path] = h.method;
    close(fd);
    EXPECT_EQ(methods[Sjis("表\\random.bin")], "-lh0-");
    EXPECT_EQ(methods[Sjis("表\\ソース\\能力.dat")], "-lh5-");
    EXPECT_EQ(methods[Sjis("空\\中")], "-lhd-");
}

}  // namespace
}  // namespace norvex::test
