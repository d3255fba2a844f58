// The TAR family drivers and their one shared binding of TAR32.DLL.
#include "archivers/TAR32.h"

#include "archivers/DriverSupport.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"

namespace norvex {
using namespace norvex::literals;

namespace {
TSharedBinding<TArchiverDll> g_tar;
}

void TTar32::LoadDLL() {
    if (!g_tar.dll)
        g_tar.dll = std::make_unique<TArchiverDll>("tar/tgz/taz/bz2 形式書庫"_ansi, "TAR32.DLL", "Tar");
    g_tar.dll->Load();
}

void TTar32::FreeDLL() { g_tar.dll.reset(); }

TCustomArchiverDll* TTar32::Dll() {
    if (!g_tar.dll) LoadDLL();
    return g_tar.dll.get();
}

TArchiverType TTar32::TypeFromArchiveType(int archiveType) {
    if (archiveType == 1) return atTar;
    if (archiveType >= 2 && archiveType <= 5) return atTgz;
    if (archiveType == 6 || archiveType == 7) return atBZ2;
    return atNone;
}

TArchiverType TTar32::CheckType(const AnsiString& name) {
    try {
        LoadDLL();
        return TypeFromArchiveType(g_tar.dll->GetArchiveType(name));
    } catch (...) {
        return atNone;
    }
}

AnsiString TTar32::BuildTarCommand(const AnsiString& word, const AnsiString& name, const TArchiverOptions& o,
                                   const AnsiString& folder, const TFileList& files, bool useResponseFile) {
    TCmdOpt cmd;
    cmd.CommandLine = word;
    if (o.a > 0) cmd.Add("-AH");
    if (o.a == 0) cmd.Add("-I");
    if (!IsOwnerWindowSet() && o.n > 0) cmd.Add("--display-dialog=0");
    if (o.o > 0) cmd.Add("-g");
    if (o.p >= 0) cmd.Add("--check-all-path=" + std::to_string(o.p));
    if (dynamic_cast<const TTgz32*>(this))
        cmd.Add(o.jm > 0 ? "-z" + std::to_string(o.jm) : AnsiString("-z"));
    else if (dynamic_cast<const TBZ232*>(this))
        cmd.Add(o.jm > 0 ? "-B" + std::to_string(o.jm) : AnsiString("-B"));
    cmd.Add(o.UserOptions);
    if (!name.empty()) cmd.AddQuoted("", name);
    cmd.AddFolder("", folder);
    AddFileList(cmd, o, useResponseFile, files);
    return cmd.CommandLine;
}

AnsiString TTar32::BuildExtractCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder,
                                       const TFileList& files, bool) {
    return BuildTarCommand("-x", name, o, folder, files, o.Uses(ruOnUnpack));
}

AnsiString TTar32::BuildPackCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder,
                                    const TFileList& files, bool) {
    return BuildTarCommand("c", name, o, folder, files, o.Uses(ruOnPack));
}

AnsiString TTar32::BuildMemExtractCommand(const AnsiString& name, const TArchiverOptions& o,
                                          const AnsiString& entryName) {
    return BuildTarCommand("", name, o, {}, {entryName}, false);
}

int TTar32::MakeSfx(NvxWindow*, const AnsiString& name, AnsiString& cmdLine, AnsiString&,
                    const AnsiString& folder, const TArchiverOptions&) {
    cmdLine.clear();
    if (dynamic_cast<const TBZ232*>(this)) throw EArchiver("BZ2 形式書庫は自己解凍形式にできません。"_ansi);
    const AnsiString stub = FindStubFile("kmtarsef.exe");
    if (stub.empty()) throw ESfxNoRequiredFile("tar/tgz", "", "kmtarsef.exe");
    WriteSfxFile(SfxTargetName(name, ".EXE", folder), stub, name);
    return 0;
}

}  // namespace norvex
