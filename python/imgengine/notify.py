"""Progress notifications of the host and the trigger operation.

Each operation gets a pump thread of its own, registered with the library as the
operation's progress thread, so that its messages are never mixed with the other's.

On Linux a thread's messages are reached through VelOutputProgress, which returns the
events 3..8 (results, images) and swallows the others; the end of a run (done, aborted,
trigger done with a grey image) is read from the operation's status word, which holds
the last event posted: a run has ended when the word shows an end event after a
reportable event was seen, or when it changed to an end event.

On Windows the pump is a thread with a message queue taking every WM_OPERATION_PROGRESS
message, and it also runs the cancels, so the cancel watchdog's timer fires on a thread
that takes its messages.
"""
import ctypes
import threading
import time

from .library import WINDOWS

WM_USER = 0x0400
WM_OPERATION_PROGRESS = WM_USER + 258
WM_QUIT = 0x0012
WM_APP_CANCEL = 0x8000 + 17

DONE, ABORTED, RESULTS_PROGRESS, BINARY_PROGRESS, GREY_PROGRESS = 1, 2, 3, 4, 5
RESULTS_READY, BINARY_READY, GREY_READY, TRIGGER_DONE_WITH_GREY = 6, 7, 8, 9
END_EVENTS = frozenset({DONE, ABORTED, TRIGGER_DONE_WITH_GREY})
REPORTED = range(RESULTS_PROGRESS, GREY_READY + 1)

HOST, TRIGGER = "host", "trigger"
REGISTER = {HOST: "VelRegisterHostOperationProgressThread", TRIGGER: "VelRegisterTriggerProgressThread"}
STATUS = {HOST: "VelGetHostInitiatedOperationStatus", TRIGGER: "VelGetTriggerOperationStatus"}
CANCEL = {HOST: "VelCancelHostInitiatedOperation", TRIGGER: "VelCancelTriggerOperation"}


class Run:
    """The events of one run of an operation, as they arrive."""

    def __init__(self):
        self.events = []
        self.end = None  # the end event once the run is over

    def seen(self, event):
        return event in self.events


class Pump:
    """The pump thread of one operation. on_event(event, percent) is called on the pump
    thread for every event; on_end(run) when a run ends."""

    POLL_SECONDS = 0.002

    def __init__(self, lib, kind, on_end=None):
        self.lib = lib
        self.kind = kind
        self.on_end = on_end
        self.cond = threading.Condition()
        self.run = Run()
        self.thread_id = None
        self._stop = False
        self._ready = threading.Event()
        self._thread = threading.Thread(target=self._main, name="imgengine-%s-progress" % kind, daemon=True)

    def start(self):
        self._thread.start()
        self._ready.wait()
        self.lib.call(REGISTER[self.kind], self.thread_id)

    def stop(self):
        """Unregisters the thread and ends it; before disconnect."""
        self.lib.call(REGISTER[self.kind], 0)
        self._stop = True
        if WINDOWS and self.thread_id:
            user32.PostThreadMessageW(self.thread_id, WM_QUIT, 0, 0)
        self._thread.join()
        with self.cond:
            self.cond.notify_all()

    def begin(self):
        """A new run is about to be started by the caller: events from now on belong to it."""
        with self.cond:
            self.run = Run()
            return self.run

    def cancel(self):
        if WINDOWS:
            user32.PostThreadMessageW(self.thread_id, WM_APP_CANCEL, 0, 0)
        else:
            self.lib.call(CANCEL[self.kind])

    def wait(self, run, seconds):
        """Waits until run ended; answers whether it did."""
        deadline = None if seconds is None else time.monotonic() + seconds
        with self.cond:
            while run.end is None and not self._stop:
                left = None if deadline is None else deadline - time.monotonic()
                if left is not None and left <= 0:
                    break
                self.cond.wait(left)
            return run.end is not None

    def status(self):
        return self.lib.call(STATUS[self.kind]) & 0xFFFF

    def _event(self, event, percent):
        with self.cond:
            run = self.run
            run.events.append(event)
            if event in END_EVENTS:
                run.end = event
                self.run = Run()
            self.cond.notify_all()
        if event in END_EVENTS and self.on_end:
            self.on_end(run)

    def _main(self):
        if WINDOWS:
            self._windows_loop()
        else:
            self._posix_loop()

    def _posix_loop(self):
        self.thread_id = threading.get_native_id()
        self.lib.call("VelOutputProgress", 0, -1)  # makes this thread's queue
        self._ready.set()
        last_end = self.status()
        reported = False
        while not self._stop:
            # The word is read first: every reportable message posted before it showed
            # an end is then in the queue ahead of anything else, so a poll that finds
            # none reportable means that they have all been taken.
            word = self.status()
            event = self.lib.call("VelOutputProgress", 0, -1)
            if event in REPORTED:
                self._event(event, word & 0xFF)
                reported = True
                continue
            if word >> 8 in END_EVENTS and (reported or word != last_end):
                self._event(word >> 8, word & 0xFF)
                reported = False
                last_end = word
            time.sleep(self.POLL_SECONDS)

    def _windows_loop(self):
        message = MSG()
        user32.PeekMessageW(ctypes.byref(message), None, 0, 0, 0)  # makes this thread's queue
        self.thread_id = kernel32.GetCurrentThreadId()
        self._ready.set()
        while user32.GetMessageW(ctypes.byref(message), None, 0, 0) > 0:
            if message.message == WM_OPERATION_PROGRESS and message.hWnd is None:
                self._event(int(message.lParam), int(message.wParam))
            elif message.message == WM_APP_CANCEL and message.hWnd is None:
                self.lib.call(CANCEL[self.kind])
            else:
                user32.TranslateMessage(ctypes.byref(message))
                user32.DispatchMessageW(ctypes.byref(message))


if WINDOWS:
    from ctypes import wintypes

    class MSG(ctypes.Structure):
        _fields_ = [("hWnd", wintypes.HWND), ("message", wintypes.UINT), ("wParam", wintypes.WPARAM),
                    ("lParam", wintypes.LPARAM), ("time", wintypes.DWORD), ("pt", wintypes.POINT)]

    user32 = ctypes.WinDLL("user32", use_last_error=True)
    kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
    user32.PeekMessageW.argtypes = [ctypes.POINTER(MSG), wintypes.HWND, wintypes.UINT, wintypes.UINT, wintypes.UINT]
    user32.GetMessageW.argtypes = [ctypes.POINTER(MSG), wintypes.HWND, wintypes.UINT, wintypes.UINT]
    user32.TranslateMessage.argtypes = [ctypes.POINTER(MSG)]
    user32.DispatchMessageW.argtypes = [ctypes.POINTER(MSG)]
    user32.PostThreadMessageW.argtypes = [wintypes.DWORD, wintypes.UINT, wintypes.WPARAM, wintypes.LPARAM]
    kernel32.GetCurrentThreadId.restype = wintypes.DWORD
