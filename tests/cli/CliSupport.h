// Running norvex-cli as a user does, for the CLI tests: a separate process in a temporary folder,
// its standard output split in lines and its standard error whole.
#pragma once
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace norvex::test {

struct CliResult {
    int exitCode = -1;
    std::vector<std::string> out;  // standard output, line by line
    std::string err;
};

// Runs the program (norvex-cli of the build unless program is given) with args, in td.
CliResult RunCli(const TempDir& td, const std::vector<std::string>& args, const std::string& program = "");

// The log text (without its " n| " number) of every line of standard output.
std::vector<std::string> LogTexts(const std::vector<std::string>& lines);
// A log text anywhere in the output, whatever its number.
bool HasText(const std::vector<std::string>& lines, const std::string& text);
// A log text that contains part.
bool HasTextContaining(const std::vector<std::string>& lines, const std::string& part);

}  // namespace norvex::test
