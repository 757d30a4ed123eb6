"""The connected imager: connect() and the Imager it answers."""
import atexit
import collections
import os
import threading
import time
import uuid
from typing import NamedTuple

from . import capture as captures
from .errors import (CaptureAborted, CaptureTimeout, CommandError, CommunicationError, ConfigurationFileError,
                     ConnectError, ImgEngineError, NotConnectedError)
from .library import library, path_argument
from .notify import ABORTED, HOST, TRIGGER, Pump
from .settings import Settings

DEFAULT_BAUD = 115200
CANCEL_GRACE_SECONDS = 3.0
TRIGGER_BACKLOG = 32
SA1110 = "SA-1110"

_connect_lock = threading.Lock()
_connected = None  # the Imager of the open connection


class Versions(NamedTuple):
    host: str
    firmware: str
    vision_processor: int
    image_sensor: int
    illumination_board: int


class Sensor(NamedTuple):
    name: str
    colour: bool
    maximum_integration_time: int


def host_version():
    """The library's version text; needs no connection."""
    return library().text("VelGetHostVersion", limit=256)


def _milliseconds(timeout):
    if timeout is None:
        return -1
    if timeout < 0:
        raise ValueError("timeout is seconds, not %r" % timeout)
    return min(int(timeout * 1000), (1 << 31) - 1)


def connect(port, baud=DEFAULT_BAUD, timeout=3.0):
    """Connects to the imager on port (0 USB, 100 the second USB driver, 1..99 a COM port,
    which the port map may turn into a network serial port). timeout (seconds, None for
    no limit) bounds every exchange with the imager. Use the answer as a context manager
    or close() it; one connection at a time per process."""
    global _connected
    if isinstance(port, bool) or not isinstance(port, int) or not 0 <= port <= 100:
        raise ValueError("port is 0..100, not %r" % (port,))
    if isinstance(baud, bool) or not isinstance(baud, int) or baud <= 0:
        raise ValueError("baud is a positive int, not %r" % (baud,))
    lib = library()
    with _connect_lock:
        if _connected is not None:
            raise ImgEngineError("already connected to port %d: close that connection first" % _connected.port)
        result = lib.call("VelDeviceConnectEx", port, _milliseconds(timeout), baud)
        if result != 1:
            raise ConnectError(port, result)
        _connected = Imager(lib, port)
        return _connected


@atexit.register
def _close_at_exit():
    """A connection left open is closed while the interpreter still runs its threads:
    the progress threads must not be inside the library when it unloads."""
    if _connected is not None:
        _connected.close()


class Config:
    """Configuration files: the configuration record and the host settings as INI text."""

    def __init__(self, imager):
        self._imager = imager

    def save(self, path):
        """Writes the host copy of the configuration (nothing is read from the imager)."""
        path = os.path.abspath(os.fspath(path))
        # The library's answer does not tell a written file from one it could not create:
        # it writes a fresh name, whose presence proves the write, which then replaces path.
        fresh = os.path.join(os.path.dirname(path), ".%s.%s.tmp" % (os.path.basename(path), uuid.uuid4().hex))
        lib = self._imager._lib
        with lib.settings_lock:
            lib.call("VelSaveCurrentConfigurations", path_argument(fresh))
        if not os.path.isfile(fresh):
            raise ConfigurationFileError("%s could not be written" % path)
        os.replace(fresh, path)

    def load(self, path):
        """Reads path into the configuration and the host settings and stores the result
        permanently in the imager (when connected; the library does not report that store's
        outcome: a failed one shows at the next exchange). A file that cannot be read
        changes nothing."""
        path = os.fspath(path)
        with open(path, "rb"):  # the library would reset the record before finding the file missing
            pass
        lib = self._imager._lib
        with lib.settings_lock:
            result = lib.call("VelLoadAndDeployConfigurations", path_argument(path))
        if result != 1:
            raise ConfigurationFileError("%s could not be read" % path, result)


