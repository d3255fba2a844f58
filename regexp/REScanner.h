// TREScanner: turns a pattern into tokens, one at a time, in normal mode or inside a bracket class.
#pragma once
#include <cstddef>

#include "regexp/RECommon.h"

namespace norvex {

class TREScanner {
public:
    explicit TREScanner(const AnsiString& str = AnsiString());
    virtual ~TREScanner() = default;

    // Starts over on a new pattern: position 1, normal mode.
    void SetRegExpStr(const AnsiString& str);
    const AnsiString& RegExpStr() const { return FRegExpStr; }

    // Reads the next token, switching into class mode after "[" or "[^" and out of it after "]".
    TREToken GetToken();

    TREToken Token() const { return FToken; }
    REChar Symbol() const { return FSymbol; }          // the character, or the lower bound of a range
    REChar SymbolHigh() const { return FSymbolHigh; }  // the upper bound of a range
    std::size_t Position() const { return FPosition; } // 1-based index of the next unread byte
    bool InCharClass() const { return FInCharClass; }

protected:
    virtual TREToken GetTokenStd();
    virtual TREToken GetTokenCC();

    // One character at the position, advancing past it; 0 at the end (the position stays).
    REChar GetChar();
    // Steps back over the character just read.
    void UnGetChar();
    // The code of an escape; the backslash has been read.
    REChar GetEscapedChar();

    [[noreturn]] void Error(const char* message) const;

private:
    REChar GetHexChar();
    REChar GetOctChar();
    bool IsTrailByteAt(std::size_t pos) const;

    AnsiString FRegExpStr;
    std::size_t FPosition = 1;
    TREToken FToken = TREToken::End;
    REChar FSymbol = 0;
    REChar FSymbolHigh = 0;
    bool FInCharClass = false;
};

}  // namespace norvex
