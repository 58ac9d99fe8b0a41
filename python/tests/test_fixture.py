"""The pytest plugin users register in their conftest.py gives every test a clean simulator."""

from test_sim import PYTHON_DIR


def test_each_test_starts_from_a_clean_simulator(pytester, monkeypatch):
    monkeypatch.setenv("PYTHONPATH", str(PYTHON_DIR))
    pytester.makeconftest('pytest_plugins = ["korvelan380.testing"]\n')
    pytester.makepyfile(
        """
        import korvelan380
        from korvelan380.sim import Fn

        def test_leaves_a_mess(korvelan_module, sim_module, korvelan_sim):
            korvelan_module.set_dio_output(0x5A)
            korvelan_sim.attach("9")
            korvelan380.connect("9")  # never closed
            sim_module.fail_call(Fn.ANY, 1)
            korvelan_sim.set_tracing(False)

        def test_finds_none_of_it(korvelan_module, sim_module, korvelan_sim):
            assert sim_module.register(8) == 0
            assert korvelan_sim.attached_serials() == ["KORVELAN3807"]
            assert korvelan380.connected_modules() == [korvelan_module]
            assert sim_module.trace()[0].fn == Fn.OPEN_EX
            korvelan_module.get_dio_output()  # no pending fault
            korvelan_sim.attach("9")
            with korvelan380.connect("9"):
                pass

        def test_the_simulator_alone_has_no_module(korvelan_sim):
            assert korvelan_sim.attached_serials() == []
            assert korvelan380.connected_modules() == []
        """
    )
    result = pytester.runpytest_subprocess("-p", "no:cacheprovider")
    result.assert_outcomes(passed=3)
