// TAWKStr against the reference matcher, on every pattern and subject of small enumerations, and
// on seeded random ones a little larger.
#include <gtest/gtest.h>

#include <random>

#include "tests/regexp/Backtrack.h"
#include "tests/regexp/RegexpTestUtil.h"

namespace norvex::test {
namespace {

// Every string of minLength to maxLength pieces.
std::vector<std::string> Strings(const std::vector<std::string>& pieces, int maxLength, int minLength = 0) {
    std::vector<std::string> all = {""};
    std::size_t from = 0;
    std::size_t keepFrom = 0;
    for (int length = 1; length <= maxLength; ++length) {
        const std::size_t to = all.size();
        for (std::size_t k = from; k < to; ++k)
            for (const std::string& piece : pieces) all.push_back(all[k] + piece);
        from = to;
        if (length == minLength) keepFrom = from;
    }
    return {all.begin() + static_cast<std::ptrdiff_t>(keepFrom), all.end()};
}

// Compares on every subject; returns the number of patterns compared (the valid ones).
int Compare(const std::vector<std::string>& patterns, const std::vector<std::string>& subjects) {
    int valid = 0;
    int failures = 0;
    TAWKStr re;
    for (const std::string& pattern : patterns) {
        try {
            re.SetRegExp(pattern);
        } catch (const ERegExpParser&) {
            EXPECT_THROW(Backtracker{pattern}, ERegExpParser) << pattern;
            continue;
        }
        const Backtracker reference(pattern);
        ++valid;
        for (const auto separator : {mcls_CRLF, mcls_LF}) {
            re.SetLineSeparator(separator);
            for (const std::string& subject : subjects) {
                const RefMatch want = reference.Match(subject, separator);
                const Found got = MatchOf(re, subject);
                if (got == Found{want.start, want.length}) continue;
                ADD_FAILURE() << "/" << pattern << "/ on \"" << subject << "\" separator " << separator << ": got "
                              << got << ", want {" << want.start << "," << want.length << "}";
                if (++failures > 20) return valid;
            }
        }
    }
    return valid;
}

const std::string kA = Sj("あ");

TEST(DifferentialTest, AllShortPatternsOnAllShortSubjects) {
    auto patterns = Strings({"a", kA, ".", "[^a]", "^", "$", "|", "(", ")", "*", "+", "?"}, 3);
    for (const std::string& p : Strings({"a", kA, "^", "$", "|", "(", ")", "*"}, 4, 4)) patterns.push_back(p);
    const auto subjects = Strings({"a", "b", kA, "\n", "\r"}, 3);
    EXPECT_GT(Compare(patterns, subjects), 1000);
}

TEST(DifferentialTest, LineBreaksAndClassesInPatterns) {
    auto patterns = Strings({"a", "\\n", "\\r", "[a" + kA + "]", "[^\\n]", "^", "$", "|", "*", "("}, 3);
    for (std::string& p : patterns) p += ")?";  // closes what "(" opened, and one more layer
    for (std::string& p : Strings({"a", "\\n", "^", "$", ")", "+"}, 3)) patterns.push_back("(" + p);
    auto subjects = Strings({"a", kA, "\n", "\r"}, 3);
    subjects.push_back("a\x82");  // a lone lead byte at the end
    subjects.push_back("\r\n\r\n");
    EXPECT_GT(Compare(patterns, subjects), 200);
}

TEST(DifferentialTest, RandomLongerPatterns) {
    std::mt19937 rng(20240607);
    const std::vector<std::string> pieces = {"a", "b", kA, ".", "[ab]", "[^b]", "^", "$", "|",
                                             "(", ")", "*", "+", "?", "\\n", "()", Sj("亜")};
    std::vector<std::string> patterns;
    for (int k = 0; k < 1500; ++k) {
        std::string p;
        const int length = 5 + static_cast<int>(rng() % 6);
        for (int i = 0; i < length; ++i) p += pieces[rng() % pieces.size()];
        patterns.push_back(p);
    }
    std::vector<std::string> subjects;
    // 亜 has a trail byte with a lead-byte value.
    const std::vector<std::string> chars = {"a", "b", kA, "\n", "\r", Sj("亜")};
    for (int k = 0; k < 40; ++k) {
        std::string s;
        const int length = static_cast<int>(rng() % 9);
        for (int i = 0; i < length; ++i) s += chars[rng() % chars.size()];
        subjects.push_back(s);
    }
    EXPECT_GT(Compare(patterns, subjects), 100);
}

}  // namespace
}  // namespace norvex::test
