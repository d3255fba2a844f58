#!/usr/bin/env python3
"""Writes the seed archives of the module fuzz targets into tests/fixtures/fuzz/fuzz_<module>/.

Each seed is small (a few hundred bytes) and covers what the readers must cope with: folders,
links, cp932 and UTF-8 names, names that try to leave the destination, several compression
methods. The LZH seeds with lh5 come from our own LHA module (loaded with ctypes from the build
folder given as the first argument, default build-rel); the rest from Python and the installed tools.

  fuzz/modules/make-seeds.py [BUILD_FOLDER]
"""
import ctypes
import io
import os
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import zipfile
import zlib

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FIXTURES = os.path.join(TOP, "tests", "fixtures", "fuzz")


def put(target, name, data):
    folder = os.path.join(FIXTURES, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)


def zip_seeds():
    def make(entries, utf8=True, method=zipfile.ZIP_DEFLATED):
        buf = io.BytesIO()
        with zipfile.ZipFile(buf, "w", method) as z:
            for name, data, attr in entries:
                info = zipfile.ZipInfo(name if isinstance(name, str) else name.decode("cp437"),
                                       (2005, 6, 15, 12, 0, 0))
                info.external_attr = attr << 16
                info.compress_type = method
                z.writestr(info, data)
        raw = buf.getvalue()
        if not utf8:  # names as cp932 bytes without the UTF-8 flag
            raw = raw.replace(b"\x00\x08", b"\x00\x00")
        return raw

    put("fuzz_unzip32", "plain.zip", make([("a.txt", b"hello\n" * 4, 0o100644), ("dir/", b"", 0o40755),
                                           ("dir/b.txt", b"b", 0o100600)]))
    put("fuzz_unzip32", "stored.zip", make([("s.txt", b"stored", 0o100644)], method=zipfile.ZIP_STORED))
    put("fuzz_unzip32", "symlink.zip", make([("link", b"dir/b.txt", 0o120777), ("out", b"../../x", 0o120777)]))
    put("fuzz_unzip32", "hostile.zip", make([("../up.txt", b"u", 0o100644), ("/abs.txt", b"a", 0o100644),
                                             ("C:\\drive.txt", b"c", 0o100644), ("a/../../b", b"b", 0o100644)]))
    put("fuzz_unzip32", "utf8.zip", make([("日本語/ソ表.txt", b"x", 0o100644)]))
    put("fuzz_unzip32", "bzip2.zip", make([("z.txt", b"z" * 300, 0o100644)], method=zipfile.ZIP_BZIP2))
    put("fuzz_unzip32", "cp932.zip", make([("ka.txt".encode("cp932").decode("cp437"), b"k", 0o100644)], utf8=False))


def tar_seeds():
    def make(members, mode="w"):
        buf = io.BytesIO()
        with tarfile.open(fileobj=buf, mode=mode, format=tarfile.GNU_FORMAT) as t:
            for info, data in members:
                info.mtime = 1118836800
                t.addfile(info, io.BytesIO(data) if data is not None else None)
        return buf.getvalue()

    def f(name, data=b"", kind=tarfile.REGTYPE, link=""):
        info = tarfile.TarInfo(name)
        info.type = kind
        info.linkname = link
        info.size = len(data) if kind == tarfile.REGTYPE else 0
        return info, (data if kind == tarfile.REGTYPE else None)

    put("fuzz_tar32", "plain.tar", make([f("dir", kind=tarfile.DIRTYPE), f("dir/a.txt", b"a" * 40)]))
    put("fuzz_tar32", "links.tar", make([f("a.txt", b"a"), f("sym", kind=tarfile.SYMTYPE, link="a.txt"),
                                         f("hard", kind=tarfile.LNKTYPE, link="a.txt"),
                                         f("esc", kind=tarfile.SYMTYPE, link="../../etc"),
                                         f("esc/passwd", b"x")]))
    put("fuzz_tar32", "hostile.tar", make([f("../up.txt", b"u"), f("/abs.txt", b"a"),
                                           f("dev", kind=tarfile.CHRTYPE), f("fifo", kind=tarfile.FIFOTYPE)]))
    put("fuzz_tar32", "plain.tar.gz", make([f("g.txt", b"gz" * 50)], mode="w:gz"))
    put("fuzz_tar32", "plain.tar.bz2", make([f("b.txt", b"bz" * 50)], mode="w:bz2"))
    pax = io.BytesIO()
    with tarfile.open(fileobj=pax, mode="w", format=tarfile.PAX_FORMAT) as t:
        info = tarfile.TarInfo("日本語.txt")
        info.size = 3
        info.pax_headers = {"size": "3"}
        t.addfile(info, io.BytesIO(b"abc"))
    put("fuzz_tar32", "pax.tar", pax.getvalue())


