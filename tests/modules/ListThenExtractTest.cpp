// The host lists an archive (to count its top level) and then extracts it; the ZIP and LHA modules
// keep what the listing read for the extraction. What they keep must never stand for a file that
// changed in between, even when its size and modification time were put back, nor for a listing that
// ended on a broken header. The count lists with ListNames, which must give what FindFirst and
// FindNext give.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <filesystem>

#include "platform/AnsiCodec.h"
#include "tests/modules/LhaTestSupport.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;

namespace {

// Writes bytes over path in place (same inode, same size), then gives it back its modification time.
void RewriteInPlaceKeepingTimes(const std::string& path, const std::string& bytes) {
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    ASSERT_EQ(static_cast<std::size_t>(before.st_size), bytes.size()) << "the stand-in must be as large";
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::futimens(fd, times), 0);
    ::close(fd);
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    ASSERT_EQ(after.st_ino, before.st_ino);
    ASSERT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    ASSERT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

struct Case {
    const char* dll;
    const char* prefix;
    const char* command;  // extraction switches in the module's dialect
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.prefix; }

class ListThenExtract : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        if (!module.ok()) GTEST_SKIP() << GetParam().dll << " is not built";
        lzh = std::string(GetParam().prefix) == "Unlha";
        // Two archives of one stored entry each, names and data of the same lengths: the same size.
        // The names hold characters whose cp932 trail byte is "\", a quote and an asterisk.
        for (const auto& [tree, name, data] : {std::tuple{"first", "ソ表\"*a.bin", RandomBytes(5000, 1)},
                                               std::tuple{"second", "ソ表\"*b.bin", RandomBytes(5000, 2)}}) {
            WriteFile(dir / (std::string(tree) + "/" + name), data);
            expected[tree] = "f:" + data;
            names[tree] = name;
            const std::string archive = dir / (std::string(tree) + (lzh ? ".lzh" : ".zip"));
            if (lzh) {
                ASSERT_TRUE(WriteLzhTree(dir / tree, archive, lzh::LzhMethod::Lh5, /*allowStored=*/true));
            } else {
                ASSERT_EQ(RunTool({"python3", "-c",
                                   "import sys, zipfile, os\n"
                                   "os.chdir(sys.argv[1])\n"
                                   "with zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_STORED) as z:\n"
                                   "    z.write(sys.argv[3])\n",
                                   dir / tree, archive, name})
                              .exitCode,
                          0);
            }
        }
    }

    std::string archive(const char* tree) const { return dir / (std::string(tree) + (lzh ? ".lzh" : ".zip")); }
    std::string bytes(const char* tree) const { return ReadFile(archive(tree)); }

    int32_t extract(const std::string& path, const std::string& out) {
        return module.run(nullptr, std::string(GetParam().command) + " \"" + path + "\" \"" + out + "/\"", &output);
    }

    LoadedModule module{GetParam().dll, GetParam().prefix};
    TempDir dir;
    bool lzh = false;
    std::map<std::string, std::string> expected, names;
    std::string output;
};

}  // namespace

TEST_P(ListThenExtract, AFileChangedAfterItsListingIsReadAfresh) {
    const std::string path = dir / (lzh ? "arc.lzh" : "arc.zip");
    WriteFile(path, bytes("first"));
    ASSERT_EQ(bytes("first").size(), bytes("second").size());

    // Unchanged: the extraction after the listing gives the listed archive.
    EXPECT_EQ(ListAll(module, path), std::vector<std::string>{names["first"]});
    ASSERT_EQ(extract(path, dir / "out1"), 0) << output;
    EXPECT_EQ(SnapshotTree(dir / "out1"), (std::map<std::string, std::string>{{names["first"], expected["first"]}}));

    // Rewritten in place between the listing and the extraction, size and times put back.
    EXPECT_EQ(ListAll(module, path), std::vector<std::string>{names["first"]});
    RewriteInPlaceKeepingTimes(path, bytes("second"));
    ASSERT_EQ(extract(path, dir / "out2"), 0) << output;
    EXPECT_EQ(SnapshotTree(dir / "out2"), (std::map<std::string, std::string>{{names["second"], expected["second"]}}));

    // Replaced by another file under the same name.
    EXPECT_EQ(ListAll(module, path), std::vector<std::string>{names["second"]});
    std::filesystem::copy_file(archive("first"), path + ".new");
    std::filesystem::rename(path + ".new", path);
    ASSERT_EQ(extract(path, dir / "out3"), 0) << output;
    EXPECT_EQ(SnapshotTree(dir / "out3"), (std::map<std::string, std::string>{{names["first"], expected["first"]}}));
}

// A listing that ends on damage leaves nothing behind that would let the extraction pass.
TEST_P(ListThenExtract, AListingThatEndsOnDamageIsNotTakenForTheArchive) {
    const std::string path = dir / (lzh ? "cut.lzh" : "cut.zip");
    std::string cut = bytes("first");
    if (lzh) {
        // The second archive's header after the first's entry, its header checksum spoilt.
        std::string second = bytes("second");
        second.resize(second.size() - 1);  // without the end mark
        second[1] ^= 0x55;
        cut.insert(cut.size() - 1, second);
    } else {
        // The entry's data spoilt: the listing passes, the extraction fails on the CRC.
        cut[200] ^= 0x55;
    }
    WriteFile(path, cut);
    int32_t end = 0;
    ListAll(module, path, &end);
    if (lzh) {
        EXPECT_NE(end, -1) << "the listing reads the broken header";
    }
    EXPECT_NE(extract(path, dir / "out"), 0) << output;
    EXPECT_NE(extract(path, dir / "again"), 0) << output;
}

