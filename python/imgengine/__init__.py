"""imgengine: the imager library for Python.

    import imgengine
    with imgengine.connect(port=7) as imager:
        imager.settings.qr_code_enabled = True
        imager.apply()
        capture = imager.capture(decode=True, grey=True)
        for barcode in capture.barcodes:
            print(barcode.symbology, barcode.text)
        capture.save_bmp("grey.bmp")
"""
from .capture import Barcode, Capture, Timings
from .errors import (CaptureAborted, CaptureTimeout, CommandError, CommunicationError, ConfigurationFileError,
                     ConnectError, HostSettingsError, ImgEngineError, LibraryNotFoundError, NotConnectedError)
from .imager import Imager, Sensor, Versions, connect, host_version
from .library import library
from .settings import Settings

__all__ = [
    "Barcode", "Capture", "Timings", "CaptureAborted", "CaptureTimeout", "CommandError", "CommunicationError",
    "ConfigurationFileError", "ConnectError", "HostSettingsError", "ImgEngineError", "LibraryNotFoundError",
    "NotConnectedError", "Imager", "Sensor", "Versions", "connect", "host_version", "library", "Settings",
]
