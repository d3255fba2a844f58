// The RAR driver and its shared binding of UNRAR32.DLL.
#include "archivers/RAR32.h"

#include "archivers/DriverSupport.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"

namespace norvex {
using namespace norvex::literals;

namespace {
TSharedBinding<TArchiverDll> g_rar;
}

void TRar32::LoadDLL() {
    if (!g_rar.dll) g_rar.dll = std::make_unique<TArchiverDll>("RAR 形式書庫"_ansi, "UNRAR32.DLL", "Unrar");
    g_rar.dll->Load();
}

void TRar32::FreeDLL() { g_rar.dll.reset(); }

TCustomArchiverDll* TRar32::Dll() {
    if (!g_rar.dll) LoadDLL();
    return g_rar.dll.get();
}

bool TRar32::CheckFile(const AnsiString& name) {
    try {
        LoadDLL();
        return CheckByOpening(*g_rar.dll, ExpandFileName(name));
    } catch (...) {
        return false;
    }
}

AnsiString TRar32::BuildRarCommand(const AnsiString& word, const AnsiString& name, const TArchiverOptions& o,
                                   const AnsiString& folder, const TFileList& files, bool useResponseFile) {
    TCmdOpt cmd;
    cmd.CommandLine = word;
    if (o.c <= 0) cmd.Add("-u");
    if (o.m > 0) cmd.Add("-y");
    if (o.p > 0) cmd.Add("-s");
    cmd.Add(o.UserOptions);
    AddArchiveAndFolder(cmd, name, folder);
    AddFileList(cmd, o, useResponseFile, files);
    return cmd.CommandLine;
}

AnsiString TRar32::BuildExtractCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder,
                                       const TFileList& files, bool) {
    return BuildRarCommand(o.x == 0 ? "-e" : "-x", name, o, folder, files, o.Uses(ruOnUnpack));
}

AnsiString TRar32::BuildMemExtractCommand(const AnsiString& name, const TArchiverOptions& o,
                                          const AnsiString& entryName) {
    return BuildRarCommand("", name, o, {}, {entryName}, false);
}

}  // namespace norvex
