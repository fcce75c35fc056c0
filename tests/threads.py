"""Test code on threads of its own. The runtime keeps its mode, error status and error
callback per thread, and a thread's FTZDAZ, once set, never returns to its default: what
a test must not leave behind, or must see from a thread that has set nothing, runs on a
new thread, and what it returns or raises comes back to the test's thread."""

from __future__ import annotations

import threading


def on_threads(count, function, *arguments):
    """``function(index, *arguments)`` on `count` new threads at once, `index` from 0;
    returns their results in index order. Every thread runs to its end; then what the
    lowest-numbered one that failed raised is raised here."""
    outcomes = [None] * count

    def run(index):
        try:
            outcomes[index] = (function(index, *arguments), None)
        except BaseException as error:  # raised again on the test's thread
            outcomes[index] = (None, error)

    threads = [threading.Thread(target=run, args=(index,)) for index in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for _, error in outcomes:
        if error is not None:
            raise error
    return [result for result, _ in outcomes]


def on_a_thread_of_its_own(function, *arguments):
    """What ``function(*arguments)`` returns on a new thread; what it raises is raised
    here."""
    (result,) = on_threads(1, lambda index: function(*arguments))
    return result
