"""Host captures from velsim: barcodes, and image arrays compared with the library's own
saves read by PIL and with zbarimg's reading of the saved files."""
import shutil
import subprocess

import numpy as np
import pytest
from PIL import Image

import imgengine
from imgengine.library import path_argument
from conftest import PORT

SHELF = {"VEL-0042-CODE128": "Code 128", "4006381333931": "UPC", "Data Matrix: lot 7731": "Data Matrix"}


def library_save(imager, export, path):
    assert imager._lib.call(export, path_argument(path), 1) == 1
    return np.array(Image.open(path).convert("L"))


def zbar(path):
    if not shutil.which("zbarimg"):
        pytest.skip("zbarimg is not installed")
    return subprocess.run(["zbarimg", "-q", "--raw", str(path)], capture_output=True, text=True).stdout.split("\n")


def test_capture_decodes_and_copies_the_grey_image(imager, tmp_path):
    capture = imager.capture(decode=True, grey=True, timeout=60)
    assert capture.end == 1
    found = {b.text: b for b in capture.barcodes}
    assert set(SHELF) <= set(found)
    for text, symbology in SHELF.items():
        barcode = found[text]
        assert barcode.symbology == symbology and barcode.data == text.encode()
        assert all(0 <= x < 1280 and 0 <= y < 1024 for x, y in barcode.corners)
    assert capture.timings is not None and capture.timings.capture >= 0
    assert capture.grey.shape == (1024, 1280) and capture.grey.dtype == np.uint8
    assert capture.colour is None and capture.binary is None and capture.jpeg is None
    assert np.array_equal(capture.grey, library_save(imager, "VelSaveGreyImageAsBmpFile", tmp_path / "lib.bmp"))
    capture.save_bmp(tmp_path / "grey.bmp")
    assert np.array_equal(np.array(Image.open(tmp_path / "grey.bmp")), capture.grey)
    assert "VEL-0042-CODE128" in zbar(tmp_path / "grey.bmp")


def test_images_stay_valid_after_the_next_capture(imager, tmp_path):
    first = imager.capture(decode=False, grey=True, timeout=60)
    kept = first.grey.copy()
    second = imager.capture(decode=False, grey=True, compressed=True, timeout=60)
    assert np.array_equal(first.grey, kept)
    assert first.barcodes == [] and first.timings is None  # no decode asked for: none reported
    # The compressed image: the imager's stream, and its pixels as PIL decodes them.
    assert second.jpeg[:2] == b"\xff\xd8"
    decoded = np.array(Image.open(__import__("io").BytesIO(second.jpeg)).convert("L"))
    assert second.grey.shape == decoded.shape == (1024, 1280)
    assert np.abs(second.grey.astype(int) - decoded).mean() < 1.0
    second.save_jpeg(tmp_path / "second.jpg")
    assert (tmp_path / "second.jpg").read_bytes() == second.jpeg
    # The first, uncompressed image compressed by the library from the copy.
    first.save_jpeg(tmp_path / "first.jpg")
    reread = np.array(Image.open(tmp_path / "first.jpg").convert("L"))
    assert reread.shape == kept.shape and np.abs(reread.astype(int) - kept).mean() < 4.0
    assert "VEL-0042-CODE128" in zbar(tmp_path / "first.jpg")


def test_binary_image_from_an_sa1110(imager, tmp_path):
    assert imager.processor == "SA-1110"
    capture = imager.capture(decode=False, grey=False, binary=True, timeout=60)
    assert capture.grey is None and capture.binary is not None
    assert set(np.unique(capture.binary)) <= {0, 255} and len(np.unique(capture.binary)) == 2
    assert np.array_equal(capture.binary,
                          library_save(imager, "VelSaveBinaryImageAsBmpFile", tmp_path / "binary.bmp"))
    capture.save_bmp(tmp_path / "mine.bmp", image="binary")
    assert (tmp_path / "mine.bmp").read_bytes() == (tmp_path / "binary.bmp").read_bytes()
    with pytest.raises(imgengine.ImgEngineError, match="no grey image"):
        capture.save_bmp(tmp_path / "grey.bmp")


def test_capture_arguments_are_checked(velsim_factory):
    velsim_factory("--scene", __import__("conftest").scene("shelf"), "--processor", "0")
    with imgengine.connect(PORT, timeout=30) as imager:
        assert imager.processor == "i.MX1"
        with pytest.raises(ValueError):
            imager.capture(decode=False, grey=False)
        with pytest.raises(imgengine.ImgEngineError, match="SA-1110"):
            imager.capture(binary=True)


def test_a_capture_past_its_timeout_is_cancelled_and_the_imager_stays_usable(velsim_factory):
    velsim_factory("--scene", __import__("conftest").scene("shelf"), "--paced")
    with imgengine.connect(PORT, timeout=30) as imager:
        imager.settings.maximum_number_barcodes_to_decode = 20
        imager.apply()
        # A paced line at 115200 baud takes minutes for the 1.3 MB grey image.
        with pytest.raises(imgengine.CaptureTimeout):
            imager.capture(decode=False, grey=True, timeout=2)
        capture = imager.capture(decode=True, grey=False, timeout=60)
        assert "4006381333931" in {b.text for b in capture.barcodes}
