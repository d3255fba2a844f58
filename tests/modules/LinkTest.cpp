// Symbolic links resolved through the links already extracted: chains that each look harmless must
// not climb out, a link replaced under an earlier one must not turn it around, and a link whose
// target stays inside (beside it, in a cp932 folder) is made. In every format that carries links.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/AnsiCodec.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/support/RarWriter.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;
namespace fs = std::filesystem;

namespace {

struct Link {
    std::string name, target;  // UTF-8; an empty target makes a folder, "=text" a file
};

// The archive of the links in each format the tests can write links in.
struct Format {
    const char* label;
    const char* dll;
    const char* prefix;
    const char* ext;
    std::function<bool(const std::string& archive, const std::vector<Link>& links)> build;
};

bool PythonArchive(const std::string& kind, const std::string& archive, const std::vector<Link>& links) {
    std::string spec;
    for (const Link& l : links) spec += l.name + '\x01' + l.target + '\x02';
    return RunTool({"python3", "-c",
                    "import sys, io, tarfile, zipfile\n"
                    "kind, path, spec = sys.argv[1], sys.argv[2], sys.argv[3]\n"
                    "items = [x.split('\\x01') for x in spec.split('\\x02') if x]\n"
                    "if kind == 'tar':\n"
                    "    with tarfile.open(path, 'w', format=tarfile.PAX_FORMAT) as t:\n"
                    "        for n, tg in items:\n"
                    "            i = tarfile.TarInfo(n)\n"
                    "            if tg == '': i.type = tarfile.DIRTYPE; t.addfile(i)\n"
                    "            elif tg[0] == '=': d = tg[1:].encode(); i.size = len(d); t.addfile(i, io.BytesIO(d))\n"
                    "            else: i.type = tarfile.SYMTYPE; i.linkname = tg; t.addfile(i)\n"
                    "else:\n"
                    "    with zipfile.ZipFile(path, 'w') as z:\n"
                    "        for n, tg in items:\n"
                    "            if tg == '': z.writestr(n + '/', ''); continue\n"
                    "            i = zipfile.ZipInfo(n); i.create_system = 3\n"
                    "            if tg[0] == '=': i.external_attr = 0o100644 << 16; z.writestr(i, tg[1:])\n"
                    "            else: i.external_attr = 0o120777 << 16; z.writestr(i, tg)\n",
                    kind, archive, spec})
               .exitCode == 0;
}

std::vector<Format> Formats() {
    return {
        {"tar", "TAR32.DLL", "Tar", ".tar",
         [](const std::string& a, const std::vector<Link>& l) { return HaveTool("python3") && PythonArchive("tar", a, l); }},
        {"zip", "UNZIP32.DLL", "UnZip", ".zip",
         [](const std::string& a, const std::vector<Link>& l) { return HaveTool("python3") && PythonArchive("zip", a, l); }},
        {"rar4", "UNRAR32.DLL", "Unrar", ".rar",
         [](const std::string& a, const std::vector<Link>& links) {
             std::vector<RarEntry> entries;
             for (const Link& l : links) {
                 if (l.target.empty()) entries.push_back({Sjis(l.name), "", RarEntry::Directory, 0755});
                 else if (l.target[0] == '=') entries.push_back({Sjis(l.name), l.target.substr(1)});
                 else entries.push_back({Sjis(l.name), Sjis(l.target), RarEntry::Symlink, 0777});
             }
             WriteFile(a, BuildRar4(entries)[0]);
             return true;
         }},
    };
}

// Everything under root that lies outside dest, and every link under dest that resolves outside it.
std::vector<std::string> Escapes(const std::string& root, const std::string& dest) {
    std::vector<std::string> out;
    const fs::path realDest = fs::canonical(dest);
    for (const auto& e : fs::recursive_directory_iterator(dest)) {
        if (!fs::is_symlink(e.symlink_status())) continue;
        std::error_code ec;
        const fs::path resolved = fs::weakly_canonical(e.path(), ec);
        const std::string rel = resolved.lexically_relative(realDest).string();
        if (ec || rel.empty() || rel.rfind("..", 0) == 0) out.push_back(e.path().string() + " -> " + resolved.string());
    }
    for (const auto& e : fs::directory_iterator(root))
        if (e.path().filename() != "dest" && e.path().filename().string().find("arc") != 0)
            out.push_back("outside: " + e.path().string());
    return out;
}

}  // namespace

TEST(ModuleLinks, ChainsAndReplacedLinksNeverLeadOut) {
    const std::vector<std::pair<std::string, std::vector<Link>>> attacks = {
        {"chain", {{"L", "."}, {"M", "L/.."}, {"P", "M/.."}, {"M/evil.txt", "=evil"}}},
        {"chain in a folder", {{"d", ""}, {"d/L", ".."}, {"d/M", "L/.."}, {"d/N", "M/../.."}}},
        {"through a later link", {{"M", "X/../.."}, {"X", "."}}},
        {"replaced under", {{"a", ""}, {"a/b", ""}, {"L", "a/b"}, {"M", "L/.."}, {"N", "M/.."}, {"L", "."}}},
        {"loop", {{"A", "B"}, {"B", "A/.."}}},
        {"backslashes", {{"W", "..\\..\\x"}}},
    };
    for (const Format& f : Formats()) {
        LoadedModule m(f.dll, f.prefix);
        if (!m.ok()) continue;
        for (const auto& [label, links] : attacks) {
            SCOPED_TRACE(std::string(f.label) + ": " + label);
            TempDir td;
            const std::string archive = td / (std::string("arc") + f.ext);
            if (!f.build(archive, links)) continue;
            fs::create_directories(td / "dest");
            std::string log;
            const int32_t code = m.run(nullptr, "x -o \"" + archive + "\" \"" + td / "dest/\"", &log);
            const auto escapes = Escapes(td.path(), td / "dest");
            EXPECT_TRUE(escapes.empty()) << ::testing::PrintToString(escapes) << log;
            if (label != "backslashes" && label != "loop") {
                EXPECT_GE(code, ARC_ERROR_FIRST) << log;
            }
        }
    }
}

// A link to a file beside it, in a folder whose name has a cp932 trail byte 0x5C, as a real RAR 4
// made on Windows holds it; and the same shape in the other formats.
TEST(ModuleLinks, LinksThatStayInsideAreMade) {
    const std::string file = "漢字長いファイル名long-filename-in-漢字.txt";
    const std::vector<Link> links = {{"表だよ", ""}, {"表だよ/ファイル", file}, {"表だよ/" + file, "=text"},
                                     {"up", "表だよ/../表だよ/ファイル"}, {"表だよ/sub", ""}, {"表だよ/sub/back", "../" + file}};
    for (const Format& f : Formats()) {
        LoadedModule m(f.dll, f.prefix);
        if (!m.ok()) continue;
        SCOPED_TRACE(f.label);
        TempDir td;
        const std::string archive = td / (std::string("arc") + f.ext);
        if (!f.build(archive, links)) continue;
        std::string log;
        EXPECT_EQ(m.run(nullptr, "x \"" + archive + "\" \"" + td / "dest/\"", &log), 0) << log;
        EXPECT_EQ(fs::read_symlink(td / "dest/表だよ/ファイル"), file);
        EXPECT_EQ(ReadFile(td / "dest/表だよ/ファイル"), "text");
        EXPECT_EQ(ReadFile(td / "dest/up"), "text");
        EXPECT_EQ(ReadFile(td / "dest/表だよ/sub/back"), "text");
    }
}
