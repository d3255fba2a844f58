#!/usr/bin/env python3
"""Builds the benchmark corpus of bench/run in a scratch folder (standard library only).

  make_corpus.py WORK --size-mb N --archives-tool PATH_OF_norvex_bench_archives

WORK receives:
  mixed/data/        N MiB of mixed data in files of 1-20 MiB: incompressible bytes, Japanese and
                     English text, fixed-size binary records (a third each, by size)
  large.zip, large.lzh, large.cab, large.rar
                     the same content: Info-ZIP zip, Norvex's own LZH packer (through the archive
                     layer and the LHA module), gcab with MSZIP, and a stored RAR 4 (no RAR creator
                     is packaged; the writer of the module tests)
  text.zip           half as many MiB of Japanese and English text in files of 1-8 MiB (zip -6)
  small/sNNN.zip     200 small archives of 50 entries each, one top folder per archive
  many.zip, many.lzh 10 000 files of about 1 KiB in 100 folders
  cp932.zip          names stored as raw cp932 bytes (no UTF-8 flag), some with a trail byte 0x5C
  corpus.json        what was made: byte totals, entry counts and the expected cp932 names
Everything is made from a fixed seed, so two runs build the same corpus.
"""
import argparse
import json
import os
import random
import shutil
import struct
import subprocess
import sys

SEED = 20240601
WORDS_JA = ("書庫 解凍 圧縮 日本語 表計算 予定表 能力 ソフト 申請書 見積書 議事録 写真 資料 "
            "報告 会議 東京 大阪 月曜日 ファイル フォルダ 設定 確認 完了 一覧").split()
WORDS_EN = ("archive extract folder entry header method stored deflate record index table "
            "norvex batch module name path size time check result report").split()

# The cp932 archive: UTF-8 name as it must come out. ソ, 表, 能 and 予 end in the byte 0x5C.
CP932_NAMES = [
    "日本語/ソフト一覧.txt",
    "日本語/表計算/予定表.csv",
    "能力評価/ｶﾀｶﾅ半角.txt",
    "申請書（第２版）.txt",
    "ダメ文字ソ表能.txt",
]


def text_block(rng, size):
    words = WORDS_JA + WORDS_EN
    out = []
    n = 0
    while n < size:
        line = " ".join(rng.choices(words, k=12)) + f" {rng.randrange(100000)}\n"
        b = line.encode("utf-8")
        out.append(b)
        n += len(b)
    return b"".join(out)[:size]


def records_block(rng, size, start):
    rec = struct.Struct("<IIdQ")
    count = size // rec.size + 1
    base = rng.randrange(1 << 30)
    buf = bytearray()
    for i in range(start, start + count):
        buf += rec.pack(i, (i * 7) % 1000, i * 0.25, base + (i >> 4))
    return bytes(buf[:size])


def write_mixed(folder, total_mib, rng):
    os.makedirs(folder, exist_ok=True)
    made = 0
    n = 0
    total = total_mib << 20
    while made < total:
        n += 1
        size = min(((n % 20) + 1) << 20, total - made)
        kind = n % 3
        path = os.path.join(folder, ("r%02d.bin", "t%02d.txt", "d%02d.dat")[kind] % n)
        with open(path, "wb") as f:
            left = size
            while left:
                step = min(left, 1 << 20)
                if kind == 0:
                    f.write(rng.randbytes(step))
                elif kind == 1:
                    f.write(text_block(rng, step))
                else:
                    f.write(records_block(rng, step, size - left))
                left -= step
        made += size
    return made


def tree_stats(folder):
    files = 0
    size = 0
    for root, _dirs, names in os.walk(folder):
        for name in names:
            files += 1
            size += os.path.getsize(os.path.join(root, name))
    return files, size


def run(argv, cwd=None, env=None):
    subprocess.run(argv, cwd=cwd, env=env, check=True, stdout=subprocess.DEVNULL)


