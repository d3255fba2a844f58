// The ini document's value format: whatever a value holds, it reads back as written, and the file
// stays valid UTF-8 with one line per key.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "settings/IniDocument.h"

using namespace norvex;

namespace {

TEST(IniValue, EveryValueReadsBackAsWrittenAndStaysOnOneLine) {
    std::vector<std::string> values = {"", " ", "\t", "\"", "\"\"", "'single'", "\\", "a\\nb", "x\\x41",
                                       "C:\\new\\tmp", "trail ", " lead", "a\r\nb", std::string("nul\0in", 6),
                                       "\x7F", "\xC3\xA9", "\xC3", "\xED\xA0\x80", "\xF4\x90\x80\x80", "ソ表"};
    for (int b = 0; b < 256; ++b) values.push_back(std::string(1, static_cast<char>(b)) + "x");
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        std::string v(rng() % 12, '\0');
        for (char& c : v) c = static_cast<char>(rng() % 256);
        values.push_back(v);
    }
    for (const std::string& v : values) {
        TIniDocument doc;
        doc.Set("S", "K", v);
        const std::string file = doc.Serialize();
        ASSERT_TRUE(IsValidUtf8(file));
        ASSERT_EQ(std::count(file.begin(), file.end(), '\n'), 2) << file;
        EXPECT_EQ(TIniDocument::Parse(file).Get("s", "k"), v);
    }
}

TEST(IniValue, PlainValuesAreWrittenPlain) {
    for (const char* v : {"C:\\new\\tmp", "/home/太郎/展開", "*.jpg *.png", "a = b", "[x]", "'q'"})
        EXPECT_EQ(EncodeIniValue(v), v);
}

TEST(IniValue, QuotesAreStrippedAndEscapesReadOnlyInOurOwnFiles) {
    EXPECT_EQ(DecodeIniValue("\"C:\\new\"", true), "C:\\new");
    EXPECT_EQ(DecodeIniValue("'C:\\new'", true), "C:\\new");
    EXPECT_EQ(DecodeIniValue("'C:\\new'", false), "'C:\\new'");
    EXPECT_EQ(DecodeIniValue("\"C:\\new\"", false), "C:\new");
    EXPECT_EQ(DecodeIniValue("\"a\\qb\\x4\"", false), "a\\qb\\x4");  // unknown or short escapes stand
    EXPECT_EQ(DecodeIniValue("\"", false), "\"");
}

TEST(IniDocument, NewKeysJoinTheirSectionAfterItsLastKey) {
    TIniDocument doc = TIniDocument::Parse("[A]\nx=1\n\n[B]\ny=2\n");
    doc.Set("a", "z", "3");
    doc.Set("C", "w", "4");
    EXPECT_EQ(doc.Serialize(), "[A]\nx=1\nz=3\n\n[B]\ny=2\n\n[C]\nw=4\n");
}

}  // namespace
