// The ini document: parsing with Windows' leniency, in-place updates, UTF-8 output.
#include "settings/IniDocument.h"

#include <cstdint>

#include "platform/AnsiCodec.h"

namespace norvex {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

// Length of the valid UTF-8 sequence at s[i], or 0 when the bytes there are not one.
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) return 1;
    std::size_t n;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { n = 3; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { n = 4; cp = c & 0x07; }
    else return 0;
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;  // overlong, too big
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;                                              // surrogate
    return n;
}

// Replaces every byte that is not part of valid UTF-8 by U+FFFD (used only for lines kept as they
// were read, never for values that Norvex writes).
std::string SanitizeUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = Utf8SequenceLength(s, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(s.substr(i, n));
            i += n;
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = AsciiLower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

bool IsValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        std::size_t n = Utf8SequenceLength(s, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string EncodeIniValue(std::string_view v) {
    bool quote = !v.empty() && (IsBlank(v.front()) || IsBlank(v.back()) || v.front() == '"');
    for (std::size_t i = 0; i < v.size() && !quote;) {
        const unsigned char c = static_cast<unsigned char>(v[i]);
        std::size_t n = Utf8SequenceLength(v, i);
        if (n == 0 || c < 0x20 || c == 0x7F) quote = true;
        i += n ? n : 1;
    }
    if (!quote) return std::string(v);

    static const char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (std::size_t i = 0; i < v.size();) {
        const unsigned char c = static_cast<unsigned char>(v[i]);
        std::size_t n = Utf8SequenceLength(v, i);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (n == 0 || c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out.append(v.substr(i, n));
            i += n;
            continue;
        }
        ++i;
    }
    out += '"';
    return out;
}

std::string DecodeIniValue(std::string_view raw, bool cp932File) {
    // Files carried over from Windows lose a pair of either quotes and know no escapes: "C:\new" is
    // a path, not a line break. Our own files quote with double quotes only, and escape inside.
    const bool quoted = raw.size() >= 2 && raw.front() == raw.back() &&
                        (raw.front() == '"' || (cp932File && raw.front() == '\''));
    if (!quoted) return std::string(raw);
    std::string_view inner = raw.substr(1, raw.size() - 2);
    if (cp932File) return std::string(inner);
    std::string out;
    out.reserve(inner.size());
    for (std::size_t i = 0; i < inner.size(); ++i) {
        char c = inner[i];
        if (c != '\\' || i + 1 >= inner.size()) {
            out += c;
            continue;
        }
        char e = inner[i + 1];
        int hi, lo;
        switch (e) {
            case '\\': out += '\\'; ++i; break;
            case '"': out += '"'; ++i; break;
            case 'n': out += '\n'; ++i; break;
            case 'r': out += '\r'; ++i; break;
            case 't': out += '\t'; ++i; break;
            case 'x':
                if (i + 3 < inner.size() && (hi = HexDigit(inner[i + 2])) >= 0 && (lo = HexDigit(inner[i + 3])) >= 0) {
                    out += static_cast<char>(hi * 16 + lo);
                    i += 3;
                } else {
                    out += c;
                }
                break;
            default: out += c; break;  // an unknown escape stands for itself
        }
    }
    return out;
}

TIniDocument::Line TIniDocument::ParseLine(std::string text) {
    Line line;
    std::string_view t = Trim(text);
    if (!t.empty() && t.front() == '[') {
        std::size_t close = t.find(']');
        if (close != std::string_view::npos) {
            line.kind = Line::Section;
            line.name = std::string(Trim(t.substr(1, close - 1)));
        }
    } else if (!t.empty() && t.front() != ';' && t.front() != '#') {
        std::size_t eq = t.find('=');
        if (eq != std::string_view::npos) {
            std::string_view key = Trim(t.substr(0, eq));
            if (!key.empty()) {
                line.kind = Line::Key;
                line.name = std::string(key);
                line.value = std::string(Trim(t.substr(eq + 1)));
            }
        }
    }
    line.text = std::move(text);
    return line;
}

TIniDocument TIniDocument::Parse(std::string_view bytes) {
    TIniDocument doc;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    std::string text;
    if (IsValidUtf8(bytes)) {
        text = std::string(bytes);
    } else {
        doc.wasCp932_ = true;
        text = FromAnsi(bytes);
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string lineText = text.substr(start, end - start);
        while (!lineText.empty() && lineText.back() == '\r') lineText.pop_back();
        doc.lines_.push_back(ParseLine(std::move(lineText)));
        start = end + 1;
    }
    return doc;
}

std::size_t TIniDocument::FindSection(std::string_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == Line::Section && SameName(lines_[i].name, section)) return i;
    return std::string::npos;
}

std::size_t TIniDocument::SectionEnd(std::size_t header) const {
    std::size_t i = header + 1;
    while (i < lines_.size() && lines_[i].kind != Line::Section) ++i;
    return i;
}

std::optional<std::string> TIniDocument::Get(std::string_view section, std::string_view key) const {
    std::size_t header = FindSection(section);
    if (header == std::string::npos) return std::nullopt;
    for (std::size_t i = header + 1, end = SectionEnd(header); i < end; ++i)
        if (lines_[i].kind == Line::Key && SameName(lines_[i].name, key)) return DecodeIniValue(lines_[i].value, wasCp932_);
    return std::nullopt;
}

// The document is written back as UTF-8 in our own value format. Values read from a Windows file
// keep their Windows reading (a quoted "C:\new" is a path, not a line break) by being re-encoded.
void TIniDocument::AdoptOwnFormat() {
    if (!wasCp932_) return;
    for (Line& l : lines_)
        if (l.kind == Line::Key) {
            l.value = EncodeIniValue(DecodeIniValue(l.value, true));
            l.text = l.name + "=" + l.value;
        }
    wasCp932_ = false;
}

void TIniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    Line line;
    line.kind = Line::Key;
    line.name = std::string(key);
    line.value = EncodeIniValue(value);
    line.text = line.name + "=" + line.value;
    AdoptOwnFormat();

    std::size_t header = FindSection(section);
    if (header == std::string::npos) {
        if (!lines_.empty() && !Trim(lines_.back().text).empty()) lines_.push_back(ParseLine(""));
        lines_.push_back(ParseLine("[" + std::string(section) + "]"));
        lines_.push_back(std::move(line));
        return;
    }
    std::size_t end = SectionEnd(header);
    std::size_t insertAt = header + 1;
    for (std::size_t i = header + 1; i < end; ++i) {
        if (lines_[i].kind == Line::Key && SameName(lines_[i].name, key)) {
            lines_[i] = std::move(line);
            return;
        }
        if (!Trim(lines_[i].text).empty()) insertAt = i + 1;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
}

std::string TIniDocument::Serialize() const {
    std::string out;
    for (const Line& l : lines_) {
        if (l.kind == Line::Key && wasCp932_)
            out += l.name + "=" + EncodeIniValue(DecodeIniValue(l.value, true));
        else
            out += SanitizeUtf8(l.text);
        out += '\n';
    }
    return out;
}

}  // namespace norvex
