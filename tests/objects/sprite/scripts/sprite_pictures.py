# Writes the pictures that the sprite tests cut frames from into the directory given:
#   sheet.png   16 x 16, frames of 8 x 8 two per row: red, green, blue, white
#   strip.png   32 x 8, four frames of 8 x 8 in a row: red, green, blue, white
#   half.png    8 x 8 red at half alpha
#   keyed.png   8 x 8, magenta left half, yellow right half
#   anim.gif    8 x 8, four images: red; a green 2 x 2 corner over it; blue; a white last pixel
#               over that (the encoder stores the later images as the changed parts only)
#   clear.gif   8 x 8, two images: a clear left half beside red; then green with a clear
#               top-left pixel
import sys

from PIL import Image

out = sys.argv[1]
RED, GREEN, BLUE, WHITE = (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255)

sheet = Image.new("RGBA", (16, 16))
for (x, y), colour in zip([(0, 0), (8, 0), (0, 8), (8, 8)], [RED, GREEN, BLUE, WHITE]):
    sheet.paste(colour + (255,), (x, y, x + 8, y + 8))
sheet.save(out + "/sheet.png")

strip = Image.new("RGB", (32, 8))
for i, colour in enumerate([RED, GREEN, BLUE, WHITE]):
    strip.paste(colour, (i * 8, 0, i * 8 + 8, 8))
strip.save(out + "/strip.png")

Image.new("RGBA", (8, 8), RED + (128,)).save(out + "/half.png")

keyed = Image.new("RGB", (8, 8), (255, 255, 0))
keyed.paste((255, 0, 255), (0, 0, 4, 8))
keyed.save(out + "/keyed.png")

PALETTE = [0, 0, 0, *RED, *GREEN, *BLUE, *WHITE] + [0] * (256 * 3 - 15)


def indexed(fill, patches=()):
    image = Image.new("P", (8, 8), fill)
    image.putpalette(PALETTE)
    for box, index in patches:
        image.paste(index, box)
    return image


frames = [indexed(1), indexed(1, [((0, 0, 2, 2), 2)]), indexed(3), indexed(3, [((7, 7, 8, 8), 4)])]
frames[0].save(out + "/anim.gif", save_all=True, append_images=frames[1:], duration=100,
               disposal=1, loop=0)

clear = [indexed(1, [((0, 0, 4, 8), 0)]), indexed(2, [((0, 0, 1, 1), 0)])]
clear[0].save(out + "/clear.gif", save_all=True, append_images=clear[1:], duration=100,
              disposal=2, transparency=0, loop=0)
