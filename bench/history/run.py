#!/usr/bin/env python3
"""Cleanup and restore benchmark: moves N small duplicate files to the Trash with ombrelo-cli
and, on fresh copies of the same files, with trash-put and `gio trash` (when present), then puts
them back with `restore --all`. Reports the times, their ratios, and the bytes the history took
to write (counted with strace) against the final report's size.

Usage: bench/history/run.py [--cli PATH] [--keep] N [N ...]     (default N: 3000)

Building the plan (queueing and preparing N candidates) is timed on its own by PlanBench.cpp,
compiled against the core library beside the given ombrelo-cli (build it first).

Everything happens in one temporary folder, with HOME and XDG_DATA_HOME pointing into it, so
each tool uses that folder's own Trash; nothing outside it is touched. The folder is removed
afterwards unless --keep is given.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def make_files(folder, count):
    """`count` pairs of small identical files: keep/i.txt is kept, copies/i.txt is moved."""
    for sub in ("keep", "copies"):
        os.makedirs(os.path.join(folder, sub))
    copies = []
    for i in range(count):
        body = ("photo %d\n" % i).encode() * 8
        for sub in ("keep", "copies"):
            with open(os.path.join(folder, sub, "%05d.txt" % i), "wb") as out:
                out.write(body)
        copies.append(os.path.join(folder, "copies", "%05d.txt" % i))
    return copies


def timed(command, env, **kwargs):
    start = time.monotonic()
    result = subprocess.run(command, env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, **kwargs)
    return time.monotonic() - start, result


def history_bytes(command, env, history):
    """Bytes the command writes to files in the history folder, by strace."""
    trace = os.path.join(os.path.dirname(history), "trace.txt")
    subprocess.run(["strace", "-f", "-qq", "-y", "-e", "trace=write,pwrite64,writev",
                    "-e", "signal=none", "-o", trace] + command,
                   env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   stdin=subprocess.DEVNULL)
    written = 0
    pattern = re.compile(r'^\d+\s+\w+\(\d+<([^>]*)>.*\)\s+=\s+(\d+)')
    with open(trace, errors="replace") as lines:
        for line in lines:
            match = pattern.match(line)
            if match and match.group(1).startswith(history):
                written += int(match.group(2))
    os.unlink(trace)
    return written


def flush_floor(folder, count):
    """The least a run that flushes one record per item before its move can take: `count`
    appends of a record-sized line, each followed by fdatasync."""
    path = os.path.join(folder, "floor.journal")
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o600)
    start = time.monotonic()
    for _ in range(count):
        os.write(fd, b"x" * 400 + b"\n")
        os.fdatasync(fd)
    elapsed = time.monotonic() - start
    os.close(fd)
    os.unlink(path)
    return elapsed


def plan_times(bench, folder, count):
    """Seconds to queue `count` duplicate candidates and to prepare their plan."""
    subprocess.run([bench, folder, str(count)], check=True, capture_output=True, text=True)
    # The second run, on warm files, is the one reported.
    _, queued, prepared = subprocess.run([bench, folder, str(count)], check=True,
                                         capture_output=True, text=True).stdout.split()
    return float(queued), float(prepared)


def run(cli, bench, count, scratch):
    base = os.path.join(scratch, str(count))
    home = os.path.join(base, "home")
    data = os.path.join(home, ".local", "share")
    os.makedirs(data)
    env = dict(os.environ, HOME=home, XDG_DATA_HOME=data, LANG="C.UTF-8")
    history = os.path.join(data, "Varnok", "cleanup-history")
    row = {"count": count, "floor": flush_floor(base, count)}
    row["queue"], row["prepare"] = plan_times(bench, os.path.join(base, "plan"), count)

    copies = make_files(os.path.join(home, "trash-put"), count)
    row["trash-put"], result = timed(["trash-put", "--"] + copies, env)
    if result.returncode != 0:
        sys.exit("trash-put failed: " + result.stderr.decode(errors="replace"))
    if shutil.which("gio"):
        copies = make_files(os.path.join(home, "gio"), count)
        row["gio trash"], result = timed(["gio", "trash", "--"] + copies, env)
        if result.returncode != 0:
            row.pop("gio trash")

    photos = os.path.join(home, "photos")
    make_files(photos, count)
    clean = [cli, "clean", "--source", "duplicates", "--in", photos,
             "--keep-rule", "in:" + os.path.join(photos, "keep"), "--all"]
    row["clean"], result = timed(clean + ["--yes"], env, stdin=subprocess.DEVNULL)
    if result.returncode != 0:
        sys.exit("clean failed: " + result.stderr.decode(errors="replace"))
    report = [name for name in os.listdir(history) if name.endswith(".json")][0]
    report_id = report[:-len(".json")]
    row["restore"], result = timed([cli, "restore", report_id, "--all"], env)
    if result.returncode != 0:
        sys.exit("restore failed: " + result.stderr.decode(errors="replace"))
    row["report bytes"] = os.path.getsize(os.path.join(history, report))

    # The bytes written for the history, measured on a second round of the same files.
    shutil.rmtree(photos)
    make_files(photos, count)
    before = set(os.listdir(history))
    row["clean history bytes"] = history_bytes(clean + ["--yes"], env, history)
    report = [name for name in os.listdir(history)
              if name.endswith(".json") and name not in before][0]
    row["restore history bytes"] = history_bytes(
        [cli, "restore", report[:-len(".json")], "--all"], env, history)
    row["second report bytes"] = os.path.getsize(os.path.join(history, report))
    leftovers = [name for name in os.listdir(history) if not name.endswith(".json")]
    if leftovers:
        sys.exit("history folder holds more than reports: %s" % leftovers)
    return row


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", default=os.path.join(ROOT, "build", "dev", "ombrelo-cli"))
    parser.add_argument("--keep", action="store_true")
    parser.add_argument("counts", nargs="*", type=int, default=[3000])
    args = parser.parse_args()
    for tool in ("trash-put", "strace"):
        if not shutil.which(tool):
            sys.exit("needs %s (apt-get install trash-cli strace)" % tool)
    scratch = tempfile.mkdtemp(prefix="ombrelo-history-bench-")
    bench = os.path.join(scratch, "plan_bench")
    library = os.path.join(os.path.dirname(args.cli), "libVarnokCore.a")
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "libutf8proc"], check=True,
                           capture_output=True, text=True).stdout.split()
    subprocess.run(["c++", "-std=c++20", "-O2", "-DNDEBUG", "-I" + ROOT,
                    os.path.join(ROOT, "bench", "history", "PlanBench.cpp"), library] + flags +
                   ["-lcrypto", "-lpthread", "-o", bench], check=True)
    try:
        print("| items | trash-put (s) | gio trash (s) | one fdatasync per item (s) | queue (s) "
              "| prepare (s) | clean (s) | clean ÷ trash-put | restore --all (s) | restore ÷ clean | report (KB) "
              "| history written by clean ÷ report | by restore ÷ report |")
        print("|---|---|---|---|---|---|---|---|---|---|---|---|---|")
        for count in args.counts:
            row = run(args.cli, bench, count, scratch)
            gio = "%.2f" % row["gio trash"] if "gio trash" in row else "–"
            report = row["second report bytes"]
            print("| %d | %.2f | %s | %.2f | %.3f | %.2f | %.2f | %.2f | %.2f | %.2f | %d | %.2f "
                  "| %.2f |" % (
                count, row["trash-put"], gio, row["floor"], row["queue"], row["prepare"],
                row["clean"],
                row["clean"] / row["trash-put"], row["restore"], row["restore"] / row["clean"],
                report // 1024, row["clean history bytes"] / report,
                row["restore history bytes"] / report), flush=True)
    finally:
        if args.keep:
            print("kept in " + scratch, file=sys.stderr)
        else:
            shutil.rmtree(scratch)


if __name__ == "__main__":
    main()
