"""Errors as exceptions with the library's result codes: no device, a lost connection,
calls after the connection closed; and the example against velsim."""
import os
import subprocess
import sys

import pytest

import imgengine
from conftest import PORT, scene

HERE = os.path.dirname(os.path.abspath(__file__))


def test_no_device(monkeypatch, host_settings):
    monkeypatch.setenv("VEL_SERIAL_PORT_%d" % PORT, "rfc2217://127.0.0.1:1")  # nothing listens there
    with pytest.raises(imgengine.ConnectError) as error:
        imgengine.connect(PORT, timeout=2)
    assert error.value.code in (0, -2) and error.value.port == PORT
    monkeypatch.setenv("VEL_SERIAL_PORT_%d" % PORT, "rfc2217://[::1")  # malformed
    with pytest.raises(imgengine.ConnectError) as error:
        imgengine.connect(PORT, timeout=2)
    assert error.value.code == -2
    for port, baud in ((101, 115200), (-1, 115200), ("7", 115200), (PORT, 0)):
        with pytest.raises(ValueError):
            imgengine.connect(port, baud=baud)


def test_a_lost_connection_fails_what_follows(velsim_factory):
    sim = velsim_factory()  # the demo scene, photographed slowly under a sanitizer
    imager = imgengine.connect(PORT, timeout=30)
    try:
        assert imager.capture(decode=True, grey=False, timeout=60).barcodes
        sim.kill()
        with pytest.raises(imgengine.CommunicationError) as error:
            imager.capture(decode=True, grey=False, timeout=60)
        assert error.value.code == -3
        with pytest.raises(imgengine.CommunicationError):
            imager.capture(decode=True, grey=False, timeout=60)  # the failed mark stays
        with pytest.raises(imgengine.CommandError):
            imager.get_sensor_register(0x12)
        with pytest.raises(imgengine.CommunicationError):
            imager.apply()
        imager.settings.gain = 50  # the host copy works without the imager
        assert imager.settings.gain == 50
    finally:
        imager.close()
    with pytest.raises(imgengine.NotConnectedError):
        imager.capture()
    with pytest.raises(imgengine.NotConnectedError):
        imager.get_io_pin(24)
    assert list(imager.triggers(timeout=1)) == []
    # A new velsim, a new connection.
    velsim_factory("--scene", scene("shelf"))
    with imgengine.connect(PORT, timeout=30) as again:
        again.refresh()


def test_the_example_saves_an_image(shelf, tmp_path):
    out = tmp_path / "shelf.bmp"
    r = subprocess.run([sys.executable, os.path.join(HERE, "..", "examples", "capture.py"), "--url", shelf.url,
                        "--out", str(out)], capture_output=True, text=True, timeout=120,
                       env=dict(os.environ, PYTHONPATH=os.path.join(HERE, "..")))
    assert r.returncode == 0, r.stderr
    assert "'4006381333931'" in r.stdout and "saved %s (1280 x 1024)" % out in r.stdout
    assert out.read_bytes()[:2] == b"BM"


def test_the_example_says_why_it_could_not_connect(tmp_path, host_settings):
    r = subprocess.run([sys.executable, os.path.join(HERE, "..", "examples", "capture.py"), "--url",
                        "rfc2217://[::1", "--out", str(tmp_path / "x.bmp")], capture_output=True, text=True,
                       timeout=60, env=dict(os.environ, PYTHONPATH=os.path.join(HERE, "..")))
    assert r.returncode == 1 and "result -2" in r.stderr and not (tmp_path / "x.bmp").exists()


def test_a_script_that_leaves_the_connection_open_exits_cleanly(shelf):
    code = "import imgengine; imager = imgengine.connect(%d, timeout=30); print(imager.versions.firmware)" % PORT
    r = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60,
                       env=dict(os.environ, PYTHONPATH=os.path.join(HERE, "..")))
    assert r.returncode == 0 and r.stdout.strip() == "SIM 1.00", r.stderr
    assert "client disconnected" in shelf.stop()
