#!/usr/bin/python3
"""Live mode of the imager console against velsim: frames per second as the server
captures them, and as a client sees them when it also fetches every frame's image
(what the page does), for a monochrome 1280x1024 imager and a colour 640x480 one.

  bench/console_live.py [--build DIR] [--seconds S]
"""
import argparse
import os
import sys
import threading
import time
import urllib.request

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "tools"))
from console_server import Console, start_velsim  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--build", default=os.path.join(here, "..", "build", "native-release"))
parser.add_argument("--seconds", type=float, default=10)
args = parser.parse_args()
velcli = os.path.join(args.build, "bin", "velcli")
velsim = os.path.join(args.build, "bin", "velsim")


def measure(title, sim_options, live):
    sim, url = start_velsim(velsim, *sim_options)
    env = dict(os.environ, VEL_SERIAL_PORT_7=url)
    try:
        with Console(velcli, "--port", "7", "--timeout", "30000", env=env) as console:
            console.post("/api/settings", {"values": {"MaximumNumberBarcodesToDecode": 8, "QRCodeEnabled": 1}})
            seen = []
            stop = threading.Event()

            def client():
                # Follows the latest frame as the page does, fetching its image.
                last = 0
                while not stop.is_set():
                    status, capture = console.get("/api/captures/latest")
                    if status == 200 and capture["id"] != last:
                        last = capture["id"]
                        image = urllib.request.urlopen(console.base + capture["images"][0]["url"], timeout=60).read()
                        seen.append((time.monotonic(), len(image)))
                    else:
                        time.sleep(0.002)

            console.post("/api/live", dict(on=True, **live))
            time.sleep(1.0)  # the first frames settle the exposure
            start_count = console.get("/api/state")[1]["captures"]
            reader = threading.Thread(target=client)
            t0 = time.monotonic()
            reader.start()
            time.sleep(args.seconds)
            count = console.get("/api/state")[1]["captures"] - start_count
            elapsed = time.monotonic() - t0
            stop.set()
            reader.join()
            fps_live = console.get("/api/state")[1]["live"]["fps"]
            console.post("/api/live", {"on": False})
            client_frames = [t for t, _ in seen if t - t0 <= elapsed]
            size = seen[-1][1] if seen else 0
            print("%-44s server %5.1f fps (its own figure %5.1f), client with images %5.1f fps, %d-byte frames" %
                  (title, count / elapsed, fps_live, len(client_frames) / elapsed, size), flush=True)
    finally:
        sim.kill()
        sim.wait()


load = os.getloadavg()
print("load average %.2f %.2f %.2f, %d CPUs" % (load[0], load[1], load[2], os.cpu_count()))
scenes = os.path.join(here, "..", "sim", "scenes")
measure("grey 1280x1024, grey only", [], {"grey": True})
measure("grey 1280x1024, decode + grey", [], {"grey": True, "decode": True})
colour = ["--sensor", "7FA29650", "--scene", os.path.join(scenes, "colour-labels.scene")]
measure("colour 640x480, colour only", colour, {"grey": True})
measure("colour 640x480, decode + colour", colour, {"grey": True, "decode": True})
