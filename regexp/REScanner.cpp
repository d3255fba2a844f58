// The scanner of the pattern dialect. Tested by tests/regexp/ScannerTest.cpp.
#include "regexp/REScanner.h"

namespace norvex {

TREScanner::TREScanner(const AnsiString& str) { SetRegExpStr(str); }

void TREScanner::SetRegExpStr(const AnsiString& str) {
    FRegExpStr = str;
    FPosition = 1;
    // A scan that failed inside a class must not leave the next pattern in class mode.
    FInCharClass = false;
}

void TREScanner::Error(const char* message) const { throw ERegExpParser(message, FPosition); }

REChar TREScanner::GetChar() {
    if (FPosition < 1 || FPosition > FRegExpStr.size()) return 0;
    const auto b = static_cast<unsigned char>(FRegExpStr[FPosition - 1]);
    if (IsReLeadByte(b)) {
        if (FPosition == FRegExpStr.size()) throw ERegExpParser(remsg::BadDoubleByte, FPosition);
        const auto t = static_cast<unsigned char>(FRegExpStr[FPosition]);
        FPosition += 2;
        return static_cast<REChar>(b << 8 | t);
    }
    FPosition += 1;
    return b;
}

// A byte is a trail byte when the run of lead-byte values just before it has odd length: cp932
// cannot be read backwards, but lead-byte values pair up from the last single-byte character on.
bool TREScanner::IsTrailByteAt(std::size_t pos) const {
    std::size_t run = 0;
    for (std::size_t i = pos - 1; i >= 1 && IsReLeadByte(static_cast<unsigned char>(FRegExpStr[i - 1])); --i)
        ++run;
    return run % 2 == 1;
}

void TREScanner::UnGetChar() {
    if (FPosition < 2) return;
    if (FPosition > 2 && IsTrailByteAt(FPosition - 1))
        FPosition -= 2;
    else
        FPosition -= 1;
}

static int HexDigitValue(REChar c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// 1 to 4 hex digits. A character that ends the run is pushed back; the end of the pattern is not
// a character, so nothing is pushed back for it.
REChar TREScanner::GetHexChar() {
    unsigned value = 0;
    int digits = 0;
    while (digits < 4) {
        const std::size_t before = FPosition;
        const REChar c = GetChar();
        const int d = HexDigitValue(c);
        if (d < 0) {
            if (FPosition != before) UnGetChar();
            break;
        }
        value = value * 16 + static_cast<unsigned>(d);
        ++digits;
    }
    if (digits == 0) Error(remsg::BadHex);
    return static_cast<REChar>(value);
}

// 1 to 6 octal digits, as for hex; the value must fit 16 bits.
REChar TREScanner::GetOctChar() {
    unsigned value = 0;
    int digits = 0;
    while (digits < 6) {
        const std::size_t before = FPosition;
        const REChar c = GetChar();
        if (c < '0' || c > '7') {
            if (FPosition != before) UnGetChar();
            break;
        }
        value = value * 8 + (c - '0');
        if (value > 0xFFFF) Error(remsg::BadOctal);
        ++digits;
    }
    return static_cast<REChar>(value);
}

REChar TREScanner::GetEscapedChar() {
    const REChar c = GetChar();
    switch (c) {
        case 0: Error(remsg::NothingAfterBackslash);
        case 'b': return 8;
        case 'n': return 10;
        case 'r': return 13;
        case 't': return 9;
        case 'x': return GetHexChar();
        default:
            if (c >= '0' && c <= '7') {
                UnGetChar();
                return GetOctChar();
            }
            return c;
    }
}

TREToken TREScanner::GetTokenStd() {
    const REChar c = GetChar();
    FSymbol = c;
    switch (c) {
        case 0: return TREToken::End;
        case '$': return TREToken::LTail;
        case '(': return TREToken::LPar;
        case ')': return TREToken::RPar;
        case '*': return TREToken::Star;
        case '+': return TREToken::Plus;
        case '.': return TREToken::Dot;
        case '?': return TREToken::QMark;
        case '[': {
            const std::size_t before = FPosition;
            const REChar next = GetChar();
            if (next == 0) Error(remsg::NeedRightBracket);
            if (next == '^') return TREToken::LBraNegative;
            if (FPosition != before) UnGetChar();
            return TREToken::LBra;
        }
        case '\\': FSymbol = GetEscapedChar(); return TREToken::Char;
        case ']': return TREToken::RBra;
        case '^': return TREToken::LHead;
        case '|': return TREToken::Union;
        default: return TREToken::Char;
    }
}

TREToken TREScanner::GetTokenCC() {
    REChar a = GetChar();
    if (a == 0) Error(remsg::NeedRightBracket);
    FSymbol = a;
    if (a == ']') return TREToken::RBra;
    if (a == '\\') a = GetEscapedChar();
    FSymbol = a;

    const REChar b = GetChar();
    if (b == 0) Error(remsg::NeedRightBracket);
    if (b != '-') {
        UnGetChar();
        return TREToken::Char;
    }
    REChar c = GetChar();
    if (c == 0) Error(remsg::NeedRightBracket);
    if (c == ']') {
        // "a-]": the "-" is an ordinary member and "]" closes the class.
        UnGetChar();
        UnGetChar();
        return TREToken::Char;
    }
    if (c == '\\') c = GetEscapedChar();
    if (c < a) Error(remsg::BadRange);
    FSymbolHigh = c;
    return TREToken::Range;
}

TREToken TREScanner::GetToken() {
    if (FInCharClass) {
        FToken = GetTokenCC();
        if (FToken == TREToken::RBra) FInCharClass = false;
    } else {
        FToken = GetTokenStd();
        if (FToken == TREToken::LBra || FToken == TREToken::LBraNegative) FInCharClass = true;
    }
    return FToken;
}

}  // namespace norvex
