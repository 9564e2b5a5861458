#!/usr/bin/env python3
"""Pads an installed fixture product to a given number of files.

    make_payload.py <install folder (Unix path)> <total files> [bytes per file]

Counts the files already below the install folder and adds the rest where the real product keeps
its many files: the folders of the root folder list (wallpapers, cef_res, skin, locales, plugins,
widgets), in sub-folders of a few dozen files each, so that the install-folder deletion deletes
them. Names and contents are deterministic; each file holds `bytes per file` bytes (1024).
Prints the number of files below the install folder afterwards.
"""
import os
import sys

# (share of the padding, top folder, sub-folder name pattern or None, files per sub-folder, file pattern)
LAYOUT = [
    (0.60, "wallpapers", "wp{:05d}", 20, "frame{:03d}.jpg"),
    (0.15, "cef_res", "res{:03d}", 100, "res{:04d}.pak"),
    (0.10, "skin", "theme{:02d}", 100, "image{:04d}.png"),
    (0.05, "locales", None, 0, "lang{:04d}.pak"),
    (0.05, "plugins", "plugin{:02d}", 50, "part{:03d}.dat"),
    (0.05, "widgets", "widget{:03d}", 25, "asset{:03d}.bin"),
]


def count_files(folder):
    return sum(len(files) for _, _, files in os.walk(folder))


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    install, total = sys.argv[1], int(sys.argv[2])
    size = int(sys.argv[3]) if len(sys.argv) == 4 else 1024
    if not os.path.isdir(install):
        sys.exit("make_payload: no install folder at " + install)
    missing = total - count_files(install)
    if missing < 0:
        sys.exit("make_payload: %s already holds more than %d files" % (install, total))
    content = bytes((i * 7 + 13) & 0xFF for i in range(size))
    shares = [int(missing * share) for share, *_ in LAYOUT]
    shares[0] += missing - sum(shares)  # the rounding rest goes to the wallpapers
    for count, (_, top, sub, per_sub, pattern) in zip(shares, LAYOUT):
        for i in range(count):
            if sub is None:
                folder = os.path.join(install, top)
                name = pattern.format(i)
            else:
                folder = os.path.join(install, top, sub.format(i // per_sub))
                name = pattern.format(i % per_sub)
            if i == 0 or sub is not None and i % per_sub == 0:
                os.makedirs(folder, exist_ok=True)
            path = os.path.join(folder, name)
            if os.path.exists(path):  # the product's own file of that name: pick another name
                path = os.path.join(folder, "pad_" + name)
            with open(path, "wb") as f:
                f.write(content)
    print(count_files(install))


if __name__ == "__main__":
    main()
