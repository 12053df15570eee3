#!/usr/bin/env python3
"""Writes the binary files of the sample content: textures, sounds, models and voice lines.

usage: make_binaries.py [CONTENT_DIR]   (default: content/ beside this script)

The bytes come from SHA-256 of each file's path and a counter, behind a small header that looks
like the format's, so the same files come out on every machine and every Python version.
"""
import hashlib
import os
import struct
import sys

# path: size in bytes; odd sizes on purpose, so bundle data is not always 4-byte aligned.
FILES = {
    "textures/units/tank_diffuse.dds": 16512,
    "textures/units/tank_normal.dds": 16512,
    "textures/units/wolf_diffuse.dds": 8320,
    "textures/units/archer.dds": 4224,
    "textures/units/shadow.dds": 1152,
    "textures/terrain/grass.dds": 16512,
    "textures/terrain/sand.dds": 8320,
    "textures/terrain/water.dds": 8320,
    "textures/terrain/rock.dds": 4224,
    "textures/terrain/placeholder.dds": 0,
    "textures/interface/icons.dds": 4224,
    "textures/interface/menu.dds": 12001,
    "textures/interface/font_small.dds": 2176,
    "textures/interface/font_large.dds": 4224,
    "textures/effects/flame.dds": 1152,
    "textures/effects/smoke.dds": 1152,
    "textures/effects/drop.dds": 257,
    "textures/effects/ring.dds": 641,
    "sounds/ambient/forest_loop.wav": 16044,
    "sounds/ambient/harbour_loop.wav": 12044,
    "sounds/effects/step.wav": 1501,
    "sounds/effects/fire.wav": 6003,
    "sounds/effects/splash.wav": 2999,
    "sounds/effects/howl.wav": 9046,
    "sounds/effects/cannon.wav": 7002,
    "models/tank.bin": 5001,
    "models/scout.bin": 2503,
    "models/archer.bin": 2002,
    "models/wolf.bin": 3000,
    "models/ship.bin": 7499,
    "local/english/voice/intro.wav": 5044,
    "local/german/voice/intro.wav": 5547,
}


def noise(path, size):
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(("%s:%d" % (path, counter)).encode()).digest()
        counter += 1
    return bytes(out[:size])


def header(path, size):
    if path.endswith(".dds"):
        return b"DDS " + struct.pack("<7I", 124, 0x1007, 64, 64, 0, 0, 1)
    if path.endswith(".wav"):
        return b"RIFF" + struct.pack("<I", size - 8) + b"WAVEfmt " + struct.pack(
            "<IHHIIHH", 16, 1, 1, 22050, 44100, 2, 16) + b"data" + struct.pack("<I", size - 44)
    return b"MDL1" + struct.pack("<I", size)


def main(argv):
    content = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), "content")
    for path, size in FILES.items():
        data = (header(path, size) + noise(path, size))[:size] if size else b""
        target = os.path.join(content, *path.split("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main(sys.argv)
