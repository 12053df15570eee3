#!/usr/bin/env python3
"""Lists the files whose data a bundle holds, in the order of their data, and checks them.

usage: bundle_contents.py BUNDLE                 prints "offset size path" per packed file
       bundle_contents.py BUNDLE --verify ROOT   also compares every packed file with the file
                                                 under ROOT, and every non-empty file under ROOT
                                                 with the bundle; exits 1 on any difference

Reads the directory of a version-2 bundle (the version trovex writes). Paths in a bundle are
lower case; ROOT's files are matched ignoring ASCII case, as trovex does.
"""
import os
import struct
import sys


def read_string(data, at):
    end = data.index(b"\0", at)
    return data[at:end].decode("utf-8", "surrogateescape"), end + 1


def packed_files(data):
    """(offset, size, path) of every file with data, sorted by offset; and hidden paths."""
    magic, version, directory_end, _ = struct.unpack_from("<4sIII", data, 0)
    if version != 2:
        sys.exit("only version-2 bundles are read, this is version %d" % version)
    files, hidden, stack, at = [], [], [""], 16
    while stack:
        kind = data[at]
        at += 1
        if kind == 3:
            stack.pop()
        elif kind == 1:
            visible = data[at]
            name, at = read_string(data, at + 1)
            stack.append(stack[-1] + name + "\\")
            if not visible:
                hidden.append(stack[-1][:-1])
        elif kind == 2:
            offset, size, visible = struct.unpack_from("<QIB", data, at)
            name, at = read_string(data, at + 13)
            if not visible:
                hidden.append(stack[-1] + name)
            elif size > 0:
                files.append((offset, size, stack[-1] + name))
        else:
            sys.exit("unknown record type %d at %d" % (kind, at - 1))
    if at != directory_end:
        sys.exit("directory ends at %d, header says %d" % (at, directory_end))
    return sorted(files), hidden


def files_under(root):
    """Lower-case relative path with '\\' -> real path, for every file reachable below root,
    following links to directories unless they lead back up."""
    found = {}

    def walk(directory, relative, seen):
        for name in sorted(os.listdir(directory)):
            path = os.path.join(directory, name)
            key = (relative + name).lower()
            if os.path.isdir(path):
                identity = os.stat(path)
                identity = (identity.st_dev, identity.st_ino)
                if identity not in seen:
                    walk(path, relative + name + "\\", seen | {identity})
            elif os.path.isfile(path):
                # Names that differ only in case share one bundle path: the exact lower-case
                # spelling wins, else the first in byte order.
                if key not in found or name == name.lower():
                    found[key] = path

    top = os.stat(root)
    walk(root, "", {(top.st_dev, top.st_ino)})
    return found


def main(argv):
    if len(argv) not in (2, 4) or (len(argv) == 4 and argv[2] != "--verify"):
        sys.exit(__doc__.strip())
    with open(argv[1], "rb") as bundle:
        data = bundle.read()
    files, hidden = packed_files(data)
    if len(argv) == 2:
        for offset, size, path in files:
            print(offset, size, path)
        return 0
    on_disk = files_under(argv[3])
    bad = 0
    for offset, size, path in files:
        real = on_disk.get(path)
        if real is None:
            print("in the bundle only:", path)
            bad += 1
            continue
        with open(real, "rb") as source:
            if source.read() != data[offset:offset + size]:
                print("differs:", path)
                bad += 1
    packed = {path for _, _, path in files}
    for key, real in sorted(on_disk.items()):
        if key not in packed and os.path.getsize(real) > 0 and not key.startswith("bundles\\"):
            print("not packed:", key)
            bad += 1
    print("%d files packed (%d bytes), %d hidden names, %d differences" % (
        len(files), sum(size for _, size, _ in files), len(hidden), bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
