// Runs of the engine in compress mode: each listed file is packed into an LZH beside it, and the
// after-processing disposes of the file only when the new archive holds it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "archivers/Archives.h"
#include "modules/lzh/LzhCrc16.h"
#include "platform/AnsiCodec.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/OwnMemoryFileSystem.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

// Text and noise, so that the encoder has both matches and literals to write.
std::string Contents(uint32_t seed, std::size_t size) {
    std::string s;
    s.reserve(size);
    while (s.size() < size) {
        s += "line " + std::to_string(s.size() % 977) + " of the packed file\n";
        for (int i = 0; i < 40; ++i) {
            seed = seed * 1103515245u + 12345u;
            s.push_back(static_cast<char>(seed >> 23));
        }
    }
    s.resize(size);
    return s;
}

// data with its last two bytes changed so that its CRC is that of other (of the same size).
std::string WithCrcOf(std::string data, const std::string& other) {
    const uint16_t want = lzh::Crc16(0, other.data(), other.size());
    const uint16_t prefix = lzh::Crc16(0, data.data(), data.size() - 2);
    for (uint32_t v = 0; v < 0x10000; ++v) {
        data[data.size() - 2] = static_cast<char>(v);
        data[data.size() - 1] = static_cast<char>(v >> 8);
        if (lzh::Crc16(prefix, data.data() + data.size() - 2, 2) == want) break;
    }
    return data;
}

void SetModified(const std::string& path, int64_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// What the LZH holds under name, extracted by a run of the engine into a folder of its own; "<none>"
// when nothing of that name came out.
std::string HeldIn(const std::string& lzh, const std::string& name) {
    TempDir out;
    TEngineRun run;
    run.settings.PutLocation = TPutLocation::SpecialFolder;
    run.settings.SpecialFolder = ToAnsi(out.path());
    run.Run({lzh});
    return fs::exists(out / name) ? ReadFile(out / name) : std::string("<none>");
}

// The entry names of an LZH, as its module lists them (UTF-8).
std::vector<std::string> NamesIn(const std::string& lzh) {
    TArchiveFile arc;
    arc.SetFileName(ToAnsi(lzh));
    arc.SetArchiverType(atLha);
    std::vector<std::string> names;
    if (arc.OpenArchive(nullptr, 0) != 0) return names;
    const TListingCloser closer{arc};
    TArchiveEntryInfo info{};
    for (int found = arc.FindFirst("*.*", &info); found == 0; found = arc.FindNext(&info))
        names.push_back(FromAnsi(arc.EntryName()));
    return names;
}

// A compress run over paths with the after-processing given.
struct TPackRun : TEngineRun {
    explicit TPackRun(TAfterMethod method, const std::string& moveFolder = {}) {
        settings.CompressMode = true;
        settings.AfterMethod = method;
        if (!moveFolder.empty()) settings.MoveFolder = ToAnsi(moveFolder);
    }
    bool SaysKept(const std::string& why) const {
        static const char* const kDisposal[] = {"", "ファイルを削除しませんでした。", "ファイルをごみ箱へ移しませんでした。",
                                                "ファイルを移動しませんでした。"};
        return host.HasLine("> [ 後始末エラー ] " + why + kDisposal[static_cast<int>(settings.AfterMethod)]);
    }
};

constexpr const char* kChanged = "圧縮を始めてからファイルが変更されたため、";
constexpr const char* kNotHeld = "書庫にこのファイルと同じ内容が格納されていないため、";

}  // namespace

