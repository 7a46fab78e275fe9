#!/usr/bin/env python3
"""Checks the phone build as the phone would see it: reads build-phone's
Velmo.dylib, VelmoPreferences (each slice of the two fat files) and the
iphoneos-arm64 package back with LLVM's Mach-O tools, macho_chains.py and
dpkg-deb, and checks that tweak/ and settings-pane/ build unchanged for both
platforms. Prints one line per check; exits 1 when any fails.

usage: check_phone_build.py SOURCE PHONE_BUILD SIM_BUILD
"""
import glob
import os
import plistlib
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import macho_chains  # noqa: E402

OTOOL = "llvm-otool-22"
NM = "llvm-nm-22"
LIPO = "llvm-lipo-22"
CPU_TYPE_ARM64 = 0x0100000C
SUBTYPES = {"arm64": 0, "arm64e": 0x80000002}  # arm64e: versioned pointer-auth ABI, version 0
FILETYPES = {"DYLIB": 6, "BUNDLE": 8}

VELMO_EXPORTS = {
    "_lockRecentlyDeleted", "_popToRoot", "_hiddenItemCountEnabled", "_showLockIcon",
    "_hiddenItemCount", "_accessed", "_reason",
    "__Z14reloadSettingsP22__CFNotificationCenterPvPK10__CFStringPKvPK14__CFDictionary",
}
VELMO_DYLIBS = {
    "/usr/lib/libobjc.A.dylib",
    "/usr/lib/libSystem.B.dylib",
    "/System/Library/Frameworks/CoreFoundation.framework/CoreFoundation",
    "/System/Library/Frameworks/Foundation.framework/Foundation",
    "/System/Library/Frameworks/LocalAuthentication.framework/LocalAuthentication",
    "@rpath/CydiaSubstrate.framework/CydiaSubstrate",
}
PANE_DYLIBS = {
    "/usr/lib/libobjc.A.dylib",
    "/usr/lib/libSystem.B.dylib",
    "/System/Library/Frameworks/CoreFoundation.framework/CoreFoundation",
    "/System/Library/Frameworks/Foundation.framework/Foundation",
    "/System/Library/Frameworks/UIKit.framework/UIKit",
    "/System/Library/PrivateFrameworks/Preferences.framework/Preferences",
}
INSTALL_NAME = "/var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.dylib"
BUNDLE = "./var/jb/Library/PreferenceBundles/VelmoPreferences.bundle/"
PACKAGE_FILES = {
    "./var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.dylib",
    "./var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.plist",
    BUNDLE + "VelmoPreferences",
    BUNDLE + "Info.plist",
    BUNDLE + "Root.plist",
    BUNDLE + "velmo.png",
    BUNDLE + "icon@2x.png",
    BUNDLE + "icon@3x.png",
    "./var/jb/Library/PreferenceLoader/Preferences/VelmoPreferences.plist",
}

failures = []


def check(name, ok, detail=""):
    print(("PASS " if ok else "FAIL ") + name + ("" if ok or not detail else ": " + detail))
    if not ok:
        failures.append(name)


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def load_commands(path):
    """The load commands as (cmd, {field: value}) in file order."""
    commands, current = [], None
    for line in run(OTOOL, "-l", path).splitlines():
        words = line.split()
        if len(words) >= 2 and words[0] == "cmd":
            current = (words[1], {})
            commands.append(current)
        elif current is not None and len(words) >= 2:
            current[1].setdefault(words[0], " ".join(words[1:]))
    return commands


def exported(path):
    names = set()
    for line in run(NM, "-m", path).splitlines():
        if "(undefined)" in line or "non-external" in line:
            continue
        if " external " in line:
            names.add(line.split()[-1])
    return names


def imports(path):
    found = {}
    for line in run(NM, "-m", path).splitlines():
        m = re.search(r"\(undefined\) (?:weak )?external (\S+) \(from (\S+)\)", line)
        if m:
            found.setdefault(m.group(2), []).append(m.group(1))
    return found


