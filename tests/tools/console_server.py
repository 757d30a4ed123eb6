"""Starts `velcli serve` for the console's tests and talks to it.

    with Console(velcli, "--simulate", env=env) as console:
        status, body = console.post("/api/capture", {"decode": True})
"""
import json
import os
import re
import signal
import subprocess
import time
import urllib.error
import urllib.request


class Console:
    def __init__(self, velcli, *args, listen="127.0.0.1:0", token=None, env=None, startup=60, launcher=()):
        command = [*launcher, velcli, "serve", "--listen", listen, *args]
        if token:
            command += ["--token", token]
        self.token = token
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, env=env)
        self.output = []
        deadline = time.monotonic() + startup
        self.base = None
        # The first line names the address ("console: http://HOST:PORT/").
        while time.monotonic() < deadline and self.base is None:
            line = self.process.stdout.readline()
            if not line:
                break
            self.output.append(line)
            m = re.search(r"(http://\S+?:\d+)/", line)
            if m:
                self.base = m.group(1)
        if self.base is None:
            self.stop()
            raise RuntimeError("velcli serve did not start: %r" % "".join(self.output))
        self.host = self.base.split("//", 1)[1]

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self, seconds=30):
        """Ctrl+C, then the exit code (killed after seconds)."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
            try:
                self.process.wait(seconds)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.output.append(self.process.stdout.read() or "")
        return self.process.returncode

    def request(self, method, path, body=None, headers=None, raw=None, timeout=150, token=True):
        """(status, parsed JSON or bytes, headers)."""
        data = raw if raw is not None else (json.dumps(body).encode() if body is not None else None)
        h = dict(headers or {})
        if token and self.token and "Authorization" not in h:
            h["Authorization"] = "Bearer " + self.token
        request = urllib.request.Request(self.base + path, data=data, method=method, headers=h)
        try:
            with urllib.request.urlopen(request, timeout=timeout) as r:
                status, payload, head = r.status, r.read(), r.headers
        except urllib.error.HTTPError as e:
            status, payload, head = e.code, e.read(), e.headers
        if (head.get("Content-Type") or "").startswith("application/json"):
            return status, json.loads(payload), head
        return status, payload, head

    def get(self, path, **kw):
        status, body, _ = self.request("GET", path, **kw)
        return status, body

    def post(self, path, body=None, **kw):
        status, answer, _ = self.request("POST", path, body=body, **kw)
        return status, answer

    def wait_for(self, predicate, seconds=60, step=0.1):
        """Polls predicate until it answers a true value (returned) or the time is up (None)."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            value = predicate()
            if value:
                return value
            time.sleep(step)
        return None


def start_velsim(velsim, *options, seconds=30):
    """velsim on a free TCP port: (process, its rfc2217:// URL)."""
    process = subprocess.Popen([velsim, "--tcp-port", "0", *options], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        m = re.search(r"rfc2217://\S+", process.stdout.readline())
        if m:
            return process, m.group(0)
    process.kill()
    raise RuntimeError("velsim did not start")


def scene_path(source_root, name="shelf.scene"):
    return os.path.join(source_root, "sim", "scenes", name)