// A file whose name the archive cannot hold (a "\" that is part of the name, a character cp932 lacks)
// is not packed under another name: its packing fails with the reason, and no archive is made. The
// file beside it with a plain name (cp932 with trail bytes 0x5C) is packed.
// A "*" or "?" in a name is part of it, no wildcard: its archive holds that file alone, not the files
// beside it that the name would match. A file whose name starts with "." is packed too (and then
// disposed of), not left out while the packing passes as done.
TEST(CompressRun, AFileIsPackedOnlyUnderItsOwnName) {
    NORVEX_REQUIRE_MODULE("UNLHA32.DLL");
    TempDir td;
    const std::string plain = td / "表ソ.txt", accent = td / "\xc3\xa9t\xc3\xa9.txt", slash = td / "a\\b.txt";
    WriteFile(plain, "plain");
    WriteFile(accent, "accent");
    WriteFile(slash, "backslash");
    TEngineRun run;
    run.settings.CompressMode = true;
    run.Run({plain, accent, slash});

    EXPECT_TRUE(fs::exists(td / "表ソ.lzh"));
    EXPECT_EQ(ReadFile(accent), "accent");
    EXPECT_EQ(ReadFile(slash), "backslash");
    EXPECT_FALSE(fs::exists(td / "\xc3\xa9t\xc3\xa9.lzh"));
    EXPECT_FALSE(fs::exists(td / "a\\b.lzh"));
    EXPECT_TRUE(run.host.HasLine("> cp932で表せない文字を含む名前は書庫に格納できません: " + accent));
    EXPECT_TRUE(run.host.HasLine("> 「\\」を含む名前は書庫に格納できません: " + slash));
    EXPECT_EQ(std::count_if(run.host.texts.begin(), run.host.texts.end(),
                            [](const std::string& t) { return t.rfind("> [ 解凍失敗 ]", 0) == 0; }),
              2);

    WriteFile(td / "w*.txt", "star");
    WriteFile(td / "wx.txt", "matched by the star");
    WriteFile(td / "q?.txt", "question mark");
    WriteFile(td / "qx.txt", "matched by the question mark");
    WriteFile(td / ".memo", "hidden");
    TPackRun wild(TAfterMethod::Delete);
    wild.Run({td / "w*.txt", td / "q?.txt", td / ".memo"});
    EXPECT_EQ(NamesIn(td / "w*.lzh"), std::vector<std::string>{"w*.txt"});
    EXPECT_EQ(NamesIn(td / "q?.lzh"), std::vector<std::string>{"q?.txt"});
    EXPECT_EQ(HeldIn(td / "w*.lzh", "w*.txt"), "star");
    EXPECT_EQ(HeldIn(td / "q?.lzh", "q?.txt"), "question mark");
    EXPECT_EQ(HeldIn(td / ".lzh", ".memo"), "hidden");
    EXPECT_EQ(ReadFile(td / "wx.txt"), "matched by the star");
    EXPECT_EQ(ReadFile(td / "qx.txt"), "matched by the question mark");
    EXPECT_FALSE(fs::exists(td / "w*.txt") || fs::exists(td / "q?.txt") || fs::exists(td / ".memo"));
    for (const std::string& t : wild.host.texts) EXPECT_EQ(t.find("後始末エラー"), std::string::npos) << t;
}

// Each way of disposal, once the new archive holds the file: the file is gone from its place (in the
// trash or the move folder when so asked), and the archive gives back its very data.
TEST(CompressRun, APackedFileIsDisposedOfOnceTheArchiveHoldsIt) {
    NORVEX_REQUIRE_MODULE("UNLHA32.DLL");
    TempDir td;
    setenv("XDG_DATA_HOME", (td / "xdg").c_str(), 1);
    for (const TAfterMethod method : {TAfterMethod::Delete, TAfterMethod::Trash, TAfterMethod::Move}) {
        SCOPED_TRACE(static_cast<int>(method));
        TempDir work;
        const std::string file = work / "資料.txt", data = Contents(static_cast<uint32_t>(method), 300 * 1024);
        WriteFile(file, data);
        TPackRun run(method, work / "keep");
        run.Run({file});

        EXPECT_FALSE(fs::exists(file));
        EXPECT_EQ(HeldIn(work / "資料.lzh", "資料.txt"), data);
        switch (method) {
            case TAfterMethod::Delete: EXPECT_TRUE(run.host.HasLine("> [ 削除 ] 書庫を削除しました。")); break;
            case TAfterMethod::Trash:
                EXPECT_TRUE(run.host.HasLine("> [ ごみ箱 ] 書庫をごみ箱へ移しました。"));
                EXPECT_EQ(ReadFile(td / "xdg/Trash/files/資料.txt"), data);
                break;
            default:
                EXPECT_TRUE(run.host.HasLine("> [ 移動 ] 書庫を移動しました。=>移動先:\"" + work / "keep" + "\""));
                EXPECT_EQ(ReadFile(work / "keep/資料.txt"), data);
                break;
        }
        for (const std::string& t : run.host.texts) EXPECT_EQ(t.find("後始末エラー"), std::string::npos) << t;
    }
    unsetenv("XDG_DATA_HOME");
}

