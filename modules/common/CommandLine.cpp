// The command-line reader of the modules: tokens, response files, switch dialects and file masks.
#include "modules/common/CommandLine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "archivers/ArchiverAbi.h"
#include "platform/AnsiCodec.h"

namespace norvex::modules {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

AnsiString Lower(std::string_view s) {
    AnsiString out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = AnsiCharLength(s, i);
        if (n == 1) out += LowerAscii(s[i]);
        else out.append(s.substr(i, n));
        i += n;
    }
    return out;
}

// Splits text into tokens without expanding response files. Blanks and double quotes are never
// trail bytes of cp932, so the scan is byte by byte: no lead byte (a lone one at the end of a name
// included) can hide a quote or a blank.
void SplitTokens(std::string_view text, std::vector<AnsiString>& tokens) {
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsBlank(text[i])) ++i;
        if (i >= text.size()) break;
        AnsiString token;
        bool quoted = false;
        while (i < text.size() && (quoted || !IsBlank(text[i]))) {
            if (text[i] == '"') {
                if (quoted && i + 1 < text.size() && text[i + 1] == '"') {  // "" inside quotes: one "
                    token += '"';
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            token += text[i++];
        }
        tokens.push_back(std::move(token));
    }
}

// Response files are read only when they are regular files of a sane size: a folder, a device or a
// fifo named after "@" is unreadable, not a reason to throw, hang or read forever.
constexpr off_t kMaxResponseFile = 16 * 1024 * 1024;

bool ReadWholeFile(const AnsiString& path, std::string& content) {
    const int fd = ::open(FromAnsi(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxResponseFile;
    content.clear();
    char buffer[64 * 1024];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || static_cast<off_t>(content.size()) + n > kMaxResponseFile) ok = false;
        if (n <= 0) break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ok;
}


// One element of a parsed mask.
struct MaskItem {
    enum Kind { Star, One, Literal, Set } kind;
    uint16_t ch = 0;
    bool negate = false;
    std::vector<std::pair<uint16_t, uint16_t>> ranges;
};

// Whole characters of a cp932 text as codes (lead * 256 + trail), ASCII folded, "\\" as "/".
std::vector<uint16_t> Characters(std::string_view s) {
    std::vector<uint16_t> out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = AnsiCharLength(s, i);
        uint16_t c;
        if (n == 2) {
            c = static_cast<uint16_t>((static_cast<unsigned char>(s[i]) << 8) | static_cast<unsigned char>(s[i + 1]));
        } else {
            char b = LowerAscii(s[i]);
            if (b == '\\') b = '/';
            c = static_cast<unsigned char>(b);
        }
        out.push_back(c);
        i += n;
    }
    return out;
}

std::vector<MaskItem> ParseMask(std::string_view pattern, bool brackets) {
    std::vector<uint16_t> chars = Characters(pattern);
    std::vector<MaskItem> items;
    for (std::size_t i = 0; i < chars.size(); ++i) {
        uint16_t c = chars[i];
        if (c == '*') {
            if (items.empty() || items.back().kind != MaskItem::Star) items.push_back({MaskItem::Star});
        } else if (c == '?') {
            items.push_back({MaskItem::One});
        } else if (c == '[' && brackets) {
            // Find the closing bracket; a "]" right after "[" or "[!" belongs to the set.
            std::size_t j = i + 1;
            MaskItem set{MaskItem::Set};
            if (j < chars.size() && (chars[j] == '!' || chars[j] == '^')) {
                set.negate = true;
                ++j;
            }
            std::size_t start = j;
            while (j < chars.size() && (chars[j] != ']' || j == start)) ++j;
            if (j >= chars.size()) {  // no closing bracket: a literal "["
                items.push_back({MaskItem::Literal, c});
                continue;
            }
            for (std::size_t k = start; k < j; ++k) {
                if (k + 2 < j && chars[k + 1] == '-') {
                    set.ranges.emplace_back(chars[k], chars[k + 2]);
                    k += 2;
                } else {
                    set.ranges.emplace_back(chars[k], chars[k]);
                }
            }
            items.push_back(std::move(set));
            i = j;
        } else {
            items.push_back({MaskItem::Literal, c});
        }
    }
    return items;
}

