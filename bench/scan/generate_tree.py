#!/usr/bin/env python3
"""Builds a reproducible folder tree for the scan benchmark.

The same seed and count always give the same tree: folders of mixed depth and width, files of
varied sizes (mostly small, a few large), symbolic links to files and folders (some dangling),
hard links, and names with spaces and non-ASCII letters.
"""
import argparse
import os
import random
import sys

NAMES = ["cache", "Cache Data", "node_modules", "src", "build", "Logs", "fotos", "Crème brûlée",
         "日本語", "résumé", "data", "lib", "a b c", "Ünïcödé", "tmp", "assets", "Ελληνικά"]
EXTENSIONS = ["", ".txt", ".json", ".js", ".png", ".jpg", ".mp4", ".pdf", ".log", ".o", ".tar.gz",
              ".md", ".swift", ".bin"]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("root", help="folder to create (must not exist)")
    parser.add_argument("--entries", type=int, default=1_000_000)
    parser.add_argument("--seed", type=int, default=20261206)
    parser.add_argument("--sparse", action="store_true",
                        help="write the few large files (1 to 8 MB) as holes, so that a tree of "
                             "several million entries fits on a small disk; a walk reads only "
                             "their sizes, so it costs the same")
    args = parser.parse_args()

    if os.path.exists(args.root):
        sys.exit(f"{args.root} exists already; remove it or choose another folder")
    rng = random.Random(args.seed)
    os.makedirs(args.root)
    folders = [args.root]
    files = []
    created = 0
    blob = bytes(rng.getrandbits(8) for _ in range(1 << 16))

    while created < args.entries:
        parent = folders[min(int(rng.paretovariate(0.7)) - 1, len(folders) - 1)] \
            if rng.random() < 0.3 else rng.choice(folders)
        roll = rng.random()
        name = f"{rng.choice(NAMES)} {created}"
        path = os.path.join(parent, name)
        if roll < 0.10 and parent.count(os.sep) - args.root.count(os.sep) < 24:
            os.mkdir(path)
            folders.append(path)
        elif roll < 0.93 or not files:
            path += rng.choice(EXTENSIONS)
            size = int(rng.expovariate(1 / 2048)) if rng.random() < 0.995 else rng.randint(1 << 20, 8 << 20)
            with open(path, "wb") as out:
                if args.sparse and size >= 1 << 20:
                    out.truncate(size)
                    size = 0
                while size > 0:
                    chunk = min(size, len(blob))
                    out.write(blob[:chunk])
                    size -= chunk
            files.append(path)
        elif roll < 0.965:
            target = rng.choice(files if rng.random() < 0.6 else folders)
            if rng.random() < 0.1:
                target += " (gone)"
            os.symlink(target, path)
        else:
            os.link(rng.choice(files), path)
        created += 1
        if created % 100_000 == 0:
            print(f"{created:,} entries", file=sys.stderr)
    print(f"{created:,} entries in {len(folders):,} folders under {args.root}", file=sys.stderr)


if __name__ == "__main__":
    main()
