"""The floating-point conditions vm's ufuncs report, against NumPy's same-named ufuncs
and against what the runtime itself reports: plain arithmetic as NumPy reports it,
math functions as the runtime reports them (read as IEEE 754 reads them), nothing a
kernel leaves behind, nothing of the caller's lost; and outputs that alias any input
change neither results nor conditions."""

import itertools
import warnings

import numpy as np
import pytest
from vantrel.mkl import vm
from vantrel.mkl._catalogue.numpy_rules import EVALUATED
from vantrel.mkl._catalogue.vm_interface import vm_functions

from runtime_abi import for_operation
from test_vm_results import pointer

pytestmark = pytest.mark.usefixtures("clean_runtime_state")

FLAG_NAMES = {"invalid value": "invalid", "divide by zero": "divide", "overflow": "overflow",
              "underflow": "underflow"}


def conditions(call):
    """The conditions a call reports, by numpy.errstate's names."""
    with warnings.catch_warnings(record=True) as caught, np.errstate(all="warn"):
        warnings.simplefilter("always")
        call()
    return sorted({FLAG_NAMES[str(w.message).split(" encountered")[0]] for w in caught})


def specials(dtype):
    info = np.finfo(dtype)
    return [0.0, -0.0, 1.0, -1.5, 3.0, np.inf, -np.inf, np.nan, float(info.max),
            -float(info.max), float(info.tiny), float(info.smallest_subnormal) * 3,
            float(np.sqrt(info.tiny)), float(np.sqrt(info.max)) * 2]


