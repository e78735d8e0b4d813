#!/bin/sh
# Scan benchmark: times ombrelo-cli against du, ncdu and the walk floor (bench/scan/floor.cpp) on
# the same warm tree and reports the ratios (medians) and peak memory.
# Usage: bench/scan/run.sh [TREE] [ENTRIES]
# The tree (default /tmp/ombrelo-bench-tree, 1,000,000 entries) is generated once and reused.
set -eu
cd "$(dirname "$0")/../.."
root=$(pwd)
tree=${1:-/tmp/ombrelo-bench-tree}
entries=${2:-1000000}
runs=${RUNS:-5}

for tool in ncdu hyperfine /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install ncdu hyperfine time)" >&2; exit 1; }
done

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target ombrelo-cli >/dev/null || { echo "build failed" >&2; exit 1; }
cli="$root/build/release/ombrelo-cli"
floor=$(mktemp -d)/floor
g++ -O2 -std=c++20 -pthread -o "$floor" "$root/bench/scan/floor.cpp"

# Beyond a million entries the few large files are written as holes, so that the tree fits on
# the disk; the walk only reads their sizes.
sparse=""
[ "$entries" -le 1000000 ] || sparse="--sparse"
[ -d "$tree" ] || python3 "$root/bench/scan/generate_tree.py" --entries "$entries" $sparse "$tree"
du -s "$tree" >/dev/null   # warm the cache

peak_kb() { /usr/bin/time -f "%M" "$@" 2>&1 >/dev/null | tail -1; }

json=$(mktemp)
hyperfine --warmup 1 --runs "$runs" --export-json "$json" -N \
    -n "du -s" "du -s $tree" \
    -n "ncdu -0 -o /dev/null" "ncdu -0 -o /dev/null $tree" \
    -n "floor, 1 thread" "$floor $tree" \
    -n "floor, 2 threads" "$floor -j 2 $tree" \
    -n "ombrelo-cli scan --quiet --jobs 1" "$cli scan --quiet --jobs 1 $tree" \
    -n "ombrelo-cli scan --quiet" "$cli scan --quiet $tree" \
    -n "ombrelo-cli scan --json" "sh -c '$cli scan --json $tree >/dev/null'" >&2

# The machine's speed drifts over minutes (a shared virtual machine varies by a fifth), and
# hyperfine runs each command's rounds in a row. The ratios that decide are therefore taken
# round by round, du and ours one after the other, and their median is reported.
alternating=$(python3 - "$runs" "$tree" "$cli" <<'PY'
import statistics, subprocess, sys, time
runs, tree, cli = int(sys.argv[1]), sys.argv[2], sys.argv[3]
def timed(command):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start
quiet, full = [], []
for _ in range(runs):
    du = timed(["du", "-s", tree])
    quiet.append(timed([cli, "scan", "--quiet", tree]) / du)
    full.append(timed([cli, "scan", "--json", tree]) / du)
def line(name, ratios):
    print(f"| {name} | {statistics.median(ratios):.2f} | {min(ratios):.2f} | {max(ratios):.2f} |")
print(f"Alternating rounds ({runs}): ours ÷ du -s run just before it")
print()
print("| command | median × du -s | lowest | highest |")
print("|---|---|---|---|")
line("ombrelo-cli scan --quiet", quiet)
line("ombrelo-cli scan --json", full)
PY
)

count=$(find "$tree" | wc -l)
echo "Tree: $tree, $count entries (including the root)"
python3 - "$json" "$count" <<PY
import json, sys
data = json.load(open(sys.argv[1]))["results"]
count = int(sys.argv[2])
def median(name):
    return next(r["median"] for r in data if r["command"] == name)
du, ncdu, floor = median("du -s"), median("ncdu -0 -o /dev/null"), median("floor, 2 threads")
print("| command | median (s) | ± (s) | × du -s | × ncdu | × floor, 2 threads |")
print("|---|---|---|---|---|---|")
for r in data:
    m = r["median"]
    print(f"| {r['command']} | {m:.2f} | {r['stddev']:.2f} | {m / du:.2f} | {m / ncdu:.2f} | {m / floor:.2f} |")
PY
echo
echo "$alternating"
echo
echo "| command | peak memory (MB) | bytes per entry |"
echo "|---|---|---|"
for entry in "du -s:du -s $tree" "ncdu:ncdu -0 -o /dev/null $tree" "ombrelo-cli scan --quiet:$cli scan --quiet $tree"; do
    name=${entry%%:*}; cmd=${entry#*:}
    kb=$(peak_kb $cmd)
    echo "| $name | $((kb / 1024)) | $((kb * 1024 / count)) |"
done
sizes=$(mktemp -d)
printf '#include "core/scan/FileNode.hpp"\n#include <cstdio>\nint main() { std::printf("%%zu", sizeof(varnok::FileNode)); }\n' > "$sizes/s.cpp"
g++ -std=c++20 -I"$root" "$sizes/s.cpp" -o "$sizes/s" && echo && echo "sizeof(FileNode): $("$sizes/s") bytes"
rm -rf "$json" "$sizes" "$(dirname "$floor")"
