// dlopen-based module loading with the family's case-insensitive DLL names.
#include "platform/ModuleLoader.h"

#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>

#include "platform/AnsiCodec.h"
#include "platform/StandardFolders.h"

namespace norvex {
namespace {

std::mutex g_folderMutex;
AnsiString g_folderOverride;

std::atomic<int> g_glances{0};
std::atomic<uint64_t> g_glanceNumber{1};

bool EndsWithNoCase(const std::string& s, const char* tail) {
    const std::string t(tail);
    return s.size() >= t.size() && strcasecmp(s.c_str() + s.size() - t.size(), t.c_str()) == 0;
}

// Finds name in folder, exactly or else without regard to ASCII case; returns the host path or "".
std::string FindInFolder(const std::string& folder, const std::string& name) {
    const std::string exact = folder + "/" + name;
    if (access(exact.c_str(), F_OK) == 0) return exact;
    std::string found;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* e = readdir(dir)) {
            if (strcasecmp(e->d_name, name.c_str()) == 0) {
                found = folder + "/" + e->d_name;
                break;
            }
        }
        closedir(dir);
    }
    return found;
}

}  // namespace

AnsiString ModuleFolder() {
    {
        std::lock_guard lock(g_folderMutex);
        if (!g_folderOverride.empty()) return g_folderOverride;
    }
    static const AnsiString folder = ProgramFolder() + "/../lib/norvex/modules";
    return folder;
}

void SetModuleFolder(const AnsiString& folder) {
    std::lock_guard lock(g_folderMutex);
    g_folderOverride = folder;
    g_glanceNumber.fetch_add(1);  // another folder: what a glance saw was of the old one
}

AnsiString ModuleFileName(const AnsiString& dllName) {
    AnsiString name = dllName;
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (EndsWithNoCase(name, ".so")) return name;
    if (EndsWithNoCase(name, ".dll")) name.resize(name.size() - 4);
    return name + ".so";
}

ModuleHandle LoadModule(const AnsiString& dllName) {
    if (dllName.empty()) return nullptr;
    std::string path;
    if (AnsiFirstDelimiter(dllName, "/") != AnsiString::npos) {
        path = FromAnsi(dllName);
    } else {
        path = FindInFolder(FromAnsi(ModuleFolder()), FromAnsi(ModuleFileName(dllName)));
        if (path.empty()) return nullptr;
    }
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* ModuleSymbol(ModuleHandle module, const char* name) {
    if (!module || !name) return nullptr;
    return dlsym(module, name);
}

AnsiString ModulePath(ModuleHandle module) {
    if (!module) return {};
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
    return ToAnsi(map->l_name);
}

void FreeModule(ModuleHandle module) {
    if (module) dlclose(module);
}

TModuleFolderGlance::TModuleFolderGlance() {
    g_glanceNumber.fetch_add(1);
    g_glances.fetch_add(1);
}

TModuleFolderGlance::~TModuleFolderGlance() {
    g_glances.fetch_sub(1);
    g_glanceNumber.fetch_add(1);
}

uint64_t ModuleFolderGlance() { return g_glances.load() > 0 ? g_glanceNumber.load() : 0; }

}  // namespace norvex
