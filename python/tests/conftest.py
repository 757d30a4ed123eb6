"""Fixtures: velsim processes on free loopback ports, reached through the port map, and
a host settings file of the test's own.

The paths come from the environment (the ctest registration sets them):
  IMGENGINE_LIBRARY  the library under test
  VELSIM             the velsim program
"""
import os
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "transport"))
import velsim_process  # noqa: E402  (velsim on a free port, as the velsim tests run it)
SCENES = os.path.join(HERE, "..", "..", "sim", "scenes")
PORT = 7


class Velsim(velsim_process.Velsim):
    """A velsim process (the velsim tests' own); kill() ends it as a crash would."""

    def __init__(self, *options):
        program = os.environ.get("VELSIM")
        if not program:
            pytest.skip("VELSIM names no velsim program")
        super().__init__(program, *options)

    def kill(self):
        self.process.kill()
        self.process.wait(timeout=10)

    def stop(self):
        """Ends velsim once (a test may stop it before the fixture does); its log."""
        if not hasattr(self, "log"):
            self.log = self.process.stdout.read() if self.process.poll() is not None else super().stop()
        return self.log


def scene(name):
    return os.path.join(SCENES, name + ".scene")


@pytest.fixture
def host_settings(tmp_path, monkeypatch):
    """An empty host settings file for the test."""
    path = tmp_path / "host-settings"
    path.write_text("")
    monkeypatch.setenv("VEL_HOST_SETTINGS", str(path))
    return path


@pytest.fixture
def velsim_factory(monkeypatch, host_settings):
    """Starts velsim with the options given and maps COM port 7 to it."""
    started = []

    def start(*options):
        sim = Velsim(*options)
        started.append(sim)
        monkeypatch.setenv("VEL_SERIAL_PORT_%d" % PORT, sim.url)
        return sim

    yield start
    for sim in started:
        sim.stop()


@pytest.fixture
def shelf(velsim_factory):
    """velsim photographing the shelf scene (four barcodes on a textured background)."""
    return velsim_factory("--scene", scene("shelf"))


@pytest.fixture
def imager(shelf):
    import imgengine
    with imgengine.connect(PORT, timeout=30) as connected:
        connected.settings.maximum_number_barcodes_to_decode = 20  # every barcode of the scene, not just one
        connected.apply()
        yield connected
