// Packing, listing and searching through Norvex's archive layer (TArchiveFile and the archiver
// modules of <program folder>/../lib/norvex/modules), for the side-by-side runs of bench/run.
//
//   norvex_bench_archives pack ARCHIVE.lzh BASE_FOLDER PATH...   LZH through the compress path
//   norvex_bench_archives list ARCHIVE...                       every entry path, one a line
//   norvex_bench_archives search REGEX ARCHIVE...               entries whose name part matches
//   norvex_bench_archives rar ARCHIVE.rar BASE_FOLDER           a stored RAR 4 archive of a folder
//
// No RAR creator is packaged: "rar" uses the small stored-RAR writer of the module tests, so the RAR
// side of the benchmark measures reading and writing out, not decompression.
//
// The search walks the archives as the search window does: one archive object for the whole walk,
// only the extensions the window searches, folder entries skipped, the regular expression matched
// against the name part (after the last whole-character separator) with the engine's TAWKStr.
// Output lines are UTF-8; the exit status is 0 when every archive could be opened, else 1.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archivers/ArchiverErrors.h"
#include "archivers/Archives.h"
#include "platform/AnsiCodec.h"
#include "platform/LocalTimeZone.h"
#include "regexp/AWKStr.h"
#include "regexp/RECommon.h"
#include "tests/support/RarWriter.h"

using namespace norvex;

namespace {

AnsiString LowerExtension(const AnsiString& path) {
    const std::size_t dot = AnsiLastDelimiter(path, "./");
    if (dot == AnsiString::npos || path[dot] != '.') return {};
    AnsiString ext = path.substr(dot);
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return ext;
}

bool Searchable(const AnsiString& path) {
    const AnsiString ext = LowerExtension(path);
    return ext == ".lzh" || ext == ".lha" || ext == ".zip" || ext == ".rar" || ext == ".cab";
}

// Calls visit(entry) for every entry of path; false when the archive could not be opened.
template <typename Visit>
bool Walk(TArchiveFile& arc, const AnsiString& path, Visit visit) {
    arc.SetFileName(path);
    if (arc.OpenArchive(nullptr, 0) != 0) return false;
    TArchiveEntryInfo info{};
    for (int r = arc.FindFirst("*.*", &info); r == 0; r = arc.FindNext(&info)) visit(info);
    arc.CloseArchive();
    return true;
}

int Pack(int argc, char** argv) {
    if (argc < 5) return 2;
    TArchiveFile arc;
    arc.SetFileName(ToAnsi(argv[2]));
    arc.SetArchiverType(atLha);
    arc.Options().jso = 1;
    arc.Options().r = 2;  // a folder argument stands for its contents, sub-folders included
    arc.SetOutputSize(64 * 1024);
    TFileList files;
    for (int i = 4; i < argc; ++i) files.push_back(ToAnsi(argv[i]));
    const int result = arc.PackFiles(nullptr, nullptr, ToAnsi(argv[3]), files);
    if (std::getenv("NORVEX_BENCH_DEBUG")) std::fprintf(stderr, "%s\n%s\n", FromAnsi(arc.LastCommandLine()).c_str(), FromAnsi(arc.Output()).c_str());
    if (result >= ARC_ERROR_FIRST) {
        std::fprintf(stderr, "pack: %d\n%s\n", result, FromAnsi(arc.Output()).c_str());
        return 1;
    }
    return 0;
}

int List(int argc, char** argv) {
    int status = 0;
    TArchiveFile arc;
    std::string out;
    for (int i = 2; i < argc; ++i) {
        const bool opened = Walk(arc, ToAnsi(argv[i]), [&](const TArchiveEntryInfo& info) {
            out += FromAnsi(info.entry.fileName);
            out += '\n';
        });
        if (!opened) status = 1;
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
    }
    return status;
}

int Search(int argc, char** argv) {
    if (argc < 3) return 2;
    TAWKStr re;
    try {
        re.SetRegExp(ToAnsi(argv[2]));
    } catch (const ERegExpParser& e) {
        std::fprintf(stderr, "search: %s\n", FromAnsi(e.what()).c_str());
        return 2;
    }
    int status = 0;
    long hits = 0;
    TArchiveFile arc;
    std::string out;
    for (int i = 3; i < argc; ++i) {
        const AnsiString path = ToAnsi(argv[i]);
        if (!Searchable(path)) continue;
        const bool opened = Walk(arc, path, [&](const TArchiveEntryInfo& info) {
            const AnsiString name(info.entry.fileName);
            if (name.empty() || AnsiEndsWithSeparator(name)) return;
            const std::size_t cut = AnsiLastDelimiter(name, "/\\");
            const AnsiString part = cut == AnsiString::npos ? name : name.substr(cut + 1);
            int start = 0, length = 0;
            if (re.Match(part, start, length) == 0) return;
            ++hits;
            out += FromAnsi(part);
            out += '\t';
            out += argv[i];
            out += '\n';
        });
        if (!opened) status = 1;
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
    }
    std::fprintf(stderr, "%ld\n", hits);
    return status;
}

std::string ReadWhole(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Rar(int argc, char** argv) {
    namespace fs = std::filesystem;
    if (argc != 4) return 2;
    const fs::path base = argv[3];
    std::vector<fs::path> paths;
    for (const auto& e : fs::recursive_directory_iterator(base)) paths.push_back(e.path());
    std::sort(paths.begin(), paths.end());
    std::vector<test::RarEntry> entries;
    for (const fs::path& p : paths) {
        test::RarEntry e;
        AnsiString name = ToAnsi(fs::relative(p, base).string());
        for (char& c : name) {
            if (c == '/') c = '\\';  // 0x2F is never a cp932 trail byte
        }
        e.name = name;
        if (fs::is_directory(p)) {
            e.kind = test::RarEntry::Directory;
            e.unixMode = 0755;
        } else {
            e.data = ReadWhole(p);
        }
        entries.push_back(std::move(e));
    }
    const std::vector<std::string> volumes = test::BuildRar4(entries);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(volumes.at(0).data(), static_cast<std::streamsize>(volumes[0].size()));
    return out.good() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    norvex::PinLocalTimeZone();  // as the programs do
    const std::string command = argc >= 2 ? argv[1] : "";
    try {
        if (command == "pack") return Pack(argc, argv);
        if (command == "list") return List(argc, argv);
        if (command == "search") return Search(argc, argv);
        if (command == "rar") return Rar(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", command.c_str(), FromAnsi(e.what()).c_str());
        return 1;
    }
    std::fputs("usage: norvex_bench_archives pack ARCHIVE.lzh BASE PATH... | list ARCHIVE... | search REGEX ARCHIVE... | rar ARCHIVE.rar BASE\n",
               stderr);
    return 2;
}