def check_macho(name, path, arch, filetype, dylibs, rpaths, exports):
    image = macho_chains.MachO(open(path, "rb").read())
    check(f"{name}: {arch} {filetype}", (image.cputype, image.cpusubtype, image.filetype)
          == (CPU_TYPE_ARM64, SUBTYPES[arch], FILETYPES[filetype]),
          f"cputype {image.cputype:#x} cpusubtype {image.cpusubtype:#x} filetype {image.filetype}")
    check(f"{name}: the code signature's page hashes match", not image.stale_pages(),
          f"stale pages {image.stale_pages()}")
    commands = load_commands(path)
    builds = [c for n, c in commands if n == "LC_BUILD_VERSION"]
    check(f"{name}: LC_BUILD_VERSION ios, minimum 14.0",
          len(builds) == 1 and builds[0].get("platform") in ("ios", "2")
          and builds[0].get("minos") == "14.0", str(builds))
    found_rpaths = [c["path"].split(" (offset")[0] for n, c in commands if n == "LC_RPATH"]
    check(f"{name}: LC_RPATH {rpaths}", found_rpaths == rpaths, str(found_rpaths))
    check(f"{name}: LC_CODE_SIGNATURE",
          sum(1 for n, _ in commands if n == "LC_CODE_SIGNATURE") == 1)
    loaded = {c["name"].split(" (offset")[0] for n, c in commands
              if n in ("LC_LOAD_DYLIB", "LC_LOAD_WEAK_DYLIB")}
    check(f"{name}: LC_LOAD_DYLIB only the libraries meant", loaded == dylibs,
          f"extra {sorted(loaded - dylibs)}, missing {sorted(dylibs - loaded)}")
    names = exported(path)
    check(f"{name}: exports exactly {sorted(exports) if exports else 'nothing'}", names == exports,
          f"extra {sorted(names - exports)}, missing {sorted(exports - names)}")
    return commands


def check_arm64_fixups(name, path):
    image = macho_chains.MachO(open(path, "rb").read())
    check(f"{name}: opcode fixups, as before", image.has_opcode_fixups()
          and image.linkedit(macho_chains.LC_DYLD_CHAINED_FIXUPS) is None)


def check_arm64e_fixups(name, path, linked_path):
    """The finished arm64e slice against the image it was made from: every
    recorded pointer an authenticated fixup with the recorded scheme, every
    other fixup the same, the records gone."""
    image = macho_chains.MachO(open(path, "rb").read())
    check(f"{name}: chained fixups only, no opcode fixups",
          not image.has_opcode_fixups() and image.linkedit(macho_chains.LC_DYLD_CHAINED_FIXUPS))
    check(f"{name}: every chain in DYLD_CHAINED_PTR_ARM64E",
          image.pointer_formats() == {macho_chains.ARM64E}, str(image.pointer_formats()))
    linked = macho_chains.MachO(open(linked_path, "rb").read())
    records = linked.records()
    record_slots = set()
    if linked.section("__auth_records"):
        _, _, address, size, _ = linked.section("__auth_records")
        record_slots = set(range(address, address + size, 16))
    before = {f.address: f for f in linked.fixups() if f.address not in record_slots}
    after = {f.address: f for f in image.fixups()}
    check(f"{name}: the same fixup locations as the linked image", set(before) == set(after),
          f"extra {sorted(map(hex, set(after) - set(before)))}, missing {sorted(map(hex, set(before) - set(after)))}")
    wrong = []
    for address, f in sorted(after.items()):
        old = before.get(address)
        if old is None:
            continue
        want = records.get(address)
        if (f.bind, f.target, f.addend) != (old.bind, old.target, old.addend) or f.auth != want:
            wrong.append(f"{address:#x}: {f} (linked {old}, recorded {want})")
    check(f"{name}: {len(records)} recorded pointers signed with their schemes, the rest unchanged",
          records and not wrong, "; ".join(wrong[:5]))
    section = image.section("__auth_records")
    zeroed = section is None or not any(image.data[image.file_offset(section[2]):
                                                   image.file_offset(section[2]) + section[3]])
    check(f"{name}: the records are cleared", zeroed)
    inits = image.section("__mod_init_func")
    plain = inits is None or all(after[a].auth is None for a in range(inits[2], inits[2] + inits[3], 8))
    check(f"{name}: initializers plain", plain)
    print(f"  {name}: {len(after)} fixups, {sum(1 for f in after.values() if f.auth)} authenticated")


def rel_folder(path, source):
    return os.path.relpath(path, source).split(os.sep)[0]