def zip_folder(archive, cwd, *paths):
    env = dict(os.environ, LC_ALL="C")  # names go in as the bytes they are
    run(["zip", "-q", "-r", "-X", archive, *paths], cwd=cwd, env=env)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("work")
    ap.add_argument("--size-mb", type=int, default=300)
    ap.add_argument("--archives-tool", required=True)
    a = ap.parse_args()
    work = os.path.abspath(a.work)
    tool = a.archives_tool
    rng = random.Random(SEED)
    info = {"seed": SEED}

    # The large archives, all of the same folder.
    mixed = os.path.join(work, "mixed")
    shutil.rmtree(mixed, ignore_errors=True)
    print(f"corpus: {a.size_mb} MiB of mixed data", flush=True)
    write_mixed(os.path.join(mixed, "data"), a.size_mb, rng)
    files, size = tree_stats(mixed)
    info["large"] = {"files": files, "bytes": size}
    for ext in ("zip", "lzh", "cab", "rar"):
        p = os.path.join(work, "large." + ext)
        if os.path.exists(p):
            os.remove(p)
    print("corpus: large.zip (zip -6)", flush=True)
    zip_folder(os.path.join(work, "large.zip"), mixed, "data")
    print("corpus: large.lzh (Norvex's packer, lh5)", flush=True)
    run([tool, "pack", os.path.join(work, "large.lzh"), mixed, os.path.join(mixed, "data")])
    print("corpus: large.cab (gcab, MSZIP)", flush=True)
    names = sorted(os.listdir(os.path.join(mixed, "data")))
    run(["gcab", "-c", "-z", os.path.join(work, "large.cab")] + ["data/" + n for n in names], cwd=mixed)
    print("corpus: large.rar (stored RAR 4)", flush=True)
    run([tool, "rar", os.path.join(work, "large.rar"), mixed])

    # A large ZIP of mostly compressible text.
    texts = os.path.join(work, "text")
    shutil.rmtree(texts, ignore_errors=True)
    os.makedirs(os.path.join(texts, "data"))
    left = (a.size_mb // 2) << 20
    n = 0
    while left > 0:
        n += 1
        size = min(((n % 8) + 1) << 20, left)
        with open(os.path.join(texts, "data", "text%03d.txt" % n), "wb") as f:
            f.write(text_block(rng, size))
        left -= size
    files, size = tree_stats(texts)
    info["text"] = {"files": files, "bytes": size}
    p = os.path.join(work, "text.zip")
    if os.path.exists(p):
        os.remove(p)
    print("corpus: text.zip (zip -6)", flush=True)
    zip_folder(p, texts, "data")

    # 200 small archives of 50 entries each, one top folder each.
    small = os.path.join(work, "small")
    shutil.rmtree(small, ignore_errors=True)
    src = os.path.join(work, "small-src")
    shutil.rmtree(src, ignore_errors=True)
    os.makedirs(small)
    kinds = ("photo_%d.jpg", "scan_%d.png", "doc_%d.txt", "memo_%d.txt", "data_%d.csv")
    total = 0
    for i in range(1, 201):
        top = os.path.join(src, "s%03d" % i)
        os.makedirs(os.path.join(top, "sub"))
        for k in range(50):
            name = kinds[k % len(kinds)] % (i * 50 + k)
            where = top if k % 2 == 0 else os.path.join(top, "sub")
            data = text_block(rng, rng.randrange(512, 4096)).decode("utf-8", "ignore").encode("utf-8")
            with open(os.path.join(where, name), "wb") as f:
                f.write(data)
            total += len(data)
        zip_folder(os.path.join(small, "s%03d.zip" % i), src, "s%03d" % i)
    info["small"] = {"archives": 200, "files": 200 * 50, "bytes": total}

    # Many small files in one archive, as ZIP and LZH.
    many = os.path.join(work, "many-src")
    shutil.rmtree(many, ignore_errors=True)
    total = 0
    for d in range(100):
        folder = os.path.join(many, "many", "dir%03d" % d)
        os.makedirs(folder)
        for k in range(100):
            data = text_block(rng, rng.randrange(256, 2048)).decode("utf-8", "ignore").encode("utf-8")
            with open(os.path.join(folder, "file%05d.txt" % (d * 100 + k)), "wb") as f:
                f.write(data)
            total += len(data)
    info["many"] = {"files": 10000, "bytes": total}
    for ext in ("zip", "lzh"):
        p = os.path.join(work, "many." + ext)
        if os.path.exists(p):
            os.remove(p)
    print("corpus: many.zip, many.lzh (10 000 files)", flush=True)
    zip_folder(os.path.join(work, "many.zip"), many, "many")
    run([tool, "pack", os.path.join(work, "many.lzh"), many, os.path.join(many, "many")])

    # cp932 names, stored raw.
    cp = os.path.join(work, "cp932-src")
    shutil.rmtree(cp, ignore_errors=True)
    for name in CP932_NAMES:
        raw = os.path.join(cp.encode(), name.encode("cp932"))
        os.makedirs(os.path.dirname(raw), exist_ok=True)
        with open(raw, "wb") as f:
            f.write(name.encode("utf-8") + b"\n")
    p = os.path.join(work, "cp932.zip")
    if os.path.exists(p):
        os.remove(p)
    zip_folder(p, cp, *sorted({n.split("/")[0].encode("cp932") for n in CP932_NAMES}))
    info["cp932"] = {"names": CP932_NAMES}

    with open(os.path.join(work, "corpus.json"), "w", encoding="utf-8") as f:
        json.dump(info, f, ensure_ascii=False, indent=1)
    for ext in ("zip", "lzh", "cab", "rar"):
        print("corpus: large.%s %.1f MiB" % (ext, os.path.getsize(os.path.join(work, "large." + ext)) / 2**20))
    return 0


if __name__ == "__main__":
    sys.exit(main())
