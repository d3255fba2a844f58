#!/usr/bin/env python3
"""Runs Norvex and the peer tools side by side on the corpus of make_corpus.py (standard library only).

  measure.py WORK --build BUILD_DIR [--runs N] [--pairs N] --out RAW.json

Every case is one command (a peer's loop over several archives is one `sh -c` loop, as a user would
type it). The cases of a group run in rounds, each round every tool once in turn, so that a slow
spell of the machine touches every tool alike; the median of the rounds is reported. The peak memory
is the largest resident size of any process of the case (the wait4 resource usage of the command, as
`/usr/bin/time -f %M` reports it). Each extraction's output is checked against the corpus: the bytes
of every file written must add up to the source's.

norvex-cli and the modules alone are then run again, one right after the other (which goes first
alternates), until each has --pairs runs: the ratio of the two is a goal of a few percent, and the
rounds alone are too few to tell that from the machine's noise. Both take well under a second.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

FORMATS = {  # archive set -> module file name, entry prefix
    "zip": ("UNZIP32.DLL", "UnZip"),
    "lzh": ("UNLHA32.DLL", "Unlha"),
    "cab": ("CAB32.DLL", "Cab"),
    "rar": ("UNRAR32.DLL", "Unrar"),
}
# Peer commands; ARC is one archive, OUT the output folder. A peer is used where it reads the format.
EXTRACT_PEERS = {
    "bsdtar": ({"zip", "lzh", "cab", "rar"}, 'bsdtar -xf "$a" -C "$OUT"'),
    "unzip": ({"zip"}, 'unzip -qo "$a" -d "$OUT"'),
    "7z": ({"zip", "lzh", "cab", "rar"}, '7z x -y -bd -o"$OUT" "$a" > /dev/null'),
    "unar": ({"zip", "lzh", "cab", "rar"}, 'unar -q -f -o "$OUT" "$a" > /dev/null'),
    "lhasa": ({"lzh"}, '(cd "$OUT" && lhasa xq "$a")'),
    "gcab": ({"cab"}, 'gcab -x -C "$OUT" "$a"'),
}
LIST_PEERS = {
    "bsdtar": ({"zip", "lzh", "cab", "rar"}, 'bsdtar -tf "$a"'),
    "unzip": ({"zip"}, 'unzip -Z1 "$a"'),
    "7z": ({"zip", "lzh", "cab", "rar"}, '7z l -ba "$a"'),
    "unar": ({"zip", "lzh", "cab", "rar"}, 'lsar "$a"'),
    "lhasa": ({"lzh"}, 'lhasa l "$a"'),
    "gcab": ({"cab"}, 'gcab -t "$a"'),
}
SEARCH_PATTERN = r"_[0-9]*6\.(jpg|png)$"
SLOW_SECONDS = 8.0


def have(tool):
    return shutil.which(tool) is not None


def loop(command, archives):
    """One sh process that runs command for every archive ($a) in turn."""
    script = 'for a in "$@"; do ' + command + "; done"
    return ["sh", "-c", script, "sh"] + archives


TIME_FILE = None


def run_once(argv, cwd, env):
    """Runs argv under /usr/bin/time: (wall seconds, peak resident KiB, exit status). A child forked
    from this Python process would carry the parent's resident size into its own peak figure; one
    forked from time does not."""
    start = time.perf_counter()
    rc = subprocess.call(["/usr/bin/time", "-f", "%M", "-o", TIME_FILE, "--"] + argv, cwd=cwd, env=env,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    with open(TIME_FILE) as f:
        lines = [line for line in f.read().splitlines() if line.strip().isdigit()]
    return elapsed, int(lines[-1]) if lines else 0, rc


def tree_bytes(folder):
    total = 0
    for root, _dirs, names in os.walk(folder):
        for n in names:
            p = os.path.join(root, n)
            if os.path.isfile(p) and not os.path.islink(p):
                total += os.path.getsize(p)
    return total


class Bench:
    def __init__(self, work, build, runs, pairs):
        self.work = work
        self.build = build
        self.runs = runs
        self.pairs = pairs
        # Output on a memory file system when there is one: every tool writes the same bytes, so the
        # disk only adds noise to what tells the tools apart.
        shm = "/dev/shm"
        if os.path.isdir(shm) and os.access(shm, os.W_OK) and shutil.disk_usage(shm).free > (3 << 30):
            self.out = os.path.join(shm, "norvex-bench-out-%d" % os.getpid())
        else:
            self.out = os.path.join(work, "out")
        global TIME_FILE
        TIME_FILE = os.path.join(work, "time.out")
        self.results = []
        self.empty_ini = os.path.join(work, "empty.ini")
        open(self.empty_ini, "w").close()
        self.env = dict(os.environ, OUT=self.out, LC_ALL="C.UTF-8")
        self.cli = os.path.join(build, "bin", "norvex-cli")
        self.modules_tool = os.path.join(build, "bin", "bench_modules")
        self.archives_tool = os.path.join(build, "bin", "norvex_bench_archives")

    def fresh_out(self):
        shutil.rmtree(self.out, ignore_errors=True)
        os.makedirs(self.out)

    def group(self, op, name, cases, expect_bytes=None, count_lines=False):
        """cases: list of (tool, argv, is_norvex). Runs the rounds and records one result per tool."""
        print(f"bench: {op} {name}: {', '.join(c[0] for c in cases)}", flush=True)
        times = {c[0]: [] for c in cases}
        peak = {c[0]: 0 for c in cases}
        status = {c[0]: 0 for c in cases}
        check = {}
        for r in range(self.runs):
            # The order turns each round: the tool that runs first pays for what the round before left
            # (the kernel still freeing the 10 000 files just removed), and no tool should always be it.
            turn = r % len(cases)
            for tool, argv, _ in cases[turn:] + cases[:turn]:
                # A tool that takes long (a process per archive of a slow starter) runs fewer rounds.
                if r >= (self.runs + 1) // 2 and times[tool] and times[tool][0] > SLOW_SECONDS:
                    continue
                if op == "extract":
                    self.fresh_out()
                t, rss, rc = run_once(argv, self.out if op == "extract" else self.work, self.env)
                times[tool].append(t)
                peak[tool] = max(peak[tool], rss)
                status[tool] = status[tool] or rc
                if r == 0 and op == "extract" and expect_bytes is not None:
                    check[tool] = tree_bytes(self.out)
        # More pairs of norvex-cli and the modules alone: the runs of the two stay aligned, the i-th of
        # one beside the i-th of the other.
        two = [c for c in cases if c[0] in ("norvex-cli", "norvex module")]
        if op == "extract" and len(two) == 2:
            for r in range(self.runs, self.pairs):
                for tool, argv, _ in (two if r % 2 == 0 else two[::-1]):
                    self.fresh_out()
                    t, rss, rc = run_once(argv, self.out, self.env)
                    times[tool].append(t)
                    peak[tool] = max(peak[tool], rss)
                    status[tool] = status[tool] or rc
        counts = {}
        if count_lines:  # one more run, untimed, for what the tool printed
            for tool, argv, _ in cases:
                p = subprocess.run(argv, cwd=self.work, env=self.env, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
                if tool.startswith("norvex") and op == "search":
                    counts[tool] = int(p.stderr.decode().strip().splitlines()[-1] or 0)
                else:
                    counts[tool] = len(p.stdout.splitlines())
        shutil.rmtree(self.out, ignore_errors=True)
        for tool, _, is_norvex in cases:
            res = {
                "op": op, "set": name, "tool": tool, "norvex": is_norvex,
                "median": statistics.median(times[tool]), "runs": times[tool],
                "peak_kib": peak[tool], "exit": status[tool], "out": self.out,
            }
            if tool in check:
                res["bytes"] = check[tool]
                res["complete"] = check[tool] == expect_bytes
            if tool in counts:
                res["lines"] = counts[tool]
            self.results.append(res)
            flag = "" if status[tool] == 0 and res.get("complete", True) else "  (FAILED or incomplete)"
            print(f"  {tool:14s} {res['median']:8.3f} s  {peak[tool] / 1024:7.1f} MiB{flag}", flush=True)

    def norvex_extract(self, fmt, archives):
        dll, prefix = FORMATS[fmt]
        return [
            ("norvex-cli", [self.cli, "--ini", self.empty_ini, "--to", self.out, "-k"] + archives, True),
            ("norvex module", [self.modules_tool, "--extract", dll, prefix, self.out] + archives, True),
        ]

    def peers(self, table, fmt, archives):
        cases = []
        for tool, (formats, command) in table.items():
            exe = "lsar" if command.startswith("lsar") else tool
            if fmt in formats and have(exe):
                cases.append((tool, loop(command, archives), False))
        return cases


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("work")
    ap.add_argument("--build", required=True)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--pairs", type=int, default=21)
    ap.add_argument("--out", required=True)
    a = ap.parse_args()
    work = os.path.abspath(a.work)
    with open(os.path.join(work, "corpus.json"), encoding="utf-8") as f:
        corpus = json.load(f)
    b = Bench(work, os.path.abspath(a.build), a.runs, max(a.pairs, a.runs))
    small = sorted(os.path.join(work, "small", n) for n in os.listdir(os.path.join(work, "small")))
    started = time.time()
    load_start = os.getloadavg()[0]

    # Extraction.
    b.group("extract", "200 small ZIPs", b.norvex_extract("zip", small) + b.peers(EXTRACT_PEERS, "zip", small),
            corpus["small"]["bytes"])
    for fmt in ("zip", "lzh", "cab", "rar"):
        arc = [os.path.join(work, "large." + fmt)]
        b.group("extract", "large " + fmt.upper(), b.norvex_extract(fmt, arc) + b.peers(EXTRACT_PEERS, fmt, arc),
                corpus["large"]["bytes"])
    if "text" in corpus:
        arc = [os.path.join(work, "text.zip")]
        b.group("extract", "large text ZIP", b.norvex_extract("zip", arc) + b.peers(EXTRACT_PEERS, "zip", arc),
                corpus["text"]["bytes"])
    for fmt in ("zip", "lzh"):
        arc = [os.path.join(work, "many." + fmt)]
        b.group("extract", "10 000 files " + fmt.upper(),
                b.norvex_extract(fmt, arc) + b.peers(EXTRACT_PEERS, fmt, arc), corpus["many"]["bytes"])

    # Listing: Norvex through its archive layer and modules (one process for every archive).
    def norvex_list(archives):
        return [("norvex", [b.archives_tool, "list"] + archives, True)]
    b.group("list", "200 small ZIPs", norvex_list(small) + b.peers(LIST_PEERS, "zip", small), count_lines=True)
    for fmt in ("zip", "lzh"):
        arc = [os.path.join(work, "many." + fmt)]
        b.group("list", "10 000 files " + fmt.upper(), norvex_list(arc) + b.peers(LIST_PEERS, fmt, arc),
                count_lines=True)

    # Search: entry names matching a regular expression, across the 200 archives.
    search = [("norvex", [b.archives_tool, "search", SEARCH_PATTERN] + small, True)]
    for tool, (formats, command) in LIST_PEERS.items():
        exe = "lsar" if command.startswith("lsar") else tool
        if "zip" in formats and have(exe):
            search.append((tool + " | grep", loop(command + " | grep -E '" + SEARCH_PATTERN + "' || true", small), False))
    b.group("search", "200 small ZIPs", search, count_lines=True)

    # cp932 names: which tool writes the names right, by default and with its encoding option.
    b.results.append({"op": "cp932", "checks": cp932_checks(b, corpus["cp932"]["names"])})

    with open(a.out, "w", encoding="utf-8") as f:
        json.dump({"runs": a.runs, "pairs": b.pairs, "corpus": corpus, "pattern": SEARCH_PATTERN,
                   "seconds": time.time() - started, "load": [load_start, os.getloadavg()[0]],
                   "results": b.results}, f, ensure_ascii=False, indent=1)
    return 0


CP932_PEERS = [
    # tool, default command, command with the tool's encoding option, option text
    ("bsdtar", 'bsdtar -xf "$a" -C "$OUT"', 'bsdtar --options hdrcharset=CP932 -xf "$a" -C "$OUT"',
     "--options hdrcharset=CP932"),
    ("unzip", 'unzip -qo "$a" -d "$OUT"', 'unzip -qo -O CP932 "$a" -d "$OUT"', "-O CP932"),
    ("7z", '7z x -y -bd -o"$OUT" "$a" > /dev/null', '7z x -y -bd -mcp=932 -o"$OUT" "$a" > /dev/null', "-mcp=932"),
    ("unar", 'unar -q -f -o "$OUT" "$a" > /dev/null', 'unar -q -f -e cp932 -o "$OUT" "$a" > /dev/null', "-e cp932"),
]


def extracted_names(folder):
    names = []
    for root, _dirs, files in os.walk(os.fsencode(folder)):
        for n in files:
            rel = os.path.relpath(os.path.join(root, n), os.fsencode(folder))
            names.append(rel.decode("utf-8", "replace"))
    return names


def names_right(folder, expected):
    got = extracted_names(folder)
    # A bind folder or the tool's own enclosing folder may sit above the archive's paths.
    return all(any(g == e or g.endswith("/" + e) for g in got) for e in expected) and len(got) == len(expected)


def cp932_checks(b, expected):
    arc = os.path.join(b.work, "cp932.zip")
    rows = []

    def attempt(argv):
        b.fresh_out()
        _, _, rc = run_once(argv, b.out, b.env)
        ok = names_right(b.out, expected)
        sample = sorted(extracted_names(b.out))[:2]
        return ok, rc, sample

    ok, rc, sample = attempt([b.cli, "--ini", b.empty_ini, "--to", b.out, "-k", arc])
    rows.append({"tool": "norvex-cli", "default": ok, "exit": rc, "sample": sample})
    for tool, plain, option, text in CP932_PEERS:
        if not have(tool):
            continue
        ok, rc, sample = attempt(loop(plain, [arc]))
        ok2, rc2, sample2 = attempt(loop(option, [arc]))
        rows.append({"tool": tool, "default": ok, "exit": rc, "sample": sample,
                     "option": text, "with_option": ok2 and rc2 == 0, "option_exit": rc2,
                     "sample_option": sample2})
    shutil.rmtree(b.out, ignore_errors=True)
    return rows


if __name__ == "__main__":
    sys.exit(main())
