#!/usr/bin/env python3
"""Compares `ombrelo-cli duplicates` with jdupes, rdfind and fdupes on one warm corpus.

Builds the command line tool (Release) and the hashing floor if needed, writes the seeded corpus
if it is missing, reads every file once so that the page cache is warm, then runs every tool once
per round, several rounds, so that a busy spell of the machine hits all tools alike. It checks
that every tool reports the same sets of identical files, and prints the best and median wall
time, the CPU time, the peak memory, and how the default `ombrelo-cli duplicates` (one thread per
processor) compares with the two-thread aligned floor and with jdupes: best against best, and the
median of the ratios within each round. With --write-doc the table replaces the "Duplicate
finder" section of docs/benchmarks.md.

Run by hand on a quiet machine; nothing here runs in CI. On a shared machine, say so with
--shared so that the document records it.
"""

import argparse
import atexit
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse
import json

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def build_cli(build_dir):
    cli = os.path.join(build_dir, "ombrelo-cli")
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=Release", "-DOMBRELO_TESTS=OFF"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "--target", "ombrelo-cli", "-j2"], check=True,
                   stdout=subprocess.DEVNULL)
    return cli


def build_floor(work):
    floor = os.path.join(work, "floor")
    subprocess.run(["g++", "-O2", "-std=c++20", "-o", floor, os.path.join(HERE, "floor.cpp"),
                    "-lcrypto", "-pthread"], check=True)
    return floor


def build_phases(work, build_dir):
    """The per-phase timer, linked with the core of `build_dir`; None without that core."""
    core = os.path.join(build_dir, "libVarnokCore.a")
    if not os.path.exists(core):
        return None
    phases = os.path.join(work, "phases")
    subprocess.run(["g++", "-O2", "-std=c++20", "-I", ROOT, "-o", phases,
                    os.path.join(HERE, "phases.cpp"), core, "-lcrypto", "-lutf8proc",
                    "-pthread"], check=True)
    return phases


def warm(corpus):
    for folder, _, names in os.walk(corpus):
        for name in names:
            with open(os.path.join(folder, name), "rb") as f:
                while f.read(1 << 20):
                    pass


