#!/usr/bin/env python3
"""Build helpers for the embedded setup package.

  utf16 SOURCE TARGET     the UTF-8 XML file as UTF-16 LE with a byte-order mark, CR LF line ends
                          and encoding="utf-16" in its declaration
  truncate SOURCE TARGET  the first half of SOURCE (an archive whose end is missing)
  corrupt SOURCE TARGET   SOURCE with one byte of its packed data flipped
  hostile SEVENZZ OUTDIR  archives whose items point outside the unpack folder:
                          dotdot.7z ("../" item), absolute.7z (absolute item path, the staged
                          file removed again), drive.7z ("C:/" item)
"""
import os
import re
import shutil
import subprocess
import sys


def utf16(source, target):
    with open(source, encoding="utf-8") as f:
        text = f.read()
    if text.startswith("\ufeff"):
        text = text[1:]
    text, count = re.subn(r'^(<\?xml[^>]*encoding=")[^"]*(")', r"\1utf-16\2", text, count=1)
    if count != 1:
        sys.exit("%s: no XML declaration with an encoding" % source)
    text = text.replace("\r\n", "\n").replace("\n", "\r\n")
    with open(target, "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))


def truncate(source, target):
    with open(source, "rb") as f:
        data = f.read()
    with open(target, "wb") as f:
        f.write(data[: len(data) // 2])


def corrupt(source, target):
    data = bytearray(open(source, "rb").read())
    # The packed streams follow the 32-byte signature header.
    data[32 + 8] ^= 0x55
    with open(target, "wb") as f:
        f.write(bytes(data))


def run_7zz(sevenzz, cwd, *args):
    subprocess.run([sevenzz, "a", "-t7z", "-bd", "-bso0", "-bsp0", *args], cwd=cwd, check=True)


def hostile(sevenzz, outdir):
    outdir = os.path.abspath(outdir)
    stage = os.path.join(outdir, "stage")
    shutil.rmtree(stage, ignore_errors=True)
    os.makedirs(os.path.join(stage, "inner"))
    for name in ("dotdot.7z", "absolute.7z", "drive.7z"):
        if os.path.exists(os.path.join(outdir, name)):
            os.remove(os.path.join(outdir, name))

    # An item stored as "../evil_dotdot.txt".
    with open(os.path.join(stage, "evil_dotdot.txt"), "w") as f:
        f.write("dotdot\n")
    run_7zz(sevenzz, os.path.join(stage, "inner"), "-spf", os.path.join(outdir, "dotdot.7z"), "../evil_dotdot.txt")

    # An item stored with the absolute path of a file that no longer exists afterwards.
    absolute = os.path.join(outdir, "absolute-target", "evil_absolute.txt")
    os.makedirs(os.path.dirname(absolute), exist_ok=True)
    with open(absolute, "w") as f:
        f.write("absolute\n")
    run_7zz(sevenzz, stage, "-spf", os.path.join(outdir, "absolute.7z"), absolute)
    os.remove(absolute)

    # An item stored as "C:/evil_drive.txt".
    os.makedirs(os.path.join(stage, "C:"))
    with open(os.path.join(stage, "C:", "evil_drive.txt"), "w") as f:
        f.write("drive\n")
    run_7zz(sevenzz, stage, os.path.join(outdir, "drive.7z"), "C:/evil_drive.txt")
    shutil.rmtree(stage)


def main(argv):
    commands = {"utf16": utf16, "truncate": truncate, "corrupt": corrupt, "hostile": hostile}
    if len(argv) != 4 or argv[1] not in commands:
        sys.exit(__doc__)
    commands[argv[1]](argv[2], argv[3])


if __name__ == "__main__":
    main(sys.argv)
