#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora into corpus/<target>/.

Run once after changing it; the seeds are kept in the tree. Besides ordinary
files, the seeds keep the damaged shapes that crashed or exhausted libplist
before the platform checked a list's shape first: binary lists nested far
deeper than a stack allows, references shared until they expand past memory,
lists that contain themselves, NUL characters in keys, and XML nested tens of
thousands deep.
"""
import os
import plistlib
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def binary(objects, top=0, ref_size=2, offset_size=4):
    """A binary plist from raw encoded objects (each a bytes value)."""
    out = bytearray(b"bplist00")
    offsets = []
    for o in objects:
        offsets.append(len(out))
        out += o
    table = len(out)
    for off in offsets:
        out += off.to_bytes(offset_size, "big")
    out += bytes(6) + bytes([offset_size, ref_size])
    out += struct.pack(">QQQ", len(objects), top, table)
    return bytes(out)


def array_of(refs, ref_size=2):
    n = len(refs)
    head = bytes([0xA0 | n]) if n < 15 else bytes([0xAF, 0x11]) + n.to_bytes(2, "big")
    return head + b"".join(r.to_bytes(ref_size, "big") for r in refs)


def dict_of(keys, values, ref_size=2):
    n = len(keys)
    return bytes([0xD0 | n]) + b"".join(r.to_bytes(ref_size, "big") for r in keys + values)


def ascii_string(text):
    return bytes([0x50 | len(text)]) + text


TRUE = b"\x09"
LEAF = b"\x10\x01"  # the integer 1


def settings_seeds():
    keys = ["enabled", "lockRecentlyDeleted", "popToRoot", "hiddenItemCountEnabled",
            "showLockIcon", "hiddenItemCount"]
    full = {k: True for k in keys[:-1]}
    full["hiddenItemCount"] = 42
    seeds = {
        "all_keys.bplist": plistlib.dumps(full, fmt=plistlib.FMT_BINARY),
        "all_keys.xml": plistlib.dumps(full, fmt=plistlib.FMT_XML),
        "strings_and_reals.xml": plistlib.dumps(
            {"enabled": "YES", "popToRoot": " 12abc", "showLockIcon": "no",
             "hiddenItemCountEnabled": 0.5, "hiddenItemCount": "-9223372036854775809",
             "lockRecentlyDeleted": "t"}, fmt=plistlib.FMT_XML),
        "odd_types.bplist": plistlib.dumps(
            {"popToRoot": b"\x01", "showLockIcon": [True], "hiddenItemCount": {"x": 1},
             "lockRecentlyDeleted": 1.0e300, "hiddenItemCountEnabled": -1},
            fmt=plistlib.FMT_BINARY),
        "huge_count.bplist": plistlib.dumps({"hiddenItemCount": 2**64 - 1},
                                            fmt=plistlib.FMT_BINARY),
        "top_array.xml": plistlib.dumps([True, 1, "popToRoot"], fmt=plistlib.FMT_XML),
        "empty_dict.bplist": plistlib.dumps({}, fmt=plistlib.FMT_BINARY),
        "empty": b"",
        "truncated.bplist": plistlib.dumps(full, fmt=plistlib.FMT_BINARY)[:-9],
        "truncated.xml": plistlib.dumps(full, fmt=plistlib.FMT_XML)[:70],
        "repeated_key.xml": b'<plist><dict><key>popToRoot</key><true/>'
                            b'<key>popToRoot</key><false/></dict></plist>',
    }
    # The damaged shapes.
    chain = [array_of([i + 1]) for i in range(10000)] + [LEAF]
    seeds["crash_deep_binary_chain"] = binary(chain)
    laughs = [array_of([i + 1, i + 1]) for i in range(60)] + [LEAF]
    seeds["crash_shared_reference_bomb"] = binary(laughs)
    seeds["crash_contains_itself"] = binary([array_of([0])])
    seeds["crash_cycle_of_two"] = binary([array_of([1]), array_of([0])])
    seeds["crash_bad_reference"] = binary([array_of([7])])
    seeds["crash_nul_in_key_binary"] = binary(
        [dict_of([1], [2]), ascii_string(b"pop\x00ToRoot"), TRUE])
    seeds["crash_nul_in_key_xml"] = b"<plist><dict><key>pop\x00ToRoot</key><true/></dict></plist>"
    seeds["crash_deep_xml"] = b"<plist>" + b"<array>" * 10000 + b"</array>" * 10000 + b"</plist>"
    seeds["crash_bad_trailer"] = b"bplist00" + b"\xff" * 40
    seeds["crash_count_past_end"] = binary([bytes([0xAF, 0x13]) + (2**40).to_bytes(8, "big")])
    seeds["crash_dict_key_is_array"] = binary([dict_of([1], [2]), array_of([]), TRUE])
    return seeds


def xml(body):
    return b'<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0">' + body + b"</plist>\n"


def device_plist_seeds():
    """First byte picks the file: 0 device.plist, 1 Info.plist, 2 allowlists,
    3 Albums.plist, 4 Root.plist, 5 the loader's filter, 6 the passcode's
    verifier."""
    seeds = {
        "device": plistlib.dumps({"model": "iPad", "systemVersion": "14.8",
                                  "passcodeSalt": "00ff10a0", "passcodeHash": "ab" * 32,
                                  "biometry": "face"}, fmt=plistlib.FMT_BINARY),
        "device_odd": plistlib.dumps({"model": 7, "systemVersion": [], "passcodeSalt": "0g",
                                      "passcodeHash": ""}, fmt=plistlib.FMT_XML),
        "info": plistlib.dumps({"CFBundleIdentifier": "com.example.fuzz",
                                "NSFaceIDUsageDescription": "why",
                                "CFBundleExecutable": "Fuzz"}, fmt=plistlib.FMT_BINARY),
        "info_no_id": plistlib.dumps({"CFBundleIdentifier": 5}, fmt=plistlib.FMT_XML),
        "allow": plistlib.dumps({"kTCCServiceFaceID": ["com.example.fuzz", 3],
                                 "kTCCServiceCamera": "com.example.fuzz"},
                                fmt=plistlib.FMT_BINARY),
        "albums": plistlib.dumps({"Albums": [
            {"Title": "Hidden", "Count": 12, "Kind": "hidden"},
            {"Title": "Recently Deleted", "Count": 5, "Kind": "recentlyDeleted"},
            {"Title": "Hidden", "Count": -1, "Kind": "nonsense"},
            {"Title": 4}, "not an entry"]}, fmt=plistlib.FMT_XML),
        "root": plistlib.dumps({"title": "Velmo", "items": [
            {"cell": "PSGroupCell", "label": "Lock", "footerText": "f"},
            {"cell": "PSSwitchCell", "key": "popToRoot", "defaults": "com.example.fuzz",
             "default": True, "label": "Pop"},
            {"cell": "PSEditTextCell", "key": "hiddenItemCount", "defaults": "../escape",
             "isNumeric": True, "default": 5},
            {"cell": "PSSecureEditTextCell", "key": 3},
            {"cell": "PSLinkCell"}, "not a row", {"cell": 1}]}, fmt=plistlib.FMT_XML),
        "filter": plistlib.dumps({"Filter": {"Bundles": ["com.example.fuzz", 1],
                                             "Executables": ["Fuzz"]}},
                                 fmt=plistlib.FMT_BINARY),
        "filter_odd": plistlib.dumps({"Filter": ["com.example.fuzz"]}, fmt=plistlib.FMT_XML),
        "verifier": plistlib.dumps({"algorithm": "PBKDF2-HMAC-SHA256", "iterations": 150000,
                                    "salt": "00ff" * 8, "key": "ab" * 32}, fmt=plistlib.FMT_BINARY),
        "verifier_odd": plistlib.dumps({"algorithm": "PBKDF2-HMAC-SHA256", "iterations": -1,
                                        "salt": "0g", "key": 5}, fmt=plistlib.FMT_XML),
    }
    which = {"device": 0, "device_odd": 0, "info": 1, "info_no_id": 1, "allow": 2,
             "albums": 3, "root": 4, "filter": 5, "filter_odd": 5,
             "verifier": 6, "verifier_odd": 6}
    out = {name: bytes([which[name]]) + data for name, data in seeds.items()}
    damaged = settings_seeds()
    for i, name in enumerate(sorted(n for n in damaged if n.startswith("crash_"))):
        out[name] = bytes([i % 6]) + damaged[name]
    return out


def command_line_seeds():
    return {
        "walk": b"open Velmo\nshow\nset popToRoot on\nset hiddenItemCount -3\nshow\n"
                b"switch on\nswitch off\n",
        "bad_values": b"open Velmo\nset popToRoot maybe\nset hiddenItemCount 12abc\n"
                      b"set hiddenItemCount 99999999999999999999\nset enabled on\nset\n"
                      b"switch sideways\n",
        "before_open": b"show\nset popToRoot on\nswitch on\nopen\nopen Photos\nhelp\n",
        "noise": b"\t  # a comment\n\x00\xff\nunknown command\n" + b"x" * 5000 + b"\n",
        # The screen's commands; the screenshot draws the pane with its fonts.
        "screen": b"open Velmo\nviews\ntouch 100 200\ntouch -1 x\nscreenshot /anywhere.png\n",
        "flags": b"--root /tmp --model iPad --system-version\n--root=/x --no-passcode=1 name\n"
                 b"--watch " + b"n" * 300 + b"\n--watch com.qel.velmopreferences/changed\n",
    }


def main():
    for target, seeds in (("settings_reader_fuzz", settings_seeds()),
                          ("device_plists_fuzz", device_plist_seeds()),
                          ("command_line_fuzz", command_line_seeds())):
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
