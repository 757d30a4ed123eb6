"""Bitmap file images (as the library's image buffers hold them) to numpy arrays.

Every size and offset in the headers is checked against the bytes at hand before use."""
import struct

import numpy as np


class BitmapError(ValueError):
    """The bytes do not hold a bitmap this package reads."""


FILE_HEADER = struct.Struct("<2sIHHI")
INFO_HEADER = struct.Struct("<IiiHHIIiiII")
MAX_SIDE = 1 << 15


def read(data):
    """(pixels, palette): pixels a (height, width) array of palette indices for 1 and 8
    bits per pixel, or (height, width, 3) RGB for 24; palette an (n, 3) RGB array or None.
    Rows are top first."""
    if len(data) < FILE_HEADER.size + INFO_HEADER.size:
        raise BitmapError("%d bytes are too few for a bitmap" % len(data))
    magic, _, _, _, offset = FILE_HEADER.unpack_from(data, 0)
    (info_size, width, height, planes, bits, compression, _, _, _, colours, _) = INFO_HEADER.unpack_from(
        data, FILE_HEADER.size)
    if magic != b"BM" or info_size < INFO_HEADER.size or planes != 1 or compression != 0:
        raise BitmapError("not an uncompressed bitmap")
    if bits not in (1, 8, 24):
        raise BitmapError("%d bits per pixel not read" % bits)
    top_down = height < 0
    height = abs(height)
    if not (0 < width <= MAX_SIDE and 0 < height <= MAX_SIDE):
        raise BitmapError("size %d x %d out of range" % (width, height))
    stride = (width * bits + 31) // 32 * 4
    if offset < FILE_HEADER.size + info_size or offset + stride * height > len(data):
        raise BitmapError("pixels at %d (%d bytes) lie outside the %d bytes" % (offset, stride * height, len(data)))
    palette = None
    if bits <= 8:
        count = colours or (1 << bits)
        start = FILE_HEADER.size + info_size
        if count > (1 << bits) or start + 4 * count > offset:
            raise BitmapError("palette of %d entries does not fit" % count)
        bgrx = np.frombuffer(data, np.uint8, 4 * count, start).reshape(count, 4)
        palette = bgrx[:, 2::-1].copy()
    rows = np.frombuffer(data, np.uint8, stride * height, offset).reshape(height, stride)
    if bits == 24:
        pixels = rows[:, :width * 3].reshape(height, width, 3)[:, :, ::-1]
    elif bits == 8:
        pixels = rows[:, :width]
    else:
        pixels = np.unpackbits(rows, axis=1)[:, :width]
    if not top_down:
        pixels = pixels[::-1]
    if palette is not None and int(pixels.max(initial=0)) >= len(palette):
        raise BitmapError("a pixel names a colour the palette does not have")
    return np.ascontiguousarray(pixels), palette


def grey_levels(pixels, palette):
    """The grey level of every pixel: palette entries through their luma (ITU-R BT.601)."""
    if palette is None:
        rgb = pixels.astype(np.float32)
    else:
        rgb = palette[pixels].astype(np.float32)
    luma = rgb[..., 0] * 0.299 + rgb[..., 1] * 0.587 + rgb[..., 2] * 0.114
    return np.clip(np.rint(luma), 0, 255).astype(np.uint8)


def colour(pixels, palette):
    """(height, width, 3) RGB."""
    return np.ascontiguousarray(pixels if palette is None else palette[pixels])
