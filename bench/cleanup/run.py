#!/usr/bin/env python3
"""Cleanup benchmark: builds a realistic Linux home and compares what ombrelo-cli finds in it,
category by category, with BleachBit's preview of its cache cleaners (when installed) and with
`du` of the same folders.

Usage: bench/cleanup/run.py [--home DIR] [--cli PATH] [--keep]

The home is made in a temporary folder (or DIR, which must not exist) and removed afterwards
unless --keep is given. BleachBit only ever runs with --preview and HOME pointing at that home.
"""

import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
KB = 1024
MB = 1024 * 1024
DAY = 86400

# Where each file of the home goes: (folder, number of files, bytes per file, age in days).
# Caches a desktop user has after some months with these applications, and the personal data
# that sits beside them.
LAYOUT = [
    # Chrome: disk cache in ~/.cache, profile with personal data in ~/.config.
    (".cache/google-chrome/Default/Cache/Cache_Data", 400, 60 * KB, 2),
    (".cache/google-chrome/Default/Code Cache/js", 200, 20 * KB, 2),
    (".config/google-chrome/Default/GPUCache", 4, 500 * KB, 2),
    (".config/google-chrome/Default/Service Worker/CacheStorage/3f1a", 60, 100 * KB, 2),
    (".config/google-chrome/Default/Local Storage/leveldb", 5, 200 * KB, 1),
    (".config/google-chrome/Default/IndexedDB/https_mail.example_0.indexeddb.leveldb", 5, 400 * KB, 1),
    (".config/google-chrome/Crash Reports/completed", 2, 500 * KB, 60),
    # Firefox: cache in ~/.cache, profile in ~/.mozilla.
    (".cache/mozilla/firefox/k1.default-release/cache2/entries", 500, 40 * KB, 3),
    (".cache/mozilla/firefox/k1.default-release/startupCache", 2, 1 * MB, 3),
    (".mozilla/firefox/k1.default-release/storage/default", 10, 300 * KB, 1),
    (".mozilla/firefox/Crash Reports/pending", 2, 300 * KB, 45),
    # Slack, Discord and VS Code (Electron): caches beside Local Storage, IndexedDB and cookies.
    (".config/Slack/Cache/Cache_Data", 300, 50 * KB, 1),
    (".config/Slack/Code Cache/js", 100, 50 * KB, 1),
    (".config/Slack/GPUCache", 2, 512 * KB, 1),
    (".config/Slack/Service Worker/CacheStorage/9c0d", 80, 100 * KB, 1),
    (".config/Slack/IndexedDB/https_app.slack.com_0.indexeddb.leveldb", 6, 500 * KB, 1),
    (".config/Slack/Local Storage/leveldb", 4, 250 * KB, 1),
    (".config/Slack/Crashpad/completed", 2, 400 * KB, 50),
    (".config/Slack/logs", 3, 200 * KB, 40),
    (".config/discord/Cache/Cache_Data", 250, 40 * KB, 1),
    (".config/discord/Code Cache/js", 60, 50 * KB, 1),
    (".config/discord/GPUCache", 1, 512 * KB, 1),
    (".config/discord/Local Storage/leveldb", 3, 100 * KB, 1),
    (".config/discord/0.0.40/modules/discord_voice", 10, 2 * MB, 30),
    (".config/Code/CachedData/8b3775030ed1a69b13e4f4c628c612102e30a681", 40, 200 * KB, 5),
    (".config/Code/CachedExtensionVSIXs", 6, 2 * MB, 10),
    (".config/Code/Cache/Cache_Data", 40, 50 * KB, 1),
    (".config/Code/Code Cache/js", 60, 50 * KB, 1),
    (".config/Code/User/globalStorage", 5, 100 * KB, 1),
    (".config/Code/logs/20240101T100000", 5, 200 * KB, 90),
    # Flatpak builds keep their own ~/.config and ~/.cache.
    (".var/app/com.spotify.Client/cache/spotify/Data", 50, 100 * KB, 4),
    (".var/app/com.slack.Slack/config/Slack/Cache/Cache_Data", 60, 50 * KB, 1),
    # Other applications and the package managers.
    (".cache/spotify/Data", 200, 100 * KB, 4),
    (".cache/thumbnails/normal", 400, 15 * KB, 20),
    (".cache/thumbnails/large", 100, 60 * KB, 20),
    (".cache/pip/http-v2/a/b/c", 150, 100 * KB, 15),
    (".cache/pip/wheels/ab/cd", 5, 1 * MB, 15),
    (".npm/_cacache/content-v2/sha512/aa", 300, 30 * KB, 10),
    (".npm/_logs", 10, 20 * KB, 60),
    (".cache/yarn/v6", 100, 40 * KB, 10),
    (".cache/go-build/0a", 200, 25 * KB, 10),
    (".cargo/registry/cache/index.crates.io-6f17d22bba15001f", 100, 80 * KB, 10),
    (".cargo/registry/src/index.crates.io-6f17d22bba15001f/serde-1.0.200/src", 40, 500 * KB, 10),
    (".gradle/caches/modules-2/files-2.1", 60, 100 * KB, 10),
    (".m2/repository/org/example/lib/1.0", 5, 1 * MB, 10),
    (".cache/JetBrains/PyCharm2024.1/caches", 20, 400 * KB, 3),
    # Logs.
    (".cache/tracker3/logs", 4, 100 * KB, 70),
    (".local/state/wireplumber", 2, 50 * KB, 80),
    # Projects.
    ("Projects/tool/target/debug/deps", 120, 250 * KB, 2),
    ("Projects/tool/src", 10, 8 * KB, 2),
    ("Projects/analysis/.venv/lib/python3.11/site-packages/numpy", 60, 400 * KB, 20),
    ("Projects/analysis/pkg/__pycache__", 10, 30 * KB, 1),
    ("Projects/analysis/.pytest_cache/v/cache", 3, 2 * KB, 1),
    ("Projects/engine/build/CMakeFiles/engine.dir", 40, 200 * KB, 1),
    ("Projects/app/build/libs", 4, 1 * MB, 1),
    ("Projects/site/node_modules/react/cjs", 100, 150 * KB, 5),
    ("Documents", 20, 500 * KB, 100),
]

