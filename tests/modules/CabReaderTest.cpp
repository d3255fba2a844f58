// The CAB module's own reader of stored and MSZIP cabinets: cabinets from gcab compared with bsdtar's
// extraction, and cabinets built here (MSZIP blocks with zlib) whose blocks, ranges or tables lie. A
// broken file never leaves a file behind and never stops its sound neighbours.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <zlib.h>

#include "platform/AnsiCodec.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;
using namespace norvex::literals;

namespace {

std::string Q(const std::string& s) { return "\"" + s + "\""; }

void Put16(std::string& b, std::size_t at, uint32_t v) {
    b[at] = static_cast<char>(v);
    b[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string& b, std::size_t at, uint32_t v) {
    Put16(b, at, v);
    Put16(b, at + 2, v >> 16);
}

uint32_t Checksum(const std::string& d, uint32_t seed) {
    uint32_t sum = seed;
    std::size_t i = 0;
    for (; i + 4 <= d.size(); i += 4)
        sum ^= static_cast<uint8_t>(d[i]) | static_cast<uint8_t>(d[i + 1]) << 8 | static_cast<uint8_t>(d[i + 2]) << 16 |
               static_cast<uint32_t>(static_cast<uint8_t>(d[i + 3])) << 24;
    uint32_t last = 0;
    for (; i < d.size(); ++i) last = last << 8 | static_cast<uint8_t>(d[i]);
    return sum ^ last;
}

// A cabinet made here: folders of whole files (stored or MSZIP), files in the order given.
struct CabSpec {
    struct File {
        std::string name;  // as stored (cp932 or UTF-8 bytes)
        std::string data;
        uint16_t folder = 0;
        uint16_t attributes = 0x20;
        int64_t offset = -1, size = -1;  // the table's range; -1: where the data went
        bool inFolder = true;            // false: only listed (shares the range given)
    };
    std::vector<uint16_t> folders{1};    // compression per folder
    std::vector<File> files;
    bool checksums = true;
    // Changes a block before its checksum is taken: (folder, block, data, uncompressed size).
    std::function<void(int, int, std::string&, uint16_t&)> tamper;
    int fileCountDelta = 0;              // a file count that lies
    int flipBlock = -1;                  // a block of folder 0 with a byte flipped after its checksum
    uint16_t headerReserve = 0;          // reserved bytes behind the header (a signature's room)
    uint8_t folderReserve = 0;           // reserved bytes behind each folder record
};

std::string BuildCab(const CabSpec& spec) {
    std::vector<std::string> decoded(spec.folders.size());
    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    for (const auto& f : spec.files) {
        std::string& d = decoded[f.folder];
        uint32_t at = f.offset >= 0 ? static_cast<uint32_t>(f.offset) : static_cast<uint32_t>(d.size());
        uint32_t size = f.size >= 0 ? static_cast<uint32_t>(f.size) : static_cast<uint32_t>(f.data.size());
        if (f.inFolder) d += f.data;
        ranges.push_back({at, size});
    }
    std::string table;
    for (std::size_t i = 0; i < spec.files.size(); ++i) {
        std::string rec(16, '\0');
        Put32(rec, 0, ranges[i].second);
        Put32(rec, 4, ranges[i].first);
        Put16(rec, 8, spec.files[i].folder);
        Put16(rec, 10, (40 << 9) | (5 << 5) | 17);
        Put16(rec, 12, (13 << 11) | (45 << 5) | 15);
        Put16(rec, 14, spec.files[i].attributes);
        table += rec + spec.files[i].name + '\0';
    }
    const bool reserve = spec.headerReserve || spec.folderReserve;
    const std::size_t headerSize = 36 + (reserve ? 4 + spec.headerReserve : 0);
    const std::size_t filesOffset = headerSize + (8 + spec.folderReserve) * spec.folders.size();
    std::string data, folderTable;
    for (std::size_t f = 0; f < spec.folders.size(); ++f) {
        const std::string& d = decoded[f];
        std::string rec(8, '\0');
        Put32(rec, 0, static_cast<uint32_t>(filesOffset + table.size() + data.size()));
        int blocks = 0;
        for (std::size_t at = 0; at < d.size() || (d.empty() && blocks == 0); at += 32768, ++blocks) {
            std::string plain = d.substr(at, 32768), stored;
            uint16_t uncompressed = static_cast<uint16_t>(plain.size());
            if (spec.folders[f] == 0) {
                stored = plain;
            } else {
                z_stream z{};
                deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
                std::size_t from = at > 32768 ? at - 32768 : 0;
                if (at > 0) deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(d.data() + from), static_cast<uInt>(at - from));
                std::string out(compressBound(plain.size()) + 16, '\0');
                z.next_in = reinterpret_cast<Bytef*>(plain.data());
                z.avail_in = static_cast<uInt>(plain.size());
                z.next_out = reinterpret_cast<Bytef*>(out.data());
                z.avail_out = static_cast<uInt>(out.size());
                deflate(&z, Z_FINISH);
                out.resize(z.total_out);
                deflateEnd(&z);
                stored = "CK" + out;
            }
            if (spec.tamper) spec.tamper(static_cast<int>(f), blocks, stored, uncompressed);
            std::string header(8, '\0');
            Put16(header, 4, static_cast<uint32_t>(stored.size()));
            Put16(header, 6, uncompressed);
            if (spec.checksums) Put32(header, 0, Checksum(header.substr(4, 4), Checksum(stored, 0)));
            if (f == 0 && blocks == spec.flipBlock) stored[stored.size() / 2] ^= 0x10;
            data += header + stored;
        }
        Put16(rec, 4, static_cast<uint32_t>(blocks));
        Put16(rec, 6, spec.folders[f]);
        folderTable += rec + std::string(spec.folderReserve, '\x5A');
    }
    std::string header(headerSize, '\0');
    header.replace(0, 4, "MSCF");
    Put32(header, 8, static_cast<uint32_t>(headerSize + folderTable.size() + table.size() + data.size()));
    Put32(header, 16, static_cast<uint32_t>(filesOffset));
    header[24] = 3;
    header[25] = 1;
    Put16(header, 26, static_cast<uint32_t>(spec.folders.size()));
    Put16(header, 28, static_cast<uint32_t>(static_cast<int>(spec.files.size()) + spec.fileCountDelta));
    if (reserve) {
        Put16(header, 30, 0x0004);
        Put16(header, 36, spec.headerReserve);
        header[38] = static_cast<char>(spec.folderReserve);
        for (std::size_t i = 40; i < header.size(); ++i) header[i] = '\xA5';
    }
    return header + folderTable + table + data;
}

// The names of a snapshot, for a failure's message (contents would fill the screen).
std::string Names(const std::map<std::string, std::string>& tree) {
    std::string s;
    for (const auto& [name, content] : tree) s += name + " (" + std::to_string(content.size()) + ") ";
    return s;
}

struct CabFixture : ::testing::Test {
    LoadedModule cab{"CAB32.DLL", "Cab"};
    TempDir dir;