def rar_block(htype, flags, body):
    rest = struct.pack("<BHH", htype, flags, 7 + len(body)) + body
    return struct.pack("<H", zlib.crc32(rest) & 0xFFFF) + rest


def rar_file(name, data, attr=0x20, directory=False):
    flags = 0x8000 | (0xE0 if directory else 0)
    body = struct.pack("<IIBIIBBHI", len(data), len(data), 0, zlib.crc32(data), 0x32CF6000, 20, 0x30,
                       len(name), attr) + name
    return rar_block(0x74, flags, body) + data


def rar_seeds():
    mark = b"Rar!\x1a\x07\x00"
    main = rar_block(0x73, 0, b"\0" * 6)
    end = rar_block(0x7B, 0x4000, b"")
    put("fuzz_unrar32", "stored.rar", mark + main + rar_file(b"a.txt", b"hello") +
        rar_file(b"dir", b"", 0x10, True) + rar_file(b"dir\\b.txt", b"b") + end)
    put("fuzz_unrar32", "cp932.rar", mark + main + rar_file("ソ表\\名簿.txt".encode("cp932"), b"x") + end)
    put("fuzz_unrar32", "hostile.rar", mark + main + rar_file(b"..\\up.txt", b"u") +
        rar_file(b"C:\\abs.txt", b"a") + end)


def cab_checksum(data, seed=0):
    words = len(data) // 4
    for i in range(words):
        seed ^= struct.unpack_from("<I", data, 4 * i)[0]
    last = 0
    for b in data[4 * words:]:
        last = (last << 8) | b
    return seed ^ last


def cab_folders():
    """A cabinet of a stored and an MSZIP folder (two blocks, the second using the first as its
    dictionary), its files listed out of the order of their data, one sharing another's range."""
    text = b"cabinet folder block " * 1700
    plain = [text[:32768], text[32768:]]
    blocks = []
    for i, part in enumerate(plain):
        z = zlib.compressobj(6, zlib.DEFLATED, -15, zdict=plain[0] if i else None) if i else \
            zlib.compressobj(6, zlib.DEFLATED, -15)
        blocks.append(b"CK" + z.compress(part) + z.flush())
    stored = [b"stored data " * 10]
    files = [(b"late.txt", 30000, 5000, 1), ("\u30bd\\b.txt".encode("cp932"), 0, 120, 0),
             (b"early.txt", 0, 1000, 1), (b"same.txt", 30000, 5000, 1)]
    table = b""
    for name, offset, size, folder in files:
        table += struct.pack("<IIHHHH", size, offset, folder, 0x5A21, 0x6000, 0x20) + name + b"\0"
    files_offset = 36 + 16
    data, folders = b"", b""
    for method, folder_blocks, sizes in ((0, stored, [len(stored[0])]), (1, blocks, [len(p) for p in plain])):
        folders += struct.pack("<IHH", files_offset + len(table) + len(data), len(folder_blocks), method)
        for block, size in zip(folder_blocks, sizes):
            head = struct.pack("<HH", len(block), size)
            data += struct.pack("<I", cab_checksum(head, cab_checksum(block))) + head + block
    header = struct.pack("<4sIIIIIBBHHHHH", b"MSCF", 0, 36 + len(folders) + len(table) + len(data), 0,
                         files_offset, 0, 3, 1, 2, len(files), 0, 0, 0)
    put("fuzz_cab32", "folders.cab", header + folders + table + data)


def cab_seeds():
    cab_folders()
    if not shutil.which("gcab"):
        return
    with tempfile.TemporaryDirectory() as tmp:
        os.makedirs(os.path.join(tmp, "d"))
        for name, data in (("a.txt", b"a" * 100), ("d/b.txt", b"b")):
            with open(os.path.join(tmp, name), "wb") as out:
                out.write(data)
        for tag, extra in (("stored", []), ("mszip", ["-z"])):
            cab = os.path.join(tmp, tag + ".cab")
            subprocess.run(["gcab", "-c"] + extra + [cab, "a.txt", "d/b.txt"], cwd=tmp, check=True)
            with open(cab, "rb") as src:
                put("fuzz_cab32", tag + ".cab", src.read())


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def lzh_level0(name, data):
    head = b"-lh0-" + struct.pack("<IIIBB", len(data), len(data), 0x32CF6000, 0x20, 0) + \
        bytes([len(name)]) + name + struct.pack("<H", crc16(data))
    return bytes([len(head), sum(head) & 0xFF]) + head + data


