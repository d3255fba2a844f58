// The extension -> module table of the engine.
#include "engine/FormatModules.h"

#include "platform/AnsiCodec.h"

namespace norvex {

namespace {

const TFormatModule kFormats[] = {
    {".lzh", DllLHA, "> \"ULHA32.DLL\"の準備ができていません"},  {".lha", DllLHA, "> \"ULHA32.DLL\"の準備ができていません"},
    {".zip", DllZIP, "> \"UNzip32.DLL\"の準備ができていません"}, {".cab", DllCAB, "> \"Cab32.DLL\"の準備ができていません"},
    {".rar", DllRAR, "> \"Unrar32.DLL\"の準備ができていません"}, {".tar", DllTAR, "> \"tar32.dll\"の準備ができていません"},
    {".tgz", DllTAR, "> \"tar32.dll\"の準備ができていません"},   {".tbz", DllTAR, "> \"tar32.dll\"の準備ができていません"},
    {".tar.gz", DllTAR, "> \"tar32.dll\"の準備ができていません"}, {".gca", DllGCA, "> \"UnGCA32.DLL\"の準備ができていません"},
    {".tar.bz2", DllTAR, "> \"tar32.dll\"の準備ができていません"}, {".tbz2", DllTAR, "> \"tar32.dll\"の準備ができていません"},
    {".tar.xz", DllTAR, "> \"tar32.dll\"の準備ができていません"},  {".txz", DllTAR, "> \"tar32.dll\"の準備ができていません"},
    {".tar.zst", DllTAR, "> \"tar32.dll\"の準備ができていません"}, {".tzst", DllTAR, "> \"tar32.dll\"の準備ができていません"},
    {".7z", Dll7Z, "> \"7-zip32.dll\"の準備ができていません"},
};

}  // namespace

const TFormatModule* FormatModuleOf(const AnsiString& extension) {
    for (const TFormatModule& f : kFormats)
        if (extension == f.Extension) return &f;
    return nullptr;
}

bool FormatModuleReady(const SettingsBlock& settings, const AnsiString& extension) {
    const TFormatModule* f = FormatModuleOf(extension);
    return !f || settings.DllPresent[f->Dll];
}

}  // namespace norvex
