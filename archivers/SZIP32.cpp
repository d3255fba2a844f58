// The 7z driver and its shared binding of 7-zip32.dll.
#include "archivers/SZIP32.h"

#include "archivers/DriverSupport.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"

namespace norvex {
using namespace norvex::literals;

namespace {
TSharedBinding<TArchiverDll> g_7z;
}

void TSevenZip32::LoadDLL() {
    if (!g_7z.dll) g_7z.dll = std::make_unique<TArchiverDll>("7z 形式書庫"_ansi, "7-zip32.dll", "SevenZip");
    g_7z.dll->Load();
}

void TSevenZip32::FreeDLL() { g_7z.dll.reset(); }

TCustomArchiverDll* TSevenZip32::Dll() {
    if (!g_7z.dll) LoadDLL();
    return g_7z.dll.get();
}

AnsiString TSevenZip32::Build7zCommand(const AnsiString& word, bool extraction, const AnsiString& name,
                                       const TArchiverOptions& o, const AnsiString& folder, const TFileList& files,
                                       bool useResponseFile) {
    TCmdOpt cmd;
    cmd.CommandLine = word;
    if (extraction) {
        if (o.m == 2)
            cmd.Add("-aou");
        else if (o.jn > 0)
            cmd.Add("-aos");
        else if (o.c > 0)
            cmd.Add("-aoa");
    }
    cmd.Add("-ms=off");
    if (o.n > 0) cmd.Add("-hide");
    if (o.r == 0) cmd.Add("-r-");
    if (o.r > 1) cmd.Add("-r");
    cmd.AddFolder("w", o.w);
    if (o.y > 0) cmd.Add("-y");
    cmd.AddFiles("x!", {o.jx});
    cmd.AddFolder("o", folder);
    cmd.Add(o.UserOptions);
    cmd.AddQuoted("", name);
    AddFileList(cmd, o, useResponseFile, files);
    return cmd.CommandLine;
}

AnsiString TSevenZip32::BuildExtractCommand(const AnsiString& name, const TArchiverOptions& o,
                                            const AnsiString& folder, const TFileList& files, bool) {
    return Build7zCommand(o.x == 0 ? "e" : "x", true, name, o, folder, files, o.Uses(ruOnUnpack));
}

AnsiString TSevenZip32::BuildPackCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder,
                                         const TFileList& files, bool) {
    return Build7zCommand("u", false, name, o, folder, files, o.Uses(ruOnPack));
}

AnsiString TSevenZip32::BuildDeleteCommand(const AnsiString& name, const TArchiverOptions& o, const TFileList& files,
                                           bool) {
    return Build7zCommand("d", false, name, o, {}, files, o.Uses(ruOnRemoveItem));
}

int TSevenZip32::MakeSfx(NvxWindow*, const AnsiString& name, AnsiString& cmdLine, AnsiString&,
                         const AnsiString& folder, const TArchiverOptions& o) {
    cmdLine.clear();
    if (o.gw <= 0) throw EArchiver("16bit SFX を作成することはできません。"_ansi);
    // The install folder of a 7-Zip of its own is not recorded anywhere on Linux; the stub is looked
    // up where every other stub is.
    const AnsiString stub = FindStubFile("7z.sfx");
    if (stub.empty()) throw ESfxNoRequiredFile("7z", "", "7z.sfx");
    WriteSfxFile(SfxTargetName(name, ".exe", folder), stub, name);
    return 0;
}

}  // namespace norvex
