"""Hostile objects in every parameter of every wrapper: a clear refusal before the
runtime, or one ordinary call, and never a crash."""

from pathlib import Path

from recording import run_recorded


def test_hostile_arguments_are_refused_before_the_runtime(recorder_library):
    driver = str(Path(__file__).with_name("hostile_driver.py"))
    report = run_recorded(recorder_library, driver, "1500")
    assert report["broken"] == [] and report["broken_count"] == 0
    assert report["judged"]["refused"] > 100_000 and report["judged"]["accepted"] > 10_000
