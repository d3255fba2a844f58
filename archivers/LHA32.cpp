// The LHA driver and its shared binding of UNLHA32.DLL.
#include "archivers/LHA32.h"

#include "archivers/DriverSupport.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"

namespace norvex {
using namespace norvex::literals;

namespace {
TSharedBinding<TArchiverDll> g_lha;
}

void TLha32::LoadDLL() {
    if (!g_lha.dll) g_lha.dll = std::make_unique<TArchiverDll>("LHA 形式書庫"_ansi, "UNLHA32.DLL", "Unlha");
    g_lha.dll->Load();
}

void TLha32::FreeDLL() { g_lha.dll.reset(); }

TCustomArchiverDll* TLha32::Dll() {
    if (!g_lha.dll) LoadDLL();
    return g_lha.dll.get();
}

bool TLha32::CheckFile(const AnsiString& name) {
    try {
        LoadDLL();
        const AnsiString full = ExpandFileName(name);
        if (!g_lha.dll->CheckArchive(full, 16)) return false;
        return CheckByOpening(*g_lha.dll, full);
    } catch (...) {
        return false;
    }
}

AnsiString TLha32::BuildLhaCommand(const AnsiString& word, const AnsiString& name, const TArchiverOptions& o,
                                   const AnsiString& folder, const TFileList& files, bool useResponseFile) {
    // Every caller sets jse and jso; a command without them is refused before anything is written.
    if (word == "x" && o.jse < 0) throw EArchiverAssertion("jse オプションが設定されていません。"_ansi, "Lha32", 207);
    if (o.jso < 0) throw EArchiverAssertion("jso オプションが設定されていません。"_ansi, "Lha32", 214);

    TCmdOpt cmd;
    cmd.CommandLine = word;
    cmd.Add("-+1");
    cmd.AddNumber("a", o.a);
    cmd.AddNumber("c", o.c);
    cmd.AddNumber("e", o.e);
    cmd.AddNumber("f", o.f);
    cmd.AddNumber("h", o.h);
    cmd.AddNumber("i", o.i);
    cmd.AddNumber("l", o.l);
    cmd.AddNumber("m", o.m);
    cmd.AddNumber("n", IsOwnerWindowSet() ? 1 : o.n);  // the module must report to the owner window
    cmd.AddNumber("o", o.o);
    cmd.AddNumber("p", o.p);
    cmd.AddNumber("r", o.r);
    cmd.AddNumber("s", o.s);
    cmd.AddNumber("t", o.t);
    cmd.AddNumber("u", o.u);
    cmd.AddFolder("w", o.w);
    for (auto [n, v] : {std::pair{"x", o.x}, {"y", o.y}, {"z", o.z}, {"jc", o.jc}, {"jd", o.jd}, {"je", o.je},
                        {"jf", o.jf}, {"jh", o.jh}, {"ji", o.ji}, {"jm", o.jm}, {"jn", o.jn}})
        cmd.AddNumber(n, v);
    cmd.AddValue("jo", o.jo);
    cmd.AddValue("job", o.job);
    for (auto [n, v] : {std::pair{"jp", o.jp}, {"jr", o.jr}, {"jsb", o.jsb}, {"jsc", o.jsc}, {"jsd", o.jsd},
                        {"jse", o.jse}, {"jsf", o.jsf}, {"jsl", o.jsl}, {"jso", o.jso}, {"jss", o.jss},
                        {"jst", o.jst}, {"jsv", o.jsv}, {"jsz", o.jsz}, {"jw", o.jw}})
        cmd.AddNumber(n, v);
    cmd.AddFiles("jx", {o.jx});
    for (auto [n, v] : {std::pair{"jyc", o.jyc}, {"jyd", o.jyd}, {"jyk", o.jyk}, {"jyn", o.jyn}, {"jyo", o.jyo}})
        cmd.AddNumber(n, v);
    cmd.AddValue("jz", o.jz);
    for (auto [n, v] : {std::pair{"ga", o.ga}, {"gd", o.gd}, {"ge", o.ge}, {"gf", o.gf}, {"gj", o.gj},
                        {"gm", o.gm}, {"gn", o.gn}, {"go", o.go}, {"gp", o.gp}})
        cmd.AddNumber(n, v);
    cmd.AddValue("gr", o.gr);
    for (auto [n, v] : {std::pair{"gs", o.gs}, {"gu", o.gu}, {"gw", o.gw}, {"gya", o.gya}, {"gyc", o.gyc}})
        cmd.AddNumber(n, v);
    cmd.AddValue("gyd", o.gyd);
    cmd.AddValue("gye", o.gye);
    for (auto [n, v] : {std::pair{"gyo", o.gyo}, {"gyq", o.gyq}, {"gys", o.gys}}) cmd.AddNumber(n, v);
    cmd.AddValue("gyt", o.gyt);
    cmd.AddValue("gyw", o.gyw);
    cmd.AddNumber("gyx", o.gyx);
    cmd.Add(o.UserOptions);
    AddArchiveAndFolder(cmd, name, folder);
    AddFileList(cmd, o, useResponseFile, files);
    return cmd.CommandLine;
}

AnsiString TLha32::BuildExtractCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder,
                                       const TFileList& files, bool) {
    return BuildLhaCommand("x", name, o, folder, files, o.Uses(ruOnUnpack));
}

AnsiString TLha32::BuildPackCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder,
                                    const TFileList& files, bool) {
    return BuildLhaCommand("u", name, o, folder, files, o.Uses(ruOnPack));
}

AnsiString TLha32::BuildDeleteCommand(const AnsiString& name, const TArchiverOptions& o, const TFileList& files,
                                      bool) {
    return BuildLhaCommand("d", name, o, {}, files, o.Uses(ruOnRemoveItem));
}

AnsiString TLha32::BuildUpdateCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder,
                                      const TFileList& files, bool) {
    return BuildLhaCommand("f", name, o, folder, files, o.Uses(ruOnUpdate));
}

AnsiString TLha32::BuildSfxCommand(const AnsiString& name, const TArchiverOptions& o, const AnsiString& folder) {
    return BuildLhaCommand("s", name, o, folder, {}, false);
}

AnsiString TLha32::BuildMemExtractCommand(const AnsiString& name, const TArchiverOptions& o,
                                          const AnsiString& entryName) {
    return BuildLhaCommand("", name, o, {}, {entryName}, false);
}

}  // namespace norvex
