// Hand-made hostile LZH archives against UNLHA32.DLL: the last entry cut at every byte, headers whose
// sizes lie. Whatever the bytes, the call never succeeds for an entry that did not land whole, and
// nothing partial is left under an entry's name.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "modules/lzh/LzhCrc16.h"
#include "modules/lzh/LzhHeader.h"
#include "platform/AnsiCodec.h"
#include "tests/modules/LhaTestSupport.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/support/TempDir.h"

namespace norvex::test {
namespace {

namespace fs = std::filesystem;
using lzh::LzhMethod;

class LzhHostile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(module.ok()); }

    int32_t Extract(const std::string& bytes, const std::string& name) {
        const std::string archive = dir / (name + ".lzh");
        WriteFile(archive, bytes);
        const std::string line = "x -+1 -a1 -n1 -jse1 -jso1 -x1 \"" + archive + "\" \"" + dir / name + "/\"";
        return module.run(nullptr, line, &output);
    }

    // One entry of coded data with the header fields given (the data coded by our encoder).
    static std::string Entry(const std::string& name, const std::string& data, LzhMethod method,
                             const std::function<void(lzh::Level2Fields&)>& lie = {}) {
        std::string one = EncodeOneEntry(name, data, method);
        one.pop_back();  // the end mark
        if (!lie) return one;
        const std::vector<uint8_t> honest = lzh::BuildLevel2Header(Fields(name, data, method, one));
        lzh::Level2Fields f = Fields(name, data, method, one);
        lie(f);
        const std::vector<uint8_t> header = lzh::BuildLevel2Header(f);
        return std::string(header.begin(), header.end()) + one.substr(honest.size());
    }

    static lzh::Level2Fields Fields(const std::string& name, const std::string& data, LzhMethod method,
                                    const std::string& entry) {
        lzh::Level2Fields f;
        f.path = name;
        f.method = lzh::MethodName(method);
        f.originalSize = data.size();
        f.crc = lzh::Crc16(0, data.data(), data.size());
        f.mtime = 1600000000;
        const std::size_t headerSize = lzh::BuildLevel2Header(f).size();
        f.compressedSize = entry.size() - headerSize;
        return f;
    }

    LoadedModule module{"UNLHA32.DLL", "Unlha"};
    TempDir dir;
    std::string output;
};

// The last entry cut at every byte of its header and (in steps) of its data, for each dictionary
// size: a failure code, the first entry whole, nothing under the cut entry's name.
TEST_F(LzhHostile, LastEntryCutAnywhereIsAFailureAndLeavesNothing) {
    const std::string first = TextLike(3000, 7);
    const std::string last = TextLike(40000, 8) + RandomBytes(3000, 9);
    for (LzhMethod method : {LzhMethod::Lh5, LzhMethod::Lh6, LzhMethod::Lh7}) {
        const std::string head = Entry("first.txt", first, method);
        const std::string tail = Entry("last.txt", last, method);
        const std::string whole = head + tail + std::string(1, '\0');
        int runs = 0;
        for (std::size_t cut = head.size() + 1; cut < head.size() + tail.size(); cut += (cut < head.size() + 64 ? 1 : 97)) {
            const std::string name = "cut" + std::to_string(runs++);
            const int32_t r = Extract(whole.substr(0, cut), name);
            EXPECT_GE(r, ARC_ERROR_FIRST) << lzh::MethodName(method) << " cut at " << cut << "\n" << output;
            EXPECT_EQ(ReadFile(dir / (name + "/first.txt")), first) << cut;
            EXPECT_FALSE(fs::exists(dir / (name + "/last.txt"))) << lzh::MethodName(method) << " cut at " << cut;
            fs::remove_all(dir / name);
            fs::remove(dir / (name + ".lzh"));
        }
        // Without its end mark only, the archive is whole: if it is taken, every byte is there.
        const std::string name = std::string("nomark") + lzh::MethodName(method);
        if (Extract(whole.substr(0, whole.size() - 1), name) == ARC_OK) {
            EXPECT_EQ(ReadFile(dir / (name + "/last.txt")), last);
        }
    }
}

// Sizes in a header that disagree with the data behind it: never a success, never a partial file.
TEST_F(LzhHostile, LyingSizesAreFailures) {
    const std::string data = TextLike(30000, 3);
    struct Lie {
        const char* what;
        std::function<void(lzh::Level2Fields&)> change;
        bool last;  // the entry is the archive's last (a compressed size past the file's end)
    };
    const std::vector<Lie> lies = {
        {"original size one more", [](lzh::Level2Fields& f) { ++f.originalSize; }, false},
        {"original size doubled", [](lzh::Level2Fields& f) { f.originalSize *= 2; }, false},
        {"original size one less", [](lzh::Level2Fields& f) { --f.originalSize; }, false},
        {"compressed size past the end", [](lzh::Level2Fields& f) { f.compressedSize += 1000; }, true},
        {"compressed size cut in half", [](lzh::Level2Fields& f) { f.compressedSize /= 2; }, false},
        {"crc of other data", [](lzh::Level2Fields& f) { f.crc ^= 0x0101; }, false},
    };
    int n = 0;
    for (LzhMethod method : {LzhMethod::Lh5, LzhMethod::Lh7}) {
        for (const Lie& lie : lies) {
            const std::string liar = Entry("liar.txt", data, method, lie.change);
            const std::string other = Entry("other.txt", "intact", method);
            const std::string bytes = (lie.last ? other + liar : liar + other) + std::string(1, '\0');
            const std::string name = "lie" + std::to_string(n++);
            EXPECT_GE(Extract(bytes, name), ARC_ERROR_FIRST) << lie.what << " " << lzh::MethodName(method) << "\n" << output;
            EXPECT_FALSE(fs::exists(dir / (name + "/liar.txt"))) << lie.what << " " << lzh::MethodName(method);
        }
    }
}

}  // namespace
}  // namespace norvex::test
