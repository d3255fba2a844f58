// Volume naming and files on disk over the shared stored-RAR writer.
#include "tests/engine/RarFixture.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace norvex::test {

namespace {

std::string VolumeName(const std::string& base, int index, int count, RarNaming naming) {
    if (count == 1) return base + ".rar";
    if (naming == RarNaming::NewStyle) return base + ".part" + std::to_string(index + 1) + ".rar";
    if (index == 0) return base + ".rar";
    const int n = index - 1;
    return base + ".r" + (n < 10 ? "0" : "") + std::to_string(n);
}

}  // namespace

std::vector<std::string> WriteRar(const std::string& folder, const std::string& base,
                                  const std::vector<RarEntry>& entries, int volumeCount, RarNaming naming) {
    if (volumeCount < 1) throw std::invalid_argument("volumeCount");
    std::size_t total = 0;
    for (const auto& e : entries) total += e.data.size();
    const std::size_t perVolume = volumeCount == 1 ? 0 : std::max<std::size_t>(1, (total + volumeCount - 1) / volumeCount);
    const std::vector<std::string> volumes = BuildRar4(entries, perVolume, naming == RarNaming::NewStyle);
    if (static_cast<int>(volumes.size()) != volumeCount)
        throw std::runtime_error("the entries do not fill " + std::to_string(volumeCount) + " volumes");

    std::vector<std::string> paths;
    for (int i = 0; i < volumeCount; ++i) {
        const std::string path = folder + "/" + VolumeName(base, i, volumeCount, naming);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << volumes[i];
        if (!out) throw std::runtime_error("cannot write " + path);
        paths.push_back(path);
    }
    return paths;
}

}  // namespace norvex::test