def lzh_coded(name, method, coded, size, crc):
    head = method + struct.pack("<IIIBB", len(coded), size, 0x32CF6000, 0x20, 0) + \
        bytes([len(name)]) + name + struct.pack("<H", crc)
    return bytes([len(head), sum(head) & 0xFF]) + head + coded


class Bits:
    """A bit stream written first bit first, as the static-Huffman methods read it."""

    def __init__(self):
        self.bits = []

    def put(self, n, v):
        self.bits += [(v >> i) & 1 for i in range(n - 1, -1, -1)]
        return self

    def block(self, count, c, p, pbits):
        # A block whose three tables are single symbols.
        return self.put(16, count).put(5, 0).put(5, 0).put(9, 0).put(9, c).put(pbits, 0).put(pbits, p)

    def bytes(self):
        bits = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8))


def lzh_coded_seeds():
    """Hand-made lh5/lh6/lh7 streams: sound ones and ones that break a rule of the format."""
    for method, pbits in ((b"-lh5-", 4), (b"-lh6-", 5), (b"-lh7-", 5)):
        tag = method.decode().strip("-")
        sound = Bits().block(1, ord("A"), 0, pbits).block(1, 256 + 5, 0, pbits).bytes()
        entries = lzh_coded(b"run.txt", method, sound, 9, crc16(b"A" * 9))
        entries += lzh_coded(b"before.txt", method, Bits().block(1, 256, 0, pbits).bytes(), 3, 0)
        entries += lzh_coded(b"past.txt", method, sound, 8, crc16(b"A" * 8))
        entries += lzh_coded(b"short.txt", method, Bits().block(5, ord("A"), 0, pbits).bytes(), 600, 0)
        entries += lzh_coded(b"zero.txt", method, Bits().block(0, ord("A"), 0, pbits).bytes() + b"....", 5, 0)
        overfull = Bits().put(16, 1).put(5, 3).put(3, 1).put(3, 1).put(3, 1).put(2, 0).bytes() + b"...."
        entries += lzh_coded(b"overfull.txt", method, overfull, 1, 0)
        put("fuzz_unlha32", tag + "-hand.lzh", entries + b"\0")


def lzh_seeds(build):
    lzh_coded_seeds()
    put("fuzz_unlha32", "level0.lzh", lzh_level0(b"a.txt", b"hello") + lzh_level0(b"dir\\b.txt", b"b") + b"\0")
    put("fuzz_unlha32", "level0-cp932.lzh", lzh_level0("ソ表.txt".encode("cp932"), b"x") + b"\0")
    put("fuzz_unlha32", "level0-hostile.lzh", lzh_level0(b"..\\up.txt", b"u") + lzh_level0(b"\\abs.txt", b"a") + b"\0")
    module = os.path.join(build, "lib", "norvex", "modules", "unlha32.so")
    if not os.path.exists(module):
        print("make-seeds: no", module, "- lh5 seeds left out", file=sys.stderr)
        return
    lib = ctypes.CDLL(module)
    lib.Unlha.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_uint32]
    with tempfile.TemporaryDirectory() as tmp:
        os.makedirs(os.path.join(tmp, "src", "d"))
        for name, data in (("a.txt", b"abcabcabc" * 30), ("d/b.txt", b"b" * 10)):
            with open(os.path.join(tmp, "src", name), "wb") as out:
                out.write(data)
        archive = os.path.join(tmp, "lh5.lzh")
        out = ctypes.create_string_buffer(1024)
        line = 'a "%s" "%s/" "%s/a.txt" "%s/d"' % (archive, tmp + "/src", tmp + "/src", tmp + "/src")
        code = lib.Unlha(None, line.encode(), out, len(out))
        if code == 0 and os.path.exists(archive):
            with open(archive, "rb") as src:
                put("fuzz_unlha32", "lh5.lzh", src.read())
        else:
            print("make-seeds: packing failed with", hex(code), file=sys.stderr)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(TOP, "build-rel")
    zip_seeds()
    tar_seeds()
    rar_seeds()
    cab_seeds()
    lzh_seeds(build)


if __name__ == "__main__":
    main()
