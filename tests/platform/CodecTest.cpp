// The cp932 codec: lossless both ways for everything a Linux name can hold, and whole-character
// separator handling. Each test runs in its own process (ctest), so the carrier table starts empty.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "platform/AnsiCodec.h"

using namespace norvex;

namespace {

// glibc's view of a cp932 code, as an independent reference; "" when it does not know the code.
std::string IconvCp932ToUtf8(const std::string& in) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string out(16, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size(), dstLeft = out.size();
    char* dst = out.data();
    size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) return {};
    out.resize(out.size() - dstLeft);
    return out;
}

std::vector<std::string> AllDoubleByteCodes() {
    std::vector<std::string> codes;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (!IsLeadByte(static_cast<unsigned char>(lead))) continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F) continue;
            codes.push_back({static_cast<char>(lead), static_cast<char>(trail)});
        }
    }
    return codes;
}

}  // namespace

TEST(Codec, EveryMappedCharacterRoundTripsThroughAnsi) {
    int mapped = 0;
    for (const std::string& code : AllDoubleByteCodes()) {
        const std::string reference = IconvCp932ToUtf8(code);
        if (reference.empty()) continue;
        ++mapped;
        const std::string utf8 = FromAnsi(code);
        EXPECT_EQ(FromAnsi(ToAnsi(utf8)), utf8) << std::hex << int(static_cast<unsigned char>(code[0])) << int(static_cast<unsigned char>(code[1]));
        // No mapped character needs a carrier.
        EXPECT_EQ(ToAnsi(utf8).size(), 2u);
    }
    EXPECT_GT(mapped, 7000);
    EXPECT_EQ(CarriersInUse(), 0u);
    for (int b = 0x20; b < 0x7F; ++b) EXPECT_EQ(ToAnsi(std::string(1, char(b))), std::string(1, char(b)));
    EXPECT_EQ(ToAnsi("ｱｲｳﾞ"), "\xB1\xB2\xB3\xDE");
}

TEST(Codec, AgreesWithGlibcOnJisCharacters) {
    // Rows of JIS X 0208 (kana and kanji) must decode exactly as glibc does.
    int compared = 0;
    for (const std::string& code : AllDoubleByteCodes()) {
        const unsigned lead = static_cast<unsigned char>(code[0]);
        if (!(lead >= 0x82 && lead <= 0x84) && !(lead >= 0x88 && lead <= 0x9F) && !(lead >= 0xE0 && lead <= 0xEA)) continue;
        const std::string reference = IconvCp932ToUtf8(code);
        if (reference.empty()) continue;
        EXPECT_EQ(FromAnsi(code), reference);
        ++compared;
    }
    EXPECT_GT(compared, 6000);
    EXPECT_EQ(ToAnsi("日本語のファイル名.txt"), "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x74\x83\x40\x83\x43\x83\x8B\x96\xBC.txt");
}

TEST(Codec, CharactersOutsideCp932AndInvalidBytesRoundTrip) {
    const std::vector<std::string> names = {
        "café", "😀.png", "한국어 파일", "Ελληνικά", "mixed 日本 é 😀 ソ",
        std::string("raw\xff\xfe bytes"), std::string("\xc3"), std::string("\xe3\x81"),  // truncated sequences
        std::string("\xed\xa0\x80"),                                                      // an encoded surrogate
        std::string("\xc0\xaf"),                                                          // an overlong "/"
        std::string("\x80\xa0\xfd\xfe\xff"),
    };
    for (const std::string& name : names) {
        const AnsiString ansi = ToAnsi(name);
        EXPECT_EQ(FromAnsi(ansi), name);
        // Carried text is whole double-byte characters: no stray "/" or NUL appears inside it.
        EXPECT_EQ(ansi.find('\0'), std::string::npos);
        EXPECT_EQ(AnsiFirstDelimiter(ansi, "/"), AnsiString::npos);
    }
    // The same character gets the same carrier every time; different characters different ones.
    EXPECT_EQ(ToAnsi("é"), ToAnsi("é"));
    EXPECT_NE(ToAnsi("é"), ToAnsi("è"));
    EXPECT_NE(ToAnsi("\xff"), ToAnsi("\xfe"));
}

TEST(Codec, HoldsCarrierTellsTextOnlyThisProcessCanRead) {
    for (const char* plain : {"", "abc\x1b\t.txt", "表ソ\\能.txt", "ｶﾀｶﾅ", "①Ⅱ㈱"})
        EXPECT_FALSE(HoldsCarrier(ToAnsi(plain))) << plain;
    for (const char* carried : {"\xc3\xa9", "a\xf0\x9f\x98\x80", "\xff\xfe", "x\xe2\x80\xae"})
        EXPECT_TRUE(HoldsCarrier(ToAnsi(carried))) << carried;
    EXPECT_TRUE(HoldsCarrier("ab\x83"));  // a lead byte without its trail
}

TEST(Codec, FullCarrierTableFailsClearlyInsteadOfGuessing) {
    const std::size_t capacity = CarrierCapacity();
    ASSERT_GT(capacity, 1000u);
    std::string hangul;
    char32_t c = 0xAC00;
    AnsiString out;
    // Earlier tests in this process may already hold carriers (some of them Hangul): fill what is left.
    for (std::size_t i = 0; CarriersInUse() < capacity; ++i, ++c) {
        ASSERT_LT(c, char32_t{0xD7A4}) << "ran out of Hangul syllables before the table filled";
        std::string utf8 = {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
        ASSERT_TRUE(TryToAnsi(utf8, out));
        if (i == 0) hangul = utf8;
    }
    EXPECT_EQ(CarriersInUse(), capacity);
    // A character nothing in this process carried yet ("😀" may already be carried).
    EXPECT_FALSE(TryToAnsi("\U0001F701", out));
    EXPECT_THROW(ToAnsi("\U0001F701"), ECodecTableFull);
    // What was carried before stays carried; raw bytes and cp932 text still convert.
    EXPECT_EQ(FromAnsi(ToAnsi(hangul)), hangul);
    EXPECT_EQ(FromAnsi(ToAnsi("\xff 表")), "\xff 表");
}

TEST(Codec, SeparatorsAreWholeCharacters) {
    const AnsiString so = ToAnsi("ソ");       // 0x83 0x5C
    const AnsiString hyo = ToAnsi("表");      // 0x95 0x5C
    ASSERT_EQ(so, "\x83\x5C");
    ASSERT_EQ(hyo, "\x95\x5C");
    EXPECT_FALSE(AnsiEndsWithSeparator(so));
    EXPECT_FALSE(AnsiEndsWithSeparator("dir\\" + hyo));
    EXPECT_TRUE(AnsiEndsWithSeparator(so + "\\"));
    EXPECT_TRUE(AnsiEndsWithSeparator("a/"));
    EXPECT_FALSE(AnsiEndsWithSeparator(""));
    EXPECT_EQ(AnsiLastDelimiter("a\\" + so, "/\\"), 1u);
    EXPECT_EQ(AnsiLastDelimiter(so + hyo, "/\\"), AnsiString::npos);
    EXPECT_EQ(AnsiFirstDelimiter(so + "/x/y", "/", 3), 4u);
    // A lead byte at the very end is a character of its own and never swallows anything.
    EXPECT_EQ(AnsiLastDelimiter("a/\x83", "/"), 1u);
    EXPECT_EQ(FromAnsi("a\x83"), "a\x83");
}
