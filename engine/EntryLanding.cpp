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
    const std::size_t size = entryPath.size();
    path.DirLength = 0;
    path.LeavesDestination = size > 0 && (entryPath[0] == '/' || entryPath[0] == '\\');
    bool nowhere = false;
    // Most names land as they stand: their kept components follow one another, joined by single
    // "/". While that holds the landing is the stretch [keptFrom, keptTo) of the name, copied once
    // at the end; the first component that breaks it makes the landing a string of its own.
    bool verbatim = true;
    std::size_t keptFrom = 0, keptTo = 0;
    path.Landing.clear();
    std::size_t start = 0;
    for (;;) {
        std::size_t i = start;
        // A byte below 0x80 is a character of its own in cp932 (most names are mostly ASCII).
        while (i < size) {
            const auto b = static_cast<unsigned char>(entryPath[i]);
            if (b >= 0x80) {
                i += AnsiCharLength(entryPath, i);
            } else if (b == '/' || b == '\\') {
                break;
            } else {
                ++i;
            }
        }
        const bool end = i >= size;
        // One component, with the rules of LandingParts and IsAbsoluteEntryPath.
        std::string_view c = entryPath.substr(start, i - start);
        const bool drive = StartsWithDriveLetter(c);
        if (drive || c == "..") path.LeavesDestination = true;
        if (!nowhere) {
            const bool first = verbatim ? keptTo == keptFrom : path.Landing.empty();
            if (first && drive) c.remove_prefix(2);
            if (c == "..") {
                nowhere = true;
            } else if (!c.empty() && c != ".") {
                const std::size_t at = static_cast<std::size_t>(c.data() - entryPath.data());
                if (verbatim && first) {
                    keptFrom = at;
                    keptTo = at + c.size();
                } else if (verbatim && at == keptTo + 1 && entryPath[keptTo] == '/') {
                    keptTo = at + c.size();
                } else {
                    if (verbatim) {
                        path.Landing.assign(entryPath.substr(keptFrom, keptTo - keptFrom));
                        verbatim = false;
                    }
                    if (!path.Landing.empty()) path.Landing += '/';
                    path.Landing.append(c);
                }
            }
        }
        if (end) break;
        path.DirLength = i + 1;
        start = i + 1;
    }
    path.EndsWithSeparator = size > 0 && path.DirLength == size;
    if (nowhere)
        path.Landing.clear();
    else if (verbatim)
        path.Landing.assign(entryPath.substr(keptFrom, keptTo - keptFrom));
}

}  // namespace norvex