# Service commands: method name -> (export, number of arguments, how its result reads).
#   ok1: 1 success, 0 failure; ok1m: 1 success, -1 failure; value: the value, -1 failure;
#   plus1: the value plus 1, 0 failure; none: no result.
SERVICE = {
    "calibrate_black_levels": ("VelCalibrateBlackLevels", 1, "ok1"),
    "set_default_black_levels": ("VelSetDefaultBlackLevels", 1, "ok1"),
    "calibration_status": ("VelGetCalibrationStatus", 0, "plus1"),
    "set_terminal_mode_output": ("VelSetTerminalModeOutput", 0, "ok1"),
    "set_io_pin_configuration": ("VelSetIoPinConfiguration", 2, "ok1"),
    "set_io_pin": ("VelSetIoPinValue", 2, "ok1"),
    "get_io_pin": ("VelGetIoPinValue", 1, "value"),
    "get_sensor_register": ("VelGetSensorRegister", 1, "value"),
    "set_sensor_register": ("VelSetSensorRegister", 2, "ok1m"),
    "set_targeting_leds": ("VelSetTargetingLedsStatus", 1, "ok1m"),
    "set_trigger_status": ("VelSetTriggerStatusCommand", 1, "ok1m"),
    "sleep": ("VelPutDeviceToSleepCommand", 0, "ok1m"),
    "image_standard_deviation": ("VelGetImageStandardDeviation", 0, "value"),
    "erase_firmware": ("VelExecuteFirmwareErase", 0, "none"),
}
FAILED = {"ok1": lambda r: r != 1, "ok1m": lambda r: r != 1, "value": lambda r: r < 0, "plus1": lambda r: r <= 0,
          "none": lambda r: False}
ANSWER = {"ok1": lambda r: None, "ok1m": lambda r: None, "value": lambda r: r, "plus1": lambda r: r - 1,
          "none": lambda r: None}


def _service_method(name, export, arity, reading):
    def method(self, *args):
        if len(args) != arity:
            raise TypeError("%s takes %d argument(s)" % (name, arity))
        for a in args:  # the imager gets each argument's low byte: anything wider would be cut
            if isinstance(a, bool) or not isinstance(a, int) or not 0 <= a <= 255:
                raise ValueError("%s: arguments are 0..255, not %r" % (name, a))
        self._require_connected()
        result = self._lib.call(export, *args)
        if FAILED[reading](result):
            raise CommandError("%s failed" % name, result)
        return ANSWER[reading](result)

    method.__name__ = name
    method.__doc__ = "The service command %s (%d argument(s), each 0..255)." % (export, arity)
    return method


