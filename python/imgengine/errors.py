"""Exceptions of the imgengine package; each carries the library's result code where one exists."""


class ImgEngineError(Exception):
    """Base of every error of the package. code: the library's result (None when there is none)."""

    def __init__(self, message, code=None):
        super().__init__(message if code is None else "%s (result %d)" % (message, code))
        self.code = code


class LibraryNotFoundError(ImgEngineError, OSError):
    """The library could not be found or loaded."""


class ConnectError(ImgEngineError):
    """Connect failed; code is the connect result (0, -1, -2 or -3)."""

    MEANINGS = {
        0: "the link could not be set up, or reading the versions or the configuration failed",
        -1: "the imager answered but refused the link check",
        -2: "the transport did not open (no such port, port out of range, no USB device)",
        -3: "memory or a thread could not be had",
    }

    def __init__(self, port, code):
        super().__init__("connect to port %d failed: %s" % (port, self.MEANINGS.get(code, "unexpected answer")), code)
        self.port = port


class NotConnectedError(ImgEngineError):
    """The imager is not connected (any more)."""


class CommunicationError(ImgEngineError):
    """An exchange with the imager failed: the connection is marked failed until the next connect."""


class CommandError(ImgEngineError):
    """A service command answered failure."""


class CaptureAborted(ImgEngineError):
    """The operation ended aborted (cancelled, yielded to a host transfer, or an image transfer failed)."""


class CaptureTimeout(ImgEngineError, TimeoutError):
    """The operation did not end within the timeout given; it was cancelled."""


class ConfigurationFileError(ImgEngineError, OSError):
    """A configuration file could not be written or read."""


class HostSettingsError(ImgEngineError, OSError):
    """The host settings store could not be written; code is the system's error code."""
