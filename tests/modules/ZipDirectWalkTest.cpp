// The walk of plain ZIP archives from the central directory: it must describe and extract every entry
// exactly as the libarchive walk does (an archive with one unknown extra field is walked by
// libarchive, and the two are compared), and local headers that lie must never make it write
// outside, leave a partial file or pass as extracted.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "platform/AnsiCodec.h"
#include "tests/modules/ModuleTestSupport.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

using namespace norvex;
using namespace norvex::test;

namespace {

std::string Q(const std::string& s) { return "\"" + s + "\""; }

// Writes four archives of the same entries (Python's zipfile as the outside writer): plain.zip,
// forced.zip (the same with one more entry whose unknown extra field sends the archive to
// libarchive), and both again with every entry's sizes in a data descriptor (written to a stream
// that cannot seek): plain-dd.zip, forced-dd.zip.
const char* kWriter = R"(
import struct, sys, zipfile
out = sys.argv[1]
def ut(flags, *times):
    body = struct.pack('<B', flags) + b''.join(struct.pack('<I', t) for t in times)
    return struct.pack('<HH', 0x5455, len(body)) + body
NTFS = struct.pack('<HHIHHQQQ', 0x000a, 32, 0, 1, 24, 132000000000000000, 131000000000000000, 130000000000000000)
UX = struct.pack('<HHBBIBI', 0x7875, 11, 1, 4, 1000, 4, 1000)
S, D = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED
ENTRIES = [  # name, made by, external attributes, date and time, extra, data, method
    ('unix/rw.txt', 3, 0o100644 << 16, (2021, 3, 4, 5, 6, 8), b'', b'text ' * 300, D),
    ('unix/run.sh', 3, 0o100755 << 16, (2019, 12, 31, 23, 59, 58), b'', b'#!/bin/sh\n', S),
    ('unix/private', 3, 0o100600 << 16, (2000, 1, 1, 0, 0, 0), ut(3, 1600000000, 1500000000), b'p' * 5000, D),
    ('unix/setid', 3, 0o106755 << 16, (2021, 3, 4, 5, 6, 8), ut(1, 1600000000) + UX, b'x', D),
    ('unix/dir/', 3, (0o40750 << 16) | 0x10, (2021, 3, 4, 5, 6, 8), ut(7, 1600000000, 1500000000, 1400000000), b'', S),
    ('unix/dir/empty', 3, 0o100644 << 16, (2021, 3, 4, 5, 6, 8), b'', b'', D),
    ('dos/', 0, 0x10, (2010, 6, 7, 8, 9, 10), b'', b'', S),
    ('dos/readonly.txt', 0, 0x21, (2010, 6, 7, 8, 9, 10), b'', b'ro' * 99, D),
    ('dos/archive.txt', 0, 0x20, (1980, 1, 1, 0, 0, 0), NTFS, b'a' * 70000, D),
    ('dos/ro-dir/', 0, 0x11, (2010, 6, 7, 8, 9, 10), b'', b'', S),
    ('ntfs/readonly.txt', 11, 0x01, (2024, 3, 31, 2, 30, 0), b'', b'n' * 10, D),
    ('ntfs/utc.txt', 11, 0x20, (2024, 10, 27, 2, 30, 0), ut(1, 4000000000), b'late', S),
    ('\u65e5\u672c\u8a9e/\u540d\u524d.txt', 3, 0o100644 << 16, (2021, 3, 4, 5, 6, 8), b'', b'\xe6\x97\xa5', D),
]
class Unseekable:
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()
def write(path, forced, descriptors):
    with open(path, 'wb') as raw:
        with zipfile.ZipFile(Unseekable(raw) if descriptors else raw, 'w') as z:
            rows = ENTRIES + ([('zz/unknown.txt', 3, 0o100644 << 16, (2021, 3, 4, 5, 6, 8),
                                struct.pack('<HHI', 0x6666, 4, 0), b'z', D)] if forced else [])
            for name, system, attributes, when, extra, data, method in rows:
                info = zipfile.ZipInfo(name, when)
                info.create_system, info.external_attr, info.extra, info.compress_type = system, attributes, extra, method
                z.writestr(info, data)
for forced in (False, True):
    for descriptors in (False, True):
        write('%s/%s%s.zip' % (out, 'forced' if forced else 'plain', '-dd' if descriptors else ''), forced, descriptors)
)";

