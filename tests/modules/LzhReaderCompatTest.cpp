// Archives of our writer read by every extractor a user may have, not only the two the other tests
// use: readers differ in how far they look ahead at the end of an entry's data and in whether they
// accept bytes left after its last block. Our own decoder is held to the same output as the others.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "modules/lzh/LzhArchiveWriter.h"
#include "tests/modules/LhaTestSupport.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

namespace norvex::test {
namespace {

using lzh::LzhMethod;

// Many small entries whose last block ends in every possible way: data over a few letters (short
// literal codes next to long match codes), text, long runs, and sizes from one byte to a few KiB.
// A file over two blocks ends the stream with a block sent by the finishing call.
void WriteShapes(const std::string& root) {
    std::mt19937 rng(20240607);
    for (int k = 0; k < 240; ++k) {
        const std::size_t size = 1 + rng() % 3000;
        std::string data;
        switch (k % 3) {
        case 0:
            for (std::size_t i = 0; i < size; ++i) data.push_back(static_cast<char>('a' + rng() % 8));
            break;
        case 1: data = TextLike(size, static_cast<uint32_t>(k)); break;
        default:
            while (data.size() < size) data.append(1 + rng() % 40, static_cast<char>('0' + rng() % 4));
            data.resize(size);
        }
        WriteFile(root + "/s" + std::to_string(1000 + k) + ".txt", data);
    }
    std::string big;
    for (std::size_t i = 0; i < 150000; ++i) big.push_back(static_cast<char>('a' + rng() % 5));
    WriteFile(root + "/big.txt", big);
}

// Each reader extracts the archive completely, without an error, to exactly the packed files.
TEST(LzhReaderCompat, EveryReaderExtractsEveryEntry) {
    if (!HaveTool("lhasa") || !HaveTool("bsdtar")) GTEST_SKIP() << "lhasa or bsdtar missing";
    const bool haveUnar = HaveTool("unar");
    TempDir dir;
    const std::string src = dir / "src";
    WriteShapes(src);
    const auto expected = SnapshotTree(src);

    for (const LzhMethod method : {LzhMethod::Lh5, LzhMethod::Lh6, LzhMethod::Lh7}) {
        SCOPED_TRACE(lzh::MethodName(method));
        const std::string archive = dir / "a.lzh";
        ASSERT_TRUE(WriteLzhTree(src, archive, method));
        const std::string out = dir / "out";
        std::filesystem::remove_all(out);

        std::filesystem::create_directories(out + "/lhasa");
        ToolResult r = RunTool({"lhasa", "xq", archive}, out + "/lhasa");
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_TRUE(SnapshotTree(out + "/lhasa") == expected);

        std::filesystem::create_directories(out + "/bsdtar");
        r = RunTool({"bsdtar", "-xf", archive}, out + "/bsdtar");
        ASSERT_EQ(r.exitCode, 0) << r.output;
        EXPECT_TRUE(SnapshotTree(out + "/bsdtar") == expected);

        if (!haveUnar) continue;
        r = RunTool({"unar", "-q", "-D", "-o", out + "/unar", archive});
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_TRUE(SnapshotTree(out + "/unar") == expected);
        if (HaveTool("lsar")) {
            r = RunTool({"lsar", "-t", archive});
            EXPECT_EQ(r.exitCode, 0) << r.output;
        }
    }
    if (!haveUnar) GTEST_SKIP() << "unar missing: checked with lhasa and bsdtar only";
}

// Shapes at the decoders' corners (empty and one-byte entries, sizes at each dictionary, the
// longest matches, several blocks, more than one output piece) come out the same from our module and
// from every peer installed: each equals the packed files.
TEST(LzhReaderCompat, OurDecoderAndThePeersAgreeOnEdgeShapes) {
    TempDir dir;
    const std::string src = dir / "src";
    WriteFile(src + "/empty.bin", "");
    WriteFile(src + "/one.bin", "1");
    for (const std::size_t size : {8192, 32768, 65536, 65537})
        WriteFile(src + "/w" + std::to_string(size) + ".txt", TextLike(size, static_cast<uint32_t>(size)));
    WriteFile(src + "/run.bin", std::string(1 << 20, 'a') + "b" + std::string(1000, 'a'));
    WriteFile(src + "/random.bin", RandomBytes(150000, 3));
    WriteFile(src + "/text.txt", TextLike(700000, 4));
    const auto expected = SnapshotTree(src);

    LoadedModule module("UNLHA32.DLL", "Unlha");
    ASSERT_TRUE(module.ok());
    const struct {
        const char* name;
        std::vector<std::string> argv;  // run in the output folder, then the archive
    } peers[] = {{"lhasa", {"lhasa", "xq"}}, {"bsdtar", {"bsdtar", "-xf"}}, {"7z", {"7z", "x", "-y", "-bso0"}}};
    for (const LzhMethod method : {LzhMethod::Lh5, LzhMethod::Lh6, LzhMethod::Lh7}) {
        SCOPED_TRACE(lzh::MethodName(method));
        const std::string archive = dir / "a.lzh";
        ASSERT_TRUE(WriteLzhTree(src, archive, method, false));
        const std::string out = dir / "out";
        std::filesystem::remove_all(out);

        std::string log;
        ASSERT_EQ(module.run(nullptr, "x -+1 -a1 -n1 -x1 \"" + archive + "\" \"" + out + "/ours/\"", &log), ARC_OK) << log;
        EXPECT_TRUE(SnapshotTree(out + "/ours") == expected);
        for (const auto& peer : peers) {
            if (!HaveTool(peer.argv[0])) continue;
            SCOPED_TRACE(peer.name);
            std::filesystem::create_directories(out + "/" + peer.name);
            std::vector<std::string> argv = peer.argv;
            argv.push_back(archive);
            const ToolResult r = RunTool(argv, out + "/" + peer.name);
            ASSERT_EQ(r.exitCode, 0) << r.output;
            EXPECT_TRUE(SnapshotTree(out + "/" + peer.name) == expected);
        }
    }
}

}  // namespace
}  // namespace norvex::test
