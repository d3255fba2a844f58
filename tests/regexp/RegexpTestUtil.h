// Helpers of the regexp tests: cp932 text from UTF-8 literals, one-shot matching, parse errors.
#pragma once
#include <iconv.h>

#include <stdexcept>
#include <string>
#include <string_view>

#include "regexp/bmRegExp.h"

namespace norvex::test {

// The cp932 bytes of a UTF-8 literal (the core's strings are cp932).
inline std::string Sj(std::string_view utf8) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv: no CP932");
    std::string out(utf8.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1)) throw std::runtime_error("iconv: not cp932: " + std::string(utf8));
    out.resize(out.size() - outLeft);
    return out;
}

struct Found {
    int start;
    int length;
    bool operator==(const Found&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Found& f) {
    return os << "{" << f.start << "," << f.length << "}";
}

inline Found MatchOf(TAWKStr& re, const std::string& subject) {
    int start = -1, length = -1;
    const int result = re.Match(subject, start, length);
    if (result != start) throw std::logic_error("Match result differs from start");
    return {start, length};
}

inline Found MatchOf(const std::string& pattern, const std::string& subject,
                     TMatchCORE_LineSeparator separator = mcls_CRLF) {
    TAWKStr re;
    re.SetLineSeparator(separator);
    re.SetRegExp(pattern);
    return MatchOf(re, subject);
}

struct ParseError {
    std::string message;  // cp932; empty when the pattern is accepted
    int pos;
};

inline ParseError ParseErrorOf(const std::string& pattern) {
    try {
        TAWKStr re;
        re.SetRegExp(pattern);
    } catch (const ERegExpParser& e) {
        return {e.what(), e.ErrorPos};
    }
    return {"", 0};
}

}  // namespace norvex::test
