#!/usr/bin/env python3
"""Compiles one arm64e source so that Debian's linker can link it.

clang writes each signed pointer in data as `.quad SYMBOL@AUTH(key, disc[,
addr])`, whose relocation ld64.lld refuses. Used as the compiler launcher of
the arm64e objects (`record_signed_pointers.py COMPILER ARGS... -o OBJ -c
SRC`), this compiles SRC to assembly, replaces each such pointer by a plain
`.quad` at a local label, and records the label with its scheme in the
section __DATA,__auth_records:

    { .quad label; .short discriminator; .byte key; .byte flags; .long 0 }

(flags bit 0: the storage address is blended in). The section is
live_support and every record is an atom of its own, so dead-stripping keeps
a record exactly while its pointer is kept. finish-arm64e later turns each
recorded pointer into an authenticated fixup and removes the records.

Any other use of @AUTH, or a line it cannot read, stops the build.
"""
import os
import re
import subprocess
import sys

KEYS = {"ia": 0, "ib": 1, "da": 2, "db": 3}
SIGNED = re.compile(r"^(\s*)\.quad\s+(.+?)@AUTH\(\s*(ia|ib|da|db)\s*,\s*(\d+)\s*(,\s*addr\s*)?\)\s*(;.*)?$")


def rewrite(lines, source):
    out, records = [], []
    for number, line in enumerate(lines, 1):
        if "@AUTH" not in line:
            out.append(line)
            continue
        m = SIGNED.match(line)
        if not m:
            sys.exit(f"error: {source}: assembly line {number} uses @AUTH in a way this step does not know: {line.strip()}")
        indent, target, key, disc, addr = m.group(1), m.group(2), m.group(3), int(m.group(4)), m.group(5)
        if disc > 0xFFFF:
            sys.exit(f"error: {source}: assembly line {number}: discriminator {disc} does not fit 16 bits")
        label = f"Lsigned_pointer.{len(records)}"
        out.append(f"{label}:\n")
        out.append(f"{indent}.quad\t{target}\n")
        records.append((label, KEYS[key], disc, 1 if addr else 0))
    if records:
        out.append("\t.section\t__DATA,__auth_records,regular,live_support\n")
        out.append("\t.p2align\t3\n")
        for index, (label, key, disc, flags) in enumerate(records):
            out.append(f"lsigned_pointer_record.{index}:\n")
            out.append(f"\t.quad\t{label}\n\t.short\t{disc}\n\t.byte\t{key}\n\t.byte\t{flags}\n\t.long\t0\n")
    return out


def option_value(args, name):
    for i, a in enumerate(args):
        if a == name and i + 1 < len(args):
            return args[i + 1]
        if a.startswith(name + "="):
            return a[len(name) + 1:]
    return None


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: record_signed_pointers.py COMPILER ARGS... -o OBJ -c SRC")
    command = sys.argv[1:]
    obj = option_value(command, "-o")
    target = option_value(command, "-target") or option_value(command, "--target")
    if obj is None or target is None or "-c" not in command:
        sys.exit("error: record_signed_pointers.py: the command has no -c, -o or -target")
    source = command[command.index("-c") + 1] if command.index("-c") + 1 < len(command) else "?"
    assembly, rewritten = obj + ".s", obj + ".signed.s"
    to_assembly = [("-S" if a == "-c" else a) for a in command]
    to_assembly[to_assembly.index("-o") + 1] = assembly
    subprocess.run(to_assembly, check=True)
    with open(assembly) as f:
        lines = f.readlines()
    with open(rewritten, "w") as f:
        f.writelines(rewrite(lines, source))
    subprocess.run([command[0], "-target", target, "-c", rewritten, "-o", obj + ".new"], check=True)
    os.replace(obj + ".new", obj)


if __name__ == "__main__":
    try:
        main()
    except subprocess.CalledProcessError as e:
        sys.exit(e.returncode or 1)
