#!/bin/sh
# Times the explorer window on a 1,000,000-entry tree of sparse files with an optimised build.
#   bench/app/run.sh [TREE]     default /tmp/ombrelo-explore-bench-tree, generated once when missing
set -eu
cd "$(dirname "$0")/../.."
tree=${1:-/tmp/ombrelo-explore-bench-tree}
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target ombrelo-explore-bench >/dev/null
[ -d "$tree" ] || python3 bench/app/sparse_tree.py "$tree" 1000000
du -s "$tree" >/dev/null   # warm the cache
QT_QPA_PLATFORM=offscreen build/release/app/ui/ombrelo-explore-bench "$tree"
