// Control characters of names never reach a person raw: the escaping on cp932 text and the log line.
#include <gtest/gtest.h>

#include <cctype>
#include <vector>

#include "engine/EngineLog.h"
#include "engine/ShownText.h"
#include "platform/AnsiCodec.h"

using namespace norvex;

namespace {

// The long way, as the reference for the short ones: every text goes to UTF-8, is escaped there,
// and comes back to cp932 when anything changed; the placeholder is found by walking the characters.
AnsiString ReferenceShown(const AnsiString& text, bool keepLayoutTab) {
    const std::string utf8 = FromAnsi(text);
    const std::string escaped = EscapeControlsUtf8(utf8, keepLayoutTab, /*escapeInvalid=*/false);
    if (escaped == utf8) return text;
    AnsiString out;
    return TryToAnsi(escaped, out) ? out : text;
}

// The placeholder of the archive heading, compared byte by byte; npos for any other text.
std::size_t ReferencePlaceholder(const AnsiString& text) {
    const std::string heading = kArchiveHeading;
    if (text.size() != heading.size()) return AnsiString::npos;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != heading[i] && text[i] != heading[i]) return AnsiString::npos;
    return heading.find('%');
}

AnsiString ReferenceLogLine(int n, const AnsiString& text, const AnsiString& archive) {
    const AnsiString number = " " + std::to_string(n) + "| ";
    const std::size_t at = ReferencePlaceholder(text);
    if (at == AnsiString::npos) return number + ReferenceShown(text, true);
    return number + ReferenceShown(text.substr(0, at), true) + "\"" + ReferenceShown(archive, false) + "\"" +
           ReferenceShown(text.substr(at + 4), true);
}

// Pieces of cp932 text that a short way could misjudge, alone or next to each other.
std::vector<AnsiString> TrickyPieces() {
    std::vector<AnsiString> pieces = {
        "a", "]", "\"", "\t", "\x1b", "\r", "\x7f", "\x80", "%", "sRc", "%src",
        ">>>> [ ", " ]  --",     // with "%src" between them, the archive heading
        "\x83",                  // a lead byte: lone at the end or before ASCII, else it pairs
        "\x83\x5c",              // "ソ": its trail byte looks like "\\"
        "\x81\x5d",              // a trail byte that looks like "]"
        "\x82\xa0", "\xb1", "\xa0\xfd",  // "あ", half-width "ｱ", the single bytes of the private-use area
        ToAnsi("\xe2\x80\xae"), ToAnsi("\xe2\x80\x8b"), ToAnsi("\xc2\x85"),  // carried U+202E, U+200B, NEL
        ToAnsi("\xe2"), ToAnsi("\x80"), ToAnsi("\x8b"),  // raw bytes: together U+200B again
    };
    return pieces;
}

}  // namespace

TEST(ShownText, ControlsAreEscapedByWholeCharacters) {
    struct Case {
        std::string name, shown;
    };
    const Case cases[] = {
        {"plain.txt", "plain.txt"},
        {"a\x1b[2J\x1b]0;title\x07z", "a\\x1b[2J\\x1b]0;title\\x07z"},
        {"line\r\nforged| > [ 解凍 ]", "line\\x0d\\x0aforged| > [ 解凍 ]"},
        {"tab\there\x7f", "tab\\x09here\\x7f"},
        {"c1\xc2\x85\xc2\x9b[31m", "c1\\u0085\\u009b[31m"},           // NEL and CSI as characters
        {"evil\xe2\x80\xaetxt.exe", "evil\\u202etxt.exe"},              // right-to-left override
        {"\xe2\x81\xa6x\xe2\x81\xa9\xe2\x80\x8b\xef\xbb\xbf", "\\u2066x\\u2069\\u200b\\ufeff"},
        {"sep\xe2\x80\xa8par", "sep\\u2028par"},
        {"tag\xf3\xa0\x80\x81", "tag\\U000e0001"},
        {"raw\x9b" "1m\xff\x1b", "raw\x9b" "1m\xff\\x1b"},               // bytes that are not UTF-8 stay
        // cp932 characters whose second byte lies in the C1 or DEL-adjacent range stay whole.
        {"＝∞ソ表ー〜予定表.txt", "＝∞ソ表ー〜予定表.txt"},
        {"café😀", "café😀"},                                              // carried characters
    };
    for (const Case& c : cases) {
        const AnsiString ansi = ToAnsi(c.name);
        EXPECT_EQ(FromAnsi(ShownName(ansi)), c.shown) << c.name;
    }
    // A lone lead byte at the end of cp932 text is no character at all: left as a byte.
    EXPECT_EQ(ShownName(AnsiString("x\x83")), "x\x83");
    // What the terminal gets last: every byte that is not UTF-8 escaped, and nothing else touched.
    EXPECT_EQ(EscapeInvalidUtf8("a\x9b[1m\xe3\x81\x82\xe3\n"), "a\\x9b[1m\xe3\x81\x82\\xe3\n");
}

