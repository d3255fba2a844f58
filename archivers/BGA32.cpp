// The BGA driver and its shared binding of BGA32.DLL.
#include "archivers/BGA32.h"

#include "archivers/DriverSupport.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"

namespace norvex {
using namespace norvex::literals;

namespace {
TSharedBinding<TArchiverDll> g_bga;
}

void TBGA32::LoadDLL() {
    if (!g_bga.dll) g_bga.dll = std::make_unique<TArchiverDll>("BGA 形式書庫"_ansi, "BGA32.DLL", "Bga");
    g_bga.dll->Load();
}

void TBGA32::FreeDLL() { g_bga.dll.reset(); }

TCustomArchiverDll* TBGA32::Dll() {
    if (!g_bga.dll) LoadDLL();
    return g_bga.dll.get();
}

bool TBGA32::CheckFile(const AnsiString& name) {
    try {
        LoadDLL();
        const AnsiString full = ExpandFileName(name);
        return FileExists(full) && CheckByOpening(*g_bga.dll, full);
    } catch (...) {
        return false;
    }
}

AnsiString TBGA32::BuildBgaCommand(const AnsiString& word, const AnsiString& name, const TArchiverOptions& o,
                                   const AnsiString& folder, const TFileList& files, bool useResponseFile) {
    TCmdOpt cmd;
    cmd.CommandLine = word;
    if (o.a > 0) cmd.Add("-a");
    cmd.Add(o.c > 0 ? "-o" : "-n");
    if (o.n > 0 || IsOwnerWindowSet()) cmd.Add("-i");
    if (o.r > 0) cmd.Add("-r");
    if (o.x < 1) cmd.Add("-j");
    cmd.AddNumber("l", o.jm);
    cmd.Add(o.UserOptions);
    AddArchiveAndFolder(cmd, name, folder);
    AddFileList(cmd, o, useResponseFile, files);
    return cmd.CommandLine;
}

AnsiString TBGA32::BuildExtractCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder,
                                       const TFileList& files, bool) {
    return BuildBgaCommand("x", name, o, folder, files, o.Uses(ruOnUnpack));
}

AnsiString TBGA32::BuildPackCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder,
                                    const TFileList& files, bool) {
    return BuildBgaCommand("a", name, o, folder, files, o.Uses(ruOnPack));
}

AnsiString TBGA32::BuildDeleteCommand(const AnsiString& name, const TArchiverOptions& o, const TFileList& files,
                                      bool) {
    return BuildBgaCommand("d", name, o, {}, files, o.Uses(ruOnRemoveItem));
}

AnsiString TBGA32::BuildSfxCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder) {
    return BuildBgaCommand("s", name, o, folder, {}, false);
}

}  // namespace norvex
