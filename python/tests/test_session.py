"""Connecting to velsim through the port map: versions, classification, settings and
their round trip through the imager, service commands."""
import pytest

import imgengine
from conftest import PORT


def test_connect_reads_what_velsim_reports(velsim_factory):
    velsim_factory("--firmware", "PY 2.50", "--sensor", "7FA29652")
    with imgengine.connect(PORT, timeout=10) as imager:
        assert imager.connected
        versions = imager.versions
        assert versions.firmware == "PY 2.50"
        assert versions.image_sensor == 0x7FA29652
        assert versions.host.startswith("V10.0 Build 15")
        assert imager.sensor.name == "OV9650" and imager.sensor.colour
        assert imager.sensor.maximum_integration_time == 1048
        imager.refresh()  # an exchange
    assert not imager.connected
    assert imager.link_status() == -4
    imager.close()  # a second close is harmless


def test_one_connection_at_a_time(imager):
    with pytest.raises(imgengine.ImgEngineError, match="already connected"):
        imgengine.connect(PORT)
    imager.refresh()  # the open connection is untouched


def test_settings_round_trip_through_the_imager(imager):
    s = imager.settings
    s.qr_code_enabled = not s.qr_code_enabled
    flipped = s.qr_code_enabled
    s.gain = 77
    s.threshold_bias = -5  # a signed field
    s.image_rotation_degrees = 180
    imager.apply()
    # The host copy is set back, then read from the imager again.
    s.qr_code_enabled = not flipped
    s.gain = 1
    s.threshold_bias = 0
    imager.refresh()
    assert (s.qr_code_enabled, s.gain, s.threshold_bias, s.image_rotation_degrees) == (flipped, 77, -5, 180)
    assert isinstance(s.qr_code_enabled, bool) and isinstance(s.gain, int)
    everything = s.as_dict()
    assert len(everything) == len(s.names) > 100 and everything["gain"] == 77


def test_settings_refuse_values_the_record_would_cut(imager):
    s = imager.settings
    s.gain = 300
    with pytest.raises(ValueError, match="out of the setting's range"):
        s.gain = 1 << 20
    assert s.gain == 300  # left as it was
    with pytest.raises(TypeError):
        s.qr_code_enabled = 1
    with pytest.raises(TypeError):
        s.gain = True
    with pytest.raises(ValueError):
        s.gain = 1 << 40
    with pytest.raises(AttributeError):
        s.update(no_such_setting=1)
    with pytest.raises(AttributeError):
        s.no_such_setting = 1


def test_histogram_modes_are_selected_not_switched_off(imager):
    s = imager.settings
    s.image_histogram_correction_uses_bounds = True
    assert s.image_histogram_correction_uses_bounds and not s.image_histogram_correction_automatic
    with pytest.raises(ValueError, match="select another mode"):
        s.image_histogram_correction_uses_bounds = False
    s.image_histogram_correction_automatic = True
    assert not s.image_histogram_correction_uses_bounds


def test_host_settings_go_to_the_host_settings_file(imager, host_settings):
    imager.settings.auto_save_enabled = True
    assert "AutoSaved=D:1" in host_settings.read_text().splitlines()
    assert imager.settings.auto_save_enabled is True
    host_settings.unlink()  # the library never creates the store
    with pytest.raises(imgengine.HostSettingsError) as error:
        imager.settings.auto_save_enabled = False
    assert error.value.code != 0


def test_service_commands(imager):
    imager.set_io_pin_configuration(24, 1)
    imager.set_io_pin(24, 1)
    assert imager.get_io_pin(24) in (0, 1)
    with pytest.raises(imgengine.CommandError) as error:
        imager.set_io_pin(2, 1)  # no pin has the identifier 2
    assert error.value.code == 0
    imager.set_sensor_register(0x12, 0x5A)
    assert imager.get_sensor_register(0x12) == 0x5A
    assert 0 <= imager.calibration_status() <= 255
    imager.set_targeting_leds(1)
    with pytest.raises(ValueError):
        imager.set_io_pin(24, 256)  # the imager would get the low byte only
    with pytest.raises(TypeError):
        imager.get_io_pin()
