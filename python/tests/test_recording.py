"""Capture and replay from Python, each in a fresh interpreter: the library binds its driver
once per process."""

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

PACKAGE_ROOT = Path(__file__).resolve().parent.parent
BUILD_DIR = Path(os.environ.get("KORVELAN380_BUILD_DIR", PACKAGE_ROOT.parent / "build"))
TOOL = BUILD_DIR / "tools" / "korvelan380" / "korvelan380"


def run_python(code: str, *args: str) -> subprocess.CompletedProcess:
    env = dict(os.environ, PYTHONPATH=str(PACKAGE_ROOT))
    return subprocess.run(
        [sys.executable, "-c", code, *args], env=env, capture_output=True, text=True, timeout=60
    )


def test_capture_records_the_calls_and_says_when_no_driver_was_found(tmp_path):
    path = tmp_path / "c.jsonl"
    done = run_python(
        "import sys, korvelan380\n"
        "korvelan380.capture(sys.argv[1])\n"
        "try:\n"
        "    korvelan380.connect('7')\n"
        "except korvelan380.OpenFailedError:\n"
        "    print('open failed')\n",
        str(path),
    )
    assert done.stdout == "open failed\n", done.stderr
    lines = [json.loads(line) for line in path.read_text().splitlines()]
    assert lines[0]["format"] == "korvelan380 capture"
    assert lines[0]["driver"] == "" and "no driver to forward to" in lines[0]["error"]
    assert lines[1]["fn"] == "FT_OpenEx" and lines[1]["serial"] == "KORVELAN3807"
    assert lines[1]["status"] != 0


def test_a_capture_of_the_simulated_module_records_what_the_session_did(tmp_path):
    path = tmp_path / "c.jsonl"
    done = run_python(
        "import sys, korvelan380, korvelan380.sim\n"
        "korvelan380.capture(sys.argv[1], sim=True)\n"
        "simulator = korvelan380.sim.activate()\n"
        "simulator.attach('7').set_dio_input(0x5A)\n"
        "with korvelan380.connect('7') as m:\n"
        "    print(hex(m.read_dio_input()))\n",
        str(path),
    )
    assert done.stdout == "0x5a\n", done.stderr
    lines = [json.loads(line) for line in path.read_text().splitlines()]
    assert lines[0]["driver"].endswith("libftd2xx.so") and "error" not in lines[0], lines[0]
    calls = [line["fn"] for line in lines[1:]]
    assert calls[0] == "FT_OpenEx" and lines[1]["status"] == 0
    assert "FT_Read" in calls and calls[-1] == "FT_Close", calls


def test_capture_refuses_once_a_driver_is_loaded(tmp_path):
    done = run_python(
        "import sys, korvelan380, korvelan380.sim\n"
        "korvelan380.sim.activate()\n"
        "try:\n"
        "    korvelan380.capture(sys.argv[1])\n"
        "except korvelan380.SimulatorError as e:\n"
        "    print('refused:', e)\n",
        str(tmp_path / "c.jsonl"),
    )
    assert done.stdout.startswith("refused: a libftd2xx.so is already loaded"), done.stderr


def test_capture_refuses_once_the_library_has_bound_its_open_driver(tmp_path, monkeypatch):
    if not (BUILD_DIR / "lib" / "libkorvelan380-ftdi.so").exists():
        pytest.skip("the open driver is built where libftdi1-dev is installed")
    monkeypatch.setenv("LD_LIBRARY_PATH", "/nonexistent")  # no libftd2xx.so to take first
    monkeypatch.setenv("KORVELAN380_DRIVER", "")
    done = run_python(
        "import sys, korvelan380\n"
        "try:\n"
        "    korvelan380.connect('7')\n"  # no module here: the open driver is bound all the same
        "except korvelan380.OpenFailedError:\n"
        "    pass\n"
        "try:\n"
        "    korvelan380.capture(sys.argv[1])\n"
        "except korvelan380.SimulatorError as e:\n"
        "    print('refused:', e)\n",
        str(tmp_path / "c.jsonl"),
    )
    assert done.stdout.startswith("refused: the library has bound its open driver"), done.stderr


def dio_input_capture(tmp_path: Path) -> Path:
    """The tool's capture of module 0's DIO inputs reading 0xA5 on the simulated module."""
    state = ["--sim", "--sim-state", str(tmp_path / "state.json")]
    subprocess.run([str(TOOL), *state, "sim", "input", "dio", "0xA5"], check=True)
    capture = tmp_path / "c.jsonl"
    subprocess.run([str(TOOL), *state, "--capture", str(capture), "dio", "in"], check=True)
    return capture


