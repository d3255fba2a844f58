// The YZ1 binding with its password retry, and the YZ1 driver.
#include "archivers/YZ132.h"

#include <cstring>
#include <stdexcept>

#include "archivers/DriverSupport.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"

namespace norvex {
using namespace norvex::literals;

namespace {
TSharedBinding<TYZ1Dll> g_yz1;
}

// ---- TYZ1Dll ---------------------------------------------------------------------------------

TYZ1Dll::TYZ1Dll(const AnsiString& dllName) : TArchiverDll("YZ1 形式書庫"_ansi, dllName, "Yz1") {}

HARC TYZ1Dll::OpenArchive(NvxWindow* window, const AnsiString& path, uint32_t mode) {
    FWindow = window;
    return TArchiverDll::OpenArchive(window, path, mode);
}

int TYZ1Dll::FindFirst(HARC harc, const AnsiString& wildName, TArchiveEntryInfo* info) {
    int result = 0;
    for (int attempt = 1; attempt <= 4; ++attempt) {
        result = TArchiverDll::FindFirst(harc, wildName, info);
        if (result != ARC_PASSWORD_FILE || attempt == 4) break;
        char password[256] = {};
        auto dialog = reinterpret_cast<ARC_PASSWORD_DIALOG>(ResolveExtra(Prefix() + ARC_SUFFIX_PASSWORD_DIALOG, false));
        const int answer = dialog ? dialog(FWindow, password, sizeof password) : -1;
        if (answer < 0) break;
        auto setPassword =
            reinterpret_cast<ARC_SET_DEFAULT_PASSWORD>(ResolveExtra(Prefix() + ARC_SUFFIX_SET_DEFAULT_PASSWORD, false));
        if (setPassword) setPassword(harc, password);
        // The password lives in this buffer only.
        volatile char* wipe = password;
        for (std::size_t k = 0; k < sizeof password; ++k) wipe[k] = 0;
    }
    return result;
}

// ---- TYZ1 ------------------------------------------------------------------------------------

void TYZ1::LoadDLL() {
    if (g_yz1.dll) {
        g_yz1.dll->Load();
        return;
    }
    for (const char* dllName : {"YYZ32.DLL", "YZ1.DLL"}) {
        try {
            g_yz1.dll = std::make_unique<TYZ1Dll>(dllName);
            g_yz1.dll->Load();
            return;
        } catch (const EArchiver&) {
            g_yz1.dll.reset();
        }
    }
    throw EArchiver("Yz1 形式書庫を扱うには "_ansi + "YYZ32.DLL" + " か "_ansi + "YZ1.DLL" + " が必要です。"_ansi);
}

void TYZ1::FreeDLL() { g_yz1.dll.reset(); }

TCustomArchiverDll* TYZ1::Dll() {
    if (!g_yz1.dll) LoadDLL();
    return g_yz1.dll.get();
}

bool TYZ1::CheckFile(const AnsiString& name) {
    try {
        LoadDLL();
        const AnsiString full = ExpandFileName(name);
        return FileExists(full) && CheckByOpening(*g_yz1.dll, full);
    } catch (...) {
        return false;
    }
}

AnsiString TYZ1::BuildYz1Command(const AnsiString& word, const AnsiString& name, const TArchiverOptions& o,
                                 const AnsiString& folder, const TFileList& files, bool useResponseFile) {
    TCmdOpt cmd;
    cmd.CommandLine = word;
    cmd.Add("-+");
    int y = -1;
    switch (o.m) {
        case 0: y = 2; break;
        case 1: y = 1; break;
        case 2: y = 2; break;
        case 9: y = 0; break;
        default: break;
    }
    const int c = y == 2 ? 2 : o.c;
    cmd.AddNumber("c", c);
    cmd.AddNumber("y", y);
    if (o.n > 0 || IsOwnerWindowSet()) cmd.Add("-i");
    cmd.AddNumber("z", o.p);
    cmd.AddNumber("x", o.x);
    cmd.Add(o.UserOptions);
    AddArchiveAndFolder(cmd, name, folder);
    AddFileList(cmd, o, useResponseFile, files);
    return cmd.CommandLine;
}

AnsiString TYZ1::BuildExtractCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder,
                                     const TFileList& files, bool) {
    return BuildYz1Command("x", name, o, folder, files, o.Uses(ruOnUnpack));
}

AnsiString TYZ1::BuildPackCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder,
                                  const TFileList& files, bool) {
    return BuildYz1Command("c", name, o, folder, files, o.Uses(ruOnPack));
}

int TYZ1::MakeSfx(NvxWindow*, const AnsiString& name, AnsiString& cmdLine, AnsiString&, const AnsiString& folder,
                  const TArchiverOptions& o) {
    cmdLine.clear();
    AnsiString stub;
    if (o.gw <= 0) {
        stub = FindStubFile("yzdos16.sfx");
        if (stub.empty())
            throw EArchiver("yz1 書庫からのDOS自己解凍書庫の作成には "_ansi + "yzdos16.sfx" + " が必要です。"_ansi);
    } else {
        stub = FindStubFile("yzw32cui.sfx");
        if (stub.empty()) stub = FindStubFile("yzdec.exe");
        if (stub.empty())
            throw EArchiver("yz1 書庫からのWin32自己解凍書庫の作成には yzw32cui.sfx か yzdec.exe が必要です。"_ansi);
    }
    const int64_t size = GetFileSize(name);
    if (size < 0) throw EArchiver("ファイル "_ansi + name + " を読めません。"_ansi);
    if (size > 0xFFFFFFFFLL) throw std::range_error("archive of 4 GiB or more");
    const uint32_t n = static_cast<uint32_t>(size);
    const char tail[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                          static_cast<char>(n)};
    WriteSfxFile(SfxTargetName(name, ".exe", folder), stub, name, std::string_view(tail, 4));
    return 0;
}

}  // namespace norvex
