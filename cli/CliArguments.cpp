// norvex-cli's argument reader.
#include "cli/CliArguments.h"

namespace norvex {

namespace {

bool YesNo(const std::string& value, bool& yes) {
    if (value != "yes" && value != "no") return false;
    yes = value == "yes";
    return true;
}

}  // namespace

TCliArguments ParseCliArguments(int argc, const char* const* argv) {
    TCliArguments o;
    auto fail = [&](std::string problem) {
        o.Action = TCliArguments::TAction::UsageError;
        o.Problem = std::move(problem);
        return o;
    };
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            o.Paths.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            o.Action = TCliArguments::TAction::Help;
            return o;
        }
        if (a == "--version") {
            o.Action = TCliArguments::TAction::Version;
            return o;
        }
        if (a == "-d" || a == "-t" || a == "-k") {
            if (!o.AfterSwitch.empty() && o.AfterSwitch != a) return fail(o.AfterSwitch + " と " + a + " は同時に指定できません");
            o.AfterSwitch = a;
            continue;
        }
        std::string name = a, value;
        bool hasValue = false;
        if (const std::size_t eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
            hasValue = true;
        }
        if (name != "--ini" && name != "--to" && name != "--answer" && name != "--confirm-delete")
            return fail("不明なオプション " + a);
        if (!hasValue) {
            if (i + 1 >= argc) return fail(name + " には値が必要です");
            value = argv[++i];
        }
        if (name == "--ini") {
            o.Ini = value;
        } else if (name == "--to") {
            o.To = value;
        } else if (name == "--answer") {
            if (!YesNo(value, o.AnswerYes)) return fail("--answer は yes か no です: " + value);
        } else {
            bool yes = false;
            if (!YesNo(value, yes)) return fail("--confirm-delete は yes か no です: " + value);
            o.ConfirmDelete = yes ? 1 : 0;
        }
    }
    return o;
}

}  // namespace norvex