# Single files: personal data beside the caches, and project markers.
FILES = {
    ".config/google-chrome/Default/Cookies": 300 * KB,
    ".config/google-chrome/Default/History": 2 * MB,
    ".config/google-chrome/Default/Login Data": 50 * KB,
    ".mozilla/firefox/k1.default-release/cookies.sqlite": 500 * KB,
    ".mozilla/firefox/k1.default-release/places.sqlite": 5 * MB,
    ".config/Slack/Cookies": 30 * KB,
    ".config/discord/Cookies": 30 * KB,
    ".config/Code/User/settings.json": 2 * KB,
    ".config/spotify/prefs": 1 * KB,
    "Projects/tool/Cargo.toml": 200,
    "Projects/tool/Cargo.lock": 20 * KB,
    "Projects/analysis/pyproject.toml": 500,
    "Projects/analysis/pkg/mod.py": 2 * KB,
    "Projects/analysis/.venv/pyvenv.cfg": 100,
    "Projects/engine/CMakeLists.txt": 1 * KB,
    "Projects/engine/build/CMakeCache.txt": 30 * KB,
    "Projects/app/build.gradle.kts": 1 * KB,
    "Projects/site/package.json": 1 * KB,
    "Projects/site/package-lock.json": 200 * KB,
}

# BleachBit's cache cleaners that have a counterpart here, by Ombrelo's category.
BLEACHBIT = [
    ("Browser caches", ["google_chrome.cache", "chromium.cache", "brave.cache", "opera.cache",
                        "firefox.cache"]),
    ("Chat app caches", ["slack.cache", "discord.cache"]),
    ("App caches", ["thumbnails.cache", "zoom.cache"]),
    ("Old logs & crash reports", ["firefox.crash_reports"]),
]


def build_home(home):
    rng = random.Random(20261206)
    now = time.time()
    for folder, count, size, age in LAYOUT:
        path = os.path.join(home, folder)
        os.makedirs(path, exist_ok=True)
        for i in range(count):
            name = "%08x" % rng.getrandbits(32)
            if folder.endswith(("Crash Reports/completed", "Crash Reports/pending", "Crashpad/completed")):
                name += ".dmp"
            elif folder.endswith(("logs", "wireplumber", "_logs")) or "/logs/" in folder:
                name += ".log"
            elif folder.endswith("__pycache__"):
                name += ".cpython-311.pyc"
            file = os.path.join(path, name)
            with open(file, "wb") as out:
                out.write(b"\0" * size)
            os.utime(file, (now - age * DAY, now - age * DAY))
    for relative, size in FILES.items():
        file = os.path.join(home, relative)
        os.makedirs(os.path.dirname(file), exist_ok=True)
        with open(file, "wb") as out:
            out.write(b"\0" * size)


def run_json(command):
    return json.loads(subprocess.run(command, check=True, capture_output=True, text=True).stdout)


