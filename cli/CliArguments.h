// The command line of norvex-cli: options anywhere among the paths, "--" ends them.
#pragma once
#include <string>
#include <vector>

namespace norvex {

struct TCliArguments {
    enum class TAction { Run, Help, Version, UsageError };
    TAction Action = TAction::Run;
    std::string Problem;  // for UsageError: what was wrong, naming the argument
    std::string Ini;
    std::string To;
    bool AnswerYes = false;
    int ConfirmDelete = -1;  // the answer to the delete confirmation: 1 yes, 0 no, -1 as --answer says
    std::string AfterSwitch;  // "-d", "-t", "-k" or empty
    std::vector<std::string> Paths;
};

// Reads argv[1..argc). Options take their value as the next argument or after "=" ("--to=DIR").
// Any other argument that starts with "-" (but "-" alone) is an unknown option; "--" makes every
// later argument a path.
TCliArguments ParseCliArguments(int argc, const char* const* argv);

}  // namespace norvex