def placed(value, size, dtype):
    """`size` ordinary values with `value` among them, so that runs mix both."""
    a = np.full(size, 1.25, dtype)
    a[size // 2] = value
    return a


ARITHMETIC = {"add": np.add, "sub": np.subtract, "mul": np.multiply, "div": np.divide,
              "sqr": np.square, "inv": np.reciprocal}
SIZES = [1, 5, 40, 3000]  # short calls, status-sized ones, several runs


@pytest.mark.parametrize("size", SIZES)
@pytest.mark.parametrize("dtype", ["float32", "float64"])
@pytest.mark.parametrize("name", ARITHMETIC)
def test_plain_arithmetic_reports_numpys_conditions(name, dtype, size):
    ours, numpys = getattr(vm, name), ARITHMETIC[name]
    for combination in itertools.product(specials(dtype), repeat=numpys.nin):
        arrays = [placed(v, size, dtype) for v in combination]
        assert conditions(lambda: ours(*arrays)) == conditions(lambda: numpys(*arrays)), \
            combination


@pytest.mark.parametrize("size", [1, 40, 3000])
@pytest.mark.parametrize("dtype", ["float32", "float64"])
def test_linearfrac_reports_the_conditions_of_its_formula(dtype, size):
    values = specials(dtype)
    for a, b, scale, shift in itertools.product(values[::2], values[1::2], [1.0, 0.0], [0.0, 2.0]):
        x, y = placed(a, size, dtype), placed(b, size, dtype)
        t = np.dtype(dtype).type
        by_numpy = lambda: (t(scale) * x + t(shift)) / (t(scale) * y + t(shift))  # noqa: E731
        with np.errstate(all="ignore"):
            same_result = np.array_equal(vm.linearfrac(x, y, scale, shift, scale, shift),
                                         by_numpy(), equal_nan=True)
        if not same_result:
            continue  # the runtime computes otherwise there (a zero scale drops its operand)
        assert conditions(lambda: vm.linearfrac(x, y, scale, shift, scale, shift)) == \
            conditions(by_numpy), (a, b, scale, shift)


def test_zero_over_zero_is_invalid_and_x_over_zero_divides():
    zeros = np.zeros(5)
    with np.errstate(divide="ignore", invalid="raise"), pytest.raises(FloatingPointError,
                                                                      match="invalid"):
        vm.div(zeros, zeros)
    with np.errstate(divide="ignore", invalid="raise"):
        vm.div(np.ones(5), zeros)
        vm.pow(zeros, np.full(5, -1.0))  # a pole: divide by zero, as np.power says
    with np.errstate(divide="raise"), pytest.raises(FloatingPointError, match="divide"):
        vm.pow(zeros, np.full(5, -1.0))


def complex_values(dtype):
    reals = [v for v in specials(np.finfo(dtype).dtype) if not np.isnan(v)]
    return [complex(a, b) for a in reals[::2] for b in reals[1::3]]


@pytest.mark.parametrize("dtype", ["complex64", "complex128"])
@pytest.mark.parametrize("name, numpys", [("add", np.add), ("sub", np.subtract)])
def test_complex_sums_report_numpys_conditions(name, numpys, dtype):
    ours = getattr(vm, name)
    for a, b in itertools.product(complex_values(dtype), repeat=2):
        x, y = placed(a, 5, dtype), placed(b, 5, dtype)
        assert conditions(lambda: ours(x, y)) == conditions(lambda: numpys(x, y)), (a, b)


@pytest.mark.parametrize("dtype", ["complex64", "complex128"])
@pytest.mark.parametrize("name", ["mul", "div", "mulbyconj"])
def test_complex_products_report_the_conditions_their_results_meet(name, dtype):
    # NumPy's own flags for these depend on whether its loops fuse multiply and add, and
    # on intermediate steps of results that are normal numbers: vm reports a condition
    # for each result part that is not a normal number where the formula meets one.
    ours = getattr(vm, name)
    finite = [v for v in complex_values(dtype) if np.isfinite(v)]
    for a, b in itertools.product(finite, repeat=2):
        x, y = placed(a, 5, dtype), placed(b, 5, dtype)
        got = conditions(lambda: ours(x, y))
        with np.errstate(all="ignore"):
            result = ours(x, y)[2]
        parts = np.array([result.real, result.imag])
        if not np.isfinite(parts).all():
            assert set(got) & {"invalid", "overflow", "divide"}, (a, b)
        elif (np.abs(parts) >= np.finfo(dtype).tiny).all():
            assert got == [], (a, b)


# Every operation whose conditions the runtime reports, in each precision.
RUNTIME_CHECKED = [pytest.param(f, loop, id=f"{f.name}-{loop.letter}")
                   for f in vm_functions() if not f.is_pack
                   and f.operation.conditions is not EVALUATED for loop in f.loops]


def runtime_report(ffi, lib, function, loop, operands):
    """The conditions the runtime reports for these operands, element by element, read
    as IEEE 754 reads them: a domain error or singularity whose result is a NaN is an
    invalid operation, one whose result is infinite a division by zero, and one whose
    result is finite (atan2pi of two zeros) is what its code says; an overflow whose
    result is finite is none."""
    found = set()
    got = []

    @ffi.callback("VMLErrorCallBack")
    def record(context):
        got.append((context.iCode, context.dbR1))
        return 0

    previous = lib.vmlSetErrorCallBack(record)
    try:
        n = operands[0].size
        outputs = [np.zeros(n, loop.output_dtype) for _ in range(function.outputs)]
        arrays = [pointer(ffi, a) for a in operands if a.ndim]
        scalars = [a[()] if np.dtype(loop.input_dtype).kind != "c" else
                   ffi.new(("MKL_Complex8" if loop.letter == "c" else "MKL_Complex16") + " *",
                           (a[()].real, a[()].imag))[0] for a in operands if not a.ndim]
        getattr(lib, loop.mode_runtime_name)(n, *arrays, *scalars,
                                             *[pointer(ffi, r) for r in outputs],
                                             vm.HA | vm.ERRMODE_CALLBACK)
    finally:
        lib.vmlSetErrorCallBack(previous)
    for code, result in got:
        if code in (vm.STATUS_ERRDOM, vm.STATUS_SING) and not np.isfinite(result):
            found.add("invalid" if np.isnan(result) else "divide")
        elif code == vm.STATUS_ERRDOM:
            found.add("invalid")
        elif code == vm.STATUS_SING:
            found.add("divide")
        elif code == vm.STATUS_OVERFLOW and not np.isfinite(result):
            found.add("overflow")  # a finite result did not overflow (float32 i0's)
        elif code == vm.STATUS_UNDERFLOW:
            found.add("underflow")
    return sorted(found)


@pytest.mark.parametrize("function, loop", RUNTIME_CHECKED)
def test_math_functions_report_what_the_runtime_reports(ffi, lib, function, loop):
    dtype = np.dtype(loop.input_dtype)
    reals = specials(np.finfo(dtype).dtype) + [-1000.0, 1000.0, 0.5, -0.5]
    values = reals if dtype.kind == "f" else [complex(a, b) for a in reals[::3]
                                              for b in reals[1::4]]
    arity = len(function.positional)
    combinations = [(v,) * arity for v in values] + \
        (list(itertools.product(values[:8], repeat=2)) if arity == 2 else [])
    for size in (1, 8, 40):  # 8 and more: the kernels that leave flags behind
        for combination in combinations:
            operands = [np.full(size, v, dtype) if p.role.array else np.array(v, dtype)
                        for p, v in zip(function.positional, combination)]
            arguments = [a if a.ndim else a[()] for a in operands]
            got = conditions(lambda: getattr(vm, function.name)(*arguments))
            assert got == runtime_report(*for_operation(function.operation, ffi, lib),
                                         function, loop, operands), combination


@pytest.mark.parametrize("size", [1, 8, 40, 3000])
def test_a_finite_result_reported_as_an_overflow_overflows_nothing(size):
    # The runtime's float32 i0 reports overflow for results far below the largest float32.
    x = np.full(size, 30.0, np.float32)
    with np.errstate(all="raise"):
        assert np.isfinite(vm.i0(x)).all() and np.isfinite(vm.ha.i0(-x)).all()
    assert conditions(lambda: vm.i0(np.full(size, 100.0, np.float32))) == ["overflow"]


def test_float32_hyperbolic_functions_of_infinities_are_silent():
    x = np.array([np.inf, -np.inf] * 8, np.float32)
    with np.errstate(all="raise"):
        vm.sinh(x)
        vm.cosh(x)


def test_flags_raised_before_the_loop_in_the_same_call_are_kept():
    # NumPy casts the input to float32 before vm's loop runs: the cast's overflow stays.
    a = np.array([1e300, 1.0])
    assert conditions(lambda: vm.exp(a, dtype=np.float32)) == \
        conditions(lambda: np.exp(a, dtype=np.float32)) == ["overflow"]


# (ufunc, its operands, the position of the input an output aliases); the values meet
# conditions, which a call computed again would find on overwritten operands.
def aliased_cases(size):
    x = np.linspace(-1.0, 2.0, size)
    zeros, minus = np.zeros(size), np.full(size, -1.0)
    return {
        "ln in place": (vm.ln, (x,), 0),
        "powx exponent": (vm.powx, (zeros, minus), 1),
        "pow base": (vm.pow, (zeros, minus), 0),
        "pow exponent": (vm.pow, (zeros, minus), 1),
        "div": (vm.div, (x, zeros), 1),
        "add": (vm.add, (np.full(size, 1e308), np.full(size, 1e308)), 0),
        "linearfrac shiftb": (vm.linearfrac, (x, zeros, 1.0, 0.0, 1.0, zeros.copy()), 5),
        "linearfrac a": (vm.linearfrac, (x, x, 2.0, 0.5, 0.0, zeros.copy()), 0),
        "sincos": (vm.sincos, (np.full(size, np.inf),), 0),
    }


@pytest.mark.parametrize("size", [5, 40, 10**5])
@pytest.mark.parametrize("case", list(aliased_cases(1)))
def test_outputs_aliasing_an_input_change_neither_results_nor_conditions(case, size):
    ufunc, operands, position = aliased_cases(size)[case]
    operands = [np.array(o, copy=True) for o in operands]
    with np.errstate(all="ignore"):
        expected = ufunc(*[o.copy() for o in operands])
    expected = expected if isinstance(expected, tuple) else (expected,)
    expected_conditions = conditions(lambda: ufunc(*[o.copy() for o in operands]))
    aliased = [o.copy() for o in operands]
    outs = [aliased[position]] + [np.empty_like(e) for e in expected[1:]]
    got = conditions(lambda: ufunc(*aliased, out=tuple(outs)))
    assert got == expected_conditions
    for out, want in zip(outs, expected):
        assert out.tobytes() == want.tobytes()


def test_outputs_overlapping_an_input_partly_are_computed_from_the_input():
    x = np.linspace(-1.0, 2.0, 1000)
    for shift in (1, -1):
        a = x.copy()
        source, target = (a[:-1], a[1:]) if shift == 1 else (a[1:], a[:-1])
        with np.errstate(all="ignore"):
            expected = vm.ln(source.copy())
            vm.ln(source, out=target)
        assert target.tobytes() == expected.tobytes()


# where=: NumPy hands vm's loop only the selected elements, run by run, so a condition
# of an element left out is never met; the runs between are computed like any call.
WHERE_CASES = [("ln", "log", [0.0, -1.0]), ("sqrt", "sqrt", [-1.0]),
               ("exp", "exp", [1000.0]), ("div", "divide", [np.inf]), ("add", "add", [np.inf])]


@pytest.mark.parametrize("vm_name, numpy_name, bad", WHERE_CASES,
                         ids=[case[0] for case in WHERE_CASES])
@pytest.mark.parametrize("n", [7, 40, 5000])
def test_where_reports_the_selected_elements_conditions_only(vm_name, numpy_name, bad, n):
    rng = np.random.default_rng(n)
    x = rng.uniform(0.5, 2.0, n)
    y = rng.uniform(0.5, 2.0, n)
    places = rng.choice(n, size=min(n, 2 * len(bad)), replace=False)
    x[places] = np.resize(bad, len(places))
    if vm_name == "add":
        y[places] = -np.inf  # inf - inf
    function, reference = getattr(vm, vm_name), getattr(np, numpy_name)
    operands = (x, y)[:function.nin]
    for where in (~np.isin(np.arange(n), places),  # every bad element left out
                  rng.random(n) < 0.5, np.isin(np.arange(n), places)):
        out, want = np.full(n, 7.0), np.full(n, 7.0)
        got_conditions = conditions(lambda: function(*operands, out=out, where=where))
        assert got_conditions == conditions(lambda: reference(*operands, out=want, where=where))
        assert np.array_equal(out[~where], want[~where])  # untouched
        with np.errstate(all="ignore"):
            assert out[where].tobytes() == function(*operands)[where].tobytes()
