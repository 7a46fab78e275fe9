#!/usr/bin/env python3
"""Prints the table of `make bench` from one run's Google Benchmark JSON files.

Usage: table.py RUN_FOLDER

Each row is a figure beside its yardstick from the same run, the target it
is held to, and PASS or FAIL. A row whose benchmark is not in the run (its
program was not built) says so and counts as neither. Exits 1 when a row's
benchmark is missing from a program that did run, or when a phone row's
figures show the code it measures did not run; 0 otherwise.
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
                # "BM_X/iterations:60/manual_time", "BM_X/repeats:5": BM_X
                runs[b.get("run_name", b["name"]).split("/")[0]] = b
    return runs, programs


def value(runs, name, field):
    """A figure in nanoseconds: the run's CPU time (for work done in the
    benchmark's own thread, which other programs on a shared machine stretch
    in wall time but not in CPU time), its time, or one of its counters."""
    b = runs.get(name)
    if b is None:
        return None
    if field in ("cpu", "time"):
        key = "cpu_time" if field == "cpu" else "real_time"
        return b[key] * NS_PER_UNIT[b.get("time_unit", "ns")]
    return b.get(field)


def show(ns, unit="ns"):
    if ns is None:
        return "-"
    if unit == "instructions":
        return f"{ns:.0f} instr"
    if ns < 1e3:
        return f"{ns:.1f} ns"
    if ns < 1e6:
        return f"{ns / 1e3:.1f} us"
    return f"{ns / 1e6:.2f} ms"


# (what, program, figure, yardstick label, yardstick, rule, limit)
# figure and yardstick are (benchmark, field): field "cpu" for work in the
# benchmark's thread, a counter (median p50_ns, p99_ns) for figures taken
# per sample from other processes; rules:
#   ratio  figure / yardstick <= limit
#   most   figure <= limit (ns)
#   more   figure - yardstick <= limit (ns)
#   peer   figure - yardstick <= peer - yardstick, the limit being
#          (label, (benchmark, field)) of a second yardstick, the peer
# An eighth field "instructions" says that figure, yardstick and limit are
# counts of instructions (the emulated phone's), not nanoseconds; a ninth,
# a benchmark whose "signing", "yardstick_signing" and "peer_signing"
# counters say how many of those instructions sign or authenticate a
# pointer, which the row states (and lacks a result without).
ROWS = [
    ("cached send", "bench_send", ("BM_CachedSend", "cpu"),
     "C++ virtual call", ("BM_VirtualCall", "cpu"), "ratio", 2.0),
    ("reloadSettings, typical file", "bench_settings", ("BM_ReloadSettings", "cpu"),
     "libplist alone", ("BM_LibplistReadSettings", "cpu"), "most", 20e3),
    # What the constructor adds over the same library loaded inert: the
    # loader's own share of dlopen (mapping, relocating, the first touch of
    # each page) is the machine's, and on a virtual machine it alone can pass
    # 200 us for an empty library.
    ("constructor, dlopen to return, active (median)", "bench_load",
     ("BM_LoadLibrary", "active_p50_ns"),
     "inert", ("BM_LoadLibrary", "inert_p50_ns"), "more", 200e3),
    ("notification post to callback, 2 processes (p99)", "bench_notify",
     ("BM_NotifyPostToCallback", "p99_ns"),
     "pipe round trip p99", ("BM_PipeRoundTrip", "p99_ns"), "most", 1e6),
    ("tap on an ordinary album, hooked (median)", "bench_tap",
     ("BM_TapOrdinaryAlbum", "hooked_ns"),
     "unhooked", ("BM_TapOrdinaryAlbum", "unhooked_ns"), "more", 50.0),
    ("configured cell, hooked (median)", "bench_tap", ("BM_ConfigureCell", "hooked_ns"),
     "unhooked", ("BM_ConfigureCell", "unhooked_ns"), "more", 50.0),
    ("Photos launch, Velmo active (median)", "bench_launch", ("BM_PhotosLaunch", "p50_ns"),
     "Velmo off", ("BM_PhotosLaunch", "off_p50_ns"), "ratio", 1.05),
    ("album list drawn at 1170x2532", "bench_screens", ("BM_DrawAlbumList", "cpu"),
     "copying a screen's pixels", ("BM_CopyScreenPixels", "cpu"), "most", 50e6),
    # The phone build's code, counted exactly in the emulated arm64 CPU by the
    # same compiler every time, one row per hot path and slice; rows added
    # below from PHONE_ROWS and PHONE_SLICES.
]

# The phone rows: what Velmo's code adds over the first yardstick is held to
# what the Objective-C peer (bench/phone_peer.m, the same hooks as a tweak
# author writes them) adds over it, for each slice the phone build has, each
# slice against its own yardsticks and peer. On arm64e the compiler adds
# pointer signing and authentication to every function; the rows state how
# many of the counted instructions those are, and hold Velmo's added signing
# instructions to the peer's as well.
PHONE_SLICES = ["arm64", "arm64e"]
SIGNING_SLICES = {"arm64e"}
PHONE_ROWS = [
    ("list guard, ordinary album", "BM_PhoneListGuard", "hook calling its slot"),
    ("configured cell, ordinary album", "BM_PhoneConfigureCell", "hook calling its slot"),
    ("constructor, iPhone hook table", "BM_PhoneConstructor", "inert constructor"),
]
for _slice in PHONE_SLICES:
    for _what, _bench, _label in PHONE_ROWS:
        _name = f"{_bench}_{_slice}"
        ROWS.append((f"phone {_slice}: {_what}", "bench_phone", (_name, "instructions"),
                     _label, (_name, "yardstick_instructions"), "peer",
                     ("Objective-C peer", (_name, "peer_instructions")), "instructions",
                     _name if _slice in SIGNING_SLICES else None))


def signing_counts(runs, name):
    """(Velmo's, the yardstick's, the peer's) signing counts, or None when
    the run lacks them."""
    counts = [value(runs, name, f) for f in ("signing", "yardstick_signing", "peer_signing")]
    return None if any(c is None for c in counts) else counts


def signing_text(counts):
    return "signing Velmo {:.0f}, yardstick {:.0f}, peer {:.0f}".format(*counts)


def judge_signing(counts):
    """The signing target of their own: Velmo adds no more signing and
    authenticating instructions than the peer adds."""
    velmo, yard, peer = counts
    return f"signing +{velmo - yard:.0f} <= +{peer - yard:.0f}", velmo - yard <= peer - yard


def judge(rule, limit, fig, yard, unit="ns"):
    if rule == "peer":
        # limit is the peer's figure: both are taken over the same yardstick.
        d, p = fig - yard, limit - yard
        signed = lambda v: f"{'+' if v >= 0 else '-'}{show(abs(v), unit)}"
        return f"{signed(d)} <= {signed(p)} (the peer's)", d <= p
    if rule == "ratio":
        r = fig / yard if yard else float("inf")
        return f"ratio {r:.2f} <= {limit:g}", r <= limit
    if rule == "more":
        d = fig - yard
        return (f"{'+' if d >= 0 else '-'}{show(abs(d), unit)} <= {show(limit, unit)}",
                d <= limit)
    text = f"<= {show(limit, unit)}"
    if yard:
        d = fig - yard
        text += f" ({fig / yard:.2f}x, {'+' if d >= 0 else '-'}{show(abs(d), unit)})"
    return text, fig <= limit


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    runs, programs = load(sys.argv[1])
    header = ("what", "figure", "yardstick", "target", "verdict")
    lines, missing = [], False
    for what, program, figure, label, yardstick, rule, limit, *extra in ROWS:
        unit = extra[0] if extra else "ns"
        signing = extra[1] if len(extra) > 1 else None
        fig = value(runs, *figure)
        yard = value(runs, *yardstick) if yardstick else None
        yard_text = f"{label} {show(yard, unit)}" if yardstick else "-"
        if rule == "peer":
            peer_label, peer = limit
            limit = value(runs, *peer)
            yard_text += f"; {peer_label} {show(limit, unit)}"
        counts = signing_counts(runs, signing) if signing else None
        if counts:
            yard_text += f"; {signing_text(counts)}"
        if fig is None or (yardstick and yard is None) or limit is None or (signing and not counts):
            ran = program in programs
            missing = missing or ran
            verdict = "NO RESULT" if ran else "not built"
            lines.append((what, show(fig, unit), yard_text, "", verdict))
            continue
        # A replacement does more than a hook that only calls its slot: a
        # figure (Velmo's or the peer's) at or below it means the code
        # measured did not run, which is an error of the run, not a pass.
        if rule == "peer" and (fig <= yard or limit <= yard):
            missing = True
            whose = "Velmo's" if fig <= yard else "the peer's"
            lines.append((what, show(fig, unit), yard_text,
                          f"{whose} code did not run", "ERROR"))
            continue
        target, ok = judge(rule, limit, fig, yard, unit)
        if counts:
            signing_target, signing_ok = judge_signing(counts)
            target, ok = f"{target}; {signing_target}", ok and signing_ok
        lines.append((what, show(fig, unit), yard_text, target, "PASS" if ok else "FAIL"))
    widths = [max(len(str(r[i])) for r in [header] + lines) for i in range(len(header))]
    for row in [header] + lines:
        print("  ".join(str(c).ljust(w) for c, w in zip(row, widths)).rstrip())
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
