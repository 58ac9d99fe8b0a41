"""Several threads on the package at once."""
import threading
import time
from array import array


import korvelan380
from korvelan380 import TransferFailedError
from korvelan380.sim import Fn


def run_all(*targets):
    """Runs each target in its own thread; re-raises the first failure."""
    failures = []

    def guarded(target):
        try:
            target()
        except BaseException as error:  # noqa: B902 - reported to the test below
            failures.append(error)

    threads = [threading.Thread(target=guarded, args=(t,)) for t in targets]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    if failures:
        raise failures[0]


def test_two_threads_on_two_modules_each_see_only_their_own(korvelan_sim):
    sims = {i: korvelan_sim.attach(i) for i in ("1", "2")}
    modules = {i: korvelan380.connect(i) for i in ("1", "2")}
    seen = {}

    def work(device_id, base):
        m = modules[device_id]
        m.set_range(0, korvelan380.Range.UNIPOLAR_10V)
        readings = []
        for i in range(200):
            m.set_raw(0, base + i)
            m.set_dio_output((base + i) & 0xFF)
            readings.append((m.get_raw(0), m.get_dio_output()))
        m.load_waveform(1, array("H", [base + 4 * k for k in range(1000)]))
        seen[device_id] = readings

    run_all(lambda: work("1", 0x1000), lambda: work("2", 0x2000))
    for device_id, base in (("1", 0x1000), ("2", 0x2000)):
        assert seen[device_id] == [(base + i, (base + i) & 0xFF) for i in range(200)]
        assert list(sims[device_id].stream_samples(1)) == [base + 4 * k for k in range(1000)]
        assert sims[device_id].output_code(0) == base + 199


def test_calls_on_two_modules_run_at_once(korvelan_sim):
    # A call on module 1 that waits for a reply which never comes does not hold up module 2:
    # module 2's calls all finish while module 1's call is still waiting.
    waiting = korvelan_sim.attach("1")
    korvelan_sim.attach("2")
    one, two = korvelan380.connect("1"), korvelan380.connect("2")
    waiting.withhold_replies(1)
    outcome = []

    def wait_on_one():
        try:
            one.get_dio_output()
            outcome.append("returned")
        except TransferFailedError:
            outcome.append("transfer failed")

    caller = threading.Thread(target=wait_on_one)
    caller.start()
    while sum(c.fn == Fn.READ for c in waiting.trace()) < 2:
        time.sleep(0.001)
    for k in range(60):
        two.set_dio_output(k)
        assert two.get_dio_output() == k
    assert caller.is_alive() and outcome == []
    one.close()  # ends the wait
    caller.join(timeout=30)
    assert outcome == ["transfer failed"]


def test_closing_a_module_under_a_waiting_call_ends_that_call(korvelan_module, sim_module):
    sim_module.withhold_replies(1)  # the read would otherwise wait ten seconds
    outcome = []

    def call():
        try:
            korvelan_module.get_dio_output()
            outcome.append("returned")
        except TransferFailedError:
            outcome.append("transfer failed")

    caller = threading.Thread(target=call)
    started = time.monotonic()
    caller.start()
    while sum(c.fn == Fn.READ for c in sim_module.trace()) < 2:
        time.sleep(0.001)
    korvelan_module.close()
    caller.join(timeout=30)
    assert outcome == ["transfer failed"]
    assert time.monotonic() - started < 5