def run_once(argv, cwd):
    """Wall seconds, user+system CPU seconds, peak resident KB and stdout of one run."""
    # GNU time reports the tool's own CPU time and peak, not those of this script's forked copy.
    report_file = os.path.join(cwd, "time.txt")
    start = time.perf_counter()
    process = subprocess.run(["/usr/bin/time", "-f", "%U %S %M", "-o", report_file] + argv,
                             cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if process.returncode != 0:
        sys.exit(f"{' '.join(argv)} failed with status {process.returncode}")
    with open(report_file) as f:
        user, system, peak = f.read().split()[-3:]
    return (elapsed, float(user) + float(system), int(peak),
            process.stdout.decode("utf-8", "surrogateescape"))


def blank_line_groups(text):
    groups, current = [], []
    for line in text.splitlines():
        if line.strip():
            current.append(line)
        elif current:
            groups.append(current)
            current = []
    if current:
        groups.append(current)
    return groups


def ombrelo_groups(text):
    result = json.loads(text)
    return [[urllib.parse.unquote(urllib.parse.urlparse(f["id"]).path) for f in g["files"]]
            for g in result["groups"]]


def rdfind_groups(results_file):
    by_id = {}
    with open(results_file, encoding="utf-8", errors="surrogateescape") as f:
        for line in f:
            if line.startswith("#"):
                continue
            fields = line.rstrip("\n").split(" ", 7)
            by_id.setdefault(abs(int(fields[1])), []).append(fields[7])
    return [paths for paths in by_id.values() if len(paths) > 1]


def normalised(groups):
    return sorted(tuple(sorted(g)) for g in groups)


def version(argv):
    try:
        out = subprocess.run(argv, capture_output=True, text=True).stdout
        return out.strip().splitlines()[0]
    except (OSError, IndexError):
        return "?"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--corpus", default="/tmp/ombrelo-dup-corpus")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--cli", help="ombrelo-cli to measure (default: build one in build/bench)")
    parser.add_argument("--write-doc", action="store_true", help="update docs/benchmarks.md")
    parser.add_argument("--shared", action="store_true",
                        help="record that other work was running on the machine")
    args = parser.parse_args()

    corpus = os.path.abspath(args.corpus)
    if not os.path.isdir(corpus):
        subprocess.run([sys.executable, os.path.join(HERE, "make_corpus.py"), corpus], check=True)
    cli = os.path.abspath(args.cli) if args.cli else build_cli(os.path.join(ROOT, "build", "bench"))
    work = tempfile.mkdtemp(prefix="ombrelo-bench-")
    atexit.register(shutil.rmtree, work, True)
    floor = build_floor(work)
    rdfind_results = os.path.join(work, "results.txt")

    ours = "ombrelo-cli duplicates"
    floor2 = "floor, 2 threads, aligned buffer"
    tools = [
        ("floor, 1 thread", [floor, corpus, "1"], None),
        ("floor, 2 threads", [floor, corpus, "2"], None),
        ("floor, 1 thread, aligned buffer", [floor, corpus, "1", "aligned"], None),
        (floor2, [floor, corpus, "2", "aligned"], None),
        (ours, [cli, "duplicates", "--json", corpus], ombrelo_groups),
        ("ombrelo-cli duplicates --jobs 1", [cli, "duplicates", "--json", "--jobs", "1", corpus],
         ombrelo_groups),
        ("jdupes -r", ["jdupes", "-r", "-q", corpus], blank_line_groups),
        ("rdfind -dryrun true",
         ["rdfind", "-dryrun", "true", "-outputname", rdfind_results, corpus],
         lambda _: rdfind_groups(rdfind_results)),
        ("fdupes -r", ["fdupes", "-r", "-q", corpus], blank_line_groups),
    ]

    print(f"warming the page cache with {corpus} ...", flush=True)
    warm(corpus)
    load_before = os.getloadavg()[0]
    walls = {name: [] for name, _, _ in tools}
    cpus = {name: [] for name, _, _ in tools}
    peaks = {name: [] for name, _, _ in tools}
    outputs = {}
    for run in range(args.runs + 1):
        for name, argv, _ in tools:
            elapsed, cpu, peak, output = run_once(argv, work)
            outputs[name] = output
            if run > 0:  # the first round only warms up
                walls[name].append(elapsed)
                cpus[name].append(cpu)
                peaks[name].append(peak)
        if run > 0:
            print(f"  round {run}: {ours} {walls[ours][-1]:.2f} s, {floor2} "
                  f"{walls[floor2][-1]:.2f} s, jdupes {walls['jdupes -r'][-1]:.2f} s", flush=True)
    load_after = os.getloadavg()[0]

    reference = None
    agree = {}
    rows = []
    for name, _, parse in tools:
        if parse is not None:
            groups = normalised(parse(outputs[name]))
            if reference is None:
                reference = groups
            agree[name] = groups == reference
        best = min(walls[name])
        rows.append((name, best, statistics.median(walls[name]),
                     cpus[name][walls[name].index(best)], max(peaks[name])))

    truth_file = corpus.rstrip("/") + ".groups.json"
    truth_ok = None
    if os.path.exists(truth_file):
        with open(truth_file) as f:
            truth_ok = normalised(json.load(f)) == reference

    best = {name: min(walls[name]) for name in walls}
    paired = {other: statistics.median(w / o for w, o in zip(walls[ours], walls[other]))
              for other in (floor2, "jdupes -r")}
    to_floor, to_jdupes = best[ours] / best[floor2], best[ours] / best["jdupes -r"]
    our_peak = max(peaks[ours]) / 1024
    threads = os.cpu_count()
    files = sum(len(n) for _, _, n in os.walk(corpus))
    size = sum(os.path.getsize(os.path.join(d, n)) for d, _, ns in os.walk(corpus) for n in ns)
    machine = (f"Machine: {threads} cores, {platform.processor() or platform.machine()}, "
               f"Linux {platform.release()}. Measured {time.strftime('%Y-%m-%d')}; load average "
               f"{load_before:.1f} before and {load_after:.1f} after the runs.")
    if args.shared:
        machine += (" The machine was shared with other work during the runs, so wall times are "
                    "noisy; the ratios within a round and the CPU times are the steadier figures.")
    one_thread = best["floor, 1 thread, aligned buffer"]
    if best[floor2] > 0.8 * one_thread:
        machine += (f" The two-thread floor took {best[floor2] / one_thread:.2f}× the time of "
                    "the one-thread floor, so little more than one core was free for the tools.")
    lines = [
        "## Duplicate finder",
        "",
        f"Corpus: `bench/duplicates/make_corpus.py` (default seed), {files:,} files, "
        f"{size / 1e9:.2f} GB, {len(reference)} sets of identical files; page cache warm. "
        f"`bench/duplicates/run.py` runs every tool once per round, {args.runs} rounds after one "
        "warm-up round; best and median wall time, user+system CPU time of the best run, peak "
        "resident memory.",
        machine,
        "",
        "| Tool | Best (s) | Median (s) | CPU (s) | Best ÷ floor (2 threads, aligned) "
        "| Peak memory (MB) | Same identical sets |",
        "|---|---:|---:|---:|---:|---:|---|",
    ]
    for name, best_time, median, cpu, peak in rows:
        same = {True: "yes", False: "**no**"}.get(agree.get(name), "–")
        label = f"{name} (default: {threads} threads)" if name == ours else name
        lines.append(f"| {label} | {best_time:.2f} | {median:.2f} | {cpu:.2f} | "
                     f"{best_time / best[floor2]:.2f} | {peak / 1024:.1f} | {same} |")
    lines += [
        "",
        f"`ombrelo-cli duplicates` with its default threads: **{to_floor:.2f}× the two-thread "
        f"aligned floor** (target at most 1.10) and **{to_jdupes:.2f}× jdupes** (target at most "
        f"1.00), best against best; the medians of the same ratios within each round are "
        f"{paired[floor2]:.2f}× and {paired['jdupes -r']:.2f}×. Peak memory {our_peak:.1f} MB "
        "(target under 64).",
        "",
        "The floor opens each file whose size another file shares once, reads it through one "
        "reused 1 MiB buffer and hashes it with OpenSSL's SHA-256 (`bench/duplicates/floor.cpp`); "
        "it compares and verifies nothing. Its plain form takes the buffer from malloc; the "
        "aligned form uses a page-aligned buffer, as ombrelo-cli does, into which the kernel "
        "copies file pages faster.",
        "The generator's own list of identical sets "
        + {True: "matches", False: "**does not match**", None: "was not found, so not checked"}[
            truth_ok] + ".",
        f"Versions: {version(['jdupes', '-v'])}; {version(['rdfind', '--version'])}; "
        f"{version(['fdupes', '--version'])}.",
        "",
    ]
    section = "\n".join(lines)
    print()
    print(section)
    if args.write_doc:
        path = os.path.join(ROOT, "docs", "benchmarks.md")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        text = open(path).read() if os.path.exists(path) else "# Benchmarks\n\n"
        pattern = re.compile(r"^## Duplicate finder\n.*?(?=^## |\Z)", re.S | re.M)
        if pattern.search(text):
            text = pattern.sub(lambda _: section + "\n", text)
        else:
            text = text.rstrip("\n") + "\n\n" + section
        with open(path, "w") as f:
            f.write(text.rstrip("\n") + "\n")
        print(f"written to {path}")
    phases = build_phases(work, os.path.dirname(cli))
    if phases is not None:
        print("\nWhere the time goes, one thread:", flush=True)
        subprocess.run([phases, corpus, "1"], check=True)
    if not all(agree.values()) or truth_ok is False:
        sys.exit("the tools do not report the same identical sets")


if __name__ == "__main__":
    main()