struct Seen {
    std::map<std::string, std::string> records;  // name -> listing record fields
    std::map<std::string, std::string> files;    // relative path -> mode, times, content
};

std::string Record(const ArcEntryRecord& r) {
    char text[160];
    std::snprintf(text, sizeof text, "%u %u %08x %04x %04x %.8s %.8s", r.originalSize, r.compressedSize, r.crc, r.dosDate,
                  r.dosTime, r.attribute, r.method);
    return text;
}

struct ZipDirectWalk : ::testing::Test {
    void SetUp() override {
        if (!module.ok()) GTEST_SKIP() << "unzip32.so is not built";
        if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
    }
    Seen walk(const std::string& name) {
        Seen seen;
        const std::string archive = dir / name;
        HARC h = module.openArchive(nullptr, ToAnsi(archive).c_str(), 0);
        EXPECT_NE(h, nullptr) << name;
        if (!h) return seen;
        ArcEntryRecord rec;
        for (int32_t r = module.findFirst(h, "*", &rec); r == 0; r = module.findNext(h, &rec))
            seen.records[FromAnsi(rec.fileName)] = Record(rec);
        module.closeArchive(h);
        const std::string out = dir / ("out-" + name);
        EXPECT_EQ(module.run(&window, "-x " + Q(archive) + " " + Q(out + "/")), 0) << name;
        // Modes and times first: reading the files may move their access times.
        for (const auto& e : std::filesystem::recursive_directory_iterator(out)) {
            struct stat st {};
            EXPECT_EQ(::lstat(e.path().c_str(), &st), 0);
            // (A folder's access time moves as soon as it is listed; one that is not in the archive
            // is made when needed.)
            const std::string rel = std::filesystem::relative(e.path(), out).string();
            if (S_ISDIR(st.st_mode) && !seen.records.count(rel + "/")) {
                seen.files[rel] = "made ";
                continue;
            }
            const long long atime = S_ISDIR(st.st_mode) ? -1 : static_cast<long long>(st.st_atim.tv_sec);
            char meta[96];
            std::snprintf(meta, sizeof meta, "%o %lld.%09ld %lld ", static_cast<unsigned>(st.st_mode),
                          static_cast<long long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec, atime);
            seen.files[rel] = meta;
        }
        for (const auto& [path, content] : SnapshotTree(out))
            seen.files[path] += std::to_string(content.size()) + " " + std::to_string(std::hash<std::string>{}(content));
        return seen;
    }
    LoadedModule module{"UNZIP32.DLL", "UnZip"};
    TempDir dir;
    TestWindow window;
};

}  // namespace

