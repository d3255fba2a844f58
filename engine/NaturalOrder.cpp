// Natural order of names. Digits and ASCII letters are never cp932 trail bytes below 0x40, but
// letters are: only bytes that start a character are folded, so "ソ" (0x83 0x5C) stays as it is.
#include "engine/NaturalOrder.h"

#include "platform/AnsiCodec.h"

namespace norvex {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

unsigned char Folded(char c) {
    return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
}

// -1, 0 or 1 for the folded, number-aware comparison; 0 when the names differ only in case or in
// the leading zeros of their numbers.
int CompareFolded(const AnsiString& a, const AnsiString& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && IsDigit(a[ei])) ++ei;
            while (ej < b.size() && IsDigit(b[ej])) ++ej;
            std::size_t si = i, sj = j;
            while (si + 1 < ei && a[si] == '0') ++si;
            while (sj + 1 < ej && b[sj] == '0') ++sj;
            if (ei - si != ej - sj) return ei - si < ej - sj ? -1 : 1;
            const int c = a.compare(si, ei - si, b, sj, ej - sj);
            if (c != 0) return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        const std::size_t ni = AnsiCharLength(a, i), nj = AnsiCharLength(b, j);
        if (ni == 1 && nj == 1) {
            const unsigned char ca = Folded(a[i]), cb = Folded(b[j]);
            if (ca != cb) return ca < cb ? -1 : 1;
        } else {
            const int c = a.compare(i, ni, b, j, nj);
            if (c != 0) return c < 0 ? -1 : 1;
        }
        i += ni;
        j += nj;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

}  // namespace

bool NaturalLess(const AnsiString& a, const AnsiString& b) {
    const int c = CompareFolded(a, b);
    if (c != 0) return c < 0;
    return a < b;
}

}  // namespace norvex