// A file written to while it is packed, or after the archive was checked and before its disposal
// (same size, its modification time put back), is not what the archive holds: it stays, with its
// new data.
TEST(CompressRun, AFileChangedSinceItsPackingBeganStays) {
    NORVEX_REQUIRE_MODULE("UNLHA32.DLL");
    TempDir td;
    const std::string file = td / "log.txt", data = Contents(7, 100 * 1024);
    {
        WriteFile(file, data);
        TPackRun run(TAfterMethod::Delete);
        bool changed = false;
        run.host.onProgress = [&](int) {
            if (!changed) WriteFile(file, data + "appended while packed");
            changed = true;
        };
        run.Run({file});
        ASSERT_TRUE(changed);
        EXPECT_TRUE(run.SaysKept(kChanged));
        EXPECT_EQ(ReadFile(file), data + "appended while packed");
    }
    fs::remove(td / "log.txt");
    fs::remove(td / "log.lzh");
    {
        WriteFile(file, data);
        SetModified(file, 1700000000);
        const std::string rewritten = Contents(8, data.size());
        TPackRun run(TAfterMethod::Delete);
        run.host.onLog = [&](const std::string& text) {
            if (text.rfind("> [ 解凍 ]", 0) != 0) return;
            WriteFile(file, rewritten);
            SetModified(file, 1700000000);
        };
        run.Run({file});
        EXPECT_TRUE(run.SaysKept(kChanged));
        EXPECT_EQ(ReadFile(file), rewritten);
        EXPECT_EQ(HeldIn(td / "log.lzh", "log.txt"), data);
    }
}

// The packer's update keeps an archived copy at least as new as the file: the file's data then did
// not go in, and the file stays, whether the archived copy is newer or as old and of the same size,
// or of the same size and CRC, newer or as old (only the data itself tells it from the file's). A
// file newer than the archived copy replaces it and is disposed of; so is one whose archived copy,
// as old, holds its very data (packed twice), compressed or stored.
TEST(CompressRun, AFileWhoseArchivedCopyStaysIsKept) {
    NORVEX_REQUIRE_MODULE("UNLHA32.DLL");
    enum class TData { Other, SameCrc, SameText, SameNoise };
    struct TCase {
        int64_t archived, file;  // modification times
        TData data;
        TAfterMethod method;
        bool disposed;
    };
    const TCase cases[] = {
        {1700000100, 1700000000, TData::Other, TAfterMethod::Trash, false},
        {1700000000, 1700000000, TData::Other, TAfterMethod::Move, false},
        {1700000100, 1700000000, TData::SameCrc, TAfterMethod::Delete, false},
        {1700000000, 1700000000, TData::SameCrc, TAfterMethod::Delete, false},
        {1700000000, 1700000100, TData::Other, TAfterMethod::Delete, true},
        {1700000000, 1700000000, TData::SameText, TAfterMethod::Delete, true},
        {1700000000, 1700000000, TData::SameNoise, TAfterMethod::Delete, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.file - c.archived) + " kind " + std::to_string(static_cast<int>(c.data)));
        TempDir td;
        setenv("XDG_DATA_HOME", (td / "xdg").c_str(), 1);
        const std::string file = td / "memo.txt";
        std::string archived = Contents(1, 50000), data = Contents(2, 50000);
        switch (c.data) {
            case TData::Other: break;
            case TData::SameCrc: data = WithCrcOf(data, archived); break;
            case TData::SameText: data = archived; break;
            case TData::SameNoise:
                for (char& ch : archived) ch = static_cast<char>(std::rand());
                data = archived;
                break;
        }
        ASSERT_EQ(data == archived, c.data == TData::SameText || c.data == TData::SameNoise);
        WriteFile(file, archived);
        SetModified(file, c.archived);
        TPackRun(TAfterMethod::Nothing).Run({file});
        ASSERT_EQ(HeldIn(td / "memo.lzh", "memo.txt"), archived);
        WriteFile(file, data);
        SetModified(file, c.file);

        TPackRun run(c.method, td / "keep");
        run.Run({file});
        EXPECT_EQ(HeldIn(td / "memo.lzh", "memo.txt"), c.disposed ? data : archived);
        if (c.disposed) {
            EXPECT_FALSE(fs::exists(file));
            EXPECT_TRUE(run.host.HasLine("> [ 削除 ] 書庫を削除しました。"));
        } else {
            EXPECT_EQ(ReadFile(file), data);
            EXPECT_TRUE(run.SaysKept(kNotHeld));
        }
        unsetenv("XDG_DATA_HOME");
    }
}

