#!/usr/bin/env python3
"""The imager console's page in headless Chromium, against `velcli serve --simulate` with a
token: settings changed through the page and the stored values shown, a capture whose
barcodes the page lists (as the API returns them and as zbarimg reads the grey image) and
outlines on the canvas at their corners, selection from the list and from the canvas, a
busy answer shown while live mode runs, and a trigger capture arriving with its thumbnail.

  console_browser_test.py VELCLI [--screenshot PNG]

With --screenshot, the page after the capture is saved (1280x900) for the guide.
"""
import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

velcli = sys.argv[1]
screenshot = sys.argv[sys.argv.index("--screenshot") + 1] if "--screenshot" in sys.argv else None
repo = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
scene = os.path.join(repo, "sim", "scenes", "shelf.scene")
TOKEN = "t0ken-for-the-browser"
OUTLINE, SELECTED = (255, 0, 255), (255, 255, 0)
WAIT = 60  # seconds for anything the page waits on: a debug build decodes the scene slowly
failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def request(path, body=None, token=TOKEN):
    """(status, body bytes) of a request to the console."""
    headers = {"Authorization": "Bearer " + token} if token else {}
    data = None
    if body is not None:
        data, headers["Content-Type"] = json.dumps(body).encode(), "application/json"
    try:
        with urllib.request.urlopen(urllib.request.Request(base + path, data, headers), timeout=60) as r:
            return r.status, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.read()


def scene_texts(path=None):
    with open(path or scene) as f:
        return sorted(m.group(1) for m in re.finditer(r"^\s*barcode\s+\w+\s.*?\btext\s+(.*?)\s*$", f.read(), re.M))


class Stop(Exception):
    """A wait ran out: what follows would only fail after it."""


def wait(driver, condition, what):
    """condition(driver) polled until true; after WAIT seconds a failure that ends the test."""
    try:
        # The page replaces the settings when they are reloaded: look again then.
        return WebDriverWait(driver, WAIT, poll_frequency=0.2, ignored_exceptions=[StaleElementReferenceException]
                             ).until(lambda d: condition(d))
    except Exception as e:
        check(False, "in time: %s (%s)" % (what, type(e).__name__))
        raise Stop() from e


def canvas_frame(driver):
    return driver.find_element(By.CSS_SELECTOR, "#image canvas").get_attribute("data-frame")


