#!/usr/bin/env python3
"""The package repository with Debian's APT as its client.

    check_apt_repository.py CMAKE SOURCE PHONE_BUILD

Serves a folder on 127.0.0.1 (a free port, this process's own server, ended
at the end), builds the repository into it with make_repo.cmake for a base
address under that server, and runs apt-get update, apt-get download and
apt-cache show against it with an APT configuration of its own: state, cache,
lists and sources in a temporary folder, the phone's architecture, the
machine's own APT configuration and state untouched. Then checks every
address the depictions name, sileo.json's classes and keys, Release's fields
and sums, and that a copy whose Release no longer matches its index makes
apt-get update fail.
"""
import bz2
import functools
import gzip
import hashlib
import html.parser
import http.server
import json
import lzma
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import urllib.request

ACCENT = "#ff69b4"
PACKAGE = "com.qel.velmo"
# Each class a depiction may use: its required keys, and the keys it may have besides.
SILEO_CLASSES = {
    "DepictionTabView": ({"minVersion", "tintColor", "tabs"}, set()),
    "DepictionStackView": ({"tabname", "views"}, set()),
    "DepictionMarkdownView": ({"markdown"}, set()),
    "DepictionScreenshotsView": ({"itemSize", "itemCornerRadius", "screenshots"}, set()),
    "DepictionHeaderView": ({"title"}, set()),
    "DepictionTableTextView": ({"title", "text"}, set()),
    "DepictionSeparatorView": (set(), set()),
}
SCREENSHOT_KEYS = {"url", "accessibilityText", "fullSizeURL"}

failures = []


def check(name, ok, detail=""):
    print(("PASS " if ok else "FAIL ") + name + ("" if ok or not detail else ": " + str(detail)))
    if not ok:
        failures.append(name)


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def fetch(url):
    """The body at `url`, or None when the server does not serve it."""
    try:
        with urllib.request.build_opener(urllib.request.ProxyHandler({})).open(url, timeout=10) as r:
            return r.read() if r.status == 200 else None
    except OSError:
        return None


