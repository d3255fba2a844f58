#!/usr/bin/env python3
"""Turns the measurements of measure.py into bench/results.md and the ratio chart bench/results.png.

  report.py RAW.json --md bench/results.md --png bench/results.png

Standard library only: the chart is written as SVG and converted with rsvg-convert.
"""
import argparse
import datetime
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
from xml.sax.saxutils import escape

PEER_ORDER = ["bsdtar", "unzip", "7z", "unar", "lhasa", "gcab"]


def tool_versions():
    """The Debian package and version each peer came from."""
    out = {}
    for tool in PEER_ORDER:
        path = shutil.which(tool)
        if not path:
            continue
        real = os.path.realpath(path)
        package = "?"
        for candidate in (path, real):
            p = subprocess.run(["dpkg-query", "-S", candidate], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            if p.returncode == 0:
                package = p.stdout.decode().split(":", 1)[0].strip()
                break
        version = ""
        if package != "?":
            p = subprocess.run(["dpkg-query", "-W", "-f", "${Version}", package], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
            version = p.stdout.decode().strip()
        out[tool] = f"{path} (Debian package {package} {version})".replace(" )", ")")
    return out


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "?"


def cell(text):
    return str(text).replace("|", "\\|")


def row(cells):
    return "| " + " | ".join(cell(c) for c in cells) + " |"


def fmt_s(x):
    return "%.3f" % x if x < 10 else "%.2f" % x


def groups(results, op):
    """[(set, {tool: result})] in the order measured."""
    order = []
    by = {}
    for r in results:
        if r.get("op") != op:
            continue
        if r["set"] not in by:
            by[r["set"]] = {}
            order.append(r["set"])
        by[r["set"]][r["tool"]] = r
    return [(s, by[s]) for s in order]


def ok(r):
    return r["exit"] == 0 and r.get("complete", True)


def columns(gs):
    seen = []
    for _, tools in gs:
        for t in tools:
            if t not in seen:
                seen.append(t)
    norvex = [t for t in seen if t.startswith("norvex")]
    peers = sorted((t for t in seen if not t.startswith("norvex")),
                   key=lambda t: PEER_ORDER.index(t.split(" ")[0]) if t.split(" ")[0] in PEER_ORDER else 99)
    return norvex, peers


def fastest_peer(tools, among=None):
    best = None
    for t, r in tools.items():
        if t.startswith("norvex") or not ok(r):
            continue
        if among and t.split(" ")[0] not in among:
            continue
        if best is None or r["median"] < best[1]["median"]:
            best = (t, r)
    return best


def time_table(gs, notes, expected):
    norvex, peers = columns(gs)
    lines = [row(["archives"] + norvex + peers), "|---" * (1 + len(norvex + peers)) + "|"]
    for s, tools in gs:
        cells = []
        for t in norvex + peers:
            r = tools.get(t)
            if not r:
                cells.append("")
                continue
            c = fmt_s(r["median"])
            if not ok(r):
                c += " ✗"
                what = []
                if r["exit"]:
                    what.append("exit status %d" % r["exit"])
                if "bytes" in r and not r.get("complete", True):
                    what.append("%d of the %d bytes written" % (r["bytes"], expected.get(s, 0)))
                notes.append(f"{t} on {s}: " + ", ".join(what))
            cells.append(c)
        lines.append(row([s] + cells))
    return lines


def ratio_table(gs):
    norvex, peers = columns(gs)
    lines = [row(["archives", "Norvex"] + peers + ["fastest peer"]), "|---" * (3 + len(peers)) + "|"]
    for s, tools in gs:
        for n in norvex:
            r = tools.get(n)
            if not r:
                continue
            cells = []
            for p in peers:
                q = tools.get(p)
                cells.append("%.2f" % (r["median"] / q["median"]) if q and ok(q) and ok(r) else "")
            best = fastest_peer(tools)
            fast = "%.2f (%s)" % (r["median"] / best[1]["median"], best[0]) if best and ok(r) else ""
            lines.append(row([s, n] + cells + [fast]))
    return lines


def memory_table(results):
    ops = [("extract", "extract"), ("list", "list"), ("search", "search")]
    all_gs = [(f"{label} {s}", tools) for op, label in ops for s, tools in groups(results, op)]
    norvex, peers = columns(all_gs)
    lines = [row(["case"] + norvex + peers), "|---" * (1 + len(norvex + peers)) + "|"]
    for s, tools in all_gs:
        cells = ["%.1f" % (tools[t]["peak_kib"] / 1024) if t in tools else "" for t in norvex + peers]
        lines.append(row([s] + cells))
    return lines


def paired_ratio(tools, tool, base):
    """The median of tool's time over base's, pair by pair: each pair runs norvex-cli and the modules one
    right after the other, so a pair's ratio is little moved by the load the machine had then."""
    a, b = tools.get(tool), tools.get(base)
    if not a or not b or not ok(a) or not ok(b):
        return None
    pairs = [x / y for x, y in zip(a["runs"], b["runs"]) if y > 0]
    return statistics.median(pairs) if pairs else None


def cli_over_module_table(results):
    lines = ["| archives | norvex-cli | modules alone | ratio of medians | median of the pairs' ratios |",
             "|---|---|---|---|---|"]
    for s, tools in groups(results, "extract"):
        a, b = tools.get("norvex-cli"), tools.get("norvex module")
        if not a or not b:
            continue
        paired = paired_ratio(tools, "norvex-cli", "norvex module")
        lines.append(row([s, "%.3f" % a["median"], "%.3f" % b["median"], "%.2f" % (a["median"] / b["median"]),
                          "%.2f" % paired if paired is not None else ""]))
    return lines


def goals(results):
    ex = dict(groups(results, "extract"))
    se = dict(groups(results, "search"))
    rows = []

    def add(goal, value, limit, unit="x"):
        if value is None:
            rows.append((goal, "not measured", ""))
            return
        met = value <= limit
        text = ("%.2f" % value) + (" " + unit if unit != "x" else "")
        verdict = "met" if met else "missed by %.0f%%" % ((value / limit - 1) * 100)
        rows.append((goal, text, verdict))

    def ratio(set_name, tool, among):
        tools = ex.get(set_name, {})
        r = tools.get(tool)
        best = fastest_peer(tools, among)
        if not r or not best or not ok(r):
            return None
        return r["median"] / best[1]["median"]

    def ratio_to(set_name, tool, peer):
        tools = ex.get(set_name, {})
        r, p = tools.get(tool), tools.get(peer)
        if not r or not p or not ok(r) or not ok(p):
            return None
        return r["median"] / p["median"]

    def cli_over_module():
        worst = None
        for set_name, tools in ex.items():
            v = paired_ratio(tools, "norvex-cli", "norvex module")
            if v is not None and (worst is None or v > worst):
                worst = v
        return worst

    add("norvex-cli, large ZIP: at most 0.6x bsdtar", ratio_to("large ZIP", "norvex-cli", "bsdtar"), 0.6)
    add("norvex-cli, large ZIP: at most 0.6x 7z", ratio_to("large ZIP", "norvex-cli", "7z"), 0.6)
    add("norvex-cli, large text ZIP: at most 0.6x bsdtar", ratio_to("large text ZIP", "norvex-cli", "bsdtar"), 0.6)
    add("norvex-cli, large text ZIP: at most 0.6x 7z", ratio_to("large text ZIP", "norvex-cli", "7z"), 0.6)
    add("norvex-cli, 10 000 files ZIP: at most 1.0x the fastest peer",
        ratio("10 000 files ZIP", "norvex-cli", {"bsdtar", "unzip", "7z", "unar"}), 1.0)
    add("norvex-cli, 200 small ZIPs: at most 0.8x the fastest peer",
        ratio("200 small ZIPs", "norvex-cli", {"bsdtar", "unzip", "7z", "unar"}), 0.8)
    add("norvex-cli, large LZH: at most 0.8x bsdtar", ratio_to("large LZH", "norvex-cli", "bsdtar"), 0.8)
    add("norvex-cli, large LZH: at most 0.5x lhasa", ratio_to("large LZH", "norvex-cli", "lhasa"), 0.5)
    add("norvex-cli, large CAB: at most 1.0x gcab", ratio_to("large CAB", "norvex-cli", "gcab"), 1.0)
    add("norvex-cli against the modules alone: at most 1.05x (the worst archive set, pair by pair)",
        cli_over_module(), 1.05)
    peaks = [r["peak_kib"] / 1024 for r in results if r.get("tool") == "norvex module"]
    add("Modules: peak memory under 64 MiB for any archive", max(peaks) if peaks else None, 64, "MiB")
    peaks = [r["peak_kib"] / 1024 for r in results if r.get("tool") == "norvex-cli"]
    add("norvex-cli: peak memory under 100 MiB", max(peaks) if peaks else None, 100, "MiB")
    s = se.get("200 small ZIPs", {})
    if "norvex" in s and "bsdtar | grep" in s:
        add("Search of 200 archives: at most half the time of a bsdtar -tf | grep -E loop",
            s["norvex"]["median"] / s["bsdtar | grep"]["median"], 0.5)
    lines = ["| goal | measured | |", "|---|---|---|"]
    lines += [row([g, v, m]) for g, v, m in rows]
    return lines, rows


def cp932_table(results):
    checks = next((r["checks"] for r in results if r.get("op") == "cp932"), [])
    lines = ["| tool | names right by default | with its encoding option |", "|---|---|---|"]
    for c in checks:
        d = "yes" if c["default"] and c["exit"] == 0 else "no"
        if not c["default"] and c.get("sample"):
            d += " (e.g. `%s`)" % c["sample"][0].replace("|", "\\|")
        if "option" in c:
            if c["with_option"]:
                o = "yes (`%s`)" % c["option"]
            elif c.get("option_exit") and not c.get("sample_option"):
                o = "no: `%s` is refused (exit status %d)" % (c["option"], c["option_exit"])
            else:
                o = "no (`%s`)" % c["option"]
        else:
            o = "no option needed"
        lines.append(row([c["tool"], d, o]))
    return lines


def chart_rows(results):
    rows = []
    for op, label in (("extract", "extract"), ("list", "list"), ("search", "search")):
        for s, tools in groups(results, op):
            best = fastest_peer(tools)
            if not best:
                continue
            for t, r in tools.items():
                if t.startswith("norvex") and ok(r):
                    rows.append((f"{label} {s} ({t})", r["median"] / best[1]["median"], best[0]))
    return rows


def write_chart(rows, svg_path, png_path):
    width, left, right, bar, gap, top = 900, 330, 110, 16, 6, 50
    height = top + len(rows) * (bar + gap) + 50
    vmax = max([2.0] + [v for _, v, _ in rows]) * 1.05
    plot = width - left - right

    def x(v):
        return left + plot * v / vmax

    parts = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
             'font-family="DejaVu Sans, IPAGothic, sans-serif" font-size="12">',
             f'<rect width="{width}" height="{height}" fill="white"/>',
             f'<text x="{width / 2}" y="22" text-anchor="middle" font-size="15" font-weight="bold">'
             'Norvex time / fastest peer time (lower is better; 1 = as fast as the fastest peer)</text>']
    step = 0.5 if vmax <= 4 else 1.0
    v = 0.0
    while v <= vmax:
        parts.append(f'<line x1="{x(v):.1f}" y1="{top - 8}" x2="{x(v):.1f}" y2="{height - 40}" stroke="#ddd"/>')
        parts.append(f'<text x="{x(v):.1f}" y="{height - 25}" text-anchor="middle">{v:g}</text>')
        v += step
    for i, (label, value, peer) in enumerate(rows):
        y = top + i * (bar + gap)
        colour = "#2e7d32" if value <= 1.0 else "#ef6c00"
        parts.append(f'<text x="{left - 8}" y="{y + bar - 4}" text-anchor="end">{escape(label)}</text>')
        parts.append(f'<rect x="{left}" y="{y}" width="{max(1.0, x(value) - left):.1f}" height="{bar}" fill="{colour}"/>')
        parts.append(f'<text x="{x(value) + 5:.1f}" y="{y + bar - 4}">{value:.2f} vs {escape(peer)}</text>')
    parts.append(f'<line x1="{x(1):.1f}" y1="{top - 8}" x2="{x(1):.1f}" y2="{height - 40}" stroke="black" '
                 'stroke-width="1.5" stroke-dasharray="4,3"/>')
    parts.append("</svg>")
    with open(svg_path, "w", encoding="utf-8") as f:
        f.write("\n".join(parts))
    subprocess.run(["rsvg-convert", "-o", png_path, svg_path], check=True)


def load_text(raw):
    load = raw.get("load")
    if not load:
        return ""
    return (" The machine's load average (1 minute) was %.1f at the start and %.1f at the end of the "
            "measuring: other work shared the cores, so single figures are noisy and the medians and "
            "ratios are what to read." % (load[0], load[1]))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("raw")
    ap.add_argument("--md", required=True)
    ap.add_argument("--png", required=True)
    a = ap.parse_args()
    with open(a.raw, encoding="utf-8") as f:
        raw = json.load(f)
    results = raw["results"]
    corpus = raw["corpus"]
    notes = []
    md = ["# Norvex beside the tools users would pick instead", "",
          "Made by `bench/run` on %s: %s, %d cores, %s. Each figure is the median of %d runs "
          "(a tool whose first run took over 8 s ran %d); every tool ran once per round, in turn, each round starting one tool later. "
          "norvex-cli and the modules alone then ran in further pairs, one right after the other, up to %d runs each "
          "(their extraction figures are medians of those). "
          "Extractions write to a memory file system, so the disk does not blur the difference between "
          "the tools.%s" % (datetime.date.today().isoformat(), cpu_model(), os.cpu_count(),
                            platform.platform(terse=True), raw["runs"], (raw["runs"] + 1) // 2,
                            raw.get("pairs", raw["runs"]), load_text(raw)),
          "",
          "Norvex runs as `norvex-cli` (default settings: header test, then extraction, the archive kept) "
          "and as its modules called directly (`bench_modules --extract`, one process for all archives); "
          "listing and search go through Norvex's archive layer and modules (`norvex_bench_archives`). "
          "A peer handles several archives in a shell loop, one process per archive, as it would be "
          "scripted.", "",
          "Corpus: %d MiB of mixed data in %d files (incompressible bytes, Japanese and English text, "
          "binary records) as ZIP (Info-ZIP, -6), LZH (Norvex's own lh5 packer), CAB (gcab, MSZIP) and a "
          "stored RAR 4 (no RAR creator is packaged: the writer of the module tests); 200 small ZIPs of 50 "
          "entries each (%d files in all); one archive of 10 000 files of about 1 KiB, as ZIP and LZH; a large "
          "ZIP of Japanese and English text (half the size of the mixed data, zip -6)." %
          (corpus["large"]["bytes"] >> 20, corpus["large"]["files"], corpus["small"]["files"]), "",
          "Ratios are Norvex time / peer time: below 1 Norvex is faster.", "",
          "![Norvex time / fastest peer time](results.png)", "",
          "## Goals", ""]
    goal_lines, _ = goals(results)
    md += goal_lines + [""]
    for op, title in (("extract", "Extraction"), ("list", "Listing"), ("search", "Search")):
        gs = groups(results, op)
        if not gs:
            continue
        expected = {"200 small ZIPs": corpus["small"]["bytes"], "large ZIP": corpus["large"]["bytes"],
                    "large LZH": corpus["large"]["bytes"], "large CAB": corpus["large"]["bytes"],
                    "large RAR": corpus["large"]["bytes"], "10 000 files ZIP": corpus["many"]["bytes"],
                    "10 000 files LZH": corpus["many"]["bytes"],
                    "large text ZIP": corpus.get("text", {}).get("bytes")}
        md += [f"## {title}: median seconds", ""] + time_table(gs, notes, expected) + [""]
        md += [f"### {title}: ratios", ""] + ratio_table(gs) + [""]
        if op == "extract":
            md += ["### norvex-cli against its modules alone", "",
                   "norvex-cli does what the modules alone do not: it lists each archive first (to count its top "
                   "level and check its paths), makes the folder, logs every step. The two ran in pairs, one right after "
                   "the other (which went first alternated); the goal takes the median of the pairs' ratios.", ""]
            md += cli_over_module_table(results) + [""]
        if op in ("list", "search"):
            counts = []
            for s, tools in gs:
                counts.append(f"{s}: " + ", ".join(f"{t} {r['lines']}" for t, r in tools.items() if "lines" in r))
            what = "lines printed" if op == "list" else "hits"
            md += [f"{what.capitalize()} (a check that every tool saw the same archives): " + "; ".join(counts) + ".",
                   ""]
            if op == "search":
                md += ["Pattern: `%s`, matched against each entry's name (Norvex) or each line the peer "
                       "prints (`grep -E`)." % raw["pattern"], ""]
    md += ["## Peak memory (MiB)", "", "The largest resident size of any process of the case (`/usr/bin/time -f %M`).",
           ""] + memory_table(results) + [""]
    md += ["## Japanese names in a ZIP without the UTF-8 flag (cp932)", "",
           "A ZIP whose names are raw cp932 bytes, several ending in the byte 0x5C (ソ, 表, 能, 予), and "
           "one with half-width katakana. \"Right\" means every file came out under its proper UTF-8 name.",
           ""] + cp932_table(results) + [""]
    if notes:
        md += ["## Notes", ""] + ["- ✗ " + n for n in notes] + [""]
    versions = tool_versions()
    md += ["## Tools", ""] + [f"- {t}: {v}" for t, v in versions.items()] + [""]
    md += ["The whole run took %.0f s of measuring." % raw["seconds"], ""]
    with open(a.md, "w", encoding="utf-8") as f:
        f.write("\n".join(md))
    svg = os.path.splitext(a.png)[0] + ".svg"
    try:
        write_chart(chart_rows(results), svg, a.png)
    finally:
        if os.path.exists(svg):
            os.remove(svg)
    return 0


if __name__ == "__main__":
    sys.exit(main())
