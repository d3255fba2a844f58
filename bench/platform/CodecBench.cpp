// The codec against glibc iconv on one million typical Japanese file names, both directions, in one
// run. Prints ns per name and the ratio Norvex / iconv (below 1 means Norvex is faster).
#include <iconv.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "platform/AnsiCodec.h"

namespace {

std::vector<std::string> MakeNames(std::size_t count) {
    const std::vector<std::string> words = {
        "写真", "旅行", "北海道", "資料", "議事録", "見積書", "ソフトウェア", "表計算", "デザイン案", "最終版",
        "バックアップ", "新しいフォルダー", "会議", "報告書", "ｶﾀｶﾅ", "画像", "音楽", "動画", "プロジェクト", "案件"};
    const std::vector<std::string> ascii = {"IMG_", "DSC", "data", "v2", "final", "2005", "part", "doc"};
    const std::vector<std::string> exts = {".jpg", ".txt", ".xls", ".doc", ".lzh", ".zip", ".png", ".pdf"};
    std::mt19937 rng(42);
    std::vector<std::string> names;
    names.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::string name = words[rng() % words.size()];
        if (rng() % 2) name += "_" + words[rng() % words.size()];
        name += "/" + ascii[rng() % ascii.size()] + std::to_string(rng() % 10000);
        if (rng() % 3 == 0) name += " " + words[rng() % words.size()];
        name += exts[rng() % exts.size()];
        names.push_back(std::move(name));
    }
    return names;
}

std::string Iconv(iconv_t cd, const std::string& in) {
    std::string out(in.size() * 2 + 8, '\0');
    char* src = const_cast<char*>(in.data());
    char* dst = out.data();
    size_t srcLeft = in.size(), dstLeft = out.size();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.resize(out.size() - dstLeft);
    return out;
}

template <typename F>
double NsPerName(const std::vector<std::string>& names, F&& convert) {
    std::size_t sink = 0;
    double best = 1e30;
    for (int round = 0; round < 3; ++round) {
        const auto start = std::chrono::steady_clock::now();
        for (const auto& n : names) sink += convert(n).size();
        const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, ns / static_cast<double>(names.size()));
    }
    if (sink == 42) std::puts("");
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t count = argc > 1 ? std::stoul(argv[1]) : 1000000;
    const std::vector<std::string> utf8 = MakeNames(count);
    std::vector<std::string> ansi;
    ansi.reserve(utf8.size());
    for (const auto& n : utf8) ansi.push_back(norvex::ToAnsi(n));

    iconv_t toCp932 = iconv_open("CP932", "UTF-8");
    iconv_t toUtf8 = iconv_open("UTF-8", "CP932");
    if (toCp932 == reinterpret_cast<iconv_t>(-1) || toUtf8 == reinterpret_cast<iconv_t>(-1)) {
        std::fprintf(stderr, "iconv has no CP932\n");
        return 1;
    }
    // Same output from both, or the comparison means nothing.
    for (std::size_t i = 0; i < 1000 && i < utf8.size(); ++i) {
        if (Iconv(toCp932, utf8[i]) != ansi[i]) {
            std::fprintf(stderr, "outputs differ for name %zu\n", i);
            return 1;
        }
    }
    const double oursTo = NsPerName(utf8, [](const std::string& s) { return norvex::ToAnsi(s); });
    const double iconvTo = NsPerName(utf8, [&](const std::string& s) { return Iconv(toCp932, s); });
    const double oursFrom = NsPerName(ansi, [](const std::string& s) { return norvex::FromAnsi(s); });
    const double iconvFrom = NsPerName(ansi, [&](const std::string& s) { return Iconv(toUtf8, s); });

    std::printf("codec on %zu Japanese file names (best of 3 rounds)\n", count);
    std::printf("%-16s %12s %12s %8s\n", "direction", "norvex ns", "iconv ns", "ratio");
    std::printf("%-16s %12.1f %12.1f %8.2f\n", "UTF-8 -> cp932", oursTo, iconvTo, oursTo / iconvTo);
    std::printf("%-16s %12.1f %12.1f %8.2f\n", "cp932 -> UTF-8", oursFrom, iconvFrom, oursFrom / iconvFrom);
    iconv_close(toCp932);
    iconv_close(toUtf8);
    return 0;
}
