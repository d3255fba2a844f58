// A small ini file in memory: sections in square brackets, "key=value" lines, case-insensitive
// section and key names as Windows ini files have them. Lines it does not understand are kept as
// they are and otherwise ignored, so that a save rewrites only the keys it sets.
//
// On disk the file is UTF-8. Bytes that are not valid UTF-8 are taken as cp932, the code of files
// carried over from Windows. The document itself always holds UTF-8 text.
//
// Values: surrounding blanks are dropped when reading. A value that would not survive that (leading
// or trailing blanks, control characters, a leading double quote, bytes that are not UTF-8) is
// written in double quotes with backslash escapes (\\ \" \n \r \t \xHH); in a UTF-8 file such a
// quoted value is read back unescaped. In a cp932 file, as on Windows, a value in a matching pair of
// double or single quotes loses the quotes and nothing else.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvex {

class TIniDocument {
public:
    TIniDocument() = default;

    // Reads file bytes (UTF-8 with or without a byte-order mark, else cp932).
    static TIniDocument Parse(std::string_view bytes);

    // True when Parse found bytes that are not UTF-8 and read them as cp932.
    bool WasCp932() const { return wasCp932_; }

    // The value of key in section, UTF-8; nullopt when either is missing. The first section of that
    // name and the first key of that name in it count, as on Windows.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;

    // Sets key in section to value (UTF-8; invalid bytes are kept through \xHH escapes). An existing
    // key is rewritten in place; a new key goes after the section's last key; a new section goes at
    // the end.
    void Set(std::string_view section, std::string_view key, std::string_view value);

    // The file text: UTF-8, "\n" line ends. Always valid UTF-8, whatever went in.
    std::string Serialize() const;

private:
    struct Line {
        enum Kind { Other, Section, Key } kind = Other;
        std::string name;   // section or key name, trimmed
        std::string value;  // raw value text of a key line, trimmed
        std::string text;   // the whole line as it stands in the file
    };
    // Index of the section header line, or npos.
    std::size_t FindSection(std::string_view section) const;
    std::size_t SectionEnd(std::size_t header) const;
    static Line ParseLine(std::string text);
    void AdoptOwnFormat();

    std::vector<Line> lines_;
    bool wasCp932_ = false;
};

// Helpers of the value format, exposed for the tests.
bool IsValidUtf8(std::string_view s);
std::string EncodeIniValue(std::string_view utf8);
// Decodes a trimmed raw value as read from a UTF-8 (cp932File false) or cp932 file.
std::string DecodeIniValue(std::string_view raw, bool cp932File);

}  // namespace norvex
