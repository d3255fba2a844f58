// What every stage of the regular-expression engine shares: character codes, the cp932 lead-byte
// test, token and node kinds, and the exception that reports a bad pattern.
#pragma once
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace norvex {

// Every string of the core is cp932 bytes.
using AnsiString = std::string;

// A character: a single byte b is b; a cp932 double-byte character is lead * 256 + trail.
// Code 0 is the end of the text.
using REChar = std::uint16_t;

// Lead bytes of cp932 double-byte characters (the engine keeps its own copy: it depends on nothing).
inline constexpr bool IsReLeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Pseudo-characters that only the automata and the matcher use; no subject character has them.
inline constexpr REChar CONST_LINEHEAD = 0xFFFD;  // start of a line
inline constexpr REChar CONST_LINETAIL = 0xFFFE;  // end of a line
inline constexpr REChar CONST_EMPTY = 0xFFFF;     // both bounds of an empty (epsilon) transition

// The highest code of `.` and of the universe that negated classes are cut from.
inline constexpr REChar CONST_MAXANYCHAR = 0xFCFC;
// The highest code a subject character can have (lead 0xFC, any trail). A leaf above it can never
// match, which is how escapes of the reserved codes stay harmless.
inline constexpr REChar CONST_MAXSUBJECTCHAR = 0xFCFF;

// Tokens of the scanner, in their declared order.
enum class TREToken : std::uint8_t {
    Char,          // a character (also every escape)
    Range,         // a-b inside a class
    Union,         // |
    LPar,          // (
    RPar,          // )
    Star,          // *
    Plus,          // +
    QMark,         // ?
    LBra,          // [
    LBraNegative,  // [^
    RBra,          // ]
    Dot,           // .
    LHead,         // ^
    LTail,         // $
    End,           // end of the pattern
};

// Kinds of parse-tree nodes.
enum class TREOperator : std::uint8_t {
    Char,     // leaf: one range of codes
    LHead,    // ^
    LTail,    // $
    Concat,
    Union,
    Closure,  // star
    Empty,    // matches the empty string
    Nothing,  // matches nothing: a negated class that leaves no character
};

// A syntax error in a pattern. The message is cp932 text; ErrorPos is the 1-based byte index where
// the fault was found (0 when the fault is not tied to one place, such as a pattern too complex).
class ERegExpParser : public std::runtime_error {
public:
    ERegExpParser(const AnsiString& message, std::size_t errorPos)
        : std::runtime_error(message),
          ErrorPos(static_cast<std::uint16_t>(errorPos > 0xFFFF ? 0xFFFF : errorPos)) {}

    AnsiString Message() const { return what(); }

    std::uint16_t ErrorPos;
};

// The engine's fixed messages, in cp932.
namespace remsg {
// 不正な２バイト文字コードです。
inline constexpr char BadDoubleByte[] =
    "\x95s\x90\xB3\x82\xC8\x82Q\x83o\x83" "C\x83g\x95\xB6\x8E\x9A\x83R\x81[\x83h\x82\xC5\x82\xB7\x81" "B";
// "\"の次には文字が必要です。
inline constexpr char NothingAfterBackslash[] =
    "\"\\\"\x82\xCC\x8E\x9F\x82\xC9\x82\xCD\x95\xB6\x8E\x9A\x82\xAA\x95K\x97v\x82\xC5\x82\xB7\x81" "B";
// 不正な１６進数コード表記です。
inline constexpr char BadHex[] =
    "\x95s\x90\xB3\x82\xC8\x82P\x82U\x90i\x90\x94\x83R\x81[\x83h\x95\\\x8BL\x82\xC5\x82\xB7\x81" "B";
// 不正な８進数コード表記です。
inline constexpr char BadOctal[] =
    "\x95s\x90\xB3\x82\xC8\x82W\x90i\x90\x94\x83R\x81[\x83h\x95\\\x8BL\x82\xC5\x82\xB7\x81" "B";
// 右ブラケット"]"が必要です
inline constexpr char NeedRightBracket[] =
    "\x89" "E\x83u\x83\x89\x83P\x83" "b\x83g\"]\"\x82\xAA\x95K\x97v\x82\xC5\x82\xB7";
// 不正なキャラクタ範囲です
inline constexpr char BadRange[] =
    "\x95s\x90\xB3\x82\xC8\x83L\x83\x83\x83\x89\x83N\x83^\x94\xCD\x88\xCD\x82\xC5\x82\xB7";
// 不正なキャラクタクラス指定です。
inline constexpr char BadClass[] =
    "\x95s\x90\xB3\x82\xC8\x83L\x83\x83\x83\x89\x83N\x83^\x83N\x83\x89\x83X\x8Ew\x92\xE8\x82\xC5\x82\xB7\x81" "B";
// 右(閉じ)括弧が必要です
inline constexpr char NeedRightParen[] =
    "\x89" "E(\x95\xC2\x82\xB6)\x8A\x87\x8C\xCA\x82\xAA\x95K\x97v\x82\xC5\x82\xB7";
// 普通の文字、または左括弧"("が必要です
inline constexpr char NeedOperand[] =
    "\x95\x81\x92\xCA\x82\xCC\x95\xB6\x8E\x9A\x81" "A\x82\xDC\x82\xBD\x82\xCD\x8D\xB6\x8A\x87\x8C\xCA\"(\"\x82\xAA\x95K\x97v\x82\xC5\x82\xB7";
// 正規表現に余分な文字があります
inline constexpr char ExtraCharacters[] =
    "\x90\xB3\x8BK\x95\\\x8C\xBB\x82\xC9\x97]\x95\xAA\x82\xC8\x95\xB6\x8E\x9A\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB7";
// 正規表現が複雑すぎます。 (too many automaton states, or groups nested too deeply)
inline constexpr char TooComplex[] =
    "\x90\xB3\x8BK\x95\\\x8C\xBB\x82\xAA\x95\xA1\x8EG\x82\xB7\x82\xAC\x82\xDC\x82\xB7\x81" "B";
// TREParseTree : 致命的エラー
inline constexpr char TreeFatal[] = "TREParseTree : \x92v\x96\xBD\x93I\x83G\x83\x89\x81[";
inline constexpr char NfaCannotHappen[] = "This cannot happen in TRE_NFA.GenerateStateList";
}  // namespace remsg

}  // namespace norvex
