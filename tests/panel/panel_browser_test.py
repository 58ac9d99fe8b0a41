#!/usr/bin/env python3
"""The panel in a real browser: headless Chromium, driven through Selenium, against
`korvelan380 --sim panel`. Sets channel 0 to 2.5 V, generates and loads a sine, toggles a digital
output bit, and checks each in the simulated module's registers: through the panel's API while it
runs, and in the saved state file once it has stopped. Calibrates channel 1 in 0..5V with the
guided calibration, typing the simulated output's readings, and keeps it. Keeps a screenshot of
the page.

Usage: panel_browser_test.py TOOL OUTPUT_DIR
"""
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

TOOL, OUT_DIR = sys.argv[1], sys.argv[2]
SCREENSHOT = os.path.join(OUT_DIR, "panel-screenshot.png")

# Registers of the simulated module (one byte each; a value over several is big-endian).
OUTPUT_CH0 = 42
DIO_OUTPUT = 8
WAVE_LENGTH_CH0 = 58


def start_panel(state):
    panel = subprocess.Popen(
        [TOOL, "--sim", "--sim-state", state, "panel", "--port", "0"],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    for line in panel.stdout:
        m = re.match(r"(http://127\.0\.0\.1:(\d+))/\?token=([0-9A-F]+)", line)
        if m:
            return panel, m.group(1), m.group(3)
    raise SystemExit("the panel printed no address")


def api(base, token, endpoint):
    request = urllib.request.Request(base + "/api/" + endpoint,
                                     headers={"X-Korvelan380-Token": token})
    with urllib.request.urlopen(request, timeout=30) as reply:
        return json.load(reply)


def saved_module(state, serial="KORVELAN3800"):
    """Registers and channel 0's stream from the state file: a header of 6 bytes, 256 registers,
    the EEPROM (its length, then its bytes), then per channel a count, a length and the samples."""
    with open(state) as f:
        blob = bytes.fromhex(json.load(f)["modules"][serial])
    registers = blob[6:262]
    (eeprom,) = struct.unpack_from("<I", blob, 262)
    at = 266 + eeprom
    _count, length = struct.unpack_from("<II", blob, at)
    samples = struct.unpack_from("<%dH" % length, blob, at + 8)
    return registers, samples


def type_over(field, text):
    """Types over what a field holds without leaving it, as a user does (clearing it would take
    the focus away, and a refresh could fill it again before the typing)."""
    field.send_keys(Keys.CONTROL, "a")
    field.send_keys(text)


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--user-data-dir=" + profile, "--window-size=1400,2000"):
        options.add_argument(flag)
    service = Service(shutil.which("chromedriver") or "/usr/bin/chromedriver")
    return webdriver.Chrome(service=service, options=options)


def calibrate_one_pair(driver, wait, base, token):
    """Channel 1 in 0..5V: a refused reading first, then the three points as the simulated
    output measures them, then keep. A fresh module counts as never calibrated until then."""
    notice = driver.find_element(By.ID, "never-calibrated")
    wait.until(lambda d: notice.is_displayed())
    form = driver.find_element(By.ID, "adjust-form")
    Select(form.find_element(By.NAME, "channel")).select_by_value("1")
    Select(form.find_element(By.NAME, "range")).select_by_visible_text("0..5V")
    driver.find_element(By.ID, "adjust-start").click()
    prompt = driver.find_element(By.ID, "adjust-prompt")
    wait.until(lambda d: "Point 0" in prompt.text)
    assert "channel 1, range 0..5V" in prompt.text, prompt.text

    reading = driver.find_element(By.ID, "adjust-volts")
    type_over(reading, "7")
    driver.find_element(By.ID, "adjust-send").click()
    refused = driver.find_element(By.ID, "adjust-refused")
    wait.until(lambda d: "outside the range's limits" in refused.text)
    driver.find_element(By.CSS_SELECTOR, "#errors .error button").click()

    for point in range(3):
        wait.until(lambda d: "Point %d" % point in prompt.text)
        driver.find_element(By.ID, "adjust-simulated").click()
        driver.find_element(By.ID, "adjust-send").click()
    wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#adjust-fits tbody tr")) == 1)
    row = driver.find_element(By.CSS_SELECTOR, "#adjust-fits tbody tr").text
    assert " LSB)" in row and "→" in row, row
    driver.find_element(By.ID, "adjust-keep").click()
    wait.until(lambda d: "kept" in d.find_element(By.ID, "adjust-outcome").text)
    wait.until(lambda d: not notice.is_displayed())
    entry = api(base, token, "calib")["entries"][12]
    assert not entry["ideal"], entry


def main():
    os.makedirs(OUT_DIR, exist_ok=True)
    work = tempfile.mkdtemp(prefix="korvelan380-browser-")
    state = os.path.join(work, "state.json")
    panel, base, token = start_panel(state)
    driver = None
    try:
        driver = browser(os.path.join(work, "profile"))
        wait = WebDriverWait(driver, 30)
        driver.get(base + "/?token=" + token)
        wait.until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-ready") == "yes")
        assert driver.find_element(By.ID, "simulated").is_displayed(), "no simulated-module notice"
        assert "token" not in driver.current_url, "the token stayed in the address bar"

        # Channel 0 to 2.5 V (its range is -10..10 V on a fresh module).
        entry = driver.find_element(By.ID, "out-volts-0")
        type_over(entry, "2.5")
        driver.find_element(By.ID, "out-set-0").click()
        wait.until(lambda d: "2.5 V" in d.find_element(By.ID, "out-read-0").text)
        output = api(base, token, "output")["channels"][0]
        assert output["volts"] == 2.5 and output["code"] == 10240, output

        # A sine of 1024 samples, into channel 0's memory.
        form = driver.find_element(By.ID, "wave-form")
        assert form.find_element(By.NAME, "source").get_attribute("value") == "sine"
        driver.find_element(By.ID, "wave-memory").click()
        wait.until(lambda d: "loaded into the memory" in d.find_element(By.ID, "wave-summary").text)

        # Digital output bit 3.
        driver.find_element(By.ID, "dio-out-3").click()
        wait.until(lambda d: api(base, token, "dio")["output"] == 0x08)
        wait.until(lambda d: d.find_element(By.ID, "dio-out-3").is_selected())

        # A value the module's range cannot take is refused, and the page says why.
        type_over(entry, "25")
        driver.find_element(By.ID, "out-set-0").click()
        wait.until(lambda d: "25 V is outside the range -10..10V" in d.find_element(By.ID, "errors").text)
        assert entry.get_attribute("value") == "25", "a refresh replaced the typed value"
        driver.find_element(By.CSS_SELECTOR, "#errors .error button").click()
        assert api(base, token, "output")["channels"][0]["volts"] == 2.5

        calibrate_one_pair(driver, wait, base, token)

        time.sleep(2.5)  # a refresh of every read-back and of the wire log, for the screenshot
        errors = driver.find_element(By.ID, "errors").text
        assert errors == "", "the page shows errors: " + errors
        latency = driver.find_element(By.ID, "latency").text
        assert latency == "latency timer: 2 ms, set at connect (the tool's default)", latency
        driver.save_screenshot(SCREENSHOT)
        print("screenshot:", SCREENSHOT)
    finally:
        if driver is not None:
            driver.quit()
        panel.send_signal(signal.SIGINT)
        rest = panel.communicate(timeout=30)[0]
    assert panel.returncode == 0 and "disconnected" in rest, rest

    registers, samples = saved_module(state)
    code = registers[OUTPUT_CH0] << 8 | registers[OUTPUT_CH0 + 1]
    assert code == 10240, "channel 0's output code is %#x" % code
    assert registers[DIO_OUTPUT] == 0x08, "DIO output is %#x" % registers[DIO_OUTPUT]
    length = int.from_bytes(registers[WAVE_LENGTH_CH0:WAVE_LENGTH_CH0 + 3], "big")
    assert length == 1023, "waveform length register holds %d" % length
    assert len(samples) == 1024, "channel 0's stream holds %d samples" % len(samples)
    # A sine: it starts mid-range, peaks a quarter in and bottoms out three quarters in.
    assert samples[256] > samples[0] > samples[768], (samples[0], samples[256], samples[768])
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
