"""What the runtime receives from every wrapper, seen by the recording runtime.

One subprocess, with the recorder preloaded in place of libmkl_rt, calls all 1044
functions in every way checked here (recording_driver.py); each test reads its part
of that record for one function.
"""

import math
from pathlib import Path

import numpy as np
import pytest
from vantrel.mkl._catalogue.functions import VML_ERROR_CALLBACK

from conftest import BY_NAME, OFFERED
from recording import WRITTEN_BYTE, is_pointer_parameter, run_recorded

NAMES = [f.name for f in OFFERED]
INTEGER_ROLES = {"count", "increment", "mode", "mode_value", "status"}
WITH_INTEGERS = [f.name for f in OFFERED if any(p.role.name in INTEGER_ROLES for p in f.params)]
WITH_REAL_SCALARS = [f.name for f in OFFERED if f.letter in ("s", "d")
                     and any(p.role.name == "scalar" for p in f.params)]
WITH_RECORD_SCALARS = [f.name for f in OFFERED if f.letter in ("c", "z")
                       and any(p.role.name == "scalar" for p in f.params)]
SERVICES = [f.name for f in OFFERED if f.family.name == "service"]


@pytest.fixture(scope="session")
def observed(recorder_library):
    return run_recorded(recorder_library, str(Path(__file__).with_name("recording_driver.py")))


def only_call(case, name):
    assert case["error"] is None
    assert len(case["calls"]) == 1, "the runtime must be called exactly once"
    call = case["calls"][0]
    assert call["symbol"] == BY_NAME[name].runtime_symbol
    assert len(call["arguments"]) == len(BY_NAME[name].params)
    return call


# What the wrapper checks reaches the runtime as a private copy in scratch memory: the
# values, and of an index array or mask the count's number of entries, the caller's.
COPIED_ROLES = ("count", "increment", "mode", "mode_value", "status", "indexes", "mask")


def checked_values(function, given, received):
    """The values given and received, and whether the runtime got the caller's memory."""
    counts = [g["values"][0] for p, g in zip(function.params, given) if p.role.name == "count"]
    for parameter, g, r in zip(function.params, given, received):
        if parameter.role.name in ("indexes", "mask"):
            n = max(counts[0], 0)
            yield parameter, g["values"][:n], r["values"][:n], n > 0
        else:
            yield parameter, g["values"], r["values"], parameter.role.name in COPIED_ROLES


@pytest.mark.parametrize("name", NAMES)
def test_runtime_receives_the_callers_memory_and_values_in_order(observed, name):
    case = observed[name]["cdata"]
    call = only_call(case, name)
    function = BY_NAME[name]
    for (parameter, given_values, received_values, copied), given, received in zip(
            checked_values(function, case["given"], call["arguments"]), case["given"],
            call["arguments"]):
        if parameter.role.name == "callback":  # a function pointer, by value
            assert received["values"] == [given["address"]]
            continue
        if given["address"] is not None:
            assert (received["address"] != given["address"]) == copied, parameter.name
        assert received_values == given_values, parameter.name
        if "raw" in given:  # a record by value
            assert received["raw"] == given["raw"]
    assert all(set(bytes.fromhex(w)) == {WRITTEN_BYTE} for w in case["written"]), \
        "what the runtime wrote into a cdata array must reach the caller"
    if BY_NAME[name].family.name != "service":
        assert case["result"] is None


@pytest.mark.parametrize("name", NAMES)
def test_lists_and_tuples_arrive_as_scratch_copies_that_stay_private(observed, name):
    case = observed[name]["sequence"]
    call = only_call(case, name)
    addresses = []
    for (parameter, given_values, received_values, _), received in zip(
            checked_values(BY_NAME[name], case["given"], call["arguments"]), call["arguments"]):
        if parameter.role.name == "callback":
            continue
        assert received_values == given_values, parameter.name
        if is_pointer_parameter(parameter):
            addresses.append(received["address"])
    assert 0 not in addresses and len(set(addresses)) == len(addresses)
    assert case["sequences_unchanged"], "what the runtime wrote must not reach a list"


