#!/bin/sh
# Saved scans: save, load and diff timed against the scan itself on the scan benchmark's tree,
# `scan --load` against `ncdu -f` on the same file, and the memory a loaded scan holds. Records
# the figures in docs/benchmarks.md under "Saved scans".
#
#   bench/snapshot/run.sh [TREE] [ENTRIES]
#
# The tree (default /tmp/ombrelo-bench-tree, 1,000,000 entries) is made by
# bench/scan/generate_tree.py once and reused; give another folder and a smaller count for a
# quick run (for example /tmp/ombrelo-bench-tree-200k 200000).
set -eu
cd "$(dirname "$0")/../.."
repo=$(pwd)
tree=${1:-/tmp/ombrelo-bench-tree}
entries=${2:-1000000}
runs=${RUNS:-5}

for tool in ncdu hyperfine; do
    command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install ncdu hyperfine)" >&2; exit 1; }
done

out=build/bench
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBRELO_TESTS=OFF -DOMBRELO_APP=OFF >/dev/null
cmake --build "$out" -j2 --target VarnokCore ombrelo-cli >/dev/null
c++ -std=c++20 -O2 -DNDEBUG -I"$repo" bench/snapshot/SnapshotBench.cpp "$out/libVarnokCore.a" \
    $(pkg-config --cflags --libs libutf8proc) -lcrypto -lz -lpthread -o "$out/snapshot_bench"
cli="$repo/$out/ombrelo-cli"

[ -d "$tree" ] || python3 bench/scan/generate_tree.py --entries "$entries" "$tree" >/dev/null
du -s "$tree" >/dev/null # warm the cache

scratch=$(mktemp -d "${TMPDIR:-/tmp}/ombrelo-snapshot-bench-XXXXXX")
# Only our own scratch files go.
trap 'rm -rf "$scratch"' EXIT

figures=$("$out/snapshot_bench" "$tree" "$scratch" --runs "$runs")

report="$scratch/peers.md"
hyperfine --warmup 1 --runs "$runs" -N --export-markdown "$report" \
    -n "ombrelo-cli scan --quiet TREE (rescan)" "$cli scan --quiet $tree" \
    -n "ombrelo-cli scan --load FILE --quiet" "$cli scan --load $scratch/scan.json --quiet" \
    -n "ncdu -f FILE -o /dev/null" "ncdu --ignore-config -0 -f $scratch/scan.json -o /dev/null" \
    -n "ombrelo-cli scan --load FILE.gz --quiet" "$cli scan --load $scratch/scan.json.gz --quiet" \
    -n "ncdu -f FILE.gz -o /dev/null" "sh -c 'zcat $scratch/scan.json.gz | ncdu --ignore-config -0 -f - -o /dev/null'" \
    -n "ombrelo-cli scan --save FILE --quiet TREE" "$cli scan --quiet --save $scratch/again.json $tree" \
    -n "ncdu -o FILE TREE" "ncdu --ignore-config -0 -o $scratch/ncdu.json $tree" \
    -n "ombrelo-cli diff FILE FILE" "$cli diff $scratch/scan.json $scratch/scan.json" >&2
peers=$(cat "$report")

peak_kb() { /usr/bin/time -f "%M" "$@" 2>&1 >/dev/null | tail -1; }
memory=""
if [ -x /usr/bin/time ]; then
    count=$(find "$tree" | wc -l)
    memory=$(
        echo "| command | peak memory (MB) | bytes per entry |"
        echo "|---|---|---|"
        for entry in "ombrelo-cli scan --load FILE --quiet:$cli scan --load $scratch/scan.json --quiet" \
            "ncdu -f FILE -o /dev/null:ncdu --ignore-config -0 -f $scratch/scan.json -o /dev/null"; do
            name=${entry%%:*}; cmd=${entry#*:}
            kb=$(peak_kb $cmd)
            echo "| $name | $((kb / 1024)) | $((kb * 1024 / count)) |"
        done
    )
fi

section=$(cat <<MD
## Saved scans

Measured by \`bench/snapshot/run.sh\` on $(date -u +%Y-%m-%d), $(nproc) cores, $(uname -m),
Release build, on the tree of \`bench/scan/generate_tree.py\` ($entries entries asked for), warm
cache. Each step in the library, medians of $runs runs (the diff compares two loaded copies of
the scan, one with every 50th file grown):

$figures

The whole commands on the same files (hyperfine, $runs runs):

$peers

$(if [ -n "$memory" ]; then printf 'Peak memory of the whole process:\n\n%s\n' "$memory"; fi)

\`ncdu -f FILE -o\` streams the file from import to export without building its tree, hence its
flat memory; \`scan --load\` builds the whole tree that \`find\`, \`map\` and \`diff\` read. The
peak of \`scan --load\` also counts the saved file's pages, which it reads through a memory map;
the tree itself is the heap figure above. The parser is our own single pass over the mapped
text, building the tree as it reads: no document is held, no dependency is added, and a
hostile file is refused at the first wrong byte.
MD
)

file=docs/benchmarks.md
[ -f "$file" ] || printf '# Benchmarks\n' >"$file"
# Replace the section if present, else append it.
awk -v section="$section" '
    /^## Saved scans/ { skipping = 1; print section; print ""; done = 1; next }
    skipping && /^## / { skipping = 0 }
    !skipping { print }
    END { if (!done) { print ""; print section } }
' "$file" >"$file.new"
mv "$file.new" "$file"
printf '%s\n' "$section"
