// Helpers of the archiver tests around the recording modules.
#include "tests/archivers/TestModules.h"

#include "archivers/Archives.h"

namespace norvex::test {

std::string ModuleSet(const std::string& set) { return std::string(NVX_TEST_MODULE_ROOT) + "/" + set; }

RecordingModule::RecordingModule(const char* dllName) : handle_(LoadModule(dllName)) {
    if (handle_) reset();
}

RecordingModule::~RecordingModule() { FreeModule(handle_); }

std::string RecordingModule::log() const {
    auto f = reinterpret_cast<const char* (*)()>(ModuleSymbol(handle_, "NvxTestLog"));
    return f ? f() : std::string();
}

void RecordingModule::set(const char* key, long long value) {
    auto f = reinterpret_cast<void (*)(const char*, long long)>(ModuleSymbol(handle_, "NvxTestSet"));
    ASSERT_TRUE(f);
    f(key, value);
}

void RecordingModule::setText(const char* key, const char* value) {
    auto f = reinterpret_cast<void (*)(const char*, const char*)>(ModuleSymbol(handle_, "NvxTestSetText"));
    ASSERT_TRUE(f);
    f(key, value);
}

void RecordingModule::reset() {
    if (auto f = reinterpret_cast<void (*)()>(ModuleSymbol(handle_, "NvxTestReset"))) f();
}

void ModuleSetTest::UseSet(const std::string& set) {
    FreeArchiverDlls();
    SetModuleFolder(ModuleSet(set));
}

void ModuleSetTest::TearDown() {
    FreeArchiverDlls();
    SetModuleFolder("");
}

}  // namespace norvex::test
