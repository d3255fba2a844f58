// What the reliability suites share: norvex-cli run as a child process with a time limit and an
// optional file-size limit, whole-tree snapshots that never follow links, and archive builders that
// write hostile entries byte for byte (Python's zipfile and tarfile, as an outside tool).
#pragma once
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace norvex::test {

struct CliRun {
    int exitCode = -1;        // -1 when killed by a signal or the time limit
    int signal = 0;           // the signal that ended it, if any
    bool timedOut = false;
    std::vector<std::string> lines;  // standard output, line by line (UTF-8)
    std::string err;
};

struct CliLimits {
    int seconds = 120;            // killed (SIGKILL) after this long
    long long fileSizeLimit = 0;  // RLIMIT_FSIZE in bytes (SIGXFSZ ignored), 0 = none
};

// Starts norvex-cli with args in folder cwd; standard output and error go to files in outDir.
pid_t StartCli(const std::vector<std::string>& args, const std::string& cwd, const std::string& outDir,
               const CliLimits& limits = {});
// Waits for a started norvex-cli (killing it at the time limit) and collects its output.
CliRun WaitCli(pid_t pid, const std::string& outDir, int seconds);
CliRun RunCli(const std::vector<std::string>& args, const std::string& cwd, const std::string& outDir,
              const CliLimits& limits = {});

// True when some output line, without its " n| " number, equals text / contains text.
bool HasLogText(const CliRun& run, const std::string& text);
int CountLogContaining(const CliRun& run, const std::string& part);

// Every entry under root, by relative path, never following links: "d", "l:<target>",
// "f:<size>:<content hash>", "o:<mode>" for anything else. Files above 16 MiB are hashed by their
// first and last MiB.
using TreeSnapshot = std::map<std::string, std::string>;
TreeSnapshot Snapshot(const std::string& root);
// The entries of after that differ from before (added, changed or removed), for messages.
std::vector<std::string> Differences(const TreeSnapshot& before, const TreeSnapshot& after);

// Runs python3 with the script (its arguments in argv); true when it succeeded.
bool RunPython(const std::string& script, const std::vector<std::string>& args = {});

// Writes a ZIP with Python's zipfile: each entry "name=content" (the name's bytes kept as they are),
// or "name=@N" for N zero bytes, deflated. With flipLastByte the last entry's last data byte is
// flipped, so its checksum fails. True when it succeeded.
bool MakeTestZip(const std::string& path, const std::vector<std::string>& entries, bool flipLastByte = false);

// Entries that point out of root: links whose target leaves root lexically, special files.
std::vector<std::string> WaysOut(const std::string& root);

// Free bytes on the file system of path.
unsigned long long FreeBytes(const std::string& path);

}  // namespace norvex::test
