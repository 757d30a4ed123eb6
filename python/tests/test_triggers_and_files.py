"""Trigger captures as an iterator, and configuration files."""
import configparser

import pytest

import imgengine


def trigger_ready(imager):
    imager.settings.update(trigger_decode_barcode_enabled=True, trigger_gray_image_read_enabled=False)
    imager.apply()


def test_trigger_captures_arrive_in_order_and_the_iteration_ends_on_timeout(imager, shelf):
    trigger_ready(imager)
    assert list(imager.triggers(timeout=0.3)) == []  # nothing pulled yet
    shelf.pull()
    shelf.pull()
    captures = list(imager.triggers(timeout=60, count=2))
    assert len(captures) == 2
    for capture in captures:
        assert capture.kind == "trigger" and capture.end == 1
        assert "4006381333931" in {b.text for b in capture.barcodes}
        assert capture.grey is None  # velsim's trigger sends the results only
    assert captures[0].barcodes is not captures[1].barcodes


def test_an_end_announcing_a_grey_image_that_never_came_carries_none(imager, shelf):
    # The library's end event says "with a grey image" by the host's option alone.
    imager.settings.trigger_decode_barcode_enabled = True
    imager.settings.trigger_gray_image_read_enabled = True
    imager.apply()
    shelf.pull()
    (capture,) = imager.triggers(timeout=60, count=1)
    assert capture.end == 9 and capture.grey is None and capture.barcodes
    assert list(imager.triggers(timeout=0.3)) == []


def test_a_host_capture_between_triggers_is_not_taken_for_one(imager, shelf):
    trigger_ready(imager)
    imager.capture(decode=True, grey=False, timeout=60)
    assert list(imager.triggers(timeout=0.5)) == []
    shelf.pull()
    (capture,) = imager.triggers(timeout=60, count=1)
    assert capture.kind == "trigger"


def test_configuration_file_round_trip(imager, tmp_path):
    path = tmp_path / "imager.ini"
    imager.settings.gain = 123
    imager.settings.code93_enabled = True
    imager.config.save(path)
    ini = configparser.ConfigParser(strict=False, interpolation=None)
    ini.read(path)
    assert ini.sections(), path.read_text()[:400]
    imager.settings.gain = 9
    imager.settings.code93_enabled = False
    imager.config.load(path)
    assert imager.settings.gain == 123 and imager.settings.code93_enabled is True
    imager.refresh()  # it was stored in the imager too
    assert imager.settings.gain == 123


def test_a_missing_configuration_file_changes_nothing(imager, tmp_path):
    imager.settings.gain = 321
    with pytest.raises(FileNotFoundError):
        imager.config.load(tmp_path / "missing.ini")
    assert imager.settings.gain == 321  # the library alone would have reset the record first
    with pytest.raises(imgengine.ConfigurationFileError):
        imager.config.save(tmp_path / "no" / "such" / "folder.ini")
    existing = tmp_path / "kept.ini"
    existing.write_text("old")
    imager.config.save(existing)
    assert existing.read_text() != "old" and not [p for p in tmp_path.iterdir() if p.name.endswith(".tmp")]
