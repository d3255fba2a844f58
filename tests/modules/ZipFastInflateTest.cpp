// The ZIP module's own decoding of stored and deflate data: archives from Info-ZIP zip that mix it with
// libarchive's methods, and archives whose data or headers lie. A broken entry never leaves a file (or
// a temporary) behind and never stops its sound neighbours.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "platform/AnsiCodec.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;

namespace {

std::string Q(const std::string& s) { return "\"" + s + "\""; }

void Put32(std::string& bytes, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
}

uint16_t Get16(const std::string& bytes, std::size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8);
}
// Where an entry's data starts, after its local header.
std::size_t DataAt(const std::string& bytes, std::size_t local) {
    return local + 30 + Get16(bytes, local + 26) + Get16(bytes, local + 28);
}

// Offsets of an entry's local and central headers (found by the name that follows each).
struct Headers {
    std::size_t local = std::string::npos, central = std::string::npos;
};
Headers Find(const std::string& bytes, const std::string& name) {
    Headers h;
    for (std::size_t at = bytes.find(name); at != std::string::npos; at = bytes.find(name, at + 1)) {
        if (at >= 30 && bytes.compare(at - 30, 4, "PK\3\4") == 0) h.local = at - 30;
        if (at >= 46 && bytes.compare(at - 46, 4, "PK\1\2") == 0) h.central = at - 46;
    }
    return h;
}

struct FastInflate : ::testing::Test {
    void SetUp() override {
        if (!module.ok()) GTEST_SKIP() << "unzip32.so is not built";
        if (!HaveTool("zip")) GTEST_SKIP();
        WriteFile(dir / "src/big.txt", WordText(700000, 1));      // deflate, several output blocks
        WriteFile(dir / "src/small.txt", WordText(3000, 2));      // deflate
        WriteFile(dir / "src/noise.bin", RandomBytes(300000, 3));  // stored (-n .bin)
        WriteFile(dir / "src/empty.txt", "");
        WriteFile(dir / "src/zeros.dat", std::string(1 << 20, '\0'));
    }
    std::string zip(const std::vector<std::string>& extra) {
        std::vector<std::string> argv{"zip", "-q", "-r", "-n", ".bin"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(dir / "a.zip");
        argv.push_back(".");
        EXPECT_EQ(RunTool(argv, dir / "src").exitCode, 0);
        return dir / "a.zip";
    }
    LoadedModule module{"UNZIP32.DLL", "UnZip"};
    TempDir dir;
    TestWindow window;
};

}  // namespace

TEST_F(FastInflate, StoredDeflateAndLibarchiveMethodsInOneArchive) {
    WriteFile(dir / "src/sub/packed.txt", WordText(200000, 4));
    std::string a = zip({});
    // A second archive whose text files are bzip2 (libarchive's path) beside stored and deflate ones.
    ASSERT_EQ(RunTool({"zip", "-q", "-r", "-Z", "bzip2", dir / "b.zip", "sub"}, dir / "src").exitCode, 0);
    ASSERT_EQ(RunTool({"zip", "-q", "-r", "-n", ".bin", dir / "b.zip", "big.txt", "noise.bin", "empty.txt"}, dir / "src")
                  .exitCode,
              0);
    ASSERT_EQ(module.run(&window, "-x " + Q(a) + " " + Q(dir / "out/")), 0);
    EXPECT_EQ(SnapshotTree(dir / "out"), SnapshotTree(dir / "src"));
    ASSERT_EQ(module.run(&window, "-x " + Q(dir / "b.zip") + " " + Q(dir / "mixed/")), 0);
    auto mixed = SnapshotTree(dir / "mixed");
    auto src = SnapshotTree(dir / "src");
    for (const char* name : {"sub/packed.txt", "big.txt", "noise.bin", "empty.txt"}) EXPECT_EQ(mixed[name], src[name]) << name;
    // Progress tells each file's full size at its end, as before.
    bool sawBigEnd = false;
    for (const auto& p : window.progress) sawBigEnd = sawBigEnd || (p.size == 700000 && p.written == 700000);
    EXPECT_TRUE(sawBigEnd);
    // The complete test decodes every entry too.
    std::string ansi = ToAnsi(dir / "b.zip");
    EXPECT_TRUE(module.checkArchive(ansi.c_str(), 3));
}

