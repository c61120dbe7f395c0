"""The service's page in headless Chromium against qubix24d on the simulated bus, as an operator
meets it: at four sizes it loads without console errors, nothing scrolls sideways and every field
shows its whole value; faders drag with mouse and touch and send the desktop editor's frames;
steppers take the strip's fine and coarse steps and repeat while held; a refused value is said at
its field and the machine's value comes back; Store and the hardware preset change ask first,
the change shows its progress; the address names the machine shown; the keyboard reaches the
bands in a few stops; meters read the level window's dB; a machine that leaves the bus and a
service that stops are shown as such; axe-core finds no serious fault. Screenshots of each size
go to the folder given."""

import argparse
import base64
import json
import os
import subprocess
import sys
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service as DriverService
from selenium.webdriver.common.action_chains import ActionChains
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select

from harness import Service, wait_for

SIZES = [(1280, 800), (1024, 768), (768, 1024), (390, 844)]
ARGS = None
FIRST, SECOND = "H000000010001", "H000000010002"


def machine_path(machine=FIRST):
    return f"/api/v1/buses/main/machines/{machine}"


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = Service(ARGS.service).start()
        options = webdriver.ChromeOptions()
        options.binary_location = ARGS.chromium
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage",
                     "--disable-extensions"):
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        cls.driver = webdriver.Chrome(options=options, service=DriverService(ARGS.chromedriver))
        cls.driver.set_script_timeout(30)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.service.close()

    # --- helpers ---------------------------------------------------------------------------------

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def size(self, width, height):
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 768})

    def visible(self, element_id):
        return self.js("const e = document.getElementById(arguments[0]);"
                       "return !!e && e.getClientRects().length > 0;", element_id)

    def open_page(self, address=""):
        self.driver.get(self.service.url + "/" + address)
        wait_for("the slots", lambda: self.driver.find_elements(By.CSS_SELECTOR, "#slots .slot"))
        wait_for("the controls enabled", lambda: self.js(
            "return !document.getElementById('refresh').disabled"))

    def wait_for_values(self):
        wait_for("the machine's values", lambda: self.js(
            "return !document.getElementById('machine').hidden &&"
            " document.getElementById('band-4-frequency').value !== '' &&"
            " !document.getElementById('controls').disabled"))
        wait_for("the response curve", lambda: self.js(
            "return Number(document.getElementById('response').dataset.points) > 0"))

    def open_machine(self, machine=FIRST):
        def click():  # the list is drawn again when the page reads it afresh
            try:
                self.driver.find_element(By.CSS_SELECTOR, f"#slots .slot[data-machine='{machine}']").click()
                return True
            except StaleElementReferenceException:
                return False
        wait_for("the slot clicked", click)
        self.wait_for_values()

    def state(self, machine=FIRST):
        return self.service.get(machine_path(machine) + "?fresh=true")

    def band(self, n, machine=FIRST):
        return self.state(machine)["bands"][n - 1]

    def patch(self, body, machine=FIRST):
        status, text = self.service.request("PATCH", machine_path(machine), body)
        self.assertEqual(status, 200, text)

    def overflow(self):
        return self.js("return document.documentElement.scrollWidth - document.documentElement.clientWidth")

    def cut_fields(self):
        """Every field, select and shown value whose text does not fit its box."""
        return self.js("""
            return [...document.querySelectorAll('input:not([type=range]), select, output')]
              .filter(e => e.getClientRects().length > 0 && e.scrollWidth > e.clientWidth)
              .map(e => `${e.id || e.htmlFor || e.tagName}: "${e.value}" ${e.scrollWidth} > ${e.clientWidth}`);""")

    def save_whole_page(self, path):
        """The whole page at the screen's width, from top to bottom."""
        size = self.driver.execute_cdp_cmd("Page.getLayoutMetrics", {})["cssContentSize"]
        # Captured beyond the viewport, the page has no scroll bar: the screen's whole width.
        shot = self.driver.execute_cdp_cmd("Page.captureScreenshot", {
            "format": "png", "captureBeyondViewport": True,
            "clip": {"x": 0, "y": 0, "width": self.js("return window.innerWidth"),
                     "height": size["height"], "scale": 1}})
        with open(path, "wb") as f:
            f.write(base64.b64decode(shot["data"]))

    def errors(self):
        return [e for e in self.driver.get_log("browser") if e["level"] == "SEVERE"]

    def point_on_fader(self, fader_id, gain_db):
        """The viewport point of a vertical gain fader where it reads gain_db."""
        self.js("document.getElementById(arguments[0]).scrollIntoView({block: 'center'})", fader_id)
        return self.js("""
            const r = document.getElementById(arguments[0]).getBoundingClientRect();
            const f = (arguments[1] + 12) / 24;
            return [r.left + r.width / 2, r.bottom - 8 - f * (r.height - 16)];""", fader_id, gain_db)

    def step_button(self, field_id, text):
        return self.driver.find_element(
            By.XPATH, f"//input[@id='{field_id}']/ancestor::div[@class='stepper-row']"
                      f"/button[normalize-space(text())='{text}']")

    # --- tests -----------------------------------------------------------------------------------

    def test_01_each_size_loads_cleanly_and_every_field_fits(self):
        # The widest values the fields hold.
        self.patch({"bands": [{"band": 9, "frequency": 18000, "q": 12.5}, {"band": 10, "frequency": 16000}]})
        if ARGS.screenshots:
            os.makedirs(ARGS.screenshots, exist_ok=True)
        for width, height in SIZES:
            with self.subTest(size=f"{width}x{height}"):
                self.size(width, height)
                self.open_page()
                self.assertLessEqual(self.overflow(), 0, "the overview scrolls sideways")
                self.open_machine()
                wait_for("a level reading", lambda: self.js(
                    "return document.getElementById('meter-2').dataset.db"))
                self.assertLessEqual(self.overflow(), 0, "the machine scrolls sideways")
                self.assertEqual(self.js("return document.getElementById('band-9-frequency').value"), "18000")
                self.assertEqual(self.js("return document.getElementById('band-9-q').value"), "12.5")
                self.assertEqual(self.cut_fields(), [])
                if ARGS.screenshots:
                    self.save_whole_page(os.path.join(ARGS.screenshots, f"page-{width}x{height}.png"))
                self.assertEqual(self.errors(), [])

    def test_02_band_4_mouse_drag_sends_the_editors_frames(self):
        expected = subprocess.run([ARGS.band_frames, "4", "6"], check=True, capture_output=True,
                                  text=True).stdout.split()
        self.assertEqual(len(expected), 2)  # the band and its mirror copy
        self.size(1280, 800)
        self.open_page()
        self.open_machine()
        before = len(self.service.sent())
        x0, y0 = self.point_on_fader("band-4-gain", 0)
        x1, y1 = self.point_on_fader("band-4-gain", 6)
        chain = ActionChains(self.driver, duration=20)
        chain.w3c_actions.pointer_action.move_to_location(int(x0), int(y0)).pointer_down()
        for k in range(1, 6):
            chain.w3c_actions.pointer_action.move_to_location(int(x0), int(y0 + (y1 - y0) * k / 5))
        chain.w3c_actions.pointer_action.pointer_up()
        chain.perform()
        wait_for("band 4 at +6 dB", lambda: self.band(4)["gain"] == 6)
        q_frames = [f for f in self.service.sent()[before:] if f.startswith("51")]
        self.assertGreater(len(q_frames), 2, "the drag sent no intermediate values")
        self.assertEqual(q_frames[-2:], expected)

    def test_03_touch_drag_moves_a_fader(self):
        self.size(768, 1024)
        self.open_page()
        self.open_machine()
        self.driver.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": True, "maxTouchPoints": 1})
        try:
            x0, y0 = self.point_on_fader("band-5-gain", 0)
            x1, y1 = self.point_on_fader("band-5-gain", -6)
            touch = lambda kind, y: self.driver.execute_cdp_cmd("Input.dispatchTouchEvent", {
                "type": kind, "touchPoints": [] if kind == "touchEnd" else [{"x": x0, "y": y}]})
            touch("touchStart", y0)
            for k in range(1, 6):
                touch("touchMove", y0 + (y1 - y0) * k / 5)
            touch("touchEnd", y1)
            wait_for("band 5 at -6 dB", lambda: self.band(5)["gain"] == -6)
        finally:
            self.driver.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": False})

    def test_04_a_change_through_the_api_shows(self):
        self.size(1024, 768)
        self.open_page()
        self.open_machine()
        sent = time.monotonic()
        self.patch({"mute": {"2": True}})
        wait_for("mute 2 shown on", lambda: self.driver.find_element(
            By.ID, "mute-2").get_attribute("aria-pressed") == "true")
        # How long it took is shown, not judged: the wait above is only a bound.
        print(f"the change showed {1000 * (time.monotonic() - sent):.0f} ms after the request",
              file=sys.stderr)
        self.patch({"mute": {"2": False}})

    def test_05_steppers_take_fine_and_coarse_steps_and_repeat(self):
        self.patch({"bands": [{"band": 2, "frequency": 250, "q": 2}]})
        self.size(1280, 800)
        self.open_page()
        self.open_machine()
        wait_for("band 2 shown", lambda: self.js("return document.getElementById('band-2-q').value") == "2")
        cases = [  # field, button, expected band 2 value afterwards
            ("band-2-q", "+0.1", ("q", 2.1)),
            ("band-2-q", "−1", ("q", 1.1)),
            ("band-2-frequency", "+1", ("frequency", 251)),
            ("band-2-frequency", "+25", ("frequency", 276)),
        ]
        for field, text, (key, value) in cases:
            with self.subTest(field=field, button=text):
                self.step_button(field, text).click()
                wait_for(f"band 2 {key} {value}", lambda: abs(self.band(2)[key] - value) < 1e-3)
        # Held, "+25" repeats: more than one step in a second and a half.
        button = self.step_button("band-2-frequency", "+25")
        ActionChains(self.driver).click_and_hold(button).pause(1.5).release().perform()
        wait_for("the held button's steps", lambda: self.band(2)["frequency"] >= 276 + 4 * 25)
        # The field's keys: Page Up the coarse step, arrow down the fine one.
        self.patch({"bands": [{"band": 2, "frequency": 1000}]})
        wait_for("1000 Hz shown", lambda: self.js("return document.getElementById('band-2-frequency').value") == "1000")
        field = self.driver.find_element(By.ID, "band-2-frequency")
        field.send_keys(Keys.PAGE_UP, Keys.ARROW_DOWN)
        wait_for("1024 Hz", lambda: self.band(2)["frequency"] == 1024)

    def test_06_a_refused_value_is_said_and_the_machines_comes_back(self):
        self.patch({"bands": [{"band": 3, "q": 1}]})
        self.size(1024, 768)
        self.open_page()
        self.open_machine()
        field = self.driver.find_element(By.ID, "band-3-q")
        for typed in ("80", "400"):
            with self.subTest(typed=typed):
                field.click()
                field.send_keys(Keys.CONTROL, "a")
                field.send_keys(typed, Keys.TAB)
                wait_for("the refusal at the field", lambda: self.visible("band-3-q-refused"))
                self.assertIn("0.2 to 50", self.driver.find_element(By.ID, "band-3-q-refused").text)
                self.assertEqual(field.get_attribute("aria-invalid"), "true")
                self.assertEqual(field.get_attribute("value"), "1")
                self.assertEqual(self.band(3)["q"], 1)

    def test_07_store_and_preset_change_ask_first(self):
        status, text = self.service.request("POST", machine_path() + "/user-preset/recall", {"location": 3})
        self.assertEqual(status, 200, text)
        self.size(1280, 800)
        self.open_page()
        self.open_machine()
        wait_for("the machine's location chosen", lambda: Select(
            self.driver.find_element(By.ID, "user-location")).first_selected_option.text == "3")
        stores = lambda: [f for f in self.service.sent() if f.startswith("55")]  # "U" records
        before = len(stores())
        self.driver.find_element(By.ID, "user-store").click()
        wait_for("the question", lambda: self.js("return document.getElementById('confirm').open"))
        question = self.driver.find_element(By.ID, "confirm-text").text
        self.assertIn(FIRST, question)
        self.assertIn("location 3", question)
        self.driver.find_element(By.ID, "confirm-no").click()
        wait_for("the question gone", lambda: not self.js("return document.getElementById('confirm').open"))
        time.sleep(0.3)
        self.assertEqual(len(stores()), before, "Store sent without a yes")

        Select(self.driver.find_element(By.ID, "hw-number")).select_by_value("2")
        self.driver.find_element(By.ID, "hw-change").click()
        wait_for("the question", lambda: self.js("return document.getElementById('confirm').open"))
        question = self.driver.find_element(By.ID, "confirm-text").text
        self.assertIn(FIRST, question)
        self.assertIn("preset 2", question)
        self.js("window.shown = []; new MutationObserver(() => window.shown.push("
                "document.getElementById('hw-busy-text').textContent)).observe("
                "document.getElementById('hw-busy'), {subtree: true, childList: true, characterData: true});")
        self.driver.find_element(By.ID, "confirm-yes").click()
        wait_for("the change done", lambda: "done" in self.driver.find_element(By.ID, "operation").text,
                 timeout=60)
        shown = self.js("return window.shown")
        self.assertTrue(any("%" in s for s in shown), f"no progress shown: {shown}")
        summary = self.service.get("/api/v1/buses/main/machines")["machines"][0]
        self.assertEqual(summary["hardwarePreset"]["number"], 2)

    def test_08_the_address_names_the_machine(self):
        self.size(1024, 768)
        self.open_page()
        self.open_machine()
        self.assertEqual(self.js("return location.hash"), f"#/main/{FIRST}")
        self.assertEqual(self.js("return document.activeElement.id"), "machine-title")
        self.driver.back()
        wait_for("the overview", lambda: self.visible("overview") and not self.visible("machine"))
        self.assertEqual(self.js("return document.activeElement.dataset.machine"), FIRST)
        self.driver.forward()
        self.wait_for_values()
        # A bookmark opens the machine it names.
        self.open_page(f"#/main/{SECOND}")
        self.wait_for_values()
        self.assertIn(SECOND, self.driver.find_element(By.ID, "machine-title").text)

    def test_09_the_keyboard_reaches_band_4_in_a_few_stops(self):
        self.size(1280, 800)
        self.open_page()
        self.open_machine()
        self.driver.find_element(By.ID, "compact").click()
        Select(self.driver.find_element(By.ID, "band-pick")).select_by_value("4")
        self.js("document.getElementById('machine-title').focus()")
        keys = 0
        target = None
        # From the heading: Tab to the equaliser's jump, Enter, then Tab to band 4's gain.
        while self.js("return document.activeElement.dataset.jump") != "eq-title" and keys < 40:
            ActionChains(self.driver).send_keys(Keys.TAB).perform()
            keys += 1
        ActionChains(self.driver).send_keys(Keys.ENTER).perform()
        keys += 1
        while target != "band-4-gain" and keys < 40:
            ActionChains(self.driver).send_keys(Keys.TAB).perform()
            keys += 1
            target = self.js("return document.activeElement.id")
        self.assertEqual(target, "band-4-gain")
        self.assertLessEqual(keys, 10)
        self.driver.find_element(By.ID, "compact").click()

    def test_10_meters_read_the_level_windows_db(self):
        self.size(1280, 800)
        self.open_page()
        self.open_machine()
        readings = wait_for("every meter read", lambda: (lambda r: r if all(r) else None)(self.js(
            "return [...document.querySelectorAll('.meter-bar')].map(m => m.dataset.db)")))
        for i, text in enumerate(readings):
            with self.subTest(meter=i):
                # The window's scale: green from -51, yellow from 0, red from +6 to +19.
                self.assertTrue(-60 <= float(text) <= 25, text)
        self.assertNotIn("::", self.driver.find_element(By.ID, "bus-state").text)
        self.assertIn("connected", self.driver.find_element(By.ID, "bus-state").text)
        self.assertRegex(self.driver.find_element(By.CSS_SELECTOR, "output[for='delay-ch12']").text, r"^\d+ ms$")

    def test_11_a_machine_that_leaves_the_bus_is_shown_absent(self):
        self.size(1024, 768)
        self.open_page()
        self.open_machine(SECOND)
        status, text = self.service.request("POST", "/api/v1/buses/main/scan", {"max": 1})
        self.assertEqual(status, 200, text)
        wait_for("the machine shown absent", lambda: self.visible("machine-absent"))
        self.assertTrue(self.js("return document.getElementById('controls').disabled"))
        self.assertEqual(self.js("return document.getElementById('meter-2').dataset.db"), "")
        status, text = self.service.request("POST", "/api/v1/buses/main/scan", {"max": 8})
        self.assertEqual(status, 200, text)
        wait_for("the machine back", lambda: not self.visible("machine-absent"))
        wait_for("the controls back", lambda: not self.js("return document.getElementById('controls').disabled"))

    def test_12_refresh_from_the_page(self):
        self.size(1280, 800)
        self.open_page()
        self.driver.find_element(By.ID, "refresh").click()
        wait_for("the refresh's answer", lambda: "machines on the bus" in
                 self.driver.find_element(By.ID, "bus-message").text)

    def test_13_a_stopped_service_is_shown_and_the_page_recovers(self):
        self.size(390, 844)
        self.open_page()
        self.open_machine()
        wait_for("a level reading", lambda: self.js("return document.getElementById('meter-0').dataset.db"))
        self.assertFalse(self.visible("banner"))
        self.service.stop()
        wait_for("the banner", lambda: self.visible("banner"))
        wait_for("the machine shown stale", lambda: self.js(
            "return document.getElementById('machine').classList.contains('stale')"
            " && document.getElementById('controls').disabled"
            " && document.getElementById('meter-0').dataset.db === ''"))
        self.service.start()
        wait_for("the banner gone", lambda: not self.visible("banner"))
        wait_for("the controls back", lambda: not self.js("return document.getElementById('controls').disabled"))
        wait_for("level readings again", lambda: self.js("return document.getElementById('meter-0').dataset.db"))
        self.assertEqual(self.js("return location.hash"), f"#/main/{FIRST}")

    def test_14_no_serious_accessibility_fault(self):
        if not os.path.isfile(ARGS.axe):
            self.skipTest(f"axe-core is not installed at {ARGS.axe} (tools/deps.sh installs it)")
        with open(ARGS.axe, encoding="utf-8") as f:
            axe = f.read()
        self.size(1280, 800)
        for view in ("overview", "machine"):
            with self.subTest(view=view):
                self.open_page()
                if view == "machine":
                    self.open_machine()
                self.js(axe)
                result = self.driver.execute_async_script(
                    "const done = arguments[arguments.length - 1];"
                    "axe.run(document).then(r => done(JSON.stringify(r.violations)));")
                serious = [(v["id"], v["impact"], len(v["nodes"])) for v in json.loads(result)
                           if v["impact"] in ("serious", "critical")]
                self.assertEqual(serious, [])
        self.assertTrue(self.js("return document.querySelector('meta[name=description]').content"))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--service", required=True)
    parser.add_argument("--band-frames", required=True)
    parser.add_argument("--axe", required=True)
    parser.add_argument("--screenshots", default="")
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    parser.add_argument("--chromedriver", default="/usr/bin/chromedriver")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