@pytest.mark.parametrize("name", WITH_INTEGERS)
def test_integers_pass_unchanged_and_out_of_range_values_are_refused(observed, name):
    cases = observed[name]["integers"]
    assert {c["parameter"] for c in cases} == {
        i for i, p in enumerate(BY_NAME[name].params) if p.role.name in INTEGER_ROLES}
    for case in cases:
        low, high = {"int": (-2**31, 2**31 - 1), "unsigned int": (0, 2**32 - 1),
                     "long long": (-2**63, 2**63 - 1)}[case["type"]]
        is_mode = BY_NAME[name].params[case["parameter"]].role.name in ("mode", "mode_value")
        if is_mode and low <= case["value"] <= high and case["value"] & 0xF > 3:
            assert (case["error"], case["calls"]) == ("ValueError", 0), case  # no such accuracy
        elif low <= case["value"] <= high:
            assert (case["error"], case["calls"]) == (None, 1), case
            assert case["observed"] == case["value"], case
        else:
            assert (case["error"], case["calls"]) == ("OverflowError", 0), case


def as_double(hex_bytes):
    return np.frombuffer(bytes.fromhex(hex_bytes), dtype=np.float64)[0]


@pytest.mark.parametrize("name", WITH_REAL_SCALARS)
def test_real_scalars_reach_the_runtime_rounded_to_nearest(observed, name):
    single = BY_NAME[name].letter == "s"
    for case in observed[name]["scalars"]:
        assert (case["error"], case["calls"]) == (None, 1), case
        given = as_double(case["given_bytes"])
        received = np.frombuffer(bytes.fromhex(case["observed"]),
                                 dtype=np.float32 if single else np.float64)[0]
        if math.isnan(given):
            assert math.isnan(received)
            if not single:
                assert case["observed"] == case["given_bytes"], "a double travels bit for bit"
            continue
        with np.errstate(over="ignore"):
            expected = given.astype(np.float32) if single else given
        assert received == expected and math.copysign(1, received) == math.copysign(1, expected)


@pytest.mark.parametrize("name", WITH_RECORD_SCALARS)
def test_complex_scalars_arrive_with_the_callers_bytes(observed, name):
    cases = observed[name]["scalars"]
    assert len(cases) == 4
    for case in cases:
        assert (case["error"], case["calls"]) == (None, 1), case
        assert case["observed"] == case["given_bytes"], case


@pytest.mark.parametrize("name", NAMES)
def test_errno_is_restored_before_and_saved_after_the_call(observed, name):
    case = observed[name]["cdata"]
    call = only_call(case, name)
    assert call["errno_on_entry"] == case["errno"]["before"]
    assert case["errno"]["after"] == case["errno"]["returned"]


@pytest.mark.parametrize("name", NAMES)
def test_the_interpreter_lock_is_released_during_the_call(observed, name):
    lock = observed[name]["lock"]
    assert not lock["skipped"], "not tried: the lock was held in earlier calls"
    assert lock["calls"] == 1
    assert lock["seen_blocked"], "no other thread ran while the runtime was called"
    assert lock["released"] == 1


@pytest.mark.parametrize("name", NAMES)
def test_a_refused_argument_stops_the_call(observed, name):
    failures = observed[name]["failures"]
    spied = failures["spied"]
    assert (spied["error"], spied["calls"]) == (None, 1)
    assert all(c is None or c > 0 for c in spied["conversions"]), "every argument converted"
    assert len(failures["refused"]) == len(BY_NAME[name].params)
    for case in failures["refused"]:
        refused = case["parameter"]
        assert (case["error"], case["calls"]) == ("TypeError", 0), case
        for position, count in enumerate(case["conversions"]):
            if count is not None:
                assert (count > 0) == (position < refused), (refused, case["conversions"])


@pytest.mark.parametrize("name", SERVICES)
def test_service_results_come_back_as_the_runtime_gave_them(observed, name):
    result = BY_NAME[name].result
    for case in observed[name]["results"]:
        assert case["error"] is None
        chosen, returned = case["chosen"], case["returned"]
        if result == VML_ERROR_CALLBACK:
            assert returned == {"callback": True, "address": chosen}
        elif result.name == "unsigned int":
            assert returned == chosen & 0xFFFFFFFF
        else:
            assert returned == (chosen + 2**31) % 2**32 - 2**31
