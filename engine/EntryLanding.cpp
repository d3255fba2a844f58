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

bool StartsWithDriveLetter(const AnsiString& component) {
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

}  // namespace norvex
