"""Reads GIF pictures with PIL and writes each as NAME.raw beside it: the palette size as a
32-bit little-endian number, the palette (red, green, blue bytes), then one index byte per
pixel, rows packed. Run by /usr/bin/python3, whose PIL is Debian's."""
import struct
import sys

from PIL import Image


def convert(path):
    with Image.open(path) as image:
        if image.mode != "P":
            raise SystemExit(f"{path}: mode {image.mode}, expected P")
        palette = bytes(image.getpalette())
        indices = image.tobytes()
    with open(path + ".raw", "wb") as out:
        out.write(struct.pack("<I", len(palette) // 3))
        out.write(palette)
        out.write(indices)


if __name__ == "__main__":
    for name in sys.argv[1:]:
        convert(name)