def outline_hits(driver, barcode, colour):
    """At how many of the barcode's four corners and the middles of its four sides (TL-TR,
    TR-BR, BR-BL, BL-TL) the canvas has the colour within 2 pixels: 8 when outlined."""
    c = barcode["corners"]
    ring = [c[0:2], c[2:4], c[6:8], c[4:6]]
    points = ring + [[(p[0] + q[0]) // 2, (p[1] + q[1]) // 2] for p, q in zip(ring, ring[1:] + ring[:1])]
    return driver.execute_script("""
        const [points, colour] = arguments, ctx = document.querySelector('#image canvas').getContext('2d');
        return points.filter(([x, y]) => {
          const d = ctx.getImageData(x - 2, y - 2, 5, 5).data;
          for (let i = 0; i < d.length; i += 4)
            if (d[i] === colour[0] && d[i + 1] === colour[1] && d[i + 2] === colour[2] && d[i + 3] === 255) return true;
          return false;
        }).length;""", points, list(colour))


def setting_row(driver, name):
    row = driver.find_element(By.CSS_SELECTOR, '#settings .setting[data-name="%s"]' % name)
    group = row.find_element(By.XPATH, "./ancestor::details")
    if not group.get_attribute("open"):
        group.find_element(By.TAG_NAME, "summary").click()
    return row


def set_setting(driver, name, value):
    row = setting_row(driver, name)
    field = row.find_element(By.TAG_NAME, "input")
    if field.get_attribute("type") == "checkbox":
        if field.is_selected() != bool(value):
            field.click()
    else:
        field.clear()
        field.send_keys(str(value))
    return row


def start(work, token, port=None, scene_file=None):
    """velcli serve --simulate on a loopback port (a free one by default), once it
    answers; None if it does not."""
    global base
    port = port or free_port()
    base = "http://127.0.0.1:%d" % port
    server = subprocess.Popen([velcli, "serve", "--simulate", "--scene", scene_file or scene,
                               "--listen", "127.0.0.1:%d" % port]
                              + (["--token", token] if token else []), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              env=dict(os.environ, VEL_HOST_SETTINGS=os.path.join(work, "host-settings")))
    servers.append(server)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and server.poll() is None:
        try:
            status, body = request("/api/state", token=token)
            if status == 200:
                return server if check(json.loads(body)["connected"], "velcli serve connects the imager") else None
        except OSError:
            time.sleep(0.2)
    check(False, "velcli serve answers /api/state")
    return None


def stop(server):
    server.terminate()
    try:
        server.wait(timeout=30)
    except subprocess.TimeoutExpired:
        server.kill()
        server.wait(timeout=30)
    output = server.stdout.read().decode(errors="replace")
    if failures:
        print("velcli serve said:\n" + output[-3000:])


servers = []
with tempfile.TemporaryDirectory() as work:
    driver = None
    try:
        if not start(work, TOKEN):
            raise RuntimeError("velcli serve did not start")
        check(request("/api/state", token=None)[0] == 401, "without the token the API answers 401")

        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                         "--user-data-dir=" + os.path.join(work, "chromium")):
            options.add_argument(argument)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": 1280, "height": 900, "deviceScaleFactor": 1, "mobile": False})
        # The token reaches the server from the page's address only: fetches, the event
        # stream and the image URLs must all pass it on for anything below to work.
        driver.get(base + "/?token=" + TOKEN)
        wait(driver, lambda d: "connected" in d.find_element(By.ID, "state").get_attribute("class").split(),
             "the page shows the imager connected")
        # The token went for a session cookie the page's scripts cannot read, and left the address.
        session = driver.get_cookie("vel_session") or {}
        check("token" not in driver.current_url and session.get("httpOnly") and session.get("sameSite") == "Strict",
              "the address holds no token (%s), the session cookie is HttpOnly and Strict" % driver.current_url)
        info = driver.find_element(By.ID, "info").text
        state = json.loads(request("/api/state")[1])
        check(state["versions"]["firmware"] in info and state["sensor"] in info, "the page shows versions and sensor")

        # Settings through the page: every barcode decoded, QR codes too.
        wait(driver, lambda d: d.find_elements(By.CSS_SELECTOR, "#settings .setting"), "the settings are listed")
        set_setting(driver, "MaximumNumberBarcodesToDecode", 20)
        set_setting(driver, "QRCodeEnabled", 1)
        driver.find_element(By.ID, "send-temporary").click()
        for name, value in (("MaximumNumberBarcodesToDecode", 20), ("QRCodeEnabled", 1)):
            shown = wait(driver, lambda d: d.find_element(By.CSS_SELECTOR, '.setting[data-name="%s"] .stored' % name).text,
                         "the stored %s is shown" % name)
            check(shown == "stored %d" % value, "%s: %r" % (name, shown))
        stored = {s["name"]: s["value"] for g in json.loads(request("/api/settings")[1])["groups"] for s in g["settings"]}
        check(stored.get("MaximumNumberBarcodesToDecode") == 20 and stored.get("QRCodeEnabled") == 1,
              "the imager holds what the page sent")

        # A capture: the barcodes listed and outlined where the imager found them.
        driver.find_element(By.ID, "capture").click()
        canvas = driver.find_element(By.CSS_SELECTOR, "#image canvas")
        wait(driver, lambda d: canvas.get_attribute("data-frame"), "the capture is drawn")
        status, body = request("/api/captures/latest")
        capture = json.loads(body) if status == 200 else {"id": None, "barcodes": [], "images": []}
        check(canvas.get_attribute("data-frame") == str(capture["id"]), "the canvas shows the latest capture")
        barcodes = capture["barcodes"]
        items = driver.find_elements(By.CSS_SELECTOR, "#barcodes li")
        listed = [(li.get_attribute("data-index"), li.find_element(By.CLASS_NAME, "name").text,
                   li.find_element(By.CLASS_NAME, "text").text) for li in items]
        check(listed == [(str(i), b["name"], b["text"]) for i, b in enumerate(barcodes)],
              "the page lists the capture's barcodes: %s" % listed)
        check(sorted(t for _, _, t in listed) == scene_texts(), "every barcode of the scene is listed")
        grey = next((m for m in capture["images"] if m["kind"] == "grey"), None)
        if check(grey is not None, "the capture has a grey image"):
            bmp = os.path.join(work, "grey.bmp")
            with open(bmp, "wb") as f:
                f.write(request(grey["url"])[1])
            read = subprocess.run(["zbarimg", "--quiet", bmp], capture_output=True, text=True, timeout=120).stdout
            zbar_texts = {line.split(":", 1)[1] for line in read.splitlines() if ":" in line}
            check(zbar_texts and zbar_texts <= {t for _, _, t in listed},
                  "zbarimg reads texts the page lists: %s" % sorted(zbar_texts))
            size = driver.execute_script("const c = document.querySelector('#image canvas'); return [c.width, c.height];")
            check(size == [grey["width"], grey["height"]], "the canvas has the image's size: %s" % size)
        for i, b in enumerate(barcodes):
            check(outline_hits(driver, b, OUTLINE) == 8, "barcode %d is outlined through its corners" % i)
        # Pixels away from every outline keep the image's grey.
        grey_pixel = driver.execute_script("""
            const d = document.querySelector('#image canvas').getContext('2d').getImageData(4, 1000, 1, 1).data;
            return d[0] === d[1] && d[1] === d[2];""")
        check(grey_pixel, "the image is drawn grey under the outlines")
        wait(driver, lambda d: re.search(r"Captures\s+1\b", d.find_element(By.ID, "info").text),
               "the host capture counted")
        check(json.loads(request("/api/state")[1])["captures"] == 1, "the page shows the capture count")
        if screenshot:
            driver.execute_script("window.scrollTo(0, 0)")
            driver.save_screenshot(screenshot)

        # Selection: from the list, then from the canvas.
        if len(barcodes) >= 2:
            items[1].click()
            wait(driver, lambda d: canvas.get_attribute("data-selected") == "1", "the canvas redrawn with barcode 1 selected")
            check("selected" in items[1].get_attribute("class") and outline_hits(driver, barcodes[1], SELECTED) == 8
                  and outline_hits(driver, barcodes[0], OUTLINE) == 8, "a barcode clicked in the list is highlighted")
            pick = max(range(len(barcodes)), key=lambda i: abs(barcodes[i]["corners"][7] - barcodes[i]["corners"][1]))
            c = barcodes[pick]["corners"]
            centre = (sum(c[0::2]) / 4, sum(c[1::2]) / 4)
            driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", canvas)
            scale = canvas.size["width"] / size[0]
            ActionChains(driver).move_to_element_with_offset(
                canvas, (centre[0] - size[0] / 2) * scale, (centre[1] - size[1] / 2) * scale).click().perform()
            wait(driver, lambda d: canvas.get_attribute("data-selected") == str(pick), "the canvas redrawn after a click")
            check("selected" in items[pick].get_attribute("class") and outline_hits(driver, barcodes[pick], SELECTED) == 8,
                  "a barcode clicked on the canvas is highlighted (%d)" % pick)

        # Live mode: frames arrive with a rate shown, and a capture meanwhile is refused and said so.
        driver.find_element(By.ID, "live").click()
        first = canvas.get_attribute("data-frame")
        wait(driver, lambda d: canvas.get_attribute("data-frame") not in (None, first), "a live frame is drawn")
        wait(driver, lambda d: re.fullmatch(r"\d+\.\d fps", d.find_element(By.ID, "fps").text), "frames per second shown")
        driver.find_element(By.ID, "capture").click()
        shown = wait(driver, lambda d: d.find_element(By.ID, "error").text, "an error is shown")
        check(shown.startswith("409 busy"), "a capture during live mode shows 409 busy: %r" % shown)
        driver.find_element(By.ID, "live").click()
        # (A trigger pulled while the last live frame still runs aborts: wait for it to end.)
        idle = lambda s: not s["busy"] and not s["live"]["on"]
        wait(driver, lambda d: idle(json.loads(request("/api/state")[1])), "live mode stops")

        # A trigger capture: listed with its results and thumbnail.
        check(request("/api/sim/pull", {})[0] == 202, "the simulated trigger is pulled")
        wait(driver, lambda d: d.execute_script(
            "const i = document.querySelector('#triggers li img'); return i && i.complete && i.naturalWidth > 0;"),
            "the trigger capture's thumbnail is shown")
        triggers = json.loads(request("/api/triggers")[1])["captures"]
        rows = driver.find_elements(By.CSS_SELECTOR, "#triggers li")
        check(len(triggers) == 1 and len(rows) == 1 and rows[0].get_attribute("data-id") == str(triggers[0]["id"]),
              "the trigger list holds the trigger capture")
        if triggers and rows:
            texts = [b["text"] for b in triggers[0]["barcodes"]]
            results = rows[0].find_element(By.CLASS_NAME, "results").text
            check(texts and all(t in results for t in texts), "the trigger's results are listed: %r (%s)"
                  % (results, json.dumps(triggers[0])[:400]))

        # A value the imager adjusts: the page shows what it stored, not what was asked.
        row = set_setting(driver, "WindowWidth", 100)
        driver.find_element(By.ID, "send-temporary").click()
        stored = row.find_element(By.CLASS_NAME, "stored")
        wait(driver, lambda d: stored.text, "the stored WindowWidth is shown")
        check(stored.text == "stored 128" and row.find_element(By.TAG_NAME, "input").get_attribute("value") == "128",
              "WindowWidth 100 is shown as the 128 stored: %r" % stored.text)

        # The configuration file: the page's link downloads it (with the session cookie, no
        # token in its URL), and a file uploaded through the page is loaded into the imager
        # and its settings shown.
        link = driver.find_element(By.ID, "config-download").get_attribute("href")
        check("token" not in link, "the download link carries no token: %s" % link)
        cookie = {"Cookie": "vel_session=" + session.get("value", "")}
        with urllib.request.urlopen(urllib.request.Request(link, headers=cookie), timeout=60) as r:
            ini = r.read().decode()
        check(ini == request("/api/config/file")[1].decode() and re.search(r"^Gain=\d+", ini, re.M),
              "the page's link downloads the configuration file")
        upload = os.path.join(work, "upload.ini")
        with open(upload, "w") as f:
            f.write(re.sub(r"^Gain=\d+", "Gain=777", ini, flags=re.M))
        driver.find_element(By.ID, "config-file").send_keys(upload)
        driver.find_element(By.ID, "config-upload").click()
        wait(driver, lambda d: d.find_element(By.CSS_SELECTOR, '.setting[data-name="Gain"] input').get_attribute("value")
             == "777", "the uploaded Gain is shown")
        stored = {s["name"]: s["value"] for g in json.loads(request("/api/settings")[1])["groups"] for s in g["settings"]}
        check(stored.get("Gain") == 777, "the uploaded file reached the imager: Gain %s" % stored.get("Gain"))

        driver.find_element(By.ID, "reconnect").click()
        wait(driver, lambda d: d.find_element(By.ID, "reconnect").is_enabled(), "the reconnect answered")
        check(not driver.find_element(By.ID, "error").text and "connected" in
              driver.find_element(By.ID, "state").get_attribute("class").split(), "reconnected")

        # Without a token (loopback only) the server takes changes from its own page only:
        # the page's requests must pass as that.
        stop(servers.pop())
        port = free_port()
        if start(work, None, port):
            driver.get(base + "/")
            wait(driver, lambda d: "connected" in d.find_element(By.ID, "state").get_attribute("class").split(),
                 "the page without a token shows the imager connected")
            driver.find_element(By.ID, "capture").click()
            wait(driver, lambda d: canvas_frame(d), "a capture without a token is drawn")
            latest = json.loads(request("/api/captures/latest", token=None)[1])
            check(canvas_frame(driver) == str(latest["id"]) and not driver.find_element(By.ID, "error").text and
                  len(driver.find_elements(By.CSS_SELECTOR, "#barcodes li")) == len(latest["barcodes"]) >= 1,
                  "without a token the page captures and lists the barcodes")
            # The console restarts on the same address with another scene: the page's
            # stream comes back by itself, and the capture it then shows is of the new
            # run (its ids start again at 1), not a cached image of the old one.
            stop(servers.pop())
            other = os.path.join(repo, "sim", "scenes", "single-qr.scene")
            wait(driver, lambda d: "offline" in d.find_element(By.ID, "state").get_attribute("class").split(),
                 "the page notices the console went")
            if start(work, None, port, other):
                wait(driver, lambda d: "offline" not in d.find_element(By.ID, "state").get_attribute("class").split(),
                     "the page's event stream reconnects after the restart")
                check(request("/api/capture", {"decode": True, "grey": True}, token=None)[0] == 200,
                      "a capture after the restart")
                new_run = json.loads(request("/api/state", token=None)[1])["runId"]
                wait(driver, lambda d: new_run in (d.execute_script("return view.picture && view.picture.src") or ""),
                     "the page shows the new run's capture")
                shown = os.path.join(work, "shown.png")
                with open(shown, "wb") as f:
                    f.write(driver.find_element(By.CSS_SELECTOR, "#image canvas").screenshot_as_png)
                read = subprocess.run(["zbarimg", "--quiet", "--raw", shown], capture_output=True, text=True,
                                      timeout=120).stdout.split("\n")
                check(set(filter(None, read)) == set(scene_texts(other)),
                      "the image shown after the restart reads as the new scene: %r" % read)
        errors = [e["message"] for e in driver.get_log("browser") if e.get("source") == "javascript"]
        check(not errors, "no script error in the page: %s" % errors)
    except RuntimeError as e:
        check(False, str(e))
    except Stop:
        pass
    finally:
        if driver:
            driver.quit()
        for server in servers:
            stop(server)

for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
