#!/usr/bin/env python3
"""Builds the hostile archives of the reliability suite, byte for byte as a stranger could.

  hostile_archives.py KIND OUTPUT OUTSIDE

OUTSIDE is an absolute folder outside the destination (it holds victim.txt); entries aim at it.
"""
import io
import struct
import sys
import tarfile
import zipfile
import zlib

kind, output, outside = sys.argv[1], sys.argv[2], sys.argv[3]
STAMP = (2005, 6, 15, 12, 0, 0)


def zip_entries(entries, utf8=True, level=None):
    """entries: (name as str or bytes, data, unix mode or None)."""
    with zipfile.ZipFile(output, "w", zipfile.ZIP_DEFLATED, compresslevel=level) as z:
        for name, data, mode in entries:
            if isinstance(name, bytes):
                name = name.decode("cp437")  # stored as these bytes, without the UTF-8 flag
            info = zipfile.ZipInfo(name, STAMP)
            info.compress_type = zipfile.ZIP_DEFLATED
            if mode is not None:
                info.external_attr = mode << 16
                info.create_system = 3
            z.writestr(info, data)


def tar_entries(members):
    with tarfile.open(output, "w", format=tarfile.PAX_FORMAT) as t:
        for name, kind_, data, link in members:
            info = tarfile.TarInfo(name)
            info.type = kind_
            info.linkname = link
            info.mtime = 1118836800
            info.mode = 0o644
            if kind_ in (tarfile.CHRTYPE, tarfile.BLKTYPE):
                info.devmajor, info.devminor = 1, 3
            info.size = len(data) if kind_ == tarfile.REGTYPE else 0
            t.addfile(info, io.BytesIO(data) if kind_ == tarfile.REGTYPE else None)


R, D, S, H = tarfile.REGTYPE, tarfile.DIRTYPE, tarfile.SYMTYPE, tarfile.LNKTYPE

if kind == "dotdot":
    entries = [("ok.txt", b"ok", None)]
    for depth in range(1, 9):
        entries.append(("../" * depth + "dd%d.txt" % depth, b"x", None))
        entries.append(("sub/" + "../" * (depth + 1) + "ds%d.txt" % depth, b"x", None))
    entries.append(("a/b/../../../../outside/victim.txt", b"overwritten", None))
    zip_entries(entries)
elif kind == "absolute":
    zip_entries([("ok.txt", b"ok", None), (outside + "/abs.txt", b"x", None),
                 ("/" + outside + "/double.txt", b"x", None), (outside + "/victim.txt", b"overwritten", None)])
elif kind == "backslash":
    win = outside.replace("/", "\\")
    zip_entries([("ok.txt", b"ok", None), (b"..\\..\\bs1.txt", b"x", None), (b"sub\\..\\..\\..\\bs2.txt", b"x", None),
                 (win.encode() + b"\\bs3.txt", b"x", None), (b"C:\\drive.txt", b"x", None),
                 (b"C:..\\..\\drv.txt", b"x", None), (b"c:/x/y.txt", b"x", None),
                 (b"\x83\x5c..\\..\\trail.txt", b"x", None)], utf8=False)
elif kind == "symlink-tar":
    tar_entries([("inside.txt", R, b"in", ""), ("esc", S, None, "../../../../../outside"), ("esc/evil1.txt", R, b"x", ""),
                 ("abs", S, None, outside), ("abs/evil2.txt", R, b"x", ""), ("abs/victim.txt", R, b"overwritten", ""),
                 ("sub", D, None, ""), ("dirlink", S, None, "sub"), ("dirlink/through.txt", R, b"x", ""),
                 ("ok", S, None, "inside.txt")])
elif kind == "symlink-zip":
    zip_entries([("zesc", b"../../../../../outside", 0o120777), ("zesc/evil.txt", b"x", None),
                 ("zabs", outside.encode(), 0o120777), ("zabs/victim.txt", b"overwritten", None),
                 ("ok.txt", b"ok", None)])
elif kind == "hardlink":
    tar_entries([("a.txt", R, b"A", ""), ("h1", H, None, "../../../../../outside/victim.txt"),
                 ("h2", H, None, outside + "/victim.txt"), ("h3", H, None, "a.txt"), ("h3", R, b"B", "")])
elif kind == "devices":
    tar_entries([("ok.txt", R, b"ok", ""), ("null", tarfile.CHRTYPE, None, ""), ("disk", tarfile.BLKTYPE, None, ""),
                 ("pipe", tarfile.FIFOTYPE, None, "")])
elif kind == "badnames":
    zip_entries([(b"ok.txt", b"ok", None), (b"\x81\x20x.txt", b"x", None), (b"\xa0\xfd.txt", b"x", None),
                 (b"\xff\xfe\xfd.txt", b"x", None), (b"a\nb.txt", b"x", None), (b"a\rb\x01.txt", b"x", None),
                 (b"\x83\x5c\\\x95\x5c.txt", b"x", None), (b"..\x83\x5c.txt", b"x", None), (b"\x81", b"x", None)],
                utf8=False)
elif kind == "badnames-tar":
    with tarfile.open(output, "w", format=tarfile.GNU_FORMAT, encoding="utf-8", errors="surrogateescape") as t:
        for raw in (b"ok.txt", b"\xff\xfe.txt", b"\xc3\x28.txt", b"\xed\xa0\x80.txt", b"\xe3\x82.txt", b"tab\there.txt"):
            info = tarfile.TarInfo(raw.decode("utf-8", "surrogateescape"))
            info.size = 1
            t.addfile(info, io.BytesIO(b"x"))
elif kind == "hugenames":
    deep = "/".join(["d%03d" % i + "x" * 96 for i in range(60)]) + "/deep.txt"  # about 6000 bytes
    tar_entries([("ok.txt", R, b"ok", ""), ("n" * 300 + ".txt", R, b"x", ""), (deep, R, b"x", ""),
                 ("/".join(["q"] * 3000) + "/../../../../x.txt", R, b"x", "")])
elif kind == "hugenames-zip":
    deep = "/".join(["d%03d" % i + "x" * 96 for i in range(60)]) + "/deep.txt"
    zip_entries([("ok.txt", b"ok", None), ("n" * 300 + ".txt", b"x", None), (deep, b"x", None),
                 ("/".join(["q"] * 3000) + "/../../../../x.txt", b"x", None)])
elif kind == "many":
    zip_entries([("f%02d/e%04d.txt" % (i // 100, i), b"%d" % i, None) for i in range(5000)])
elif kind == "bomb":
    # One entry of 1 GiB of zeros, deflated to about a megabyte.
    with zipfile.ZipFile(output, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
        info = zipfile.ZipInfo("zeros.bin", STAMP)
        info.compress_type = zipfile.ZIP_DEFLATED
        with z.open(info, "w", force_zip64=True) as f:
            block = bytes(1 << 20)
            for _ in range(1024):
                f.write(block)
else:
    sys.exit("unknown kind " + kind)
