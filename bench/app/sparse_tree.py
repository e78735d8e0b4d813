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
    stack = [root]
    os.makedirs(root)
    folders = [root]
    while made < entries:
        parent = folders[rng.randrange(len(folders))] if len(folders) > 1 and rng.random() < 0.7 else root
        if rng.random() < 0.1 and len(folders) < entries // 10:
            path = os.path.join(parent, f"folder {made}")
            os.mkdir(path)
            folders.append(path)
        else:
            path = os.path.join(parent, f"file {made}{rng.choice(kinds)}")
            with open(path, "wb") as out:
                out.truncate(int(10 ** rng.uniform(1, 7)))
            age = rng.uniform(0, 1000) * 86400
            os.utime(path, (1765000000 - age, 1765000000 - age))
        made += 1
    del stack

if __name__ == "__main__":
    main()
