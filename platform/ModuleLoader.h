// Loading the archiver modules: a DLL name of the family ("UNLHA32.DLL") maps, without regard to
// case, to a shared object in the program's module folder ("unlha32.so").
#pragma once
#include <cstdint>

#include "platform/AnsiString.h"

namespace norvex {

using ModuleHandle = void*;

// The folder the modules are loaded from (cp932). By default <program folder>/../lib/norvex/modules.
AnsiString ModuleFolder();
// Points the loader at another folder (the tests use folders of test-only modules). Empty restores
// the default.
void SetModuleFolder(const AnsiString& folder);

// The module file a DLL name maps to: lower case, ".dll" replaced by ".so" ("7-zip32.dll" gives
// "7-zip32.so"). A name that already ends in ".so" is kept.
AnsiString ModuleFileName(const AnsiString& dllName);

// Loads the module for dllName (or an explicit path, when it contains a separator); nullptr when it
// cannot be found or loaded. Each successful load must be balanced by FreeModule.
ModuleHandle LoadModule(const AnsiString& dllName);
// The address of an exported entry, or nullptr.
void* ModuleSymbol(ModuleHandle module, const char* name);
// The full path of a loaded module (cp932), or empty.
AnsiString ModulePath(ModuleHandle module);
void FreeModule(ModuleHandle module);

// While one lives, the module folder is looked at once for what it holds, not on every call of a
// binding: a binding that misses a module looks for it again only when the folder changed, and it
// reads the folder's state once per glance. The engine holds one for each archive, so that a module
// copied into the folder is found by the next archive. Without a glance, every call looks.
class TModuleFolderGlance {
public:
    TModuleFolderGlance();
    ~TModuleFolderGlance();
    TModuleFolderGlance(const TModuleFolderGlance&) = delete;
    TModuleFolderGlance& operator=(const TModuleFolderGlance&) = delete;
};

// The glance a state of the module folder read now may be kept for: 0 when no glance lives (the
// state is read again on the next call). Each glance that begins or ends gives a new number, so a
// state read under one number is never taken for a later glance.
uint64_t ModuleFolderGlance();

}  // namespace norvex
