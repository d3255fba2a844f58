// The ARJ driver and its shared binding of UNARJ32J.DLL.
#include "archivers/ARJ32.h"

#include "archivers/DriverSupport.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"

namespace norvex {
using namespace norvex::literals;

namespace {
TSharedBinding<TArchiverDll> g_arj;
}

void TArj32::LoadDLL() {
    if (!g_arj.dll) g_arj.dll = std::make_unique<TArchiverDll>("ARJ 形式書庫"_ansi, "UNARJ32J.DLL", "Unarj");
    g_arj.dll->Load();
}

void TArj32::FreeDLL() { g_arj.dll.reset(); }

TCustomArchiverDll* TArj32::Dll() {
    if (!g_arj.dll) LoadDLL();
    return g_arj.dll.get();
}

bool TArj32::CheckFile(const AnsiString& name) {
    try {
        LoadDLL();
        return CheckByOpening(*g_arj.dll, ExpandFileName(name));
    } catch (...) {
        return false;
    }
}

}  // namespace norvex