TEST_F(ZipDirectWalk, ListsAndExtractsEveryEntryAsTheLibarchiveWalkDoes) {
    ASSERT_EQ(RunTool({"python3", "-c", kWriter, dir.path()}).exitCode, 0);
    for (const char* tz : {"UTC", "Asia/Tokyo", "Europe/Berlin"}) {
        SCOPED_TRACE(tz);
        ::setenv("TZ", tz, 1);
        ::tzset();
        for (const std::string suffix : {"", "-dd"}) {
            SCOPED_TRACE(suffix);
            Seen plain = walk("plain" + suffix + ".zip");
            Seen forced = walk("forced" + suffix + ".zip");
            ASSERT_EQ(forced.records.erase("zz/unknown.txt"), 1u);
            forced.files.erase("zz/unknown.txt");
            forced.files.erase("zz");
            EXPECT_EQ(plain.records.size(), 13u);
            for (const auto& [name, record] : forced.records) EXPECT_EQ(plain.records[name], record) << name;
            for (const auto& [path, file] : forced.files) EXPECT_EQ(plain.files[path], file) << path;
            EXPECT_EQ(plain.records.size(), forced.records.size());
            // An entry whose archive records no access time gets its modification time as both
            // (not 1970); one that records it keeps it.
            auto times = [&](const std::string& path) {
                std::istringstream meta(plain.files[path]);
                std::string mode, mtime, atime;
                meta >> mode >> mtime >> atime;
                return std::pair{mtime.substr(0, mtime.find('.')), atime};
            };
            EXPECT_EQ(times("unix/rw.txt").second, times("unix/rw.txt").first);
            EXPECT_EQ(times("unix/private").second, "1500000000");
            EXPECT_EQ(plain.files.size(), forced.files.size());
            std::filesystem::remove_all(dir / ("out-plain" + suffix + ".zip"));
            std::filesystem::remove_all(dir / ("out-forced" + suffix + ".zip"));
        }
    }
    ::unsetenv("TZ");
    ::tzset();
}

