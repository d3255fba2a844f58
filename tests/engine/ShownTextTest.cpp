// Control characters of names never reach a person raw: the escaping on cp932 text and the log line.
#include <gtest/gtest.h>

#include "engine/EngineLog.h"
#include "engine/ShownText.h"
#include "platform/AnsiCodec.h"

using namespace norvex;

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