namespace {

struct Listed {
    std::vector<std::pair<std::string, int64_t>> entries;  // cp932 names
    int32_t end = 0;
};

Listed ByFind(const LoadedModule& m, const std::string& archive, const char* wild) {
    Listed out;
    HARC h = m.openArchive(nullptr, ToAnsi(archive).c_str(), 0);
    if (!h) return out;
    auto nameEx = reinterpret_cast<ARC_GET_FILE_NAME_EX>(m.symbol("GetFileNameEx"));
    ArcEntryRecord rec{};
    int32_t r = m.findFirst(h, wild, &rec);
    for (; r == 0; r = m.findNext(h, &rec)) {
        std::string name(4096, '\0');
        name.resize(static_cast<std::size_t>(nameEx(h, name.data(), static_cast<uint32_t>(name.size()))));
        int64_t size = -1;
        if (!m.getOriginalSizeEx(h, &size)) size = -1;
        out.entries.emplace_back(name, size);
    }
    out.end = r;
    m.closeArchive(h);
    return out;
}

Listed ByListNames(const LoadedModule& m, const std::string& archive, const char* wild, std::size_t stopAfter = SIZE_MAX) {
    Listed out;
    auto listNames = reinterpret_cast<ARC_LIST_NAMES>(m.symbol("ListNames"));
    if (!listNames) return out;
    HARC h = m.openArchive(nullptr, ToAnsi(archive).c_str(), 0);
    if (!h) return out;
    struct Context {
        Listed* out;
        std::size_t stopAfter;
    } context{&out, stopAfter};
    out.end = listNames(h, wild,
                        [](void* c, const char* name, uint32_t length, int64_t size) -> int32_t {
                            auto* ctx = static_cast<Context*>(c);
                            ctx->out->entries.emplace_back(std::string(name, length), size);
                            return ctx->out->entries.size() >= ctx->stopAfter ? 1 : 0;
                        },
                        &context);
    m.closeArchive(h);
    return out;
}

}  // namespace

// Names (cp932 trail byte 0x5C, a name longer than the record holds), sizes, masks, the code that ended
// the walk on damage, and a stop asked for by the host: the same as FindFirst/FindNext walk.
TEST_P(ListThenExtract, ListNamesGivesWhatFindFirstAndFindNextGive) {
    ASSERT_NE(module.symbol("ListNames"), nullptr);
    const std::string src = dir / "many";
    WriteFile(src + "/ソ表/" + std::string(200, 'x') + "/" + std::string(200, 'y') + "/" + std::string(200, 'z') + ".txt",
              "long");
    WriteFile(src + "/a.txt", RandomBytes(70000, 3));
    WriteFile(src + "/b.bin", "");
    WriteFile(src + "/フォルダ/c.txt", "c");
    const std::string archive = dir / (lzh ? "many.lzh" : "many.zip");
    if (lzh) {
        ASSERT_TRUE(WriteLzhTree(src, archive, lzh::LzhMethod::Lh5));
    } else {
        ASSERT_EQ(RunTool({"python3", "-c",
                           "import sys, zipfile, os\n"
                           "os.chdir(sys.argv[1])\n"
                           "with zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                           "    for root, dirs, files in sorted(os.walk('.')):\n"
                           "        for f in sorted(files): z.write(os.path.join(root, f)[2:])\n",
                           src, archive})
                      .exitCode,
                  0);
    }
    for (const char* wild : {"*.*", "*.txt", "nothing.*"}) {
        SCOPED_TRACE(wild);
        const Listed find = ByFind(module, archive, wild);
        const Listed all = ByListNames(module, archive, wild);
        EXPECT_EQ(all.entries, find.entries);
        EXPECT_EQ(all.end, find.end);
        EXPECT_EQ(all.end, -1);
    }
    const Listed whole = ByFind(module, archive, "*.*");
    ASSERT_GE(whole.entries.size(), 4u);
    bool longName = false;
    for (const auto& [name, size] : whole.entries) longName = longName || name.size() > 600;
    EXPECT_TRUE(longName);
    const Listed two = ByListNames(module, archive, "*.*", 2);
    EXPECT_EQ(two.end, 0);
    ASSERT_EQ(two.entries.size(), 2u);
    EXPECT_EQ(two.entries[1], whole.entries[1]);

    // Damage after the first entries: both walks end on the same failure after the same entries.
    std::string bytes = ReadFile(archive);
    if (lzh) {
        const std::string cut = bytes.substr(0, bytes.size() / 2);
        WriteFile(dir / "cut.lzh", cut);
        const Listed find = ByFind(module, dir / "cut.lzh", "*.*");
        const Listed all = ByListNames(module, dir / "cut.lzh", "*.*");
        EXPECT_NE(find.end, -1);
        EXPECT_EQ(all.entries, find.entries);
        EXPECT_EQ(all.end, find.end);
    }
}

INSTANTIATE_TEST_SUITE_P(Modules, ListThenExtract,
                         ::testing::Values(Case{"UNZIP32.DLL", "UnZip", "-x --i -o"},
                                           Case{"UNLHA32.DLL", "Unlha", "x -+1 -a1 -n1 -jse1 -jso1 -x1"}),
                         [](const auto& info) { return std::string(info.param.prefix); });
