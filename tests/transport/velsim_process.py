"""A velsim process for tests that drive applications against it: it serves on a free
loopback port and says where; Enter on its input pulls the trigger, "q" ends it."""
import re
import subprocess


class Velsim:
    def __init__(self, path, *options):
        self.process = subprocess.Popen([path, "--tcp-port", "0", *options], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        match = re.search(r"(rfc2217://127\.0\.0\.1:\d+)", line)
        if not match:
            self.stop()
            raise RuntimeError("velsim did not say where it serves: %r" % line)
        self.url = match.group(1)

    def pull(self):
        self.process.stdin.write("\n")
        self.process.stdin.flush()

    def stop(self):
        """Ends velsim and answers what it printed after its first line."""
        try:
            log, _ = self.process.communicate("q\n", timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            log, _ = self.process.communicate()
        return log
