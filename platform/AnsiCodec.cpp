// cp932 <-> UTF-8 with carriers for what cp932 cannot hold.
//
// Tables, built once per process:
//   decode[code]  double-byte code -> Unicode (BMP); unassigned codes hold a carrier marker instead:
//                 0xDC80 + b for the carrier of the raw byte b, 0xD800 + k for carrier slot k. Both
//                 ranges are surrogates, which no real character decodes to.
//   encode[u]     BMP character -> code (< 0x100 single byte, else double byte); 0 = not in cp932.
// Carrier slots are handed out on first sight of a character and never change afterwards, so that a
// name converted twice in one process gives the same bytes; the slot array is read without a lock.
#include "platform/AnsiCodec.h"
#include "platform/AnsiScan.h"

#include <algorithm>
#include <array>
#include <memory>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace norvex {
namespace {

#include "platform/Cp932Table.inc"

constexpr uint16_t kRawMarker = 0xDC80;   // + byte - 0x80
constexpr uint16_t kSlotMarker = 0xD800;  // + slot; slots past 0x3FF continue at 0xDD00

bool IsTrailByte(unsigned char c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

struct Tables {
    std::vector<uint16_t> decode = std::vector<uint16_t>(65536, 0);
    std::vector<uint16_t> encode = std::vector<uint16_t>(65536, 0);
    std::array<uint16_t, 128> rawCarrier{};      // carrier code of raw byte 0x80 + i
    std::vector<uint16_t> slotCode;              // carrier code of slot k
    std::unique_ptr<std::atomic<char32_t>[]> slotChar;  // character of slot k, 0 = free
    std::mutex slotMutex;
    std::unordered_map<char32_t, uint16_t> slotOf;  // character -> slot (under slotMutex)
    std::atomic<std::size_t> slotsUsed{0};

    Tables() {
        for (const auto& p : kCp932DoubleByte) decode[p[0]] = p[1];
        for (const auto& p : kCp932DoubleByte) {
            if (encode[p[1]] == 0) encode[p[1]] = p[0];
        }
        for (const auto& p : kCp932Preferred) encode[p[0]] = p[1];
        // Single bytes: ASCII, half-width katakana, and the few single codes Windows maps.
        for (unsigned b = 1; b < 0x80; ++b) encode[b] = static_cast<uint16_t>(b);
        for (unsigned b = 0xA1; b <= 0xDF; ++b) encode[0xFF61 + (b - 0xA1)] = static_cast<uint16_t>(b);
        encode[0x0080] = 0x80;
        encode[0xF8F0] = 0xA0;
        encode[0xF8F1] = 0xFD;
        encode[0xF8F2] = 0xFE;
        encode[0xF8F3] = 0xFF;

        // Every unassigned double-byte code is a carrier. Raw bytes take the first 128 codes from
        // 0x8540 on (a row cp932 never uses); character slots take the rest.
        std::vector<uint16_t> pool;
        for (unsigned code = 0x8540; code <= 0xFCFC; ++code)
            if (IsLeadByte(code >> 8) && IsTrailByte(code & 0xFF) && decode[code] == 0) pool.push_back(static_cast<uint16_t>(code));
        for (unsigned code = 0x8140; code < 0x8540; ++code)
            if (IsTrailByte(code & 0xFF) && decode[code] == 0) pool.push_back(static_cast<uint16_t>(code));
        for (std::size_t i = 0; i < 128; ++i) {
            rawCarrier[i] = pool[i];
            decode[pool[i]] = static_cast<uint16_t>(kRawMarker + i);
        }
        slotCode.assign(pool.begin() + 128, pool.end());
        slotChar = std::make_unique<std::atomic<char32_t>[]>(slotCode.size());
        for (std::size_t k = 0; k < slotCode.size(); ++k) {
            slotChar[k].store(0, std::memory_order_relaxed);
            decode[slotCode[k]] = SlotMarker(k);
        }
    }

    static uint16_t SlotMarker(std::size_t k) {
        return static_cast<uint16_t>(k < 0x400 ? kSlotMarker + k : 0xDD00 + (k - 0x400));
    }
    static bool IsSlotMarker(uint16_t u) { return (u >= 0xD800 && u <= 0xDBFF) || (u >= 0xDD00 && u <= 0xDFFF); }
    static std::size_t SlotOfMarker(uint16_t u) { return u <= 0xDBFF ? u - kSlotMarker : 0x400 + (u - 0xDD00); }

    // The carrier code of c, handing out a slot when c has none; 0 when every slot is taken.
    uint16_t CarrierFor(char32_t c) {
        std::lock_guard lock(slotMutex);
        if (auto it = slotOf.find(c); it != slotOf.end()) return slotCode[it->second];
        std::size_t k = slotsUsed.load(std::memory_order_relaxed);
        if (k >= slotCode.size()) return 0;
        slotChar[k].store(c, std::memory_order_release);
        slotOf.emplace(c, static_cast<uint16_t>(k));
        slotsUsed.store(k + 1, std::memory_order_relaxed);
        return slotCode[k];
    }
};

Tables& T() {
    static Tables tables;
    return tables;
}

// A code point as UTF-8 at p; returns the end (four bytes at most).
char* PutUtf8(char* p, char32_t c) {
    if (c < 0x80) {
        *p++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *p++ = static_cast<char>(0xC0 | (c >> 6));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *p++ = static_cast<char>(0xE0 | (c >> 12));
        *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *p++ = static_cast<char>(0xF0 | (c >> 18));
        *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return p;
}

void AppendUtf8(std::string& out, char32_t c) {
    char bytes[4];
    out.append(bytes, PutUtf8(bytes, c));
}

// The length of the run of ASCII bytes that starts at i (ASCII is the same in both encodings, and
// most of a path is ASCII: it is copied in one piece).
std::size_t AsciiRun(std::string_view s, std::size_t i) {
    std::size_t j = i;
    while (j < s.size() && static_cast<unsigned char>(s[j]) < 0x80) ++j;
    return j - i;
}

// The character of a single byte that is neither ASCII nor a lead byte; 0 for a lead byte.
char32_t SingleByteChar(unsigned char b) {
    if (b >= 0xA1 && b <= 0xDF) return 0xFF61 + (b - 0xA1);  // half-width katakana
    if (b == 0x80) return 0x80;
    if (b == 0xA0) return 0xF8F0;
    if (b >= 0xFD) return 0xF8F1 + (b - 0xFD);
    return 0;
}

void AppendCode(AnsiString& out, uint16_t code) {
    if (code >= 0x100) out += static_cast<char>(code >> 8);
    out += static_cast<char>(code & 0xFF);
}

}  // namespace

std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t& c) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char b0 = b(0);
    std::size_t len;
    char32_t min;
    if (b0 < 0x80) {
        c = b0;
        return 1;
    }
    if (b0 >= 0xC2 && b0 <= 0xDF) { len = 2; c = b0 & 0x1F; min = 0x80; }
    else if (b0 >= 0xE0 && b0 <= 0xEF) { len = 3; c = b0 & 0x0F; min = 0x800; }
    else if (b0 >= 0xF0 && b0 <= 0xF4) { len = 4; c = b0 & 0x07; min = 0x10000; }
    else return 0;
    if (i + len > s.size()) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((b(k) & 0xC0) != 0x80) return 0;
        c = (c << 6) | (b(k) & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    return len;
}

bool TryToAnsi(std::string_view utf8, AnsiString& out) {
    Tables& t = T();
    out.clear();
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const unsigned char b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            const std::size_t run = AsciiRun(utf8, i);
            out.append(utf8.data() + i, run);
            i += run;
            continue;
        }
        char32_t c = 0;
        const std::size_t len = DecodeUtf8(utf8, i, c);
        if (len == 0) {  // a byte that is not UTF-8 travels in its raw carrier
            AppendCode(out, t.rawCarrier[b - 0x80]);
            ++i;
            continue;
        }
        i += len;
        uint16_t code = c < 0x10000 ? t.encode[c] : 0;
        if (code == 0) {
            code = t.CarrierFor(c);
            if (code == 0) return false;
        }
        AppendCode(out, code);
    }
    return true;
}