    void SetUp() override {
        if (!cab.ok()) GTEST_SKIP() << "cab32.so is not built";
    }
    // Extracts the cabinet bytes into a fresh out/; the module's result, its output in log.
    int32_t extract(const std::string& bytes, std::string* log = nullptr) {
        WriteFile(dir / "t.cab", bytes);
        std::filesystem::remove_all(dir / "out");
        TestWindow window;
        return cab.run(&window, "-x -i " + Q(dir / "t.cab") + " " + Q(dir / "out/"), log);
    }
    std::map<std::string, std::string> out() { return SnapshotTree(dir / "out"); }
};

using CabReader = CabFixture;

}  // namespace

TEST_F(CabReader, GcabCabinetsMatchSourceAndBsdtar) {
    if (!HaveTool("gcab") || !HaveTool("bsdtar")) GTEST_SKIP();
    WriteFile(dir / "src/text.txt", WordText(300000, 1));
    WriteFile(dir / "src/random.bin", RandomBytes(70000, 2));
    WriteFile(dir / "src/empty", "");
    WriteFile(dir / "src/フォルダ/表示.txt", WordText(40000, 3));
    WriteFile(dir / "src/tail.txt", WordText(5, 4));
    for (bool compress : {false, true}) {
        SCOPED_TRACE(compress);
        std::vector<std::string> argv{"gcab", "-c"};
        if (compress) argv.push_back("-z");
        argv.insert(argv.end(), {dir / "g.cab", "text.txt", "random.bin", "empty", "フォルダ/表示.txt", "tail.txt"});
        ASSERT_EQ(RunTool(argv, dir / "src").exitCode, 0);
        std::string log;
        ASSERT_EQ(extract(ReadFile(dir / "g.cab"), &log), 0) << log;
        std::filesystem::remove_all(dir / "bsd");
        std::filesystem::create_directories(dir / "bsd");
        ASSERT_EQ(RunTool({"env", "LC_ALL=C.UTF-8", "bsdtar", "-xf", dir / "g.cab", "-C", dir / "bsd"}).exitCode, 0);
        EXPECT_TRUE(out() == SnapshotTree(dir / "src")) << Names(out());
        EXPECT_TRUE(out() == SnapshotTree(dir / "bsd")) << Names(SnapshotTree(dir / "bsd"));
        // The same cabinet behind a self-extracting stub.
        ASSERT_EQ(extract("MZ" + RandomBytes(40000, 16) + ReadFile(dir / "g.cab"), &log), 0) << log;
        EXPECT_TRUE(out() == SnapshotTree(dir / "src")) << Names(out());
    }
}

