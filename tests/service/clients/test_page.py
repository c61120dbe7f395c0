"""The service's page in headless Chromium against qubix24d on the simulated bus: it loads
without console errors and fits each screen, band 4's fader sends the desktop editor's frames,
changes from elsewhere show, the banner follows the service, and axe-core finds no serious
accessibility fault. Screenshots of each size go to the folder given."""

import argparse
import json
import os
import subprocess
import sys
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service as DriverService
from selenium.webdriver.common.by import By

from harness import Service, wait_for

SIZES = [(390, 844), (768, 1024), (1024, 768), (1280, 800)]
ARGS = None


def visible(driver, element_id):
    return driver.execute_script(
        "const e = document.getElementById(arguments[0]); return !!e && !e.hidden;", element_id)


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = Service(ARGS.service).start()
        options = webdriver.ChromeOptions()
        options.binary_location = ARGS.chromium
        for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--no-first-run", "--disable-extensions"):
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        cls.driver = webdriver.Chrome(options=options, service=DriverService(ARGS.chromedriver))
        cls.driver.set_script_timeout(30)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.service.close()

    def size(self, width, height):
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 768})

    def open_page(self):
        self.driver.get(self.service.url + "/")
        wait_for("the slots", lambda: self.driver.find_elements(By.CSS_SELECTOR, "#slots .slot"))
        wait_for("the controls enabled", lambda: self.driver.execute_script(
            "return !document.getElementById('controls').disabled"))

    def open_first_machine(self):
        self.driver.find_element(By.CSS_SELECTOR, "#slots .slot").click()
        wait_for("the machine's values", lambda: self.driver.execute_script(
            "return document.getElementById('band-4-gain').closest('.band') &&"
            " document.querySelector('#band-4-frequency').value !== ''"))
        wait_for("the response curve", lambda: self.driver.execute_script(
            "return Number(document.getElementById('response').dataset.points) > 0"))

    def overflow(self):
        return self.driver.execute_script(
            "return document.documentElement.scrollWidth - document.documentElement.clientWidth")

    def errors(self):
        return [e for e in self.driver.get_log("browser") if e["level"] == "SEVERE"]

    def test_1_each_size_loads_cleanly_and_fits(self):
        os.makedirs(ARGS.screenshots, exist_ok=True)
        for width, height in SIZES:
            with self.subTest(size=f"{width}x{height}"):
                self.size(width, height)
                self.open_page()
                self.assertLessEqual(self.overflow(), 0, "the overview scrolls sideways")
                self.open_first_machine()
                self.assertLessEqual(self.overflow(), 0, "the machine scrolls sideways")
                self.driver.save_screenshot(
                    os.path.join(ARGS.screenshots, f"page-{width}x{height}.png"))
                self.assertEqual(self.errors(), [])

    def test_2_band_4_fader_sends_the_editors_frames(self):
        expected = subprocess.run([ARGS.band_frames, "4", "6"], check=True, capture_output=True,
                                  text=True).stdout.split()
        self.assertEqual(len(expected), 2)  # the band and its mirror copy
        self.size(1280, 800)
        self.open_page()
        self.open_first_machine()
        before = len(self.service.sent())
        self.driver.execute_script(
            "const f = document.getElementById('band-4-gain');"
            "f.value = 6; f.dispatchEvent(new Event('input', {bubbles: true}));"
            "f.dispatchEvent(new Event('change', {bubbles: true}));")
        first = self.service.get("/api/v1/buses/main/machines")["machines"][0]["id"]
        wait_for("band 4 at +6 dB", lambda: self.service.get(
            f"/api/v1/buses/main/machines/{first}")["bands"][3]["gain"] == 6)
        q_frames = [f for f in self.service.sent()[before:] if f.startswith("51")]
        self.assertEqual(q_frames, expected)

    def test_3_a_change_through_the_api_shows(self):
        self.size(1024, 768)
        self.open_page()
        self.open_first_machine()
        first = self.service.get("/api/v1/buses/main/machines")["machines"][0]["id"]
        sent = time.monotonic()
        status, text = self.service.request(
            "PATCH", f"/api/v1/buses/main/machines/{first}", {"mute": {"2": True}})
        self.assertEqual(status, 200, text)
        wait_for("mute 2 shown on", lambda: self.driver.find_element(
            By.ID, "mute-2").get_attribute("aria-pressed") == "true")
        # How long it took is shown, not judged: the wait above is only a bound.
        print(f"the change showed {1000 * (time.monotonic() - sent):.0f} ms after the request",
              file=sys.stderr)

    def test_4_banner_follows_the_service(self):
        self.size(390, 844)
        self.open_page()
        self.assertFalse(visible(self.driver, "banner"))
        self.service.stop()
        wait_for("the banner", lambda: visible(self.driver, "banner"))
        self.service.start()
        wait_for("the banner gone", lambda: not visible(self.driver, "banner"))
        self.open_first_machine()

    def test_5_no_serious_accessibility_fault(self):
        if not os.path.isfile(ARGS.axe):
            self.skipTest(f"axe-core is not installed at {ARGS.axe} (tools/deps.sh installs it)")
        with open(ARGS.axe, encoding="utf-8") as f:
            axe = f.read()
        self.size(1280, 800)
        for view in ("overview", "machine"):
            with self.subTest(view=view):
                self.open_page()
                if view == "machine":
                    self.open_first_machine()
                self.driver.execute_script(axe)
                result = self.driver.execute_async_script(
                    "const done = arguments[arguments.length - 1];"
                    "axe.run(document).then(r => done(JSON.stringify(r.violations)));")
                serious = [(v["id"], v["impact"], len(v["nodes"])) for v in json.loads(result)
                           if v["impact"] in ("serious", "critical")]
                self.assertEqual(serious, [])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--service", required=True)
    parser.add_argument("--band-frames", required=True)
    parser.add_argument("--axe", required=True)
    parser.add_argument("--screenshots", required=True)
    parser.add_argument("--chromium", default="/usr/bin/chromium")
    parser.add_argument("--chromedriver", default="/usr/bin/chromedriver")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
