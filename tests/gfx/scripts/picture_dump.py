"""Decodes a picture with PIL and writes PATH.dump: a text line "mode width height
transparency palette-size", the palette (red, green, blue bytes) and the index bytes of a
palette picture, then the picture as RGBA bytes. Run by /usr/bin/python3 (Debian's PIL)."""
import sys

from PIL import Image


def dump(path):
    with Image.open(path) as image:
        image.load()
        palette = bytes(image.getpalette() or []) if image.mode == "P" else b""
        transparency = image.info.get("transparency", -1)
        if not isinstance(transparency, int):
            transparency = -2
        head = f"{image.mode} {image.width} {image.height} {transparency} {len(palette) // 3}\n"
        with open(path + ".dump", "wb") as out:
            out.write(head.encode())
            out.write(palette)
            if image.mode == "P":
                out.write(image.tobytes())
            out.write(image.convert("RGBA").tobytes())


if __name__ == "__main__":
    for name in sys.argv[1:]:
        dump(name)