def png_size(data):
    if not data or data[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")


class Addresses(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.found = []

    def handle_starttag(self, tag, attrs):
        self.found += [v for k, v in attrs if k in ("src", "href") and v]


def sileo_problems(node, where="root", seen=None):
    """What in a native depiction is not one of the known classes with its keys."""
    problems = []
    if not isinstance(node, dict) or node.get("class") not in SILEO_CLASSES:
        return [f"{where}: not a known class: {str(node)[:80]}"]
    required, optional = SILEO_CLASSES[node["class"]]
    keys = set(node) - {"class"}
    if required - keys:
        problems.append(f"{where} {node['class']}: missing {sorted(required - keys)}")
    if keys - required - optional:
        problems.append(f"{where} {node['class']}: unknown {sorted(keys - required - optional)}")
    if seen is not None:
        seen.add(node["class"])
    for i, tab in enumerate(node.get("tabs", [])):
        problems += sileo_problems(tab, f"{where}.tabs[{i}]", seen)
    for i, view in enumerate(node.get("views", [])):
        problems += sileo_problems(view, f"{where}.views[{i}]", seen)
    if node["class"] == "DepictionScreenshotsView":
        if not re.fullmatch(r"\{\d+(\.\d+)?, \d+(\.\d+)?\}", str(node.get("itemSize"))):
            problems.append(f"{where}: itemSize {node.get('itemSize')!r} is not \"{{w, h}}\"")
        shots = node.get("screenshots") or []
        if not shots:
            problems.append(f"{where}: no screenshots")
        for shot in shots:
            if not isinstance(shot, dict) or set(shot) != SCREENSHOT_KEYS:
                problems.append(f"{where}: a screenshot is not {sorted(SCREENSHOT_KEYS)}: {shot}")
    return problems


def sileo_addresses(node):
    if isinstance(node, dict):
        return [v for k, v in node.items() if k in ("url", "fullSizeURL")] + [
            a for v in node.values() for a in sileo_addresses(v)]
    if isinstance(node, list):
        return [a for v in node for a in sileo_addresses(v)]
    return []


def apt(folder, base, command, cwd=None):
    """Runs an APT command with the configuration of `folder`, whose only source is `base`."""
    for sub in ("state/lists/partial", "cache/archives/partial", "etc/apt.conf.d",
                "etc/preferences.d", "etc/sources.list.d", "etc/trusted.gpg.d", "log"):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
    open(os.path.join(folder, "status"), "a").close()
    with open(os.path.join(folder, "etc", "sources.list"), "w") as f:
        f.write(f"deb [trusted=yes] {base}/ ./\n")
    config = os.path.join(folder, "apt.conf")
    with open(config, "w") as f:
        f.write(f'''Dir::State "{folder}/state";
Dir::State::status "{folder}/status";
Dir::Cache "{folder}/cache";
Dir::Etc "{folder}/etc";
Dir::Etc::SourceList "{folder}/etc/sources.list";
Dir::Etc::SourceParts "{folder}/etc/sources.list.d";
Dir::Etc::Parts "{folder}/etc/apt.conf.d";
Dir::Etc::PreferencesParts "{folder}/etc/preferences.d";
Dir::Etc::TrustedParts "{folder}/etc/trusted.gpg.d";
Dir::Log "{folder}/log";
APT::Architecture "iphoneos-arm64";
APT::Architectures {{ "iphoneos-arm64"; }};
APT::Sandbox::User "root";
Debug::NoLocking "true";
Acquire::Languages "none";
Acquire::Retries "0";
Acquire::http::Proxy "DIRECT";
Acquire::http::Timeout "10";
''')
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    env["APT_CONFIG"] = config
    env["LC_ALL"] = "C"
    return subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True, timeout=120)


def build_repository(cmake, source, phone_build, base, out):
    return subprocess.run(
        [cmake, f"-DINPUTS={phone_build}/package_inputs.cmake", f"-DREPO_URL={base}",
         f"-DOUT={out}", f"-DDRAWER={phone_build}/make_velmo_png",
         f"-DSCALER={phone_build}/scale_png", "-P", f"{source}/phone/repo/make_repo.cmake"],
        capture_output=True, text=True, timeout=300)


def check_release(repo):
    with open(os.path.join(repo, "Release"), encoding="utf-8") as f:
        text = f.read()
    fields = dict(re.findall(r"^([A-Za-z0-9-]+): *(.*)$", text, re.M))
    wanted = {"Origin": "Velmo", "Label": "Velmo", "Suite": "stable", "Codename": "velmo",
              "Architectures": "iphoneos-arm64", "Components": "main"}
    check("Release: its fields", all(fields.get(k) == v for k, v in wanted.items())
          and fields.get("Version") and fields.get("Description"), fields)
    for algorithm, field in (("md5", "MD5Sum"), ("sha256", "SHA256")):
        block = re.search(rf"^{field}:\n((?: .*\n)+)", text, re.M)
        listed = {}
        for line in (block.group(1) if block else "").splitlines():
            digest, size, name = line.split()
            listed[name] = (digest, int(size))
        names = ["Packages", "Packages.gz", "Packages.bz2", "Packages.xz"]
        actual = {}
        for name in names:
            with open(os.path.join(repo, name), "rb") as f:
                data = f.read()
            actual[name] = (hashlib.new(algorithm, data).hexdigest(), len(data))
        check(f"Release: the {field} of every index", listed == actual, listed)
    with open(os.path.join(repo, "Packages"), "rb") as f:
        plain = f.read()
    for name, opener in (("Packages.gz", gzip.open), ("Packages.bz2", bz2.open),
                         ("Packages.xz", lzma.open)):
        with opener(os.path.join(repo, name)) as f:
            check(f"{name} holds Packages", f.read() == plain)


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    cmake, source, phone_build = sys.argv[1:]
    with tempfile.TemporaryDirectory() as tmp:
        site = os.path.join(tmp, "site")
        os.makedirs(site)
        server = http.server.ThreadingHTTPServer(
            ("127.0.0.1", 0), functools.partial(QuietHandler, directory=site))
        thread = threading.Thread(target=server.serve_forever, daemon=True)
        thread.start()
        try:
            run_checks(cmake, source, phone_build, tmp, site, server.server_address[1])
        finally:
            server.shutdown()
            server.server_close()
            thread.join()
    if failures:
        print(f"{len(failures)} check(s) failed")
        sys.exit(1)
    print("all checks passed")


def run_checks(cmake, source, phone_build, tmp, site, port):
    # A base address with a path, as a hosted repository has.
    base = f"http://127.0.0.1:{port}/velmo/repo"
    repo = os.path.join(site, "velmo", "repo")
    built = build_repository(cmake, source, phone_build, base + "/", repo)
    check("make_repo.cmake builds the repository", built.returncode == 0, built.stderr[-2000:])
    if built.returncode != 0:
        return
    debs = sorted(os.listdir(os.path.join(repo, "debs")))
    check("the repository holds the one package", len(debs) == 1, debs)
    check_release(repo)

    update = apt(os.path.join(tmp, "apt"), base, ["apt-get", "update"])
    check("apt-get update reads the repository", update.returncode == 0
          and "W:" not in update.stdout + update.stderr, update.stdout + update.stderr)
    download_dir = os.path.join(tmp, "download")
    os.makedirs(download_dir)
    download = apt(os.path.join(tmp, "apt"), base, ["apt-get", "download", PACKAGE], cwd=download_dir)
    got = sorted(os.listdir(download_dir))
    check("apt-get download fetches the package", download.returncode == 0 and got == debs,
          download.stdout + download.stderr + str(got))
    if got == debs:
        with open(os.path.join(download_dir, got[0]), "rb") as a, \
                open(os.path.join(repo, "debs", debs[0]), "rb") as b:
            check("the downloaded package is byte for byte the built one", a.read() == b.read())

    show = apt(os.path.join(tmp, "apt"), base, ["apt-cache", "show", PACKAGE])
    fields = dict(re.findall(r"^([A-Za-z0-9-]+): *(.*)$", show.stdout, re.M))
    page = f"{base}/depictions/{PACKAGE}"
    wanted = {"Depiction": f"{page}/index.html", "SileoDepiction": f"{page}/sileo.json",
              "Icon": f"{page}/icon.png", "Author": "Qel <velmo@example.com>",
              "Architecture": "iphoneos-arm64"}
    check("apt-cache show: the depiction fields follow the base address",
          show.returncode == 0 and all(fields.get(k) == v for k, v in wanted.items()),
          show.stdout + show.stderr)

    index = fetch(wanted["Depiction"])
    check("the depiction page is served", index is not None)
    addresses = Addresses()
    addresses.feed((index or b"").decode("utf-8"))
    check("the depiction page shows the screenshots", sum(
        "/screenshots/" in a for a in addresses.found) >= 6, addresses.found)
    sileo_bytes = fetch(wanted["SileoDepiction"])
    try:
        sileo = json.loads(sileo_bytes or b"")
    except ValueError as error:
        sileo = None
        check("sileo.json parses", False, error)
    seen = set()
    problems = sileo_problems(sileo, seen=seen) if sileo is not None else ["no sileo.json"]
    check("sileo.json: only the known classes, each with its required keys", not problems,
          "; ".join(problems))
    check("sileo.json: the root is a tab view in the accent colour",
          isinstance(sileo, dict) and sileo.get("class") == "DepictionTabView"
          and str(sileo.get("tintColor")).lower() == ACCENT)
    check("sileo.json: uses every class it may", seen == set(SILEO_CLASSES), sorted(seen))
    every = addresses.found + sileo_addresses(sileo) + [wanted["Icon"], f"{base}/CydiaIcon.png"]
    unserved = [a for a in every if not a.startswith(base + "/") or fetch(a) is None]
    check(f"every address in the depictions ({len(every)}) is served under the base address",
          not unserved, unserved)
    for name in ("CydiaIcon.png", f"depictions/{PACKAGE}/icon.png"):
        size = png_size(fetch(f"{base}/{name}"))
        check(f"{name} is a PNG of 120x120 or more", size is not None and size[0] == size[1]
              and size[0] >= 120, size)
    for shot in sileo_addresses(sileo):
        size = png_size(fetch(shot))
        check(f"{shot.rsplit('/', 1)[-1]} is a screen", size is not None and size[1] > size[0], size)

    # A copy whose index changed after its Release was made: APT must refuse it.
    broken = os.path.join(site, "broken")
    shutil.copytree(repo, broken)
    with open(os.path.join(broken, "Packages"), "rb") as f:
        changed = f.read().replace(b"Version: ", b"Version: 9", 1)
    for name, opener in (("Packages", open), ("Packages.gz", gzip.open),
                         ("Packages.bz2", bz2.open), ("Packages.xz", lzma.open)):
        with opener(os.path.join(broken, name), "wb") as f:
            f.write(changed)
    refused = apt(os.path.join(tmp, "apt-broken"), f"http://127.0.0.1:{port}/broken",
                  ["apt-get", "update"])
    output = refused.stdout + refused.stderr
    check("apt-get update fails on a repository whose Release sums do not match",
          refused.returncode != 0 and ("Hash Sum mismatch" in output or "unexpected size" in output),
          output)


if __name__ == "__main__":
    main()
