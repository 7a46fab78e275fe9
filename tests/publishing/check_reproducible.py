#!/usr/bin/env python3
"""Both packages, and the repository's files, are the same bytes when built again.

    check_reproducible.py CMAKE SOURCE BUILD PHONE_BUILD PACKAGE_NAME

Packs the simulated device's package and the phone's package a second time
from the builds' own inputs, later and under a umask that would make every
new file private, and compares each with the one the build made; builds the
repository twice and compares every file.
"""
import filecmp
import glob
import os
import subprocess
import sys
import tempfile

failures = []


def check(name, ok, detail=""):
    print(("PASS " if ok else "FAIL ") + name + ("" if ok or not detail else ": " + str(detail)))
    if not ok:
        failures.append(name)


def run(command):
    env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    done = subprocess.run(command, capture_output=True, text=True, env=env, timeout=300,
                          preexec_fn=lambda: os.umask(0o077))
    if done.returncode != 0:
        print(done.stdout + done.stderr)
    return done.returncode == 0


def same_bytes(a, b):
    return os.path.exists(a) and os.path.exists(b) and filecmp.cmp(a, b, shallow=False)


def main():
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    cmake, source, build, phone_build, package_name = sys.argv[1:]
    with tempfile.TemporaryDirectory() as tmp:
        again = os.path.join(tmp, "device.deb")
        ok = run([cmake, f"-DBUILD={build}", f"-DSTAGE={tmp}/device-stage",
                  f"-DCONTROL={build}/device/package/control",
                  f"-DSCRIPTS={source}/device/package/com.qel.velmo", f"-DDEB={again}",
                  "-P", f"{source}/device/package/make_deb.cmake"])
        check("the device's package packed again is the same bytes",
              ok and same_bytes(again, os.path.join(build, "packages", package_name)))

        phone_debs = glob.glob(os.path.join(phone_build, "packages", "*_iphoneos-arm64.deb"))
        again = os.path.join(tmp, "phone.deb")
        ok = run([cmake, f"-DSTAGE={tmp}/phone-stage", f"-DDEB={again}",
                  f"-DCONTROL={phone_build}/control",
                  f"-DINPUTS={phone_build}/package_inputs.cmake",
                  "-P", f"{source}/phone/package/make_deb.cmake"])
        check("the phone's package packed again is the same bytes",
              ok and len(phone_debs) == 1 and same_bytes(again, phone_debs[0]), phone_debs)

        repos = [os.path.join(tmp, name) for name in ("first", "second")]
        for repo in repos:
            ok = run([cmake, f"-DINPUTS={phone_build}/package_inputs.cmake",
                      "-DREPO_URL=https://repo.example.org/velmo", f"-DOUT={repo}",
                      f"-DDRAWER={phone_build}/make_velmo_png", f"-DSCALER={phone_build}/scale_png",
                      "-P", f"{source}/phone/repo/make_repo.cmake"]) and ok
        names = [sorted(os.path.relpath(os.path.join(d, f), repo) for d, _, fs in os.walk(repo)
                        for f in fs) for repo in repos]
        differ = [n for n in names[0] if not same_bytes(*(os.path.join(r, n) for r in repos))]
        check("the repository built twice is the same files and bytes",
              ok and names[0] == names[1] and "Release" in names[0] and not differ, differ)

        # An address that would end a control field or a string is refused.
        refused = subprocess.run(
            [cmake, f"-DINPUTS={phone_build}/package_inputs.cmake",
             '-DREPO_URL=http://x.example/"\nDepends: other', f"-DOUT={tmp}/bad",
             f"-DDRAWER={phone_build}/make_velmo_png", f"-DSCALER={phone_build}/scale_png",
             "-P", f"{source}/phone/repo/make_repo.cmake"], capture_output=True, text=True)
        check("a base address with a quote or a line break is refused, nothing built",
              refused.returncode != 0 and "REPO_URL" in refused.stderr
              and not os.path.exists(f"{tmp}/bad"), refused.stderr[-500:])
    if failures:
        print(f"{len(failures)} check(s) failed")
        sys.exit(1)
    print("all checks passed")


if __name__ == "__main__":
    main()