namespace {

uint16_t Get16(const std::string& b, std::size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}
uint32_t Get32(const std::string& b, std::size_t at) { return Get16(b, at) | static_cast<uint32_t>(Get16(b, at + 2)) << 16; }
void Put16(std::string& b, std::size_t at, uint16_t v) {
    b[at] = static_cast<char>(v);
    b[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string& b, std::size_t at, uint32_t v) {
    Put16(b, at, static_cast<uint16_t>(v));
    Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

// The local and central header of the entry named name.
struct Headers {
    std::size_t local = std::string::npos, central = std::string::npos;
};
Headers Find(const std::string& b, const std::string& name) {
    Headers h;
    for (std::size_t at = b.find(name); at != std::string::npos; at = b.find(name, at + 1)) {
        if (at >= 30 && b.compare(at - 30, 4, "PK\3\4") == 0) h.local = at - 30;
        if (at >= 46 && b.compare(at - 46, 4, "PK\1\2") == 0) h.central = at - 46;
    }
    return h;
}

}  // namespace

TEST_F(ZipDirectWalk, LocalHeadersThatLieLeaveNothingPartialAndNothingOutside) {
    const char* writer = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    for name in ('first.txt', 'victim.txt', 'last.txt'):
        z.writestr(name, (name + ' line\n') * 4000)
)";
    const std::string good = dir / "good.zip";
    ASSERT_EQ(RunTool({"python3", "-c", writer, good}).exitCode, 0);
    const std::string pristine = ReadFile(good);
    auto expected = [](const std::string& name) {
        std::string s;
        for (int i = 0; i < 4000; ++i) s += name + " line\n";
        return "f:" + s;
    };
    struct Case {
        const char* what;
        const char* victim;
        bool mustFail;  // the entry cannot be read as it stands
        void (*damage)(std::string& b, const Headers& h);
    };
    const Case cases[] = {
        {"local name differs from the central name", "victim.txt", false,
         [](std::string& b, const Headers& h) { b[h.local + 30] = 'V'; }},
        {"local name length reaching into the data", "victim.txt", true,
         [](std::string& b, const Headers& h) { Put16(b, h.local + 26, Get16(b, h.local + 26) + 9); }},
        {"local extra length reaching past the end of the file", "last.txt", true,
         [](std::string& b, const Headers& h) { Put16(b, h.local + 28, 0xFFFF); }},
        {"local CRC differs from the central CRC", "victim.txt", false,
         [](std::string& b, const Headers& h) { Put32(b, h.local + 14, Get32(b, h.local + 14) ^ 1); }},
        {"data of both headers running into the central directory", "last.txt", true,
         [](std::string& b, const Headers& h) {
             const uint32_t grown = Get32(b, h.central + 20) + 40;
             Put32(b, h.local + 18, grown);
             Put32(b, h.central + 20, grown);
         }},
        {"two central entries on one local header", "first.txt", true,
         [](std::string& b, const Headers& h) {
             const Headers victim = Find(b, "victim.txt");
             Put32(b, h.central + 42, Get32(b, victim.central + 42));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = pristine;
        const Headers h = Find(bytes, c.victim);
        ASSERT_NE(h.local, std::string::npos);
        ASSERT_NE(h.central, std::string::npos);
        c.damage(bytes, h);
        const std::string root = dir / (std::string("case-") + c.what);
        WriteFile(root + "/bad.zip", bytes);
        const int32_t code = module.run(&window, "-x " + Q(root + "/bad.zip") + " " + Q(root + "/out/"));
        auto tree = SnapshotTree(root);
        tree.erase("bad.zip");
        for (const auto& [path, content] : tree) {
            EXPECT_EQ(path.rfind("out", 0), 0u) << path << " written outside the destination";
            EXPECT_EQ(path.find(".nvx"), std::string::npos) << path;
        }
        // What lands is whole; a failure is reported for an entry that could not be read.
        for (const char* name : {"first.txt", "victim.txt", "last.txt"}) {
            const std::string path = std::string("out/") + name;
            if (tree.count(path)) {
                EXPECT_EQ(tree[path], expected(name)) << name;
            }
        }
        if (c.mustFail) {
            EXPECT_GE(code, 0x8000);
            EXPECT_FALSE(tree.count(std::string("out/") + c.victim));
        } else if (!tree.count(std::string("out/") + c.victim)) {
            EXPECT_GE(code, 0x8000);
        }
    }
}

TEST_F(ZipDirectWalk, SizesOtherThanTheCentralEntryListsFailTheEntry) {
    // Unix modes walk the archive from its central directory; names alone (mode 0) send it to the
    // libarchive walk. A descriptor is written where the stream cannot seek.
    const char* writer = R"(
import sys, zipfile
class Unseekable:
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()
out = sys.argv[1]
for walk in ('direct', 'libarchive'):
    for dd in ('', '-dd'):
        for method, m in ((zipfile.ZIP_STORED, 'stored'), (zipfile.ZIP_DEFLATED, 'deflate')):
            with open('%s/%s-%s%s.zip' % (out, walk, m, dd), 'wb') as raw:
                with zipfile.ZipFile(Unseekable(raw) if dd else raw, 'w', method) as z:
                    for name, data in (('first.txt', b'f' * 300), ('victim.bin', bytes(range(256)) * 19 + b'v' * 136),
                                       ('last.txt', b'l' * 300)):
                        info = zipfile.ZipInfo(name, (2021, 3, 4, 5, 6, 8))
                        info.create_system, info.compress_type = 3, method
                        if walk == 'direct': info.external_attr = 0o100644 << 16
                        z.writestr(info, data)
)";
    ASSERT_EQ(RunTool({"python3", "-c", writer, dir.path()}).exitCode, 0);
    struct Damage {
        const char* what;
        bool descriptorOnly;
        void (*apply)(std::string& b, const Headers& h, std::size_t descriptor);
    };
    const Damage damages[] = {
        {"none", false, nullptr},
        {"central sizes larger", false,
         [](std::string& b, const Headers& h, std::size_t) {
             Put32(b, h.central + 24, 6000);
             if (Get16(b, h.central + 10) == 0) Put32(b, h.central + 20, 6000);
         }},
        {"central sizes smaller", false,
         [](std::string& b, const Headers& h, std::size_t) {
             Put32(b, h.central + 24, 4000);
             if (Get16(b, h.central + 10) == 0) Put32(b, h.central + 20, 4000);
         }},
        {"central compressed size larger", false,
         [](std::string& b, const Headers& h, std::size_t) { Put32(b, h.central + 20, Get32(b, h.central + 20) + 10); }},
        {"descriptor size differs", true,
         [](std::string& b, const Headers&, std::size_t d) { Put32(b, d + 12, Get32(b, d + 12) + 1); }},
    };
    for (const char* walk : {"direct", "libarchive"}) {
        for (const char* kind : {"stored", "deflate", "stored-dd", "deflate-dd"}) {
            const std::string name = std::string(walk) + "-" + kind + ".zip";
            const std::string pristine = ReadFile(dir / name);
            for (const Damage& damage : damages) {
                const bool dd = std::string(kind).find("-dd") != std::string::npos;
                if (damage.descriptorOnly && !dd) continue;
                SCOPED_TRACE(name + ": " + damage.what);
                std::string bytes = pristine;
                const Headers h = Find(bytes, "victim.bin");
                ASSERT_NE(h.central, std::string::npos);
                const std::size_t descriptor =
                    h.local + 30 + Get16(bytes, h.local + 26) + Get16(bytes, h.local + 28) + Get32(bytes, h.central + 20);
                if (dd) {
                    ASSERT_EQ(bytes.compare(descriptor, 4, "PK\7\10"), 0);
                }
                if (damage.apply) damage.apply(bytes, h, descriptor);
                const std::string root = dir / (name + "-" + damage.what);
                WriteFile(root + "/x.zip", bytes);
                std::string log;
                const int32_t code = module.run(&window, "-x " + Q(root + "/x.zip") + " " + Q(root + "/out/"), &log);
                const auto tree = SnapshotTree(root + "/out");
                if (!damage.apply) {
                    EXPECT_EQ(code, 0) << log;
                    EXPECT_EQ(tree.size(), 3u);
                } else {
                    EXPECT_GE(code, 0x8000) << log;
                    EXPECT_FALSE(tree.count("victim.bin"));
                }
            }
        }
    }
}

TEST_F(ZipDirectWalk, LocalEntriesTheDirectoryDoesNotListKeepTheArchiveFromPassing) {
    // Three entries, the central directory cut down to one of them: the listed one lands, the others
    // cannot, and the run must not pass as extracted (else the archive would be deleted with them).
    const char* writer = R"(
import io, struct, sys, zipfile
out = sys.argv[1]
for walk in ('direct', 'libarchive'):
    for keep in range(3):
        raw = io.BytesIO()
        with zipfile.ZipFile(raw, 'w', zipfile.ZIP_DEFLATED) as z:
            for name in ('one.txt', 'two.txt', 'three.txt'):
                info = zipfile.ZipInfo(name, (2021, 3, 4, 5, 6, 8))
                info.create_system, info.compress_type = 3, zipfile.ZIP_DEFLATED
                if walk == 'direct': info.external_attr = 0o100644 << 16
                z.writestr(info, (name + ' ') * 500)
        b = raw.getvalue()
        end = b.rfind(b'PK\x05\x06')
        start = struct.unpack_from('<I', b, end + 16)[0]
        headers, at = [], start
        while at < end:
            n, x, c = struct.unpack_from('<HHH', b, at + 28)
            headers.append(b[at:at + 46 + n + x + c])
            at += 46 + n + x + c
        directory = headers[keep]
        tail = b[end:end + 8] + struct.pack('<HHII', 1, 1, len(directory), start) + b[end + 20:]
        open('%s/%s-%d.zip' % (out, walk, keep), 'wb').write(b[:start] + directory + tail)
)";
    ASSERT_EQ(RunTool({"python3", "-c", writer, dir.path()}).exitCode, 0);
    const char* names[] = {"one.txt", "two.txt", "three.txt"};
    for (const char* walk : {"direct", "libarchive"}) {
        for (int keep = 0; keep < 3; ++keep) {
            const std::string name = std::string(walk) + "-" + std::to_string(keep) + ".zip";
            SCOPED_TRACE(name);
            const std::string out = dir / ("out-" + name);
            std::string log;
            EXPECT_GE(module.run(&window, "-x " + Q(dir / name) + " " + Q(out + "/"), &log), 0x8000) << log;
            const auto tree = SnapshotTree(out);
            EXPECT_EQ(tree.size(), 1u);
            EXPECT_EQ(tree.count(names[keep]), 1u);
        }
    }
}
