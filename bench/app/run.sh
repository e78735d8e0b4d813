#!/bin/sh
# Times the explorer window on a 1,000,000-entry tree of sparse files with an optimised build,
# then the pauses of the window on one folder of 200,000 files.
#   bench/app/run.sh [TREE [FLAT]]   defaults /tmp/ombrelo-explore-bench-tree and
#                                    /tmp/ombrelo-explore-bench-flat, generated once when missing
set -eu
cd "$(dirname "$0")/../.."
tree=${1:-/tmp/ombrelo-explore-bench-tree}
flat=${2:-/tmp/ombrelo-explore-bench-flat}
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target ombrelo-explore-bench >/dev/null
[ -d "$tree" ] || python3 bench/app/sparse_tree.py "$tree" 1000000
[ -d "$flat" ] || python3 bench/app/sparse_tree.py "$flat" 200000 --flat
du -s "$tree" "$flat" >/dev/null   # warm the cache
# The explorer remembers each scan it makes: keep those in a scratch folder, not the user's.
state=$(mktemp -d "${TMPDIR:-/tmp}/ombrelo-explore-bench-state-XXXXXX")
trap 'rm -rf "$state"' EXIT
XDG_STATE_HOME=$state QT_QPA_PLATFORM=offscreen build/release/app/ui/ombrelo-explore-bench "$tree" "$flat"
