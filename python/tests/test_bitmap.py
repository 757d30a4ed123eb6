"""The bitmap reader against files PIL writes, and against damaged headers."""
import io
import struct

import numpy as np
import pytest
from PIL import Image

from imgengine import bitmap


def bmp_bytes(image):
    out = io.BytesIO()
    image.save(out, format="BMP")
    return out.getvalue()


def test_grey_colour_and_one_bit_images_read_as_pil_reads_them():
    rng = np.random.default_rng(5)
    grey = rng.integers(0, 256, (7, 13), dtype=np.uint8)  # an odd width: rows are padded
    pixels, palette = bitmap.read(bmp_bytes(Image.fromarray(grey, "L")))
    assert np.array_equal(bitmap.grey_levels(pixels, palette), grey)

    rgb = rng.integers(0, 256, (5, 11, 3), dtype=np.uint8)
    pixels, palette = bitmap.read(bmp_bytes(Image.fromarray(rgb, "RGB")))
    assert palette is None and np.array_equal(bitmap.colour(pixels, palette), rgb)

    ones = rng.integers(0, 2, (9, 19), dtype=np.uint8).astype(bool)
    pixels, palette = bitmap.read(bmp_bytes(Image.fromarray(ones).convert("1")))
    assert np.array_equal(bitmap.grey_levels(pixels, palette) > 127, ones)


def test_a_top_down_bitmap_keeps_its_row_order():
    grey = np.arange(12, dtype=np.uint8).reshape(3, 4)
    data = bytearray(bmp_bytes(Image.fromarray(grey, "L")))
    offset = struct.unpack_from("<I", data, 10)[0]
    struct.pack_into("<i", data, 22, -3)  # the height negative: rows stored top first
    stride = 4
    rows = [bytes(data[offset + i * stride: offset + (i + 1) * stride]) for i in range(3)]
    data[offset:offset + 3 * stride] = b"".join(reversed(rows))
    pixels, palette = bitmap.read(bytes(data))
    assert np.array_equal(bitmap.grey_levels(pixels, palette), grey)


@pytest.mark.parametrize("field,value,fmt", [
    (10, 1 << 30, "<I"),     # pixels beyond the end of the data
    (18, 0, "<i"),           # no width
    (18, 1 << 20, "<i"),     # a width past any sensor
    (28, 4, "<H"),           # four bits per pixel
    (30, 1, "<I"),           # run-length compressed
    (46, 300, "<I"),         # more palette entries than 8 bits can name
])
def test_damaged_headers_are_refused(field, value, fmt):
    data = bytearray(bmp_bytes(Image.fromarray(np.zeros((4, 4), np.uint8), "L")))
    struct.pack_into(fmt, data, field, value)
    with pytest.raises(bitmap.BitmapError):
        bitmap.read(bytes(data))


def test_truncated_data_is_refused():
    data = bmp_bytes(Image.fromarray(np.zeros((8, 8), np.uint8), "L"))
    for size in (0, 20, len(data) - 1):
        with pytest.raises(bitmap.BitmapError):
            bitmap.read(data[:size])


def test_a_pixel_naming_a_colour_past_a_short_palette_is_refused():
    data = bytearray(bmp_bytes(Image.fromarray(np.full((2, 2), 200, np.uint8), "L")))
    struct.pack_into("<I", data, 46, 16)  # 16 colours declared; the pixels name colour 200
    with pytest.raises(bitmap.BitmapError):
        bitmap.read(bytes(data))
