#!/usr/bin/env python3
"""Turns the opens a program made into a load log, as the engine records one.

usage: load_log_from_strace.py ROOT CWD TRACE > LOG

TRACE is the output of `strace -f -e trace=openat -o TRACE COMMAND` run in the directory CWD.
Every open of a file below ROOT, successful or not, becomes one line of the recorded form, in
order: three blanks, <open path="..." flags="..." />, CR LF, with the path relative to ROOT in
canonical form (lower case, '\\' separators) and the flags as the mode letters the engine would
have passed ("r", "w", "a", "r+"). Opens of directories are left out.
"""
import os
import re
import sys

OPEN = re.compile(r'^(?:\d+\s+)?openat\((AT_FDCWD|\d+)(?:<([^>]*)>)?, "((?:[^"\\]|\\.)*)", ([A-Z_|]+)')
ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "v": "\v", "f": "\f", '"': '"', "\\": "\\"}


def unescape(text):
    """strace's C escapes back to the path's bytes, read as UTF-8."""
    out = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            out += c.encode()
            i += 1
        elif text[i + 1] == "x":
            out.append(int(text[i + 2:i + 4], 16))
            i += 4
        elif text[i + 1].isdigit():
            digits = re.match(r"[0-7]{1,3}", text[i + 1:]).group(0)
            out.append(int(digits, 8))
            i += 1 + len(digits)
        else:
            out += ESCAPES.get(text[i + 1], text[i + 1]).encode()
            i += 2
    return out.decode("utf-8", "surrogateescape")


def mode_of(flags):
    names = set(flags.split("|"))
    if "O_RDWR" in names:
        return "r+"
    if "O_WRONLY" in names:
        return "a" if "O_APPEND" in names else "w"
    return "r"


def escaped(text):
    return (text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
            .replace('"', "&quot;"))


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__.strip())
    root = os.path.realpath(argv[1])
    cwd = os.path.realpath(argv[2])
    out = sys.stdout.buffer
    with open(argv[3], encoding="utf-8", errors="surrogateescape") as trace:
        for line in trace:
            match = OPEN.match(line)
            if not match or "O_DIRECTORY" in match.group(4):
                continue
            base = cwd if match.group(1) == "AT_FDCWD" else match.group(2)
            if base is None:
                continue  # a directory descriptor strace did not name (-y was not given)
            path = os.path.normpath(os.path.join(base, unescape(match.group(3))))
            relative = os.path.relpath(path, root)
            if relative.startswith("..") or relative == ".":
                continue
            canonical = relative.replace("/", "\\").translate(
                str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz"))
            line = '   <open path="%s" flags="%s" />\r\n' % (escaped(canonical), mode_of(match.group(4)))
            out.write(line.encode("utf-8", "surrogateescape"))


if __name__ == "__main__":
    main(sys.argv)
