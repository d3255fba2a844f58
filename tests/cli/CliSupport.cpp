// Running norvex-cli for the tests.
#include "tests/cli/CliSupport.h"

#include <algorithm>
#include <sstream>

#include "tests/support/RunTool.h"

namespace norvex::test {

namespace {

std::string ShellQuoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

}  // namespace

CliResult RunCli(const TempDir& td, const std::vector<std::string>& args, const std::string& program) {
    std::string cmd = ShellQuoted(program.empty() ? std::string(NORVEX_CLI_PATH) : program);
    for (const auto& a : args) cmd += " " + ShellQuoted(a);
    cmd += " >" + ShellQuoted(td / "cli.out") + " 2>" + ShellQuoted(td / "cli.err");
    CliResult r;
    r.exitCode = RunTool({"sh", "-c", cmd}, td.path()).exitCode;
    std::istringstream in(ReadFile(td / "cli.out"));
    for (std::string line; std::getline(in, line);) r.out.push_back(line);
    r.err = ReadFile(td / "cli.err");
    return r;
}

std::vector<std::string> LogTexts(const std::vector<std::string>& lines) {
    std::vector<std::string> texts;
    for (const auto& line : lines) {
        const std::size_t bar = line.find("| ");
        if (bar != std::string::npos) texts.push_back(line.substr(bar + 2));
    }
    return texts;
}

bool HasText(const std::vector<std::string>& lines, const std::string& text) {
    const auto texts = LogTexts(lines);
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

bool HasTextContaining(const std::vector<std::string>& lines, const std::string& part) {
    for (const auto& text : LogTexts(lines))
        if (text.find(part) != std::string::npos) return true;
    return false;
}

}  // namespace norvex::test
