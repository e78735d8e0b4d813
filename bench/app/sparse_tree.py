#!/usr/bin/env python3
"""Makes a tree of ENTRIES entries of sparse files (sizes spread over six orders of magnitude,
varied ages and kinds) for timing the explorer without writing gigabytes. With --flat, the
ENTRIES files all go into the one folder ROOT, as in a mail or cache folder."""
import os
import random
import sys

KINDS = [".cpp", ".h", ".jpg", ".mov", ".pdf", ".txt", ".zip", ".o", ""]

def sparse_file(path, rng):
    with open(path, "wb") as out:
        out.truncate(int(10 ** rng.uniform(1, 7)))
    age = rng.uniform(0, 1000) * 86400
    os.utime(path, (1765000000 - age, 1765000000 - age))

def flat(root, entries):
    rng = random.Random(20261207)
    os.makedirs(root)
    for made in range(entries):
        sparse_file(os.path.join(root, f"file {made}{rng.choice(KINDS)}"), rng)

def main():
    args = [arg for arg in sys.argv[1:] if arg != "--flat"]
    root, entries = args[0], int(args[1]) if len(args) > 1 else 1_000_000
    if "--flat" in sys.argv:
        flat(root, entries)
        return
    rng = random.Random(20261206)
    kinds = KINDS
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
            sparse_file(os.path.join(parent, f"file {made}{rng.choice(kinds)}"), rng)
        made += 1

if __name__ == "__main__":
    main()
