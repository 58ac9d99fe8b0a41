"""The package reads its driver functions from the repository's one list of them,
internal/d2xx/d2xx_functions.inc, and sim.Fn numbers them in the list's order, as the trace
does."""

import re

import pytest

from korvelan380._driver import DRIVER_FUNCTIONS, REQUIRED_FUNCTIONS
from korvelan380.sim import Fn
from test_sim import PYTHON_DIR

FUNCTIONS_INC = PYTHON_DIR.parent / "internal" / "d2xx" / "d2xx_functions.inc"


def listed_functions():
    """The names of the D2XX_FUNCTION(name, ordinal, ...) and D2XX_OPTIONAL_FUNCTION lines, in
    order."""
    text = FUNCTIONS_INC.read_text(encoding="utf-8")
    return re.findall(r"^D2XX_(?:OPTIONAL_)?FUNCTION\(\s*(\w+)\s*,", text, re.MULTILINE)


def enum_name(function):
    """sim.Fn's name for a driver function: FT_GetQueueStatus -> GET_QUEUE_STATUS,
    FT_EE_UASize -> EE_UA_SIZE."""
    words = re.findall(r"[A-Z]+(?=[A-Z][a-z]|_|$)|[A-Z][a-z]+", function[len("FT_"):])
    return "_".join(word.upper() for word in words)


@pytest.fixture(scope="module")
def listed():
    if not FUNCTIONS_INC.exists():
        pytest.skip(f"{FUNCTIONS_INC} is not here (not run from the source tree)")
    functions = listed_functions()
    assert len(functions) >= 10, f"{FUNCTIONS_INC} lists only {functions}"
    return functions


def test_the_package_binds_the_listed_functions_in_order(listed):
    assert list(DRIVER_FUNCTIONS) == listed


def test_the_timeouts_and_the_latency_timer_are_optional_and_the_rest_required():
    required = set(DRIVER_FUNCTIONS[:REQUIRED_FUNCTIONS])
    assert {"FT_OpenEx", "FT_Read", "FT_Write", "FT_EE_UAWrite"} <= required
    assert not {"FT_SetTimeouts", "FT_SetLatencyTimer"} & required


def test_sim_fn_numbers_the_functions_as_the_list_orders_them(listed):
    numbered = [(fn.name, fn.value) for fn in Fn if fn is not Fn.ANY]
    assert numbered == [(enum_name(name), index) for index, name in enumerate(listed)]


def test_any_comes_after_every_function(listed):
    assert Fn.ANY == len(listed)
