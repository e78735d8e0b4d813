#!/usr/bin/env python3
"""Writes a seeded corpus for comparing duplicate finders.

About 20,000 files and 2 GB in 200 folders. A third of the files share their size with others:
half of those are identical copies in groups of 2 to 5, the rest come in sets of 2 to 5 files of
one size that differ only in their first or their last byte. A few files are over 64 MiB. Every
other file has a size no other file has. The same seed always gives the same corpus.

Run by hand; it writes about 2 GB.
"""

import argparse
import json
import math
import os
import random
import sys

MIB = 1 << 20


def plan(seed, file_count):
    rng = random.Random(seed)
    used_sizes = set()

    def fresh_size(low, high):
        # Log-uniform, so that small files are many and large ones few, as in a home folder.
        while True:
            size = int(math.exp(rng.uniform(math.log(low), math.log(high))))
            if size not in used_sizes:
                used_sizes.add(size)
                return size

    sets = []  # (kind, size, members)
    # A few large files: an identical pair, a pair differing in the last byte, one alone.
    sets.append(("identical", fresh_size(70 * MIB, 75 * MIB), 2))
    sets.append(("different", fresh_size(66 * MIB, 69 * MIB), 2))
    sets.append(("unique", fresh_size(76 * MIB, 80 * MIB), 1))
    shared = file_count // 3
    for kind, target in (("identical", shared // 2 - 2), ("different", shared - shared // 2 - 2)):
        placed = 0
        while placed < target:
            members = min(rng.randint(2, 5), target - placed)
            if members < 2:  # never leave a set of one behind
                sets[-1] = (sets[-1][0], sets[-1][1], sets[-1][2] + 1)
                break
            sets.append((kind, fresh_size(4096, 384 * 1024), members))
            placed += members
    while sum(s[2] for s in sets) < file_count:
        sets.append(("unique", fresh_size(4096, 384 * 1024), 1))
    return rng, sets


def write_corpus(root, seed, file_count):
    rng, sets = plan(seed, file_count)
    pool = rng.randbytes(96 * MIB)
    folders = [os.path.join(root, f"d{a:02d}", f"e{b:02d}") for a in range(20) for b in range(10)]
    for folder in folders:
        os.makedirs(folder, exist_ok=True)
    paths = []
    number = 0
    truth = []
    total_bytes = 0
    for kind, size, members in sets:
        offset = rng.randrange(0, len(pool) - size)
        base = pool[offset:offset + size]
        group = []
        for k in range(members):
            data = base
            if kind == "different":
                # Distinct from the base and from every other member: a member changes its first
                # or its last byte to a value of its own.
                position = 0 if rng.random() < 0.5 else size - 1
                changed = bytearray(base)
                changed[position] = (base[position] + k + 1) % 256
                data = bytes(changed)
            path = os.path.join(rng.choice(folders), f"f{number:05d}.bin")
            number += 1
            with open(path, "wb") as out:
                out.write(data)
            total_bytes += size
            group.append(path)
        if kind == "identical":
            truth.append(sorted(group))
        paths.extend(group)
    with open(os.path.join(root, "..", os.path.basename(root) + ".groups.json"), "w") as out:
        json.dump(sorted(truth), out)
    return len(paths), total_bytes, len(truth)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", help="where to write the corpus (must not exist)")
    parser.add_argument("--seed", type=int, default=20261206)
    parser.add_argument("--files", type=int, default=20000)
    args = parser.parse_args()
    root = os.path.abspath(args.folder)
    if os.path.exists(root):
        sys.exit(f"{root} exists already; remove it or choose another folder")
    os.makedirs(root)
    files, size, groups = write_corpus(root, args.seed, args.files)
    print(f"{files} files, {size / 1e9:.2f} GB, {groups} sets of identical files in {root}")


if __name__ == "__main__":
    main()
