#!/usr/bin/env python3
"""Makes the sample archives of the demo (scripts/demo.sh) with the tools installed here.

  名簿.zip            one top folder with Japanese names stored in cp932 (as Windows tools write them)
  pics.2005.zip       three top-level files: they are gathered in a new folder "pics"
  docs.volume1.rar/2  a split RAR set (stored; one entry spans both volumes); the demo copies
                      them under the names RAR gives volumes, docs.part1.rar and docs.part2.rar

Run it from any folder; the archives are written beside this script.
"""
import os
import shutil
import struct
import subprocess
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def sjis(text):
    return text.encode("cp932")


def make_zip(name, root, members):
    target = os.path.join(HERE, name)
    if os.path.exists(target):
        os.remove(target)
    # Info-ZIP stores the names as the bytes it is given: cp932 bytes make a cp932 archive.
    subprocess.run(["zip", "-q", "-r", "-X", target.encode()] + members, cwd=root, check=True,
                   env=dict(os.environ, LC_ALL="C"))


def rar_block(htype, flags, body):
    rest = struct.pack("<BHH", htype, flags, 7 + len(body)) + body
    return struct.pack("<H", zlib.crc32(rest) & 0xFFFF) + rest


def rar_file_header(name, part, total, crc, before, after):
    flags = 0x8000 | (0x01 if before else 0) | (0x02 if after else 0)
    body = struct.pack("<IIBIIBBHI", len(part), len(total), 0, crc, 0x5A210000, 20, 0x30, len(name), 0x20) + name
    return rar_block(0x74, flags, body)


def make_split_rar(base, entries, cut):
    """Two volumes base.volume1.rar and base.volume2.rar; the bytes are cut after `cut` bytes in total."""
    mark = b"Rar!\x1a\x07\x00"
    vols = [mark + rar_block(0x73, 0x0001 | 0x0010 | 0x0100, b"\0" * 6),
            mark + rar_block(0x73, 0x0001 | 0x0010, b"\0" * 6)]
    used = 0
    for name, data in entries:
        if used >= cut:
            vols[1] += rar_file_header(name, data, data, zlib.crc32(data), False, False) + data
            continue
        room = cut - used
        if len(data) <= room:
            vols[0] += rar_file_header(name, data, data, zlib.crc32(data), False, False) + data
            used += len(data)
            continue
        first, rest = data[:room], data[room:]
        vols[0] += rar_file_header(name, first, data, zlib.crc32(first), False, True) + first
        vols[1] += rar_file_header(name, rest, data, zlib.crc32(data), True, False) + rest
        used = cut
    vols[0] += rar_block(0x7B, 0x0001, b"")
    vols[1] += rar_block(0x7B, 0, b"")
    for i, v in enumerate(vols):
        with open(os.path.join(HERE, "%s.volume%d.rar" % (base, i + 1)), "wb") as f:
            f.write(v)


def main():
    work = tempfile.mkdtemp()
    try:
        meibo = os.path.join(work.encode(), sjis("名簿"))
        os.makedirs(meibo)
        with open(os.path.join(meibo, sjis("ソフト一覧.txt")), "wb") as f:
            f.write("表計算、ワープロ、画像ビューア\n".encode("utf-8"))
        with open(os.path.join(meibo, sjis("連絡先.txt")), "wb") as f:
            f.write("山田 太郎\n".encode("utf-8"))
        make_zip("名簿.zip", work.encode(), [sjis("名簿")])

        pics = os.path.join(work, "pics")
        os.makedirs(pics)
        for i, colour in enumerate(["red", "green", "blue"]):
            with open(os.path.join(pics, "photo%d.txt" % (i + 1)), "w") as f:
                f.write("a %s photo\n" % colour)
        make_zip("pics.2005.zip", pics, ["photo1.txt", "photo2.txt", "photo3.txt"])
    finally:
        shutil.rmtree(work)

    report = "".join("第%d章 分割書庫の見本です。\n" % i for i in range(1, 41)).encode("utf-8")
    make_split_rar("docs", [(b"report.txt", report), (b"readme.txt", b"split RAR sample\n")], len(report) // 2)


if __name__ == "__main__":
    main()
