"""Every function's own entry: functions of one type share a wrapper body, but each
reports its own name."""

import re

from conftest import OFFERED

ARGUMENT_TUPLE_FUNCTIONS = [f for f in OFFERED if len(f.params) >= 2]


def test_every_count_error_names_its_own_function(lib):
    misnamed = []
    for function in ARGUMENT_TUPLE_FUNCTIONS:
        try:
            getattr(lib, function.name)()
        except TypeError as error:
            expected = rf"^{function.name} expected {len(function.params)} arguments, got 0$"
            if not re.match(expected, str(error)):
                misnamed.append((function.name, str(error)))
        else:
            misnamed.append((function.name, "no error"))
    assert misnamed == []