AnsiString ToAnsi(std::string_view utf8) {
    AnsiString out;
    if (!TryToAnsi(utf8, out))
        throw ECodecTableFull("文字コード変換表がいっぱいです。この名前は変換できません: " + std::string(utf8));
    return out;
}

std::string FromAnsi(std::string_view ansi) {
    Tables& t = T();
    std::string out;
    out.reserve(ansi.size() + ansi.size() / 2);
    std::size_t i = 0;
    while (i < ansi.size()) {
        const unsigned char b = static_cast<unsigned char>(ansi[i]);
        if (b < 0x80) {
            const std::size_t run = AsciiRun(ansi, i);
            out.append(ansi.data() + i, run);
            i += run;
        } else if (IsLeadByte(b) && i + 1 < ansi.size() && IsTrailByte(static_cast<unsigned char>(ansi[i + 1]))) {
            const unsigned code = (b << 8) | static_cast<unsigned char>(ansi[i + 1]);
            const uint16_t u = t.decode[code];
            if (u >= kRawMarker && u < kRawMarker + 0x80) {
                out += static_cast<char>(0x80 + (u - kRawMarker));
            } else if (Tables::IsSlotMarker(u)) {
                const char32_t c = t.slotChar[Tables::SlotOfMarker(u)].load(std::memory_order_acquire);
                if (c != 0) {
                    AppendUtf8(out, c);
                } else {  // a carrier nobody was given: keep the bytes as they are
                    out += static_cast<char>(b);
                    out += ansi[i + 1];
                }
            } else {
                AppendUtf8(out, u);
            }
            i += 2;
        } else if (const char32_t c = SingleByteChar(b); c != 0) {
            AppendUtf8(out, c);
            ++i;
        } else {  // a lead byte without its trail
            out += static_cast<char>(b);
            ++i;
        }
    }
    return out;
}

