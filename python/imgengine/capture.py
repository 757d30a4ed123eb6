"""Captures: the decode results and images of one run, copied out of the library's
shared buffers when the run ended, so that they stay valid after later runs."""
import ctypes
import os
import tempfile
from dataclasses import dataclass, field
from typing import List, Optional, Tuple

import numpy as np

from . import bitmap
from .errors import ImgEngineError
from .library import path_argument
from .notify import BINARY_READY, GREY_READY, RESULTS_READY

MAX_BARCODES = 1024
MAX_BARCODE_BYTES = 1 << 20
MAX_IMAGE_BYTES = 1 << 28
NAME_BYTES = 64
CORNERS = ("TopLeft", "TopRight", "BottomRight", "BottomLeft")


@dataclass(frozen=True)
class Barcode:
    """One decoded barcode: its type id and symbology name, its bytes (text: the bytes as
    Latin-1), its corners (top left, top right, bottom right, bottom left) and decode time."""
    type: int
    symbology: str
    data: bytes
    corners: Tuple[Tuple[int, int], ...]
    decode_time: int

    @property
    def text(self):
        return self.data.decode("latin-1")


@dataclass
class Timings:
    capture: int
    auto_exposure: int
    processing: int


@dataclass
class Capture:
    """The outcome of one run of the host or the trigger operation.

    grey: (height, width) uint8 grey levels, or None when no grey image came; colour:
    (height, width, 3) RGB when the image is a colour one (grey then holds its luma);
    binary: (height, width) uint8, 0 or 255, or None. jpeg: the compressed grey image's
    stream as the imager sent it, or None."""
    kind: str
    end: int
    barcodes: List[Barcode] = field(default_factory=list)
    timings: Optional[Timings] = None
    grey: Optional[np.ndarray] = None
    colour: Optional[np.ndarray] = None
    binary: Optional[np.ndarray] = None
    jpeg: Optional[bytes] = None
    timestamp: str = ""
    grey_bitmap: Optional[bytes] = field(default=None, repr=False)
    binary_bitmap: Optional[bytes] = field(default=None, repr=False)

    def save_bmp(self, path, image="grey"):
        """Writes the grey (or binary) image as a bitmap file (a compressed grey image decompressed)."""
        data = self._bitmap(image)
        with open(path, "wb") as f:
            f.write(data)

    def save_jpeg(self, path, image="grey"):
        """Writes the image as a JPEG file: a compressed grey image as the imager's stream,
        any other compressed by the library at quality 75."""
        if image == "grey" and self.jpeg is not None:
            with open(path, "wb") as f:
                f.write(self.jpeg)
            return
        data = self._bitmap(image)
        with tempfile.TemporaryDirectory() as folder:
            source = os.path.join(folder, "image.bmp")
            with open(source, "wb") as f:
                f.write(data)
            result = _lib().call("VelExecuteCompression", path_argument(source), path_argument(path))
        if result != 1:
            raise ImgEngineError("the image could not be compressed into %s" % path, result)

    def _bitmap(self, image):
        data = {"grey": self.grey_bitmap, "binary": self.binary_bitmap}.get(image, ...)
        if data is ...:
            raise ValueError("image is 'grey' or 'binary', not %r" % (image,))
        if data is None:
            raise ImgEngineError("this capture holds no %s image" % image)
        return data


def _lib():
    from .library import library
    return library()


def _checked(value, limit, what):
    if not 0 <= value <= limit:
        raise ImgEngineError("the library reported %d for %s (0..%d expected)" % (value, what, limit))
    return value


def read_barcodes(lib):
    count = _checked(lib.call("VelGetNumberOfDecodedBarcodes"), MAX_BARCODES, "the number of barcodes")
    barcodes = []
    for i in range(count):
        type_id = lib.call("VelGetBarcodeType", i)
        size = _checked(lib.call("VelGetBarcodeDataSize", i), MAX_BARCODE_BYTES, "a barcode's size")
        buffer = (ctypes.c_ubyte * max(size, 1))()
        n = lib.call("VelGetBarcodeData", i, size, buffer)
        data = bytes(buffer)[:max(0, min(n, size))]
        corners = tuple((lib.call("VelGetBarcode%sX" % c, i), lib.call("VelGetBarcode%sY" % c, i)) for c in CORNERS)
        barcodes.append(Barcode(type_id, lib.text("VelGetBarcodeName", type_id, limit=NAME_BYTES) or "unknown",
                                data, corners, lib.call("VelGetBarcodeProcessingTime", i)))
    return barcodes


def _buffer(lib, pointer_function, size_function):
    size = _checked(lib.call(size_function), MAX_IMAGE_BYTES, size_function)
    pointer = lib.call(pointer_function)
    if size == 0 or not pointer:
        return None
    return ctypes.string_at(pointer, size)


def _decompressed(lib, jpeg):
    """The library's decompression of a JPEG stream into a grey bitmap file image."""
    with tempfile.TemporaryDirectory() as folder:
        source, target = os.path.join(folder, "image.jpg"), os.path.join(folder, "image.bmp")
        with open(source, "wb") as f:
            f.write(jpeg)
        result = lib.call("VelExecuteDecompression", path_argument(source), path_argument(target))
        if result != 1:
            raise ImgEngineError("the compressed grey image could not be decompressed", result)
        with open(target, "rb") as f:
            return f.read()


def read_grey(lib, capture):
    compressed = lib.call("VelGetGreyImageDataSize") == 0 and lib.call("VelGetGreyImageCompressedDataSize") > 0
    if compressed:
        capture.jpeg = _buffer(lib, "VelGetGreyImageData", "VelGetGreyImageCompressedDataSize")
        capture.grey_bitmap = _decompressed(lib, capture.jpeg)
    else:
        capture.grey_bitmap = _buffer(lib, "VelGetGreyImageBitmapFileData", "VelGetGreyImageBitmapFileSize")
    if capture.grey_bitmap is None:
        return
    pixels, palette = bitmap.read(capture.grey_bitmap)
    capture.grey = bitmap.grey_levels(pixels, palette)
    if pixels.ndim == 3:
        capture.colour = bitmap.colour(pixels, palette)


def read_binary(lib, capture):
    capture.binary_bitmap = _buffer(lib, "VelGetBinaryImageBitmapFileData", "VelGetBinaryImageBitmapFileSize")
    if capture.binary_bitmap is not None:
        pixels, palette = bitmap.read(capture.binary_bitmap)
        capture.binary = np.where(bitmap.grey_levels(pixels, palette) >= 128, 255, 0).astype(np.uint8)


def snapshot(lib, kind, run):
    """The results and images that the run announced, copied out."""
    capture = Capture(kind=kind, end=run.end)
    if run.seen(RESULTS_READY):
        capture.barcodes = read_barcodes(lib)
        capture.timings = Timings(lib.call("VelGetImageCaptureTime"), lib.call("VelGetAutoExposureExecutionTime"),
                                  lib.call("VelGetImageProcessingTime"))
    # Only an image announced as received: the trigger's end event 9 follows the host's
    # option to read a grey image, whether or not the imager sent one.
    if run.seen(GREY_READY):
        read_grey(lib, capture)
        capture.timestamp = lib.owned_text("VelGetCaptureTimestampStringInASCII")
    if run.seen(BINARY_READY):
        read_binary(lib, capture)
    return capture