def check_sources(source, phone_build, sim_build):
    deliverables = []
    for folder in ("tweak", "settings-pane"):
        for path in glob.glob(os.path.join(source, folder, "**", "*"), recursive=True):
            # resources/ holds build-time tools (the header image's drawer),
            # which run on this machine and are no part of a deliverable.
            if os.sep + "resources" + os.sep in path:
                continue
            if path.endswith((".cc", ".h")) and not path.endswith(("_test.cc", "_test_support.h")):
                deliverables.append(path)
    conditional, platform_includes = [], []
    for path in deliverables:
        with open(path, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                if re.match(r"\s*#\s*(if|ifdef|ifndef|elif)\b", line):
                    conditional.append(f"{os.path.relpath(path, source)}:{number}")
                m = re.match(r'\s*#\s*include\s*[<"]([^">]+)[">]', line)
                if m and not m.group(1).startswith(("runtime/", "tweak/", "settings-pane/")):
                    platform_includes.append(f"{os.path.relpath(path, source)}:{number} {m.group(1)}")
    check("deliverables: no #if in tweak/ or settings-pane/", not conditional, ", ".join(conditional))
    check("deliverables: include only runtime/*.h and their own headers", not platform_includes,
          ", ".join(platform_includes))
    # Each source was compiled by both builds. The phone build compiles each
    # deliverable as one unit: a source is compiled for a slice when a unit
    # of that slice that was compiled includes it.
    compiled = {arch: phone_units(phone_build, arch) for arch in SUBTYPES}
    for path in sorted(p for p in deliverables if p.endswith(".cc")):
        base = os.path.basename(path)
        phone = all(os.path.realpath(path) in compiled[arch] for arch in SUBTYPES)
        target = "Velmo.dir" if rel_folder(path, source) == "tweak" else "VelmoPreferences.dir"
        sim = glob.glob(os.path.join(sim_build, rel_folder(path, source), "CMakeFiles", target, "**",
                                     base + ".o"), recursive=True)
        rel = os.path.relpath(path, source)
        check(f"{rel}: built for the phone and the simulated device", bool(phone) and bool(sim),
              f"phone {bool(phone)}, simulated {bool(sim)}")


def phone_units(phone_build, arch):
    """The real paths of the sources that the compiled units of a slice include."""
    sources = set()
    for unit in glob.glob(os.path.join(phone_build, "CMakeFiles", f"*_{arch}.dir", "Unity", "*.cxx")):
        if not os.path.exists(unit + ".obj"):
            continue
        with open(unit, encoding="utf-8") as f:
            for line in f:
                m = re.match(r'\s*#\s*include\s*"([^"]+)"', line)
                if m:
                    sources.add(os.path.realpath(m.group(1)))
    return sources


def check_package(deb):
    fields = {}
    for line in run("dpkg-deb", "-f", deb).splitlines():
        if line and not line.startswith(" ") and ":" in line:
            key, value = line.split(":", 1)
            fields[key] = value.strip()
    check("package: Architecture iphoneos-arm64", fields.get("Architecture") == "iphoneos-arm64",
          fields.get("Architecture", ""))
    check("package: Package com.qel.velmo", fields.get("Package") == "com.qel.velmo")
    check("package: Depends on the hooking runtime and the Settings loader",
          fields.get("Depends") == "mobilesubstrate, preferenceloader", fields.get("Depends", ""))
    description = run("dpkg-deb", "-f", deb, "Description")
    check("package: Description names both slices' phones",
          "arm64 slice for A9 to A11" in description and "arm64e" in description
          and "A12 and later" in description)
    files = {line.split()[-1] for line in run("dpkg-deb", "-c", deb).splitlines()
             if not line.startswith("d")}
    check("package: file list", files == PACKAGE_FILES,
          f"extra {sorted(files - PACKAGE_FILES)}, missing {sorted(PACKAGE_FILES - files)}")
    with tempfile.TemporaryDirectory() as tmp:
        run("dpkg-deb", "-x", deb, tmp)
        run("dpkg-deb", "-e", deb, os.path.join(tmp, "DEBIAN"))
        for relative in sorted(files):
            path = os.path.join(tmp, relative)
            with open(path, "rb") as f:
                magic = f.read(4)
            if magic == b"\xcf\xfa\xed\xfe":
                signed = any(n == "LC_CODE_SIGNATURE" for n, _ in load_commands(path))
                check(f"package: {relative} is signed", signed)
        with open(os.path.join(tmp, BUNDLE, "Info.plist"), "rb") as f:
            info = plistlib.load(f)
        wanted = {"CFBundleExecutable": "VelmoPreferences",
                  "CFBundleIdentifier": "com.qel.velmopreferences",
                  "NSPrincipalClass": "VLPRootListController", "MinimumOSVersion": "14.0"}
        check("package: the bundle's Info.plist",
              all(info.get(k) == v for k, v in wanted.items()), str(info))
        with open(os.path.join(tmp, "./var/jb/Library/MobileSubstrate/DynamicLibraries/Velmo.plist"),
                  "rb") as f:
            tweak_filter = plistlib.load(f).get("Filter", {})
        check("package: the tweak's filter names Photos and the privacy daemon",
              tweak_filter.get("Bundles") == ["com.apple.mobileslideshow"]
              and tweak_filter.get("Executables") == ["tccd"], str(tweak_filter))
        check("package: the tweak's filter loads where either kind matches (Mode Any)",
              tweak_filter.get("Mode") == "Any", str(tweak_filter))
        with open(os.path.join(tmp, "./var/jb/Library/PreferenceLoader/Preferences/"
                               "VelmoPreferences.plist"), "rb") as f:
            entry = plistlib.load(f).get("entry", {})
        check("package: the Settings entry names its icon", entry.get("icon") == "icon.png", str(entry))
        for name, side in (("icon@2x.png", 58), ("icon@3x.png", 87)):
            with open(os.path.join(tmp, BUNDLE, name), "rb") as f:
                head = f.read(24)
            size = (int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big"))
            check(f"package: {name} is a {side}-pixel PNG",
                  head[:8] == b"\x89PNG\r\n\x1a\n" and size == (side, side), str(size))
        for script, argument in (("postinst", "configure"), ("postrm", "remove")):
            path = os.path.join(tmp, "DEBIAN", script)
            text = open(path, encoding="utf-8").read() if os.path.exists(path) else ""
            check(f"package: {script} restarts Photos with the phone's killall",
                  '/var/jb/usr/bin/killall" -9 MobileSlideShow' in text and argument in text
                  and os.access(path, os.X_OK))
        check("package: no preinst (every chip is served)",
              not os.path.exists(os.path.join(tmp, "DEBIAN", "preinst")))


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    source, phone_build, sim_build = sys.argv[1:]
    velmo = os.path.join(phone_build, "Velmo.dylib")
    pane = os.path.join(phone_build, "VelmoPreferences")
    debs = glob.glob(os.path.join(phone_build, "packages", "com.qel.velmo_*_iphoneos-arm64.deb"))
    if not (os.path.exists(velmo) and os.path.exists(pane) and len(debs) == 1):
        print(f"FAIL the phone build is missing in {phone_build}: run make phone")
        sys.exit(1)
    with tempfile.TemporaryDirectory() as slices:
        found_imports = {}
        for name, path, filetype, dylibs, rpaths, exports in (
                ("Velmo.dylib", velmo, "DYLIB", VELMO_DYLIBS,
                 ["/var/jb/Library/Frameworks", "/var/jb/usr/lib"], VELMO_EXPORTS),
                ("VelmoPreferences", pane, "BUNDLE", PANE_DYLIBS, [], set())):
            archs = run(LIPO, "-archs", path).split()
            check(f"{name}: exactly the arm64 and arm64e slices", archs == ["arm64", "arm64e"], str(archs))
            for arch in SUBTYPES:
                thin = os.path.join(slices, f"{name}.{arch}")
                run(LIPO, "-thin", arch, path, "-output", thin)
                label = f"{name} {arch}"
                commands = check_macho(label, thin, arch, filetype, dylibs, rpaths, exports)
                if name == "Velmo.dylib":
                    ids = [c["name"].split(" (offset")[0] for n, c in commands if n == "LC_ID_DYLIB"]
                    check(f"{label}: install name", ids == [INSTALL_NAME], str(ids))
                if arch == "arm64":
                    check_arm64_fixups(label, thin)
                else:
                    check_arm64e_fixups(label, thin,
                                        os.path.join(phone_build, "slices", f"{name}.arm64e.linked"))
                found_imports[arch] = imports(thin)
            check(f"{name}: both slices import the same symbols from the same libraries",
                  {k: sorted(v) for k, v in found_imports["arm64"].items()}
                  == {k: sorted(v) for k, v in found_imports["arm64e"].items()})
            for library, symbols in sorted(found_imports["arm64"].items()):
                print(f"  {name} imports from {library}: {' '.join(sorted(symbols))}")
    check_package(debs[0])
    check_sources(source, phone_build, sim_build)
    if failures:
        print(f"{len(failures)} check(s) failed")
        sys.exit(1)


if __name__ == "__main__":
    main()
