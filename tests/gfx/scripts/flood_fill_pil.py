"""Flood-fills pictures with PIL's ImageDraw.floodfill and a border colour. Each argument is
IN:OUT:X:Y:FILL:BORDER (colours as RRGGBB hex); OUT is written as a binary PPM. Run by
/usr/bin/python3, whose PIL is Debian's."""
import sys

from PIL import Image, ImageDraw


def colour(text):
    value = int(text, 16)
    return (value >> 16 & 255, value >> 8 & 255, value & 255)


for spec in sys.argv[1:]:
    source, target, x, y, fill, border = spec.split(":")
    with Image.open(source) as image:
        picture = image.convert("RGB")
    ImageDraw.floodfill(picture, (int(x), int(y)), colour(fill), border=colour(border))
    picture.save(target)
