// The module bindings: lazy loading, entries resolved once, the extended record's fall-backs, the
// messages of missing modules and entries, the three-module ZIP binding and the YZ1 binding.
#include <ctime>
#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "archivers/Archives.h"
#include "archivers/YZ132.h"
#include "archivers/ZIP32.h"
#include "platform/AnsiCodec.h"
#include "tests/archivers/TestModules.h"
#include "tests/support/TempDir.h"

namespace norvex {
namespace {
using namespace norvex::literals;
using test::RecordingModule;

// A binding that counts how often it asks its module for each name.
class CountingDll : public TArchiverDll {
public:
    using TArchiverDll::TArchiverDll;
    std::map<std::string, int> lookups;

protected:
    void* LookupEntry(ModuleHandle module, const char* name) override {
        ++lookups[name];
        return TArchiverDll::LookupEntry(module, name);
    }
};

class BindingTest : public test::ModuleSetTest {
protected:
    // An archive file the recording module with that prefix accepts.
    std::string Archive(const std::string& name, const std::string& content) {
        const std::string path = dir / name;
        test::WriteFile(path, content);
        return path;
    }
    test::TempDir dir;
};

// Lists a whole archive through a binding; returns the number of entries.
int ListAll(TCustomArchiverDll& dll, const std::string& path) {
    HARC h = dll.OpenArchive(nullptr, path, 0);
    EXPECT_TRUE(h);
    if (!h) return 0;
    TArchiveEntryInfo info{};
    int n = 0;
    for (int r = dll.FindFirst(h, "*.*", &info); r == 0; r = dll.FindNext(h, &info)) ++n;
    dll.CloseArchive(h);
    return n;
}

TEST_F(BindingTest, ResolvesEachEntryOnceUntilUnloadAndAfreshAfterIt) {
    UseSet("full");
    const std::string arc = Archive("a.lzh", "[Unlha]");
    CountingDll dll("LHA 形式書庫"_ansi, "UNLHA32.DLL", "Unlha");
    EXPECT_EQ(dll.Handle(), nullptr) << "construction loads nothing";

    EXPECT_EQ(ListAll(dll, arc), 2);
    EXPECT_EQ(ListAll(dll, arc), 2);
    for (const char* name : {"UnlhaOpenArchive", "UnlhaFindFirst", "UnlhaFindNext", "UnlhaCloseArchive",
                             "UnlhaGetWriteTimeEx", "UnlhaGetOriginalSizeEx"})
        EXPECT_EQ(dll.lookups[name], 1) << name;

    dll.Unload();
    EXPECT_EQ(dll.Handle(), nullptr);
    for (int e = 0; e < aeEntryCount; ++e) EXPECT_EQ(dll.Entry(static_cast<TArcEntry>(e)), nullptr);

    EXPECT_EQ(ListAll(dll, arc), 2);
    for (const char* name : {"UnlhaOpenArchive", "UnlhaFindFirst", "UnlhaFindNext", "UnlhaGetWriteTimeEx"})
        EXPECT_EQ(dll.lookups[name], 2) << name;
}

TEST_F(BindingTest, MissingModuleAndMissingEntryRaiseTheirMessages) {
    UseSet("empty");
    TArchiverDll missing("LHA 形式書庫"_ansi, "UNLHA32.DLL", "Unlha");
    try {
        missing.OpenArchive(nullptr, "/x.lzh", 0);
        FAIL() << "no exception";
    } catch (const ENoArchiverDLL& e) {
        EXPECT_EQ(e.Message(), "LHA 形式書庫 を扱うには UNLHA32.DLL が 必要です。"_ansi);
        EXPECT_STREQ(e.what(), e.Message().c_str()) << "what() carries the cp932 text";
    }

    UseSet("minimal");
    TArchiverDll dll("LHA 形式書庫"_ansi, "UNLHA32.DLL", "Unlha");
    dll.Load();
    try {
        dll.GetArchiveType("/x.lzh");
        FAIL() << "no exception";
    } catch (const EEntryNotFound& e) {
        EXPECT_EQ(e.Message(), ModulePath(dll.Handle()) + " に UnlhaGetArchiveType のエントリが見つかりません。"_ansi);
    }
    EXPECT_THROW(dll.ExtractMem(nullptr, "", nullptr, 0, nullptr, nullptr, nullptr), EEntryNotFound);
    // Optional entries answer false instead.
    EXPECT_FALSE(dll.SetOwnerWindowEx(nullptr, nullptr));
    EXPECT_FALSE(dll.KillOwnerWindowEx(nullptr));
    EXPECT_FALSE(dll.SetEnumMembersProc64(nullptr, 1094));
    EXPECT_FALSE(dll.ClearEnumMembersProc64());
}

TEST_F(BindingTest, ExtendedRecordFallsBackToDosStampAndThirtyTwoBitSizes) {
    UseSet("minimal");
    const std::string arc = Archive("a.lzh", "[Unlha]");
    TArchiverDll dll("LHA 形式書庫"_ansi, "UNLHA32.DLL", "Unlha");
    RecordingModule module("UNLHA32.DLL");
    ASSERT_TRUE(module.loaded());

    HARC h = dll.OpenArchive(nullptr, arc, 0);
    ASSERT_TRUE(h);
    TArchiveEntryInfo info{};
    ASSERT_EQ(dll.FindFirst(h, "*.*", &info), 0);
    // The module's stamp is 2003-01-15 12:34:56, local time.
    std::tm local{};
    local.tm_year = 103;
    local.tm_mday = 15;
    local.tm_hour = 12;
    local.tm_min = 34;
    local.tm_sec = 56;
    local.tm_isdst = -1;
    const uint64_t expected = (static_cast<uint64_t>(std::mktime(&local)) + 11644473600ULL) * 10000000ULL;
    EXPECT_EQ(uint64_t{info.lastWriteTime}, expected);
    EXPECT_EQ(uint64_t{info.lastAccessTime}, expected);
    EXPECT_EQ(uint64_t{info.creationTime}, expected);
    EXPECT_EQ(uint64_t{info.originalSize}, 100u);
    EXPECT_EQ(uint64_t{info.compressedSize}, 50u);

    // Both DOS halves zero: time 0. An impossible stamp (month 13): the fields keep what they held.
    module.set("dosdate", 0);
    module.set("dostime", 0);
    ASSERT_EQ(dll.FindNext(h, &info), 0);
    EXPECT_EQ(uint64_t{info.lastWriteTime}, 0u);
    ASSERT_EQ(dll.FindFirst(h, "*.*", &info), 0);
    module.set("dosdate", (23 << 9) | (13 << 5) | 1);
    module.set("dostime", 1);
    info.lastWriteTime = info.lastAccessTime = info.creationTime = 777;
    ASSERT_EQ(dll.FindNext(h, &info), 0);
    EXPECT_EQ(uint64_t{info.lastWriteTime}, 777u);
    EXPECT_EQ(uint64_t{info.creationTime}, 777u);

    // A find that fails leaves the tail alone.
    module.set("entries", 0);
    info.originalSize = 4242;
    EXPECT_NE(dll.FindFirst(h, "*.*", &info), 0);
    EXPECT_EQ(uint64_t{info.originalSize}, 4242u);
    dll.CloseArchive(h);
}

TEST_F(BindingTest, ExtendedRecordTakesTheModulesTimesAndSixtyFourBitSizes) {
    UseSet("full");
    const std::string arc = Archive("a.lzh", "[Unlha]");
    TArchiverDll dll("LHA 形式書庫"_ansi, "UNLHA32.DLL", "Unlha");
    HARC h = dll.OpenArchive(nullptr, arc, 0);
    ASSERT_TRUE(h);
    TArchiveEntryInfo info{};
    ASSERT_EQ(dll.FindFirst(h, "*.*", &info), 0);
    EXPECT_EQ(uint64_t{info.lastWriteTime}, 132354720000000000ULL);
    EXPECT_EQ(uint64_t{info.lastAccessTime}, 132354720010000000ULL);
    EXPECT_EQ(uint64_t{info.creationTime}, 132354720020000000ULL);
    EXPECT_EQ(uint64_t{info.originalSize}, 5000000000ULL);
    EXPECT_EQ(uint64_t{info.compressedSize}, 4000000000ULL);
    EXPECT_EQ(uint64_t{info.entry.originalSize}, 100u) << "the module's own record is kept as it came";
    dll.CloseArchive(h);
}

TEST_F(BindingTest, ListingWithoutTimesFillsSizesOnlyOnItsThread) {
    UseSet("full");
    const std::string arc = Archive("a.lzh", "[Unlha]");
    TArchiverDll dll("LHA 形式書庫"_ansi, "UNLHA32.DLL", "Unlha");
    HARC h = dll.OpenArchive(nullptr, arc, 0);
    ASSERT_TRUE(h);
    TArchiveEntryInfo info{};
    {
        const TListingWithoutTimes namesAndSizes;
        info.lastWriteTime = info.lastAccessTime = info.creationTime = 7;
        ASSERT_EQ(dll.FindFirst(h, "*.*", &info), 0);
        EXPECT_EQ(uint64_t{info.lastWriteTime}, 7u);
        EXPECT_EQ(uint64_t{info.creationTime}, 7u);
        EXPECT_EQ(uint64_t{info.originalSize}, 5000000000ULL);
    }
    ASSERT_EQ(dll.FindNext(h, &info), 0);
    EXPECT_NE(uint64_t{info.lastWriteTime}, 7u) << "times again once the scope has ended";
    dll.CloseArchive(h);
}

TEST_F(BindingTest, OutputBufferSizes) {
    UseSet("full");
    TArchiverDll dll("LHA 形式書庫"_ansi, "UNLHA32.DLL", "Unlha");
    RecordingModule module("UNLHA32.DLL");
    char buffer[16] = "xxxxxxxxxxxxxxx";
    EXPECT_EQ(dll.Command(nullptr, "a.lzh", "l \"a.lzh\"", buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "done");
    dll.Command(nullptr, "a.lzh", "l", buffer, 0);
    EXPECT_NE(module.log().find("Unlha|l|0|nowindow"), std::string::npos) << module.log();
    EXPECT_THROW(dll.Command(nullptr, "a.lzh", "l", buffer, -1), std::out_of_range);
}

TEST_F(BindingTest, ZipBindingWithOnlyTheLmzipModule) {
    UseSet("lmzip");
    const std::string arc = Archive("a.zip", "[Unzip]");
    TZipDll dll;
    dll.Load();
    EXPECT_FALSE(dll.IsLoaded(TZipDll::zmUnzip32));
    EXPECT_FALSE(dll.IsLoaded(TZipDll::zmZip32j));
    ASSERT_TRUE(dll.IsLoaded(TZipDll::zmLmzip32));
    RecordingModule lm("LMZIP32.DLL");

    EXPECT_EQ(ListAll(dll, arc), 2) << "the lower-case-z entries are found";
    EXPECT_NE(lm.log().find("UnzipOpenArchive|"), std::string::npos);
    dll.Command(nullptr, arc, "-x \"a.zip\"", nullptr, 0);
    dll.PackCommand(nullptr, arc, "-ru \"a.zip\"", nullptr, 0);
    EXPECT_NE(lm.log().find("Unzip|-x \"a.zip\""), std::string::npos) << lm.log();
    EXPECT_NE(lm.log().find("Zip|-ru \"a.zip\""), std::string::npos) << lm.log();
}

TEST_F(BindingTest, ZipBindingPrefersUnzipForCommandsAndLmzipForListing) {
    UseSet("zipboth");
    const std::string arc = Archive("a.zip", "[Unzip][UnZip]");
    TZipDll dll;
    RecordingModule un("UNZIP32.DLL"), lm("LMZIP32.DLL");
    dll.Command(nullptr, arc, "-x", nullptr, 0);
    EXPECT_NE(un.log().find("UnZip|-x"), std::string::npos);
    EXPECT_EQ(lm.log().find("Unzip|"), std::string::npos);
    HARC h = dll.OpenArchive(nullptr, arc, 0);
    ASSERT_TRUE(h);
    dll.CloseArchive(h);
    EXPECT_NE(lm.log().find("UnzipOpenArchive"), std::string::npos);
    EXPECT_EQ(un.log().find("OpenArchive"), std::string::npos);
    // Owner windows are asked of UNZIP32 only.
    EXPECT_TRUE(dll.SetOwnerWindowEx(nullptr, nullptr));
    EXPECT_NE(un.log().find("UnZipSetOwnerWindowEx"), std::string::npos);
}

// A ZIP binding that counts how often it asks a module for each name.
class CountingZipDll : public TZipDll {
public:
    std::map<std::string, int> lookups;

protected:
    void* LookupEntry(ModuleHandle module, const char* name) override {
        ++lookups[name];
        return TZipDll::LookupEntry(module, name);
    }
};

// A module folder of its own, with UNZIP32 only (LMZIP32 is copied in later), made the loader's.
void UseFolderWithUnzip32Only(const test::TempDir& modules) {
    std::filesystem::copy_file(test::ModuleSet("zipboth") + "/unzip32.so", modules / "unzip32.so");
    SetModuleFolder(ToAnsi(modules.path()));
}

TEST_F(BindingTest, ZipBindingKeepsItsLookupsUntilAModuleComes) {
    test::TempDir modules;
    UseFolderWithUnzip32Only(modules);
    const std::string arc = Archive("a.zip", "[Unzip][UnZip]");
    CountingZipDll dll;
    EXPECT_EQ(ListAll(dll, arc), 2);
    EXPECT_EQ(ListAll(dll, arc), 2);
    for (const char* name : {"UnZipOpenArchive", "UnZipFindFirst", "UnZipFindNext", "UnZipCloseArchive"})
        EXPECT_EQ(dll.lookups[name], 1) << name;
    EXPECT_FALSE(dll.IsLoaded(TZipDll::zmLmzip32));

    // LMZIP32 put into the folder is found by the next call (no glance at the folder lives here), and
    // lists from then on.
    std::filesystem::copy_file(test::ModuleSet("zipboth") + "/lmzip32.so", modules / "lmzip32.so");
    RecordingModule lm("LMZIP32.DLL");
    ASSERT_TRUE(lm.loaded());
    EXPECT_EQ(ListAll(dll, arc), 2);
    EXPECT_TRUE(dll.IsLoaded(TZipDll::zmLmzip32));
    EXPECT_NE(lm.log().find("UnzipOpenArchive"), std::string::npos) << lm.log();
    EXPECT_EQ(dll.lookups["UnzipFindNext"], 1);

    dll.Unload();
    EXPECT_EQ(ListAll(dll, arc), 2);
    EXPECT_EQ(dll.lookups["UnzipFindNext"], 2) << "looked up afresh after an unload";
}

TEST_F(BindingTest, ZipBindingLooksIntoTheFolderOncePerGlance) {
    test::TempDir modules;
    UseFolderWithUnzip32Only(modules);
    const std::string arc = Archive("a.zip", "[Unzip][UnZip]");
    CountingZipDll dll;
    {
        // One archive of the engine: a module copied in during it waits for the next glance.
        const TModuleFolderGlance archive;
        EXPECT_EQ(ListAll(dll, arc), 2);
        std::filesystem::copy_file(test::ModuleSet("zipboth") + "/lmzip32.so", modules / "lmzip32.so");
        EXPECT_EQ(ListAll(dll, arc), 2);
        EXPECT_FALSE(dll.IsLoaded(TZipDll::zmLmzip32));
    }
    {
        const TModuleFolderGlance nextArchive;
        RecordingModule lm("LMZIP32.DLL");
        EXPECT_EQ(ListAll(dll, arc), 2);
        EXPECT_TRUE(dll.IsLoaded(TZipDll::zmLmzip32)) << "found by the next archive";
        EXPECT_NE(lm.log().find("UnzipOpenArchive"), std::string::npos) << lm.log();
    }

    // Pointing the loader at another folder is a change even within a glance.
    test::TempDir other;
    std::filesystem::copy_file(test::ModuleSet("zipboth") + "/unzip32.so", other / "unzip32.so");
    CountingZipDll fresh;
    const TModuleFolderGlance glance;
    SetModuleFolder(ToAnsi(other.path()));
    EXPECT_EQ(ListAll(fresh, arc), 2);
    EXPECT_FALSE(fresh.IsLoaded(TZipDll::zmLmzip32));
    SetModuleFolder(ToAnsi(modules.path()));
    EXPECT_EQ(ListAll(fresh, arc), 2);
    EXPECT_TRUE(fresh.IsLoaded(TZipDll::zmLmzip32)) << "the other folder's state is not taken for this one";
}

TEST_F(BindingTest, ZipBindingWithoutAnyZipModule) {
    UseSet("empty");
    std::unique_ptr<TArchiver> zip = CreateArchiver(atZip);  // loads without an error
    ASSERT_TRUE(zip);
    TArchiverOptions o;
    try {
        zip->BuildExtractCommand("/a.zip", o, "/out", {}, false);
        FAIL();
    } catch (const EArchiver& e) {
        EXPECT_EQ(e.Message(), "ZIP 形式書庫の解凍には UNZIP32.DLL または LMZIP32.DLL が必要です。"_ansi);
    }
    try {
        zip->BuildPackCommand("/a.zip", o, "/base", {"f"}, false);
        FAIL();
    } catch (const EArchiver& e) {
        EXPECT_EQ(e.Message(), "ZIP 形式書庫の作成には ZIP32J.DLL または LMZIP32.DLL が必要です。"_ansi);
    }
    try {
        zip->OpenArchive(nullptr, "/a.zip", 0);
        FAIL();
    } catch (const EEntryNotFound& e) {
        EXPECT_EQ(e.Message(), "UnZipOpenArchive のエントリが DLL に見つかりませんでした。"_ansi);
    }
    EXPECT_FALSE(zip->SetOwnerWindow(nullptr, nullptr)) << "an optional entry answers false";
}

TEST_F(BindingTest, Yz1FallsBackToItsSecondModuleName) {
    UseSet("yyz");
    EXPECT_EQ(static_cast<TArchiverDll*>(TYZ1().Dll())->DllName(), "YYZ32.DLL");
    UseSet("full");
    EXPECT_EQ(static_cast<TArchiverDll*>(TYZ1().Dll())->DllName(), "YZ1.DLL");
    UseSet("empty");
    try {
        TYZ1::LoadDLL();
        FAIL();
    } catch (const EArchiver& e) {
        EXPECT_EQ(e.Message(), "Yz1 形式書庫を扱うには YYZ32.DLL か YZ1.DLL が必要です。"_ansi);
    }
}

TEST_F(BindingTest, Yz1OffersThePasswordDialogAtMostThreeTimes) {
    UseSet("yyz");
    const std::string arc = Archive("a.yz1", "[Yz1]");
    struct Case {
        int correctAt, cancelAt;
        int expectedResult, dialogs, finds;
    } cases[] = {
        {2, 0, 0, 2, 3},                  // the second password is right
        {0, 0, ARC_PASSWORD_FILE, 3, 4},  // never right: four attempts, three dialogs
        {0, 1, ARC_PASSWORD_FILE, 1, 1},  // cancelled at once
        {3, 0, 0, 3, 4},                  // right at the last offer
    };
    for (const Case& c : cases) {
        FreeArchiverDlls();
        TYZ1Dll& dll = *static_cast<TYZ1Dll*>(TYZ1().Dll());
        RecordingModule module("YYZ32.DLL");
        module.set("need_password", 1);
        module.set("correct_at", c.correctAt);
        module.set("cancel_at", c.cancelAt);
        HARC h = dll.OpenArchive(nullptr, arc, 0);
        ASSERT_TRUE(h);
        TArchiveEntryInfo info{};
        EXPECT_EQ(dll.FindFirst(h, "*.*", &info), c.expectedResult);
        const std::string log = module.log();
        auto count = [&log](const std::string& what) {
            int n = 0;
            for (std::size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
            return n;
        };
        EXPECT_EQ(count("Yz1PasswordDialog|"), c.dialogs) << log;
        EXPECT_EQ(count("Yz1FindFirst|"), c.finds) << log;
        EXPECT_EQ(count("Yz1SetDefaultPassword|"), c.cancelAt ? c.dialogs - 1 : c.dialogs) << log;
        dll.CloseArchive(h);
    }
}

}  // namespace
}  // namespace norvex
