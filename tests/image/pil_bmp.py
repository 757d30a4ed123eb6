"""Prints what PIL reads from a BMP file: width, height, mode, whether the palette
is the 256-entry grey ramp, and a hex dump of the pixels, rows top first."""
import sys

from PIL import Image

with Image.open(sys.argv[1]) as image:
    image.load()
    palette = image.getpalette() if image.mode == "P" else None
    grey_ramp = palette is not None and palette[:768] == [v for i in range(256) for v in (i, i, i)]
    print(image.width, image.height, image.mode, "grey-ramp" if grey_ramp or image.mode == "L" else "other")
    print(image.tobytes().hex())
