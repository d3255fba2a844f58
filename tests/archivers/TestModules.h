// Access to the test-only recording modules: their folders, and their record and controls.
#pragma once
#include <string>

#include <gtest/gtest.h>

#include "platform/AnsiString.h"
#include "platform/ModuleLoader.h"

namespace norvex::test {

// The folder of one set of test modules ("full", "minimal", "lmzip", "zipboth", "yyz", "empty").
std::string ModuleSet(const std::string& set);

// Holds one recording module loaded (the same instance the bindings use) for the life of a test.
class RecordingModule {
public:
    explicit RecordingModule(const char* dllName);
    ~RecordingModule();
    RecordingModule(const RecordingModule&) = delete;
    RecordingModule& operator=(const RecordingModule&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    std::string log() const;
    void set(const char* key, long long value);
    void setText(const char* key, const char* value);
    void reset();

private:
    ModuleHandle handle_;
};

// Points the module loader at a set and frees every binding before and after each test.
class ModuleSetTest : public ::testing::Test {
protected:
    void UseSet(const std::string& set);
    void TearDown() override;
};

}  // namespace norvex::test