TEST_F(CabReader, FoldersSharedRangesAndStubs) {
    CabSpec spec;
    spec.folders = {1, 0, 1};
    const std::string a = WordText(100000, 5), b = RandomBytes(50000, 6), c = WordText(70000, 7);
    spec.files = {{"a.txt", a}, {"b.bin", b, 1}, {"c.txt", c, 2}, {"empty", "", 2}};
    // Listed again: the same range as a (behind the decoder by then), a range inside c, and c's
    // first half listed after its end.
    spec.files.push_back({"again.txt", a, 0, 0x20, 0, static_cast<int64_t>(a.size()), false});
    spec.files.push_back({"inner.txt", c.substr(1000, 40000), 2, 0x20, 1000, 40000, false});
    spec.files.push_back({"half.txt", c.substr(0, 35000), 2, 0x20, 0, 35000, false});
    const std::string bytes = BuildCab(spec);
    std::map<std::string, std::string> expected;
    for (const auto& f : spec.files) expected[f.name] = "f:" + f.data;
    std::string log;
    ASSERT_EQ(extract(bytes, &log), 0) << log;
    EXPECT_TRUE(out() == expected) << Names(out());
    // Behind a self-extracting stub (which holds a stray signature of its own).
    std::string stub = "MZ" + RandomBytes(70000, 8) + std::string("MSCF\0\0\0\0", 8) + RandomBytes(100, 9);
    ASSERT_EQ(extract(stub + bytes, &log), 0) << log;
    EXPECT_TRUE(out() == expected) << Names(out());
    // Without checksums the data is taken as it is; reserved areas in the header and the folder
    // records (a signed cabinet's) are stepped over.
    spec.checksums = false;
    spec.headerReserve = 300;
    spec.folderReserve = 7;
    ASSERT_EQ(extract(BuildCab(spec), &log), 0) << log;
    EXPECT_TRUE(out() == expected) << Names(out());
}

TEST_F(CabReader, Cp932AndUtf8FlaggedNamesByteForByte) {
    CabSpec spec;
    spec.files = {{Sjis("日本語\\ソ表.txt"), "sjis"}, {"ｕｔｆ８\\名前.txt", "utf8", 0, 0xA0},
                  {Sjis("ポ\\表\\x.txt"), "x", 0, 0x21}};
    std::string log;
    ASSERT_EQ(extract(BuildCab(spec), &log), 0) << log;
    EXPECT_EQ(out(), (std::map<std::string, std::string>{{"日本語", "d"}, {"日本語/ソ表.txt", "f:sjis"},
                                                         {"ｕｔｆ８", "d"}, {"ｕｔｆ８/名前.txt", "f:utf8"},
                                                         {"ポ", "d"}, {"ポ/表", "d"}, {"ポ/表/x.txt", "f:x"}}));
    EXPECT_EQ(ListAll(cab, dir / "t.cab"),
              (std::vector<std::string>{"日本語/ソ表.txt", "ｕｔｆ８/名前.txt", "ポ/表/x.txt"}));
    // The read-only attribute: r-x as before.
    EXPECT_EQ(std::filesystem::status(dir / "out/ポ/表/x.txt").permissions() & std::filesystem::perms::owner_write,
              std::filesystem::perms::none);
}