TEST(ShownText, TheLogLineKeepsItsOwnTabOnly) {
    const AnsiString archive = ToAnsi("/tmp/a\x1b[31m\r.zip");
    const std::string line = FromAnsi(FormatLogLine(4, ToAnsi(">>>> [ %src ]  --"), archive));
    EXPECT_EQ(line, " 4| >>>> [ \"/tmp/a\\x1b[31m\\x0d.zip\" ]  --");
    // The engine's layout tab after the head stays; a tab or line break inside a name does not.
    const std::string result = FromAnsi(FormatLogLine(5, ToAnsi("> [ 解凍 ]\t\"/d/x\ty\n\"") , archive));
    EXPECT_EQ(result, " 5| > [ 解凍 ]\t\"/d/x\\x09y\\x0a\"");
    const std::string dll = FromAnsi(FormatLogLine(6, ToAnsi("[ DLL ] \"ZIP\"\t「OK」"), archive));
    EXPECT_EQ(dll, " 6| [ DLL ] \"ZIP\"\t「OK」");
}

TEST(ShownText, HiddenControlsAreTheWholeOfEachRangeAndNothingBetween) {
    // The edges of the control ranges and their neighbours, low to high: the look-up stops at the
    // first range above a character, so a character past an early range must still find a later one.
    const std::pair<char32_t, bool> cases[] = {
        {0x1F, true},     {0x20, false},    {0x7E, false},     {0x7F, true},     {0x9F, true},
        {0xA0, false},    {0xAC, false},    {0xAD, true},      {0xAE, false},    {0x5FF, false},
        {0x600, true},    {0x605, true},    {0x606, false},    {0x200A, false},  {0x200B, true},
        {0x200F, true},   {0x2010, false},  {0x3042, false},   {0xFEFE, false},  {0xFEFF, true},
        {0xFFFB, true},   {0xFFFC, false},  {0x1F600, false},  {0xE001F, false}, {0xE0020, true},
        {0xE007F, true},  {0xE0080, false}, {0x10FFFF, false},
    };
    for (const auto& [c, hidden] : cases) EXPECT_EQ(IsHiddenControl(c), hidden) << std::hex << static_cast<unsigned>(c);
}

TEST(ShownText, ShortWaysAgreeWithTheLongWay) {
    // Every string of up to three tricky pieces, as a name, as log text and inside a log line.
    const std::vector<AnsiString> pieces = TrickyPieces();
    std::vector<AnsiString> texts = {""};
    for (std::size_t from = 0, length = 1; length <= 3; ++length) {
        const std::size_t to = texts.size();
        for (std::size_t k = from; k < to; ++k)
            for (const AnsiString& p : pieces) texts.push_back(texts[k] + p);
        from = to;
    }
    const AnsiString archives[] = {"/d/a.zip", ToAnsi("/d/ソ\t\xe2\x80\xae.zip"), "/d/\x83"};
    for (const AnsiString& text : texts) {
        ASSERT_EQ(ShownName(text), ReferenceShown(text, false)) << FromAnsi(text);
        ASSERT_EQ(ShownLogText(text), ReferenceShown(text, true)) << FromAnsi(text);
        for (const AnsiString& archive : archives) {
            const AnsiString line = ReferenceLogLine(12, text, archive);
            ASSERT_EQ(FormatLogLine(12, text, archive), line) << FromAnsi(text);
            ASSERT_EQ(TerminalLogLine(12, text, archive), EscapeInvalidUtf8(FromAnsi(line))) << FromAnsi(text);
        }
    }
    EXPECT_GT(texts.size(), 10000u);
}

TEST(ShownText, NoCharacterOfCp932ItselfIsAHiddenControl) {
    // What lets plain text skip the escaping: only carriers (and ASCII controls) can hide a control.
    std::vector<AnsiString> codes;
    for (int b = 0x80; b <= 0xFF; ++b) {
        if (!IsLeadByte(static_cast<unsigned char>(b))) codes.push_back(AnsiString(1, static_cast<char>(b)));
        else
            for (int trail = 0x40; trail <= 0xFC; ++trail) codes.push_back({static_cast<char>(b), static_cast<char>(trail)});
    }
    for (const AnsiString& code : codes) {
        ASSERT_EQ(ShownName(code), ReferenceShown(code, false)) << FromAnsi(code);
        ASSERT_EQ(TerminalLogLine(1, code, ""), EscapeInvalidUtf8(FromAnsi(ReferenceLogLine(1, code, "")))) << FromAnsi(code);
    }
}