// A packing that fails (an archive of that name that cannot be read) disposes of nothing; nor does
// one that put nothing of the file in: an LZH listed for packing is its own archive, and is left as
// it was.
TEST(CompressRun, NothingIsDisposedOfThatDidNotGoIntoTheArchive) {
    NORVEX_REQUIRE_MODULE("UNLHA32.DLL");
    TempDir td;
    WriteFile(td / "a.txt", "kept");
    WriteFile(td / "a.lzh", "no archive at all, but its name is taken");
    WriteFile(td / "b.txt", "inside");
    TPackRun(TAfterMethod::Nothing).Run({td / "b.txt"});
    ASSERT_EQ(HeldIn(td / "b.lzh", "b.txt"), "inside");
    const std::string packedArchive = ReadFile(td / "b.lzh");

    TPackRun run(TAfterMethod::Delete);
    run.Run({td / "a.txt", td / "b.lzh"});
    EXPECT_EQ(ReadFile(td / "a.txt"), "kept");
    EXPECT_EQ(ReadFile(td / "a.lzh"), "no archive at all, but its name is taken");
    EXPECT_TRUE(run.host.HasLine("> 書庫が壊れているため更新できません: " + td / "a.lzh"));
    EXPECT_EQ(ReadFile(td / "b.lzh"), packedArchive);
    EXPECT_TRUE(run.SaysKept(kNotHeld));
    EXPECT_EQ(std::count_if(run.host.texts.begin(), run.host.texts.end(),
                            [](const std::string& t) { return t.rfind("> [ 後始末エラー ]", 0) == 0; }),
              1);
    EXPECT_FALSE(run.host.HasLine("> [ 削除 ] 書庫を削除しました。"));
}

// A disk that fills up while the archive is written: the log says so and that nothing half-made was
// left, a new archive is not there at all and an archive being updated is as it was; the file stays.
// The disk is a small memory file system, mounted in a mount namespace of a child process of its own.
TEST(CompressRun, ADiskThatFillsUpLeavesNoHalfArchiveAndSaysSo) {
    TempDir td;
    const std::string disk = td / "disk";
    fs::create_directories(disk);
    const std::optional<std::string> failed = InOwnMemoryFileSystem(disk, "size=1m", [&] {
        std::string failures;
        const auto check = [&](bool ok, const std::string& what) {
            if (!ok) failures += what + "\n";
        };
        std::mt19937 random(7);
        std::string noise(700 * 1024, '\0');  // does not shrink: the file and its archive need 1.4 MiB
        for (char& c : noise) c = static_cast<char>(random());
        const std::string file = disk + "/big.dat", lzh = disk + "/big.lzh";

        WriteFile(file, noise);
        TPackRun fresh(TAfterMethod::Delete);
        fresh.Run({file});
        check(fresh.host.HasLine("> ディスクの空きが足りないため、書庫を作成できませんでした。作りかけの書庫は残していません: " + lzh),
              "new: no disk-full line");
        check(fresh.host.HasLine("> [ 解凍失敗 ]\t情報=「32773:\"DISK_SPACE\"」"), "new: no failure line");
        check(!fs::exists(lzh), "new: an archive was left");

        WriteFile(file, "small");
        TPackRun first(TAfterMethod::Nothing);
        first.Run({file});
        const std::string before = fs::exists(lzh) ? ReadFile(lzh) : "";
        check(!before.empty(), "update: the first archive was not made");
        WriteFile(file, noise);
        SetModified(file, 2000000000);  // newer than the archived copy, so that it is packed again
        TPackRun update(TAfterMethod::Delete);
        update.Run({file});
        check(update.host.HasLine("> ディスクの空きが足りないため、書庫を更新できませんでした。書庫は元のままです: " + lzh),
              "update: no disk-full line");
        check(fs::exists(lzh) && ReadFile(lzh) == before, "update: the archive changed");
        check(fs::exists(file) && ReadFile(file) == noise, "update: the file did not stay");
        for (const auto& e : fs::directory_iterator(disk)) {
            const std::string name = e.path().filename();
            check(name == "big.dat" || name == "big.lzh", "left behind: " + name);
        }
        return failures;
    });
    if (!failed) GTEST_SKIP() << "cannot mount a memory file system here";
    EXPECT_EQ(*failed, "");
}