def timed(command, runs=3):
    best = None
    for _ in range(runs):
        start = time.monotonic()
        subprocess.run(command, check=True, capture_output=True)
        elapsed = time.monotonic() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def bleachbit_bytes(home, cleaners):
    """Bytes of the files BleachBit's preview lists, measured on disk, and the paths listed."""
    env = dict(os.environ, HOME=home)
    env.pop("XDG_CONFIG_HOME", None)
    env.pop("XDG_CACHE_HOME", None)
    out = subprocess.run(["bleachbit", "--preview"] + cleaners, env=env, capture_output=True,
                         text=True).stdout
    total = 0
    paths = []
    for line in out.splitlines():
        match = re.match(r"^Delete [^/]*?(/.*)$", line)
        if match and match.group(1).startswith(home + "/"):
            path = match.group(1)
            paths.append(path)
            if os.path.isfile(path) and not os.path.islink(path):
                total += os.lstat(path).st_size
    return total, paths


def du_bytes(paths):
    if not paths:
        return 0
    out = subprocess.run(["du", "-sbc", "--apparent-size"] + paths, check=True,
                         capture_output=True, text=True).stdout
    return int(out.splitlines()[-1].split()[0])


def mb(count):
    return "%.1f" % (count / 1e6)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--home")
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "dev", "ombrelo-cli"))
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args()
    scratch = None
    if args.home:
        home = os.path.abspath(args.home)
    else:
        scratch = tempfile.mkdtemp(prefix="ombrelo-bench-home-")
        home = os.path.join(scratch, "home")
    os.makedirs(home)
    try:
        build_home(home)
        total = du_bytes([home])
        scan = run_json([args.cli, "cleanup-scan", "--home", home, "--json"])
        projects = run_json([args.cli, "detect", "--home", home, "--json",
                             os.path.join(home, "Projects")])
        found = {}
        for candidate in scan["candidates"] + projects["candidates"]:
            category = candidate["category"]
            path = candidate["node"]["id"]
            found.setdefault(category, []).append(path)
            found.setdefault(category + " bytes", 0)
            found[category + " bytes"] += candidate["node"]["logicalSize"]
        seconds = timed([args.cli, "cleanup-scan", "--home", home, "--json"])

        has_bleachbit = shutil.which("bleachbit") is not None
        rows = []
        categories = ["Browser caches", "Chat app caches", "App caches", "AI app caches",
                      "Old logs & crash reports", "Project dependencies", "Build caches"]
        bleach = {}
        if has_bleachbit:
            for category, cleaners in BLEACHBIT:
                bleach[category] = bleachbit_bytes(home, cleaners)
            shutil.rmtree(os.path.join(home, ".config", "bleachbit"), ignore_errors=True)
        for category in categories:
            paths = [p[len("file://"):].rstrip("/") for p in found.get(category, [])]
            paths = [re.sub(r"%([0-9A-Fa-f]{2})", lambda m: chr(int(m.group(1), 16)), p)
                     for p in paths]
            rows.append((category, found.get(category + " bytes", 0), len(paths), du_bytes(paths),
                         bleach.get(category, (None, []))))
        print("Home: %s MB in all, %s suggestions from cleanup-scan and detect" %
              (mb(total), sum(row[2] for row in rows)))
        print()
        print("| category | Ombrelo (MB) | items | `du` of the same paths (MB) | BleachBit preview (MB) |")
        print("|---|---:|---:|---:|---:|")
        for category, ours, items, du, (theirs, _) in rows:
            print("| %s | %s | %d | %s | %s |" % (category, mb(ours), items, mb(du),
                                                 "—" if theirs is None else mb(theirs)))
        ours_total = sum(row[1] for row in rows)
        theirs_total = sum(row[4][0] or 0 for row in rows)
        print("| all | %s | %d | %s | %s |" % (mb(ours_total), sum(row[2] for row in rows),
                                               mb(sum(row[3] for row in rows)),
                                               mb(theirs_total) if has_bleachbit else "—"))
        if has_bleachbit:
            whole, _ = bleachbit_bytes(home, ["system.cache"])
            shutil.rmtree(os.path.join(home, ".config", "bleachbit"), ignore_errors=True)
            print()
            print("BleachBit system.cache (all of ~/.cache, whatever wrote it): %s MB" % mb(whole))
        print()
        print("cleanup-scan of this home: %.3f s (best of 3)" % seconds)
        if has_bleachbit:
            ours_paths = set()
            for category in categories:
                for p in found.get(category, []):
                    ours_paths.add(p[len("file://"):].rstrip("/").replace("%20", " "))
            missed = set()
            for _, (_, paths) in bleach.items():
                for path in paths:
                    if not any(path == p or path.startswith(p + "/") for p in ours_paths):
                        missed.add(os.path.dirname(path)[len(home) + 1:])
            print()
            print("Folders whose files BleachBit lists and Ombrelo does not suggest:")
            for folder in sorted(missed):
                print("  " + folder)
    finally:
        if scratch and not args.keep:
            shutil.rmtree(scratch)


if __name__ == "__main__":
    sys.exit(main())
