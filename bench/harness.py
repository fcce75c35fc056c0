"""Interleaved timing: every contender of a comparison runs one batch per round, in an
order shuffled afresh for every round, so that the machine's drift reaches all alike and
no contender always runs after the same other one (a batch can inherit the caches and
the memory traffic its predecessor leaves).

Single-threaded batches are timed by the CPU time of the calling thread: a call that
does not block costs exactly that, and time the thread spends descheduled while other
processes run does not count. Runtime threading is limited to one thread, so every
runtime call runs on the calling thread."""

from __future__ import annotations

import random
import statistics
import time
import timeit
from dataclasses import dataclass
from typing import Callable

# A batch: runs some calls and returns the seconds one call took.
Batch = Callable[[], float]


@dataclass
class Timing:
    samples: list[float]  # seconds per call, one sample per round

    @property
    def median(self) -> float:
        return statistics.median(self.samples)

    @property
    def best(self) -> float:
        return min(self.samples)

    def as_json(self) -> dict:
        return {"median_s": self.median, "best_s": self.best, "samples_s": self.samples}


def reported_seconds(timings: dict, name: str) -> float | None:
    """The figure the tables show for a contender: its best round. Other processes only
    ever add time to a round, so the best round is the steadiest estimate of the cost
    itself; the JSON keeps the median and every sample as well."""
    entry = timings.get(name)
    return entry["best_s"] if entry else None


def paired_ratio(timings: dict, name: str, other: str) -> float:
    """The median over rounds of the ratio of two contenders' samples of the same round.
    Samples of one round ran moments apart, so their ratio cancels the machine's slower
    drift, which a ratio of two separately summarised figures keeps."""
    pairs = zip(timings[name]["samples_s"], timings[other]["samples_s"])
    return statistics.median(mine / theirs for mine, theirs in pairs)


def interleave(batches: dict[str, Batch], rounds: int) -> dict[str, Timing]:
    names = list(batches)
    for name in names:  # warm caches, lazy lookups and the runtime's dispatch
        batches[name]()
    samples: dict[str, list[float]] = {name: [] for name in names}
    # Unseeded: a fixed order would tie whatever bias an order carries to the same
    # contender in every comparison of a run and in every run.
    order = random.Random()
    for _ in range(rounds):
        order.shuffle(names)
        for name in names:
            samples[name].append(batches[name]())
    return {name: Timing(samples[name]) for name in names}


def python_batch(statement: str, values: dict, calls: int,
                 timer: Callable[[], float] = time.thread_time) -> Batch:
    """Times `statement` run `calls` times, with `values` bound to locals of the loop,
    as code that binds a function and its arguments to locals does; by the calling
    thread's CPU time unless `timer` says otherwise (the wall clock, for calls that use
    the runtime's threads)."""
    setup = "; ".join(f"{name} = _values[{name!r}]" for name in values) or "pass"
    timer = timeit.Timer(statement, setup=setup, timer=timer,
                         globals={"_values": values})
    return lambda: timer.timeit(calls) / calls


def calls_for(batch_of: Callable[[int], Batch], seconds: float, most: int = 10**7) -> int:
    """How many calls make a batch of about `seconds`."""
    calls = 1
    # Once ahead, so that a first call's lazy loading does not pass for the call's cost.
    batch_of(calls)()
    while True:
        elapsed = batch_of(calls)() * calls
        if elapsed >= seconds / 10 or calls >= most:
            break
        calls *= 10
    return max(1, min(most, round(calls * seconds / max(elapsed, 1e-9))))
