"""Finds and loads the library, and binds its exports from the generated export table.

The library is searched for in this order: the file named by IMGENGINE_LIBRARY, a copy
next to this package, on Windows the installed SDK's DLL for this interpreter's
architecture (IMGENGINE_SDK names the SDK's folder, x86\bin or x64\bin below it), then
the system's library path. On Windows ImgEngine.dll uses
__stdcall (WinDLL); its decorated exports are bound under the name the DLL gives them.
"""
import ctypes
import ctypes.util
import json
import os
import struct
import sys
import threading
from importlib import resources

from .errors import LibraryNotFoundError

WINDOWS = sys.platform == "win32"
FILE_NAME = "ImgEngine.dll" if WINDOWS else "libImgEngine.so"
# The soname; libImgEngine.so itself is only installed with the development files.
SONAME = "libImgEngine.so.10"

CTYPES = {
    "void": None, "int": ctypes.c_int, "uint": ctypes.c_uint, "char_p": ctypes.c_char_p,
    "uchar_p": ctypes.POINTER(ctypes.c_ubyte), "int_p": ctypes.POINTER(ctypes.c_int), "handle": ctypes.c_void_p,
}
# char* results are library-owned text: bound as void* and read with string_at.
RESULT_CTYPES = dict(CTYPES, char_p=ctypes.c_void_p, uchar_p=ctypes.c_void_p)


def table(name):
    """A generated table shipped in the package (exports or settings)."""
    text = resources.files(__package__).joinpath("_tables", name + ".json").read_text(encoding="utf-8")
    return json.loads(text)


def architecture():
    """The SDK's folder for this interpreter: a 64-bit Python loads only the x64 DLL."""
    return "x64" if struct.calcsize("P") == 8 else "x86"


def candidates():
    """Where the library is looked for, in order."""
    named = os.environ.get("IMGENGINE_LIBRARY")
    if named:
        return [named]
    here = os.path.dirname(os.path.abspath(__file__))
    found = [os.path.join(here, FILE_NAME)]
    if WINDOWS:
        sdk = os.environ.get("IMGENGINE_SDK")
        if sdk:
            found.append(os.path.join(sdk, architecture(), "bin", FILE_NAME))
        found.append(FILE_NAME)
    else:
        found += [SONAME, FILE_NAME]
        system = ctypes.util.find_library("ImgEngine")
        if system:
            found.append(system)
    return found


def load():
    loader = ctypes.WinDLL if WINDOWS else ctypes.CDLL
    errors = []
    for path in candidates():
        if os.path.isabs(path) and not os.path.exists(path):
            errors.append("%s: no such file" % path)
            continue
        try:
            return loader(path), path
        except OSError as error:
            # Windows error 193: the DLL is of the other architecture.
            if getattr(error, "winerror", None) == 193:
                error = "not a %s DLL (this Python is %d-bit and loads only the %s ImgEngine.dll)" % (
                    architecture(), struct.calcsize("P") * 8, architecture())
            errors.append("%s: %s" % (path, error))
    raise LibraryNotFoundError("%s not found (set IMGENGINE_LIBRARY to its path%s): %s"
                               % (FILE_NAME, ", or IMGENGINE_SDK to the SDK's folder" if WINDOWS else "",
                                  "; ".join(errors)))


class SharedExclusiveLock:
    """Many holders of the shared side at once, or one of the exclusive side.

    Connect and disconnect must not run at the same time as any other function of the
    library: they take the exclusive side, every other call the shared side. A waiting
    exclusive holder keeps new shared holders out so that it is not starved."""

    def __init__(self):
        self._cond = threading.Condition(threading.Lock())
        self._shared = 0
        self._exclusive = False
        self._waiting = 0

    def acquire_shared(self):
        with self._cond:
            while self._exclusive or self._waiting:
                self._cond.wait()
            self._shared += 1

    def release_shared(self):
        with self._cond:
            self._shared -= 1
            if self._shared == 0:
                self._cond.notify_all()

    def acquire_exclusive(self):
        with self._cond:
            self._waiting += 1
            while self._exclusive or self._shared:
                self._cond.wait()
            self._waiting -= 1
            self._exclusive = True

    def release_exclusive(self):
        with self._cond:
            self._exclusive = False
            self._cond.notify_all()


class Library:
    """The loaded library: every export as a method under its C name, each call under
    the process-wide lock (see SharedExclusiveLock)."""

    EXCLUSIVE = frozenset({"VelDeviceConnect", "VelDeviceConnectEx", "VelDeviceDisconnect"})

    def __init__(self):
        self.handle, self.path = load()
        self.lock = SharedExclusiveLock()
        # Settings calls rewrite whole flag words and configuration files reset the
        # record: they run one at a time.
        self.settings_lock = threading.RLock()
        self.exports = table("exports")
        self.functions = {}
        for entry in self.exports:
            exported = entry["exported"] if WINDOWS else entry["name"]
            function = getattr(self.handle, exported)
            function.restype = RESULT_CTYPES[entry["restype"]]
            function.argtypes = [CTYPES[t] for t in entry["argtypes"]]
            self.functions[entry["name"]] = function

    def call(self, name, *args):
        function = self.functions[name]
        if name in self.EXCLUSIVE:
            self.lock.acquire_exclusive()
            try:
                return function(*args)
            finally:
                self.lock.release_exclusive()
        self.lock.acquire_shared()
        try:
            return function(*args)
        finally:
            self.lock.release_shared()

    def __getattr__(self, name):
        if name.startswith("Vel") or name == "SetCommunicationError":
            if name not in self.functions:
                raise AttributeError(name)
            return lambda *args: self.call(name, *args)
        raise AttributeError(name)

    def text(self, name, *args, limit=4096):
        """A text getter that copies into a buffer (maxLength, buffer): the text copied."""
        buffer = ctypes.create_string_buffer(limit)
        n = self.call(name, *args, limit, buffer)
        n = max(0, min(n, limit))  # the count is the library's: never trust it past the buffer
        return buffer.raw[:n].split(b"\0", 1)[0].decode("latin-1")

    def owned_text(self, name):
        """A getter answering a library-owned zero-terminated text (or null)."""
        pointer = self.call(name)
        return ctypes.string_at(pointer).decode("latin-1") if pointer else ""


_library = None
_library_lock = threading.Lock()


def library():
    """The process's one Library, loaded on first use."""
    global _library
    with _library_lock:
        if _library is None:
            _library = Library()
        return _library


def path_argument(path):
    """A file name as the library takes it: bytes in the file system's encoding."""
    return os.fsencode(os.fspath(path)) if not WINDOWS else os.fspath(path).encode("mbcs")