bool ItemMatches(const MaskItem& item, uint16_t c) {
    switch (item.kind) {
    case MaskItem::One: return true;
    case MaskItem::Literal: return item.ch == c;
    case MaskItem::Set: {
        bool in = false;
        for (auto [lo, hi] : item.ranges)
            if (c >= lo && c <= hi) in = true;
        return in != item.negate;
    }
    case MaskItem::Star: return false;
    }
    return false;
}

// Strips leading separators and "./" so that "/dir/x" and "dir\x" compare alike.
std::string_view TrimLeading(std::string_view s) {
    for (;;) {
        if (!s.empty() && (s[0] == '/' || s[0] == '\\')) s.remove_prefix(1);
        else if (s.size() >= 2 && s[0] == '.' && (s[1] == '/' || s[1] == '\\')) s.remove_prefix(2);
        else return s;
    }
}

}  // namespace

int32_t TokenizeCommandLine(std::string_view cmdLine, std::vector<AnsiString>& tokens) {
    std::vector<AnsiString> raw;
    SplitTokens(cmdLine, raw);
    int32_t result = ARC_OK;
    for (auto& token : raw) {
        if (token.size() > 1 && token[0] == '@') {
            std::string content;
            if (!ReadWholeFile(token.substr(1), content)) {
                result = ARC_ERROR_RESPONSE_READ;
                continue;
            }
            SplitTokens(content, tokens);  // response files do not nest
        } else {
            tokens.push_back(std::move(token));
        }
    }
    return result;
}

int32_t ParseCommandLine(std::string_view cmdLine, CommandLine& out) {
    out = CommandLine{};
    std::vector<AnsiString> tokens;
    int32_t result = TokenizeCommandLine(cmdLine, tokens);
    if (tokens.empty()) return result != ARC_OK ? result : ARC_ERROR_COMMAND_NAME;
    out.word = tokens[0];
    AnsiString word = Lower(out.word);
    if (word.size() > 1 && word[0] == '-') word.erase(0, 1);
    if (word == "x") out.kind = CommandKind::Extract;
    else if (word == "e") out.kind = CommandKind::ExtractFlat;
    else if (word == "t") out.kind = CommandKind::Test;
    else if (word == "l" || word == "v") out.kind = CommandKind::List;
    else out.kind = CommandKind::Other;
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        AnsiString& t = tokens[i];
        if (out.archive.empty()) {
            if (t.size() > 1 && t[0] == '-') out.switches.push_back(std::move(t));
            else if (!t.empty()) out.archive = std::move(t);
        } else if (!out.hasDestination) {
            out.destination = std::move(t);
            out.hasDestination = true;
        } else if (!t.empty()) {
            out.masks.push_back(std::move(t));
        }
    }
    return result;
}

void ApplyDialectLayout(SwitchDialect dialect, CommandLine& line) {
    if (dialect != SwitchDialect::SevenZip) return;
    if (line.hasDestination) line.masks.insert(line.masks.begin(), line.destination);
    line.destination.clear();
    line.hasDestination = false;
    for (const AnsiString& s : line.switches) {
        if (s.size() > 2 && s[0] == '-' && (s[1] == 'o' || s[1] == 'O')) {
            line.destination = s.substr(2);
            line.hasDestination = true;
        }
    }
    std::erase_if(line.masks, [](const AnsiString& m) { return m.empty(); });
}

