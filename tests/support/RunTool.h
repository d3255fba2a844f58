// Runs an outside tool (zip, bsdtar, lhasa, ...) for a test, without a shell, and reports how it went.
#pragma once
#include <string>
#include <vector>

namespace norvex::test {

struct ToolResult {
    int exitCode = -1;     // -1 when the tool could not be started
    std::string output;    // standard output and standard error together
};

// Runs argv[0] (looked up on PATH) with the arguments in folder cwd (empty: the current folder).
ToolResult RunTool(const std::vector<std::string>& argv, const std::string& cwd = "");

// True when the tool is on PATH; tests that need a missing tool skip instead of failing.
bool HaveTool(const std::string& name);

}  // namespace norvex::test
