#include "tests/support/TarEntries.h"

#include <cstdio>

namespace norvex::test {

std::string TarHeader(const std::string& name, char type, uint64_t stored,
                      const std::vector<std::pair<uint64_t, uint64_t>>& map, uint64_t realSize) {
    std::string h(512, '\0');
    auto octal = [&h](std::size_t at, std::size_t width, uint64_t value) {
        char text[32];
        std::snprintf(text, sizeof text, "%0*llo", static_cast<int>(width - 1), static_cast<unsigned long long>(value));
        h.replace(at, width - 1, text, width - 1);
    };
    h.replace(0, name.size(), name);
    octal(100, 8, 0644);
    octal(108, 8, 0);
    octal(116, 8, 0);
    octal(124, 12, stored);
    octal(136, 12, 1600000000);
    h[156] = type;
    h.replace(257, 8, std::string("ustar  \0", 8));
    for (std::size_t i = 0; i < map.size() && i < 4; ++i) {
        octal(386 + i * 24, 12, map[i].first);
        octal(386 + i * 24 + 12, 12, map[i].second);
    }
    if (type == 'S') octal(483, 12, realSize);
    h.replace(148, 8, "        ");
    unsigned sum = 0;
    for (unsigned char c : h) sum += c;
    char check[8];
    std::snprintf(check, sizeof check, "%06o", sum);
    h.replace(148, 7, std::string(check, 6) + '\0');
    return h;
}

std::string TarData(const std::string& data) { return data + std::string((512 - data.size() % 512) % 512, '\0'); }

}  // namespace norvex::test