@pytest.mark.skipif(not TOOL.exists(), reason="the korvelan380 tool is not built")
def test_replay_answers_from_the_capture_and_reports_a_departure(tmp_path):
    capture = dio_input_capture(tmp_path)
    # A fresh simulator, no module attached: only the capture can answer 0xA5.
    done = run_python(
        "import sys, korvelan380, korvelan380.sim\n"
        "from korvelan380.recording import replay_departure\n"
        "sim = korvelan380.sim.activate(replay=sys.argv[1])\n"
        "m = korvelan380.connect('0')\n"
        "print(hex(m.read_dio_input()))\n"
        "m.close()\n"
        "print(replay_departure(sim))\n"
        "try:\n"
        "    korvelan380.connect('0')\n"
        "except korvelan380.KorvelanError:\n"
        "    print(replay_departure(sim))\n",
        str(capture),
    )
    out = done.stdout.splitlines()
    assert out[:2] == ["0xa5", "None"], done.stderr
    assert out[2].startswith("the capture's ") and "then came FT_OpenEx" in out[2]


def test_replay_of_a_bad_capture_is_refused(tmp_path):
    bad = tmp_path / "bad.jsonl"
    bad.write_text('{"format":"korvelan380 capture","version":9}\n')
    done = run_python(
        "import sys, korvelan380.sim\n"
        "try:\n"
        "    korvelan380.sim.activate(replay=sys.argv[1])\n"
        "except korvelan380.SimulatorError as e:\n"
        "    print(e)\n",
        str(bad),
    )
    assert "format version 9; this korvelan380 reads version 1" in done.stdout, done.stderr


SESSION = """
results = []
m = korvelan380.connect("0")
arm()
for step in (lambda: m.set_range(0, 1), lambda: m.get_range(0), lambda: m.get_range(1)):
    try:
        results.append(repr(step()))
    except korvelan380.KorvelanError as error:
        results.append(type(error).__name__)
m.close()
m = korvelan380.connect("0")  # the driver hands out another handle
results.append(repr(m.get_range(0)))
m.close()
print(results)
"""


def test_a_failed_call_fails_again_on_replay(tmp_path):
    capture = tmp_path / "c.jsonl"
    # Recorded: the simulated module behind the shim, its second write after the connect failing.
    recorded = run_python(
        "import ctypes, sys, korvelan380\n"
        "from korvelan380._search import choose, sim_candidates\n"
        "_, path = choose(sim_candidates(), 'the simulated module')\n"
        "korvelan380.capture(sys.argv[1], driver=path)\n"
        "sim = ctypes.CDLL(path)\n"
        "sim.ksim_attach(b'KORVELAN3800', 128)\n"
        "sim.ksim_set_ideal_calibration(b'KORVELAN3800')\n"
        "arm = lambda: sim.ksim_fail_call(b'KORVELAN3800', 3, 2, 4)\n" + SESSION,
        str(capture),
    )
    assert "TransferFailedError" in recorded.stdout, recorded.stderr
    calls = [json.loads(line) for line in capture.read_text().splitlines()[1:]]
    assert [c["handle"] for c in calls if c["fn"] == "FT_OpenEx"] == [1, 2]
    replayed = run_python(
        "import sys, korvelan380, korvelan380.sim\n"
        "from korvelan380.recording import replay_departure\n"
        "sim = korvelan380.sim.activate(replay=sys.argv[1])\n"
        "arm = lambda: None\n" + SESSION +
        "print(replay_departure(sim))\n",
        str(capture),
    )
    assert replayed.stdout == recorded.stdout + "None\n", replayed.stderr


@pytest.mark.skipif(not TOOL.exists(), reason="the korvelan380 tool is not built")
def test_a_reset_ends_the_replay_and_the_model_answers_again(tmp_path):
    capture = dio_input_capture(tmp_path)
    done = run_python(
        "import sys, korvelan380, korvelan380.sim\n"
        "sim = korvelan380.sim.activate(replay=sys.argv[1])\n"
        "sim.reset()\n"
        "sim.attach('0').set_dio_input(0x3C)\n"
        "with korvelan380.connect('0') as m:\n"
        "    print(hex(m.read_dio_input()))\n",
        str(capture),
    )
    assert done.stdout == "0x3c\n", done.stderr