TEST_F(CabReader, BrokenBlocksFailTheirFilesOnly) {
    const std::string first = WordText(20000, 10), second = WordText(200000, 11), third = RandomBytes(1000, 12);
    struct Case {
        const char* what;
        std::function<void(int, int, std::string&, uint16_t&)> tamper;
        int flip = -1;
    } cases[] = {
        {"flipped byte", [](int, int, std::string&, uint16_t&) {}, 2},
        {"more bytes claimed", [](int, int block, std::string&, uint16_t& u) { if (block == 2) u += 100; }},
        {"fewer bytes claimed", [](int, int block, std::string&, uint16_t& u) { if (block == 2) u -= 100; }},
        {"no signature", [](int, int block, std::string& d, uint16_t&) { if (block == 2) d[1] = 'X'; }},
        {"cut block", [](int, int block, std::string& d, uint16_t&) { if (block == 2) d.resize(d.size() / 2); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CabSpec spec;
        spec.folders = {1, 1};
        spec.flipBlock = c.flip;
        spec.tamper = [&](int folder, int block, std::string& d, uint16_t& u) {
            if (folder == 0) c.tamper(folder, block, d, u);
        };
        // second spans blocks 0-6 of folder 0 and is the one that breaks; first lies before the bad
        // block, third is in a sound folder.
        spec.files = {{"first.txt", first}, {"second.txt", second}, {"third.bin", third, 1}};
        std::string log;
        EXPECT_NE(extract(BuildCab(spec), &log), 0);
        if (c.flip >= 0) {
            EXPECT_NE(log.find("チェックサム"), std::string::npos) << log;
        }
        EXPECT_TRUE(out() == (std::map<std::string, std::string>{{"first.txt", "f:" + first}, {"third.bin", "f:" + third}}))
            << Names(out()) << log;
    }
}

TEST_F(CabReader, TablesThatLie) {
    const std::string a = WordText(50000, 13), b = WordText(3000, 14);
    // A range past the folder's end: that file fails, the one before stands.
    CabSpec spec;
    spec.files = {{"a.txt", a}, {"b.txt", b}};
    spec.files.push_back({"past.txt", "", 0, 0x20, 52000, 2000, false});
    spec.files.push_back({"far.txt", "", 0, 0x20, 0x7FFFFFF0, 10, false});
    std::string log;
    EXPECT_NE(extract(BuildCab(spec), &log), 0);
    EXPECT_TRUE(out() == (std::map<std::string, std::string>{{"a.txt", "f:" + a}, {"b.txt", "f:" + b}})) << Names(out()) << log;
    // A file count larger than the table: never a success, never a file made of the data blocks.
    spec.files.resize(2);
    spec.fileCountDelta = 3;
    EXPECT_NE(extract(BuildCab(spec), &log), 0);
    for (const auto& [name, content] : out()) EXPECT_TRUE(name == "a.txt" || name == "b.txt") << name;
    // A file in a folder the cabinet does not have.
    spec.fileCountDelta = 0;
    std::string bytes = BuildCab(spec);
    Put16(bytes, 36 + 8 + 8, 5);  // first file's folder index
    EXPECT_NE(extract(bytes, &log), 0);
    EXPECT_EQ(out().count("a.txt"), 0u);
}

TEST_F(CabReader, OverlapsInALongFolderResumeFromACheckpoint) {
    // A file inside the one before, 17 MiB into a 20 MiB folder: decoding starts over from the last
    // checkpoint before it, with that point's dictionary; a file listed before its data follows.
    const std::string whole = WordText(20u << 20, 15);
    CabSpec spec;
    spec.files = {{"whole.txt", whole}};
    spec.files.push_back({"inner.txt", whole.substr(17u << 20, 300000), 0, 0x20, 17 << 20, 300000, false});
    spec.files.insert(spec.files.begin(), {"tail.txt", whole.substr(whole.size() - 5000), 0, 0x20,
                                           static_cast<int64_t>(whole.size() - 5000), 5000, false});
    std::string log;
    ASSERT_EQ(extract(BuildCab(spec), &log), 0) << log;
    auto tree = out();
    EXPECT_EQ(tree.size(), 3u) << Names(tree);
    EXPECT_TRUE(tree["whole.txt"] == "f:" + whole);
    EXPECT_TRUE(tree["inner.txt"] == "f:" + spec.files[2].data);
    EXPECT_TRUE(tree["tail.txt"] == "f:" + spec.files[0].data);
}
