#!/bin/sh
# Times the folder map layouts and the item index, and records the figures in
# docs/benchmarks.md under "Layouts and item index".
#
#   bench/layout/run.sh            a generated tree of 200,000 entries (removed afterwards)
#   bench/layout/run.sh DIR        an existing tree, e.g. the 1,000,000-entry benchmark tree
#   ENTRIES=500000 bench/layout/run.sh
set -eu
cd "$(dirname "$0")/../.."
repo=$(pwd)

# An optimised build of its own.
out=build/bench
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBRELO_TESTS=OFF >/dev/null
cmake --build "$out" -j2 >/dev/null
c++ -std=c++20 -O2 -DNDEBUG -I"$repo" bench/layout/LayoutBench.cpp "$out/libVarnokCore.a" \
    $(pkg-config --cflags --libs libutf8proc) -lcrypto -lpthread -o "$out/layout_bench"

scratch=""
if [ $# -ge 1 ]; then
    tree=$1
else
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/ombrelo-layout-bench-XXXXXX")
    # Our own scratch tree only.
    trap 'rm -rf "$scratch"' EXIT
    tree="$scratch/tree"
    $out/layout_bench --generate "$tree" "${ENTRIES:-200000}"
fi

figures=$($out/layout_bench "$tree")
cli=""
if command -v hyperfine >/dev/null 2>&1; then
    report="${TMPDIR:-/tmp}/ombrelo-find-$$.md"
    hyperfine --warmup 1 --runs 5 --export-markdown "$report" \
        -n "ombrelo-cli find TREE --search résumé --limit 20 (scan included)" \
        "$out/ombrelo-cli find '$tree' --search résumé --limit 20" >/dev/null
    cli=$(cat "$report")
    rm -f "$report"
fi

section=$(cat <<MD
## Layouts and item index

Measured by \`bench/layout/run.sh\` on $(date -u +%Y-%m-%d), $(nproc) cores, $(uname -m), Release build.
The layouts run with the application's limits on the children of the tree's root; \`find\` and the
highlights walk the whole tree in memory. Medians of repeated runs. Items whose sort key ties
are ordered by path without forming one: a walk through only the folders that hold them, each
folder's items by name with "/" after a folder's name, gives them their places. Most of the
865,013 files of the generated tree share one of 70 modification times, so "every file, Newest"
is the case of the most ties.

$figures

$(if [ -n "$cli" ]; then printf 'The whole command, scan included (hyperfine):\n\n%s\n' "$cli"; fi)
MD
)

mkdir -p docs
file=docs/benchmarks.md
[ -f "$file" ] || printf '# Benchmarks\n' >"$file"
# Replace the section if present, else append it.
awk -v section="$section" '
    /^## Layouts and item index/ { skipping = 1; print section; print ""; done = 1; next }
    skipping && /^## / { skipping = 0 }
    !skipping { print }
    END { if (!done) { print ""; print section } }
' "$file" >"$file.new"
mv "$file.new" "$file"
printf '%s\n' "$section"
