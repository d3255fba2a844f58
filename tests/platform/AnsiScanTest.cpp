// Looks at cp932 text without converting it: character starts against the step-by-step walk, plain
// text against FromAnsi on every code, and literals converted once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/AnsiCodec.h"
#include "platform/AnsiLiteral.h"
#include "platform/AnsiScan.h"

using namespace norvex;

namespace {

// Every one- and two-byte sequence that cp932 text can start with: each single byte, and each lead
// byte with each byte after it (trail byte or not).
std::vector<std::string> AllShortCodes() {
    std::vector<std::string> codes;
    for (int b = 0; b < 0x100; ++b) {
        codes.push_back(std::string(1, static_cast<char>(b)));
        if (!IsLeadByte(static_cast<unsigned char>(b))) continue;
        for (int t = 0; t < 0x100; ++t) codes.push_back({static_cast<char>(b), static_cast<char>(t)});
    }
    return codes;
}

bool ValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        char32_t c = 0;
        const std::size_t len = DecodeUtf8(s, i, c);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

bool HasControlButTab(std::string_view utf8) {
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t c = 0;
        const std::size_t len = DecodeUtf8(utf8, i, c);
        if (len == 0) return false;
        if ((c < 0x20 && c != '\t') || (c >= 0x7F && c <= 0x9F)) return true;
        i += len;
    }
    return false;
}

}  // namespace

TEST(AnsiScan, CharacterStartsAreThoseOfTheWalkFromTheStart) {
    // Every string of up to five bytes over lead bytes, trail-only bytes and ASCII look-alikes.
    const char alphabet[] = {'\x81', '\xE0', '\xFC', '\x5C', '%', 'a', '\xA1'};
    std::vector<std::string> texts = {""};
    for (int length = 1; length <= 5; ++length) {
        std::vector<std::string> longer;
        for (const std::string& t : texts)
            for (const char c : alphabet) longer.push_back(t + c);
        texts = longer;
        for (const std::string& s : texts) {
            std::vector<bool> start(s.size(), false);
            for (std::size_t i = 0; i < s.size(); i += AnsiCharLength(s, i)) start[i] = true;
            for (std::size_t p = 0; p < s.size(); ++p) ASSERT_EQ(IsAnsiCharStart(s, p), start[p]) << s << " at " << p;
        }
    }
}

TEST(AnsiScan, PlainTextIsWhatFromAnsiGivesWithoutCarrierOrControl) {
    int plain = 0;
    for (const std::string& code : AllShortCodes()) {
        const std::string utf8 = FromAnsi(code);
        std::string out = "x";
        const bool isPlain = IsPlainAnsi(code);
        ASSERT_EQ(AppendPlainFromAnsi(code, out), isPlain) << std::hex << code;
        if (!isPlain) {
            EXPECT_EQ(out, "x");  // left as it was
            continue;
        }
        ++plain;
        EXPECT_EQ(out, "x" + utf8);
        EXPECT_TRUE(ValidUtf8(utf8)) << code;
        EXPECT_FALSE(HasControlButTab(utf8)) << code;
        // A plain character is cp932's own: it goes back without a carrier.
        EXPECT_EQ(FromAnsi(ToAnsi(utf8)), utf8);
    }
    EXPECT_GT(plain, 7000);
    EXPECT_EQ(CarriersInUse(), 0u);  // FromAnsi and ToAnsi of plain text hand out no carrier

    // What plain text excludes, in a run of plain text.
    const AnsiString so = "\x83\x5C";  // "ソ", trail byte "\"
    EXPECT_TRUE(IsPlainAnsi("a\t[ " + so + " ]\xB1\xA0\xFD"));
    EXPECT_TRUE(IsPlainAnsi(""));
    for (const AnsiString& bad : {AnsiString("a\x1b"), AnsiString("\r"), AnsiString("x\x7fy"), AnsiString("\x80"),
                                  AnsiString(1, '\0'), AnsiString("a\x83"), AnsiString("\x83 a")}) {
        EXPECT_FALSE(IsPlainAnsi(so + bad + " " + so)) << bad;  // (a lead byte before "ソ" would pair with it)
        EXPECT_FALSE(IsPlainAnsi(bad)) << bad;
    }
    // Carriers of characters cp932 lacks, and of bytes that are not UTF-8, whatever they carry.
    for (const char* carried : {"\xe2\x80\xae", "\xe2\x80\x8b", "\xc2\x85", "é", "\xe2", "\x80", "\xff"}) {
        const AnsiString ansi = ToAnsi(carried);
        EXPECT_FALSE(IsPlainAnsi(ansi)) << carried;
        EXPECT_FALSE(IsPlainAnsi("a " + ansi + " b")) << carried;
    }
}

TEST(AnsiScan, LiteralsConvertedOnceAreTheSameText) {
    using namespace norvex::literals;
    const AnsiString& first = "> [ 解凍 ]\t"_ansiOnce;
    EXPECT_EQ(first, "> [ 解凍 ]\t"_ansi);
    EXPECT_EQ(&first, &"> [ 解凍 ]\t"_ansiOnce);
    EXPECT_EQ(""_ansiOnce, "");
    EXPECT_EQ("ソ表"_ansiOnce, "\x83\x5C\x95\x5C");
}
