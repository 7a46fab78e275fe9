#!/usr/bin/env python3
"""Prints the table of `make bench` from one run's Google Benchmark JSON files.

Usage: table.py RUN_FOLDER

Each row is a figure beside its yardstick from the same run, the target it
is held to, and PASS or FAIL. A row whose benchmark is not in the run (its
program was not built) says so and counts as neither. Exits 1 when a row's
benchmark is missing from a program that did run, 0 otherwise.
"""
import glob
import json
import os
import sys

NS_PER_UNIT = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load(folder):
    runs = {}
    programs = set()
    for path in sorted(glob.glob(os.path.join(folder, "*.json"))):
        programs.add(os.path.basename(path)[: -len(".json")])
        with open(path) as f:
            for b in json.load(f).get("benchmarks", []):
                if b.get("error_occurred"):
                    print(f"{b['name']}: {b.get('error_message', 'error')}", file=sys.stderr)
                    continue
                # Aggregates of repeated runs: keep the median only.
                if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
                    continue
                runs[b.get("run_name", b["name"])] = b
    return runs, programs


def value(runs, name, field="time"):
    """A figure in nanoseconds: the run's time, or one of its counters."""
    b = runs.get(name)
    if b is None:
        return None
    if field == "time":
        return b["real_time"] * NS_PER_UNIT[b.get("time_unit", "ns")]
    return b.get(field)


def show(ns):
    if ns is None:
        return "-"
    if ns < 1e3:
        return f"{ns:.1f} ns"
    if ns < 1e6:
        return f"{ns / 1e3:.1f} us"
    return f"{ns / 1e6:.2f} ms"


# (what, program, figure, yardstick label, yardstick, rule, limit)
# figure and yardstick are (benchmark, field); rules:
#   ratio  figure / yardstick <= limit
#   most   figure <= limit (ns)
#   more   figure - yardstick <= limit (ns)
ROWS = [
    ("cached send", "bench_send", ("BM_CachedSend", "time"),
     "C++ virtual call", ("BM_VirtualCall", "time"), "ratio", 2.0),
    ("reloadSettings, typical file", "bench_settings", ("BM_ReloadSettings", "time"),
     "libplist alone", ("BM_LibplistReadSettings", "time"), "most", 20e3),
    ("constructor, dlopen to return, active (median)", "bench_load",
     ("BM_LoadLibraryActive", "p50_ns"),
     "inert", ("BM_LoadLibraryInert", "p50_ns"), "most", 200e3),
    ("notification post to callback, 2 processes (p99)", "bench_notify",
     ("BM_NotifyPostToCallback", "p99_ns"),
     "pipe round trip p99", ("BM_PipeRoundTrip", "p99_ns"), "most", 1e6),
    ("tap on an ordinary album, hooked (median)", "bench_tap",
     ("BM_TapOrdinaryAlbumHooked", "time"),
     "unhooked", ("BM_TapOrdinaryAlbumUnhooked", "time"), "more", 50.0),
    ("configured cell, hooked (median)", "bench_tap", ("BM_ConfigureCellHooked", "time"),
     "unhooked", ("BM_ConfigureCellUnhooked", "time"), "more", 50.0),
    ("Photos launch, Velmo active (median)", "bench_launch", ("BM_PhotosLaunch", "p50_ns"),
     "Velmo off", ("BM_PhotosLaunch", "off_p50_ns"), "ratio", 1.05),
    ("album list drawn at 1170x2532", "bench_render", ("BM_DrawAlbumList", "time"),
     None, None, "most", 50e6),
]


def judge(rule, limit, fig, yard):
    if rule == "ratio":
        r = fig / yard if yard else float("inf")
        return f"ratio {r:.2f} <= {limit:g}", r <= limit
    if rule == "more":
        d = fig - yard
        return f"+{show(d) if d >= 0 else '-' + show(-d)} <= {show(limit)}", d <= limit
    text = f"<= {show(limit)}"
    if yard:
        text += f" ({fig / yard:.2f}x)"
    return text, fig <= limit


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    runs, programs = load(sys.argv[1])
    header = ("what", "figure", "yardstick", "target", "verdict")
    lines, missing = [], False
    for what, program, figure, label, yardstick, rule, limit in ROWS:
        fig = value(runs, *figure)
        yard = value(runs, *yardstick) if yardstick else None
        yard_text = f"{label} {show(yard)}" if yardstick else "-"
        if fig is None or (yardstick and yard is None):
            ran = program in programs
            missing = missing or ran
            verdict = "NO RESULT" if ran else "not built"
            lines.append((what, show(fig), yard_text, "", verdict))
            continue
        target, ok = judge(rule, limit, fig, yard)
        lines.append((what, show(fig), yard_text, target, "PASS" if ok else "FAIL"))
    widths = [max(len(str(r[i])) for r in [header] + lines) for i in range(len(header))]
    for row in [header] + lines:
        print("  ".join(str(c).ljust(w) for c, w in zip(row, widths)).rstrip())
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