bool HoldsCarrier(std::string_view ansi) {
    const Tables& t = T();
    for (std::size_t i = 0; i < ansi.size();) {
        const unsigned char b = static_cast<unsigned char>(ansi[i]);
        if (b < 0x80) {
            ++i;
        } else if (IsLeadByte(b) && i + 1 < ansi.size() && IsTrailByte(static_cast<unsigned char>(ansi[i + 1]))) {
            // Both kinds of carrier decode to a surrogate marker, which no real character does.
            const uint16_t u = t.decode[(b << 8) | static_cast<unsigned char>(ansi[i + 1])];
            if (u >= 0xD800 && u <= 0xDFFF) return true;
            i += 2;
        } else if (SingleByteChar(b) != 0) {
            ++i;
        } else {
            return true;  // a lead byte without its trail
        }
    }
    return false;
}

namespace {

// Printable ASCII and the tab.
bool IsShownAscii(unsigned char c) { return (c >= 0x20 && c < 0x7F) || c == '\t'; }

// One pass for IsPlainAnsi (to is null) and AppendPlainFromAnsi (to has room for the UTF-8: three
// bytes for each byte of ansi at most): the branches of FromAnsi, where a carrier, a lone lead byte
// or a control ends the pass with false. to is left at the end of the UTF-8 written.
template <bool Convert>
bool ScanPlain(std::string_view ansi, char*& to) {
    const Tables& t = T();
    const std::size_t n = ansi.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = static_cast<unsigned char>(ansi[i]);
        if (b < 0x80) {
            std::size_t j = i;
            while (j < n && IsShownAscii(static_cast<unsigned char>(ansi[j]))) ++j;
            if (j == i) return false;  // a control
            if constexpr (Convert) to = std::copy(ansi.data() + i, ansi.data() + j, to);
            i = j;
        } else if (IsLeadByte(b)) {
            if (i + 1 == n || !IsTrailByte(static_cast<unsigned char>(ansi[i + 1]))) return false;
            const uint16_t u = t.decode[(b << 8) | static_cast<unsigned char>(ansi[i + 1])];
            if (u == 0 || (u >= 0xD800 && u <= 0xDFFF)) return false;  // every carrier marker is a surrogate
            if constexpr (Convert) to = PutUtf8(to, u);
            i += 2;
        } else {
            if (b == 0x80) return false;  // U+0080, a C1 control
            if constexpr (Convert) to = PutUtf8(to, SingleByteChar(b));
            ++i;
        }
    }
    return true;
}

}  // namespace

bool IsPlainAnsi(std::string_view ansi) {
    char* none = nullptr;
    return ScanPlain<false>(ansi, none);
}

bool AppendPlainFromAnsi(std::string_view ansi, std::string& out) {
    const std::size_t start = out.size();
    out.resize(start + 3 * ansi.size());
    char* end = out.data() + start;
    const bool plain = ScanPlain<true>(ansi, end);
    out.resize(plain ? static_cast<std::size_t>(end - out.data()) : start);
    return plain;
}

std::size_t CarriersInUse() { return T().slotsUsed.load(); }
std::size_t CarrierCapacity() { return T().slotCode.size(); }

std::size_t AnsiLastDelimiter(std::string_view s, std::string_view delims) {
    std::size_t found = std::string_view::npos;
    for (std::size_t i = 0; i < s.size(); i += AnsiCharLength(s, i)) {
        if (delims.find(s[i]) != std::string_view::npos && AnsiCharLength(s, i) == 1) found = i;
    }
    return found;
}

std::size_t AnsiFirstDelimiter(std::string_view s, std::string_view delims, std::size_t from) {
    for (std::size_t i = 0; i < s.size(); i += AnsiCharLength(s, i)) {
        if (i >= from && AnsiCharLength(s, i) == 1 && delims.find(s[i]) != std::string_view::npos) return i;
    }
    return std::string_view::npos;
}

bool AnsiEndsWithSeparator(std::string_view s) {
    const std::size_t last = AnsiLastDelimiter(s, "/\\");
    return last != std::string_view::npos && last + 1 == s.size();
}

}  // namespace norvex