ExtractOptions InterpretSwitches(SwitchDialect dialect, const CommandLine& line) {
    ExtractOptions o;
    bool askWins = false;
    bool overwriteChosen = false;
    for (const AnsiString& raw : line.switches) {
        AnsiString s = Lower(raw);
        switch (dialect) {
        case SwitchDialect::Lha:
            if (s == "-x0") o.useFolders = false;
            else if (s == "-x1" || s == "-x") o.useFolders = true;
            else if (s == "-jyc1" || s == "-jyc") askWins = true;
            else if (s == "-u0") o.overwrite = OverwritePolicy::Always;
            else if (s == "-jn1" || s == "-jn") o.overwrite = OverwritePolicy::Never;
            else if (s == "-u1" || s == "-u") o.overwrite = OverwritePolicy::IfNewer;
            break;
        case SwitchDialect::Zip:
        case SwitchDialect::Tar:
            if (s == "-j") o.useFolders = false;
            else if (s == "-o") o.overwrite = OverwritePolicy::Always;
            else if (s == "-n") o.overwrite = OverwritePolicy::Never;
            else if (s == "-u") o.overwrite = OverwritePolicy::IfNewer;
            break;
        case SwitchDialect::Cab:
            if (s == "-j") o.useFolders = false;
            else if (s == "-o") o.overwrite = OverwritePolicy::Always;
            else if (s == "-o-") o.overwrite = OverwritePolicy::Never;
            else if (s == "-n") o.overwrite = OverwritePolicy::IfNewer;
            break;
        case SwitchDialect::SevenZip:
            // -y answers every question with yes, unless an -ao switch has chosen for overwriting.
            if (s == "-y") {
                if (!overwriteChosen) o.overwrite = OverwritePolicy::Always;
                break;
            }
            if (s == "-aoa") o.overwrite = OverwritePolicy::Always;
            else if (s == "-aos" || s == "-aou") o.overwrite = OverwritePolicy::Never;
            else if (s == "-aon") o.overwrite = OverwritePolicy::IfNewer;
            else break;
            overwriteChosen = true;
            break;
        case SwitchDialect::Rar:
            if (s == "-o" || s == "-o+") o.overwrite = OverwritePolicy::Always;
            else if (s == "-o-") o.overwrite = OverwritePolicy::Never;
            else if (s == "-u") o.overwrite = OverwritePolicy::IfNewer;
            break;
        }
    }
    if (askWins) o.overwrite = OverwritePolicy::Ask;
    if (line.kind == CommandKind::ExtractFlat) o.useFolders = false;
    return o;
}

bool WildcardMatch(std::string_view pattern, std::string_view text, bool brackets) {
    std::vector<MaskItem> items = ParseMask(pattern, brackets);
    std::vector<uint16_t> chars = Characters(text);
    // Greedy with one backtrack point per star: enough for "*", "?", literals and sets.
    std::size_t p = 0, t = 0, starP = std::string::npos, starT = 0;
    while (t < chars.size()) {
        if (p < items.size() && items[p].kind == MaskItem::Star) {
            starP = p++;
            starT = t;
        } else if (p < items.size() && ItemMatches(items[p], chars[t])) {
            ++p;
            ++t;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < items.size() && items[p].kind == MaskItem::Star) ++p;
    return p == items.size();
}

MaskSet::MaskSet(std::vector<AnsiString> masks, bool brackets) : masks_(std::move(masks)), brackets_(brackets) {
    all_ = masks_.empty();
    for (const AnsiString& m : masks_) {
        const std::string_view mask = TrimLeading(m);
        all_ = all_ || mask == "*.*" || mask == "*";
    }
}

bool MaskSet::matches(std::string_view entryPath) const {
    if (all_) return true;
    std::string_view path = TrimLeading(entryPath);
    for (const AnsiString& maskText : masks_) {
        std::string_view mask = TrimLeading(maskText);
        if (mask == "*.*" || mask == "*") return true;
        if (AnsiFirstDelimiter(mask, "/\\") == std::string_view::npos) {
            if (WildcardMatch(mask, EntryFileName(path), brackets_)) return true;
            continue;
        }
        if (WildcardMatch(mask, path, brackets_)) return true;
        // A folder mask ("dir/") takes what lies under the folder.
        if (AnsiEndsWithSeparator(mask)) {
            AnsiString under(mask);
            under += '*';
            if (WildcardMatch(under, path, brackets_)) return true;
            std::string_view bare = mask.substr(0, mask.size() - 1);
            if (WildcardMatch(bare, path, brackets_)) return true;
        }
    }
    return false;
}

AnsiString EntryFileName(std::string_view entryPath) {
    std::string_view s = entryPath;
    while (!s.empty() && AnsiEndsWithSeparator(s)) s.remove_suffix(1);
    std::size_t pos = AnsiLastDelimiter(s, "/\\");
    return AnsiString(pos == std::string_view::npos ? s : s.substr(pos + 1));
}

}  // namespace norvex::modules
