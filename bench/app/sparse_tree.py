#!/usr/bin/env python3
"""Makes a tree of ENTRIES entries of sparse files (sizes spread over six orders of magnitude,
varied ages and kinds) for timing the explorer without writing gigabytes."""
import os
import random
import sys

def main():
    root, entries = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    rng = random.Random(20261206)
    kinds = [".cpp", ".h", ".jpg", ".mov", ".pdf", ".txt", ".zip", ".o", ""]
    made = 0
    os.makedirs(root)
    folders = [root]
    depth = {root: 0}
    while made < entries:
        # Recent folders get most of the entries, so that folders fill up and nest.
        pick = len(folders) - 1 - min(int(rng.expovariate(1 / 40)), len(folders) - 1)
        parent = folders[pick] if rng.random() > 0.001 else root
        if rng.random() < 0.1 and depth[parent] < 12:
            path = os.path.join(parent, f"folder {made}")
            os.mkdir(path)
            folders.append(path)
            depth[path] = depth[parent] + 1
        else:
            path = os.path.join(parent, f"file {made}{rng.choice(kinds)}")
            with open(path, "wb") as out:
                out.truncate(int(10 ** rng.uniform(1, 7)))
            age = rng.uniform(0, 1000) * 86400
            os.utime(path, (1765000000 - age, 1765000000 - age))
        made += 1

if __name__ == "__main__":
    main()
