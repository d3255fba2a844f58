// Helpers shared by the format drivers.
#include "archivers/DriverSupport.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "archivers/ArchiverErrors.h"
#include "archivers/ArchiverOptions.h"
#include "platform/AnsiCodec.h"
#include "platform/FileSystem.h"
#include "platform/ModuleLoader.h"
#include "platform/StandardFolders.h"
#include "util/Paths.h"

namespace norvex {
using namespace norvex::literals;

AnsiString ExtractFileExt(const AnsiString& name) {
    const std::size_t dot = AnsiLastDelimiter(name, "./\\:");
    if (dot == AnsiString::npos || name[dot] != '.') return {};
    return name.substr(dot);
}

AnsiString ChangeFileExt(const AnsiString& name, const AnsiString& ext) {
    const std::size_t dot = AnsiLastDelimiter(name, "./\\:");
    if (dot == AnsiString::npos || name[dot] != '.') return name + ext;
    return name.substr(0, dot) + ext;
}

bool CheckByOpening(TCustomArchiverDll& dll, const AnsiString& fullName) {
    HARC h = dll.OpenArchive(nullptr, fullName, 0x800002);
    if (!h) return false;
    dll.CloseArchive(h);
    return true;
}

namespace {

AnsiString FindInFolderNoCase(const AnsiString& folder, const AnsiString& name) {
    if (folder.empty()) return {};
    const AnsiString exact = JoinPath(folder, name);
    if (FileExists(exact)) return exact;
    TSearchRec rec;
    if (FindFirst(JoinPath(folder, "*"), faAnyFile & ~faDirectory, rec) != 0) return {};
    AnsiString found;
    do {
        if (rec.Name.size() == name.size() &&
            std::equal(rec.Name.begin(), rec.Name.end(), name.begin(), [](char a, char b) {
                auto low = [](char ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch; };
                return low(a) == low(b);
            })) {
            found = JoinPath(folder, rec.Name);
            break;
        }
    } while (FindNext(rec) == 0);
    FindClose(rec);
    return found;
}

}  // namespace

AnsiString FindStubFile(const AnsiString& name) {
    for (const AnsiString& folder : {ProgramFolder(), ModuleFolder(), GetCurrentDir()}) {
        AnsiString found = FindInFolderNoCase(folder, name);
        if (!found.empty()) return found;
    }
    if (const char* path = std::getenv("PATH")) {
        const std::string all(path);
        std::size_t start = 0;
        while (start <= all.size()) {
            const std::size_t end = all.find(':', start);
            const std::string dir = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (!dir.empty()) {
                AnsiString found = FindInFolderNoCase(ToAnsi(dir), name);
                if (!found.empty()) return found;
            }
            if (end == std::string::npos) break;
            start = end + 1;
        }
    }
    return {};
}

AnsiString FindStubFileIn(const AnsiString& folder, const AnsiString& name) {
    AnsiString found = FindInFolderNoCase(folder, name);
    return found.empty() ? FindStubFile(name) : found;
}

AnsiString SfxTargetName(const AnsiString& archive, const AnsiString& ext, const AnsiString& folder) {
    const AnsiString target = ChangeFileExt(archive, ext);
    if (folder.empty() || IsNotGiven(folder)) return target;
    return JoinPath(folder, ExtractHostName(target));
}

void WriteSfxFile(const AnsiString& target, const AnsiString& stub, const AnsiString& archive,
                  std::string_view tail) {
    auto readAll = [](const AnsiString& path, std::string& data) {
        std::ifstream in(FromAnsi(path), std::ios::binary);
        if (!in) return false;
        data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return !in.bad();
    };
    std::string stubData, archiveData;
    if (!readAll(stub, stubData)) throw EArchiver("ファイル "_ansi + stub + " を読めません。"_ansi);
    if (!readAll(archive, archiveData)) throw EArchiver("ファイル "_ansi + archive + " を読めません。"_ansi);
    std::FILE* out = std::fopen(FromAnsi(target).c_str(), "wb");
    if (!out) throw EFCreateError(target);
    bool ok = std::fwrite(stubData.data(), 1, stubData.size(), out) == stubData.size();
    ok = ok && std::fwrite(archiveData.data(), 1, archiveData.size(), out) == archiveData.size();
    ok = ok && (tail.empty() || std::fwrite(tail.data(), 1, tail.size(), out) == tail.size());
    ok = (std::fclose(out) == 0) && ok;
    if (!ok) {
        DeleteFile(target);
        throw EFCreateError(target);
    }
}

}  // namespace norvex
