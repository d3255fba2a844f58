// The landing parts of an entry name; the rules mirror the modules' safe writer.
#include "engine/EntryLanding.h"

#include "platform/AnsiCodec.h"

namespace norvex {

std::vector<AnsiString> SplitEntryPath(const AnsiString& path) {
    std::vector<AnsiString> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t sep = AnsiFirstDelimiter(path, "/\\", start);
        if (sep == AnsiString::npos) {
            parts.push_back(path.substr(start));
            return parts;
        }
        parts.push_back(path.substr(start, sep - start));
        start = sep + 1;
    }
}

bool StartsWithDriveLetter(std::string_view component) {
    if (component.size() < 2 || component[1] != ':') return false;
    const char c = component[0];
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::vector<AnsiString> LandingParts(const AnsiString& entryPath) {
    std::vector<AnsiString> parts;
    for (AnsiString c : SplitEntryPath(entryPath)) {
        if (parts.empty() && StartsWithDriveLetter(c)) c.erase(0, 2);
        if (c.empty() || c == ".") continue;
        if (c == "..") return {};
        parts.push_back(std::move(c));
    }
    return parts;
}

void ReadEntryPath(std::string_view entryPath, TEntryPath& path) {
    path.Landing.clear();
    path.DirLength = 0;
    path.LeavesDestination = !entryPath.empty() && (entryPath[0] == '/' || entryPath[0] == '\\');
    bool nowhere = false;
    std::size_t start = 0;
    for (std::size_t i = 0;;) {
        const bool end = i >= entryPath.size();
        // A byte below 0x80 is a character of its own in cp932 (most names are mostly ASCII).
        const std::size_t n =
            end ? 0 : static_cast<unsigned char>(entryPath[i]) < 0x80 ? 1 : AnsiCharLength(entryPath, i);
        if (!end && !(n == 1 && (entryPath[i] == '/' || entryPath[i] == '\\'))) {
            i += n;
            continue;
        }
        // One component, with the rules of LandingParts and IsAbsoluteEntryPath.
        std::string_view c = entryPath.substr(start, i - start);
        if (c == ".." || StartsWithDriveLetter(c)) path.LeavesDestination = true;
        if (!nowhere) {
            if (path.Landing.empty() && StartsWithDriveLetter(c)) c.remove_prefix(2);
            if (c == "..") {
                nowhere = true;
            } else if (!c.empty() && c != ".") {
                if (!path.Landing.empty()) path.Landing += '/';
                path.Landing.append(c);
            }
        }
        if (end) break;
        path.DirLength = i + 1;
        start = ++i;
    }
    path.EndsWithSeparator = !entryPath.empty() && path.DirLength == entryPath.size();
    if (nowhere) path.Landing.clear();
}

}  // namespace norvex
