// The CAB driver and its shared binding of CAB32.DLL.
#include "archivers/CAB32.h"

#include "archivers/DriverSupport.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"

namespace norvex {
using namespace norvex::literals;

namespace {
TSharedBinding<TArchiverDll> g_cab;
}

void TCab32::LoadDLL() {
    if (!g_cab.dll) g_cab.dll = std::make_unique<TArchiverDll>("CAB 形式書庫"_ansi, "CAB32.DLL", "Cab");
    g_cab.dll->Load();
}

void TCab32::FreeDLL() { g_cab.dll.reset(); }

TCustomArchiverDll* TCab32::Dll() {
    if (!g_cab.dll) LoadDLL();
    return g_cab.dll.get();
}

bool TCab32::CheckFile(const AnsiString& name) {
    try {
        LoadDLL();
        return CheckByOpening(*g_cab.dll, ExpandFileName(name));
    } catch (...) {
        return false;
    }
}

AnsiString TCab32::BuildCabCommand(const AnsiString& word, const AnsiString& name, const TArchiverOptions& o,
                                   const AnsiString& folder, const TFileList& files, bool useResponseFile) {
    TCmdOpt cmd;
    cmd.CommandLine = word;
    if (o.c == 1) cmd.Add("-o");
    if (o.n > 0 || IsOwnerWindowSet()) cmd.Add("-i");
    if (o.r > 0) cmd.Add("-r");
    cmd.AddFolder("h", o.w);
    if (o.x == 0) cmd.Add("-j");
    if (o.ji > 0) cmd.Add("-q");
    cmd.Add(o.UserOptions);
    AddArchiveAndFolder(cmd, name, folder);
    AddFileList(cmd, o, useResponseFile, files);
    return cmd.CommandLine;
}

AnsiString TCab32::BuildExtractCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder,
                                       const TFileList& files, bool) {
    return BuildCabCommand("-x", ExpandFileName(name), o, folder, files, o.Uses(ruOnUnpack));
}

AnsiString TCab32::BuildPackCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder,
                                    const TFileList& files, bool) {
    return BuildCabCommand("-a", name, o, folder, files, o.Uses(ruOnPack));
}

AnsiString TCab32::BuildSfxCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder) {
    return BuildCabCommand("-f", name, o, folder, {}, false);
}

AnsiString TCab32::BuildMemExtractCommand(const AnsiString& name, const TArchiverOptions& o,
                                          const AnsiString& entryName) {
    return BuildCabCommand("", name, o, {}, {entryName}, false);
}

}  // namespace norvex
