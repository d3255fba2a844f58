#!/usr/bin/env python3
"""Builds archives past 4 GiB that take almost no disk space: runs of zeros are skipped with a seek,
so the archive file itself is sparse.

  big_archives.py zip|tar OUTPUT

Both hold "big.bin" (5 GiB of zeros, then the text "end"), stored, followed by "tail.txt", whose
header lies past the 4 GiB mark of the archive.
"""
import sys
import tarfile
import zipfile

kind, output = sys.argv[1], sys.argv[2]
BIG = 5 << 30
BLOCK = bytes(1 << 20)


class SparseWriter:
    """A file object that seeks over blocks of zeros instead of writing them."""

    def __init__(self, path):
        self.f = open(path, "wb")

    def write(self, data):
        if len(data) >= 4096 and data.count(0) == len(data):
            self.f.seek(len(data), 1)
        else:
            self.f.write(data)
        return len(data)

    def tell(self):
        return self.f.tell()

    def seek(self, *args):
        return self.f.seek(*args)

    def flush(self):
        self.f.flush()

    def close(self):
        self.f.truncate()
        self.f.close()


out = SparseWriter(output)
if kind == "zip":
    with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED) as z:
        info = zipfile.ZipInfo("big.bin", (2005, 6, 15, 12, 0, 0))
        with z.open(info, "w", force_zip64=True) as f:
            for _ in range(BIG >> 20):
                f.write(BLOCK)
            f.write(b"end")
        z.writestr(zipfile.ZipInfo("tail.txt", (2005, 6, 15, 12, 0, 0)), b"tail")
else:
    with tarfile.open(fileobj=out, mode="w", format=tarfile.PAX_FORMAT) as t:

        class Zeros:
            left = BIG + 3

            def read(self, n=-1):
                n = self.left if n < 0 else min(n, self.left)
                self.left -= n
                if self.left == 0 and n >= 3:
                    return bytes(n - 3) + b"end"
                return bytes(n)

        info = tarfile.TarInfo("big.bin")
        info.size = BIG + 3
        t.addfile(info, Zeros())
        info = tarfile.TarInfo("tail.txt")
        info.size = 4
        import io
        t.addfile(info, io.BytesIO(b"tail"))
out.close()