class Imager:
    """The connected imager. Made by connect()."""

    def __init__(self, lib, port):
        self._lib = lib
        self.port = port
        self.settings = Settings(lib)
        self.config = Config(self)
        self._triggers = collections.deque(maxlen=TRIGGER_BACKLOG)
        self._trigger_cond = threading.Condition()
        self._pumps = {HOST: Pump(lib, HOST), TRIGGER: Pump(lib, TRIGGER, on_end=self._trigger_ended)}
        for pump in self._pumps.values():
            pump.start()
        self._open = True

    # Lifetime.
    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Disconnects; harmless when closed already."""
        global _connected
        with _connect_lock:
            if not self._open:
                return
            self._open = False
            for pump in self._pumps.values():
                pump.stop()
            self._lib.call("VelDeviceDisconnect")
            _connected = None
        with self._trigger_cond:
            self._trigger_cond.notify_all()

    @property
    def connected(self):
        return self._open

    def _require_connected(self):
        if not self._open:
            raise NotConnectedError("the imager is not connected")

    def _check_link(self):
        status = self._lib.call("VelGetCommunicationStatus")
        if status != 1:
            raise CommunicationError("the imager does not answer (the connection is marked failed)", status)

    def link_status(self):
        """VelGetCommunicationStatus: 1 the imager answers a link check within 200 ms, -3 the
        connection is (or, when the check is missed, becomes) marked failed, -4 not connected."""
        return self._lib.call("VelGetCommunicationStatus")

    # What the imager is.
    @property
    def versions(self):
        lib = self._lib
        return Versions(host_version(), lib.text("VelGetFirmwareVersion", limit=256),
                        lib.call("VelGetVisionProcessorVersion"), lib.call("VelGetImageSensorVersion"),
                        lib.call("VelGetIlluminationBoardVersion"))

    @property
    def processor(self):
        return SA1110 if self._lib.call("VelIsProcessorTypeSa1110") else "i.MX1"

    @property
    def sensor(self):
        lib = self._lib
        kinds = (("VelIsSensorTypeOv9640", "OV9640"), ("VelIsSensorTypeOv9650", "OV9650"),
                 ("VelIsSensorTypePicocam", "Picocam"))
        name = next((n for f, n in kinds if lib.call(f)), "standard")
        return Sensor(name, bool(lib.call("VelIsColorSensor")), lib.call("VelGetMaximumIntegrationTime"))

    # The configuration record and the imager.
    def apply(self, permanent=False):
        """Sends the settings to the imager, as its temporary or permanent configuration."""
        self._require_connected()
        export = "VelSetPermanentDeviceConfiguration" if permanent else "VelSetTemporaryDeviceConfiguration"
        with self._lib.settings_lock:
            result = self._lib.call(export)
        if result != 1:
            raise CommunicationError("the configuration could not be sent", result)

    def refresh(self):
        """Reads the imager's configuration into the settings."""
        self._require_connected()
        with self._lib.settings_lock:
            result = self._lib.call("VelGetDeviceConfiguration")
        if result != 1:
            raise CommunicationError("the configuration could not be read", result)

    # Captures.
    def capture(self, decode=True, grey=True, binary=False, compressed=False, timeout=30.0):
        """A host capture: waits for its end (at most timeout seconds, then cancels it) and
        answers a Capture with what it announced."""
        if not (decode or grey or binary):
            raise ValueError("capture needs decode, grey or binary")
        self._require_connected()
        if binary and self.processor != SA1110:
            raise ImgEngineError("binary images come only from an SA-1110 imager")
        pump = self._pumps[HOST]
        if pump.status() >> 8 == ABORTED:
            self._check_link()  # an abort after an abort would show no change: rule out a failed line first
        run = pump.begin()
        self._lib.call("VelCaptureImage", int(bool(decode)), int(bool(binary)), int(bool(grey)),
                       int(bool(compressed)))
        if not pump.wait(run, timeout):
            pump.cancel()
            ended = pump.wait(run, CANCEL_GRACE_SECONDS)
            raise CaptureTimeout("the capture did not end within %s s%s" % (timeout, "" if ended else " (cancelled)"))
        if run.end == ABORTED:
            status = self._lib.call("VelGetCommunicationStatus")
            if status != 1:
                raise CommunicationError("the capture failed: the imager does not answer", status)
            raise CaptureAborted("the capture was aborted", ABORTED)
        return captures.snapshot(self._lib, HOST, run)

    def _trigger_ended(self, run):
        try:
            item = captures.snapshot(self._lib, TRIGGER, run)
        except (ImgEngineError, ValueError) as error:
            item = error
        with self._trigger_cond:
            self._triggers.append(item)
            self._trigger_cond.notify_all()

    def triggers(self, timeout=10.0, count=None):
        """Trigger captures as the imager's trigger produces them (the oldest waiting first;
        at most the last 32 are kept). Ends after count captures, when none came within
        timeout seconds, or when the connection closes."""
        given = 0
        while count is None or given < count:
            deadline = None if timeout is None else time.monotonic() + timeout
            with self._trigger_cond:
                while not self._triggers and self._open:
                    left = None if deadline is None else deadline - time.monotonic()
                    if left is not None and left <= 0:
                        return
                    self._trigger_cond.wait(left)
                if not self._triggers:
                    return
                item = self._triggers.popleft()
            if isinstance(item, Exception):
                raise item
            given += 1
            yield item

    def cancel_trigger(self):
        self._pumps[TRIGGER].cancel()


for _name, (_export, _arity, _reading) in SERVICE.items():
    setattr(Imager, _name, _service_method(_name, _export, _arity, _reading))