TEST_F(FastInflate, LyingEntriesLeaveNothingAndTheRestLands) {
    std::string pristine = ReadFile(zip({}));
    struct Case {
        const char* what;
        const char* victim;
        void (*damage)(std::string& bytes, const Headers& h);
    };
    const Case cases[] = {
        {"deflate data changed", "big.txt",
         [](std::string& b, const Headers& h) {
             std::size_t data = DataAt(b, h.local);
             for (std::size_t i = 0; i < 64; ++i) b[data + 1000 + i] = static_cast<char>(b[data + 1000 + i] ^ 0x5A);
         }},
        {"stored data changed", "noise.bin",
         [](std::string& b, const Headers& h) { b[DataAt(b, h.local) + 150000] ^= 1; }},
        {"CRC of both headers changed", "small.txt",
         [](std::string& b, const Headers& h) {
             Put32(b, h.local + 14, 0x12345678);
             Put32(b, h.central + 16, 0x12345678);
         }},
        {"size of both headers smaller than the data", "big.txt",
         [](std::string& b, const Headers& h) {
             Put32(b, h.local + 22, 1000);
             Put32(b, h.central + 24, 1000);
         }},
        {"size of both headers larger than the data", "small.txt",
         [](std::string& b, const Headers& h) {
             Put32(b, h.local + 22, 5000);
             Put32(b, h.central + 24, 5000);
         }},
        {"compressed size reaching past the end of the file", "zeros.dat",
         [](std::string& b, const Headers& h) {
             Put32(b, h.local + 18, 0x7FFFFFF0);
             Put32(b, h.central + 20, 0x7FFFFFF0);
         }},
    };
    auto src = SnapshotTree(dir / "src");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = pristine;
        Headers h = Find(bytes, c.victim);
        ASSERT_NE(h.local, std::string::npos);
        ASSERT_NE(h.central, std::string::npos);
        c.damage(bytes, h);
        WriteFile(dir / "bad.zip", bytes);
        std::string out = dir / ("bad/" + std::string(c.what));
        int32_t code = module.run(&window, "-x " + Q(dir / "bad.zip") + " " + Q(out + "/"));
        EXPECT_GE(code, 0x8000);
        auto tree = SnapshotTree(out);
        EXPECT_FALSE(tree.count(c.victim));
        for (const auto& [name, content] : src) {
            if (name != c.victim) {
                EXPECT_EQ(tree[name], content) << name;
            }
        }
        for (const auto& [name, content] : tree) EXPECT_EQ(name.find(".nvx"), std::string::npos) << name;
        std::string ansi = ToAnsi(dir / "bad.zip");
        EXPECT_FALSE(module.checkArchive(ansi.c_str(), 3));
    }
}

TEST_F(FastInflate, FolderEntriesWithDataFailTheArchive) {
    // Entries that libarchive takes for folders (a name ending in a separator, or a folder's mode)
    // while the central directory gives them data: that data has nowhere to land, so the archive
    // must not pass as extracted; the other entry lands.
    const char* writer = R"(
import struct, sys, zlib
def archive(path, name, system, attributes, extra=b''):
    out, central = bytearray(), bytearray()
    for n, data, sysv, attr, x in ((b'ok.txt', b'ok', 3, 0o100644 << 16, b''), (name, b'data', system, attributes, extra)):
        c = zlib.compressobj(6, zlib.DEFLATED, -15)
        packed = c.compress(data) + c.flush()
        crc, at = zlib.crc32(data), len(out)
        out += struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, 0, 8, 0, 0x3300, crc, len(packed), len(data), len(n), len(x))
        out += n + x + packed
        central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, sysv << 8 | 20, 20, 0, 8, 0, 0x3300, crc, len(packed),
                               len(data), len(n), len(x), 0, 0, 0, attr, at) + n + x
    start = len(out)
    out += central + struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 2, 2, len(central), start, 0)
    open(path, 'wb').write(out)
d = sys.argv[1]
archive(d + '/slash-untyped.zip', b'd/', 3, 0o644 << 16)
archive(d + '/slash-file-mode.zip', b'd/', 3, 0o100644 << 16)
archive(d + '/backslash-untyped.zip', b'd\\', 3, 0o644 << 16)
archive(d + '/folder-mode.zip', b'd', 3, 0o40755 << 16)
archive(d + '/dos-slash-extra.zip', b'd/', 0, 0x10, struct.pack('<HHI', 0x6666, 4, 0))
unicode = b'\x01' + struct.pack('<I', zlib.crc32(b'a.txt')) + b'd/'
archive(d + '/unicode-field-slash.zip', b'a.txt', 3, 0o100644 << 16, struct.pack('<HH', 0x7075, len(unicode)) + unicode)
)";
    ASSERT_EQ(RunTool({"python3", "-c", writer, dir.path()}).exitCode, 0);
    // The last: a file whose Unicode path field names a folder; the host counts it as one.
    for (const char* name :
         {"slash-untyped", "slash-file-mode", "backslash-untyped", "folder-mode", "dos-slash-extra", "unicode-field-slash"}) {
        SCOPED_TRACE(name);
        const std::string zip = dir / (std::string(name) + ".zip");
        const std::string out = dir / (std::string("out-") + name);
        std::string log;
        EXPECT_GE(module.run(&window, "-x " + Q(zip) + " " + Q(out + "/"), &log), 0x8000) << log;
        EXPECT_NE(log.find("フォルダの項目にデータがあります"), std::string::npos) << log;
        EXPECT_EQ(SnapshotTree(out), (std::map<std::string, std::string>{{"ok.txt", "f:ok"}}));
        if (std::string(name) != "unicode-field-slash") {
            EXPECT_FALSE(module.checkArchive(ToAnsi(zip).c_str(), 3));
        }
    }
}
