"""Writes the API reference from the installed catalogue when the documentation builds.

One page per vm function (``reference/generated/vm/<name>.rst``), the vm index, the
page of lib's functions, and the fragments the guide includes: the accuracy bounds and
the bench's table of where the runtime is slower than NumPy, and the table of NumPy's
names of the operations, which README.md carries too (``python docs/_ext/vm_reference.py``
writes it there; ``--check`` says whether it is up to date). Everything comes from the
catalogue's public functions (``vm_interface.vm_functions()``, ``operations.OPERATIONS``,
``functions.offered_functions()``, ``accuracy_bounds``), from the installed ``vm``
itself and from ``bench/results/results.json``; attributes that later catalogue
records may carry (``numpy_name``, ``scipy_name``, ``numpy_difference``,
``special_values``) are read where present. Nothing here describes one operation.
"""

from __future__ import annotations

import importlib
import json
import math
from pathlib import Path

GENERATED = Path("reference") / "generated"
REPOSITORY = Path(__file__).resolve().parents[2]
BENCH_RESULTS = REPOSITORY / "bench" / "results" / "results.json"
# Inputs of the special-values table of a real one-input operation.
SPECIAL_INPUTS = (-math.inf, -1.0, -0.5, -0.0, 0.0, 0.5, 1.0, math.inf, math.nan)
# Of a ufunc of two inputs, each pair of these.
SPECIAL_PAIRS = (-math.inf, -1.5, -0.0, 0.0, 1.0, math.inf, math.nan)
NUMPY_KEYWORDS = "out=None, *, where=True, casting='same_kind', order='K', dtype=None, subok=True"
# The first line of each written page.
NOTE = ".. This page is written by docs/_ext/vm_reference.py from the catalogue."


def escape(text: str) -> str:
    """Plain text as reStructuredText shows it: ``e**a``, ``|a|``, ``a_``."""
    for char in "\\*`|_<>[]":
        text = text.replace(char, "\\" + char)
    return text


def literal(text: str) -> str:
    return f"``{text}``"


def heading(text: str, char: str) -> list[str]:
    return [text, char * len(text), ""]


def list_table(header: list[str], rows: list[list[str]], widths: str | None = None) -> list[str]:
    lines = [".. list-table::", "   :header-rows: 1"]
    if widths:
        lines.append(f"   :widths: {widths}")
    lines.append("")
    for row in [header, *rows]:
        lines.append(f"   * - {row[0] or ' '}")
        lines += [f"     - {cell or ' '}" for cell in row[1:]]
    return lines + [""]


# --- what the catalogue and vm say about one function ----------------------------------


class Catalogue:
    """The installed catalogue and vm, read once per build."""

    def __init__(self):
        from vantrel.mkl import vm
        from vantrel.mkl._catalogue import accuracy_bounds, functions, vm_interface
        from vantrel.mkl._catalogue.precisions import PRECISIONS

        self.vm = vm
        self.bounds = accuracy_bounds
        self.precisions = PRECISIONS
        self.functions = vm_interface.vm_functions()
        self.offered = functions.offered_functions()
        self.by_base: dict[str, list] = {}
        for function in self.offered:
            self.by_base.setdefault(function.base, []).append(function)
        from vantrel.mkl import show_config
        self.config = show_config(mode="dicts")

    def obj(self, function):
        return getattr(self.vm, function.name)

    def aliases(self, function) -> list[str]:
        """Other vm names bound to the same object."""
        target = self.obj(function)
        return sorted(name for name in self.vm.__all__
                      if name != function.name and getattr(self.vm, name, None) is target)

    def accuracy_namespaces(self, function) -> list[str]:
        return [name for name in ("la", "ha", "ep")
                if getattr(getattr(self.vm, name), function.name, None) is not None]


def resolve(name: str | None):
    """The object a dotted name such as ``numpy.exp`` or ``scipy.special.ndtr`` names;
    a bare name is NumPy's."""
    if not name:
        return None
    parts = name.split(".")
    if parts[0] == "np":
        parts[0] = "numpy"
    if len(parts) == 1:
        parts.insert(0, "numpy")
    for split in range(len(parts) - 1, 0, -1):
        try:
            target = importlib.import_module(".".join(parts[:split]))
        except ImportError:
            continue
        try:
            for part in parts[split:]:
                target = getattr(target, part)
        except AttributeError:
            return None
        return target
    return None


def dotted(name: str) -> str:
    parts = name.split(".")
    if parts[0] == "np":
        parts[0] = "numpy"
    return ".".join(parts if len(parts) > 1 else ["numpy", *parts])


def counterparts(catalogue: Catalogue, function) -> list[tuple[str, object, str]]:
    """(dotted name, object, how it is known) of NumPy's and SciPy's counterparts."""
    import numpy as np

    operation = function.operation
    found = []
    for attribute in ("numpy_name", "scipy_name"):
        name = getattr(operation, attribute, None)
        if name:
            found.append((dotted(name), resolve(name), "named by the catalogue"))
    if not found:
        same = getattr(np, function.name, None)
        if isinstance(same, np.ufunc):
            found.append((f"numpy.{function.name}", same, "NumPy's ufunc of the same name"))
    return found


# --- one function's page ----------------------------------------------------------------


def signature(function) -> str:
    """The catalogue's signature (its parameter names are the descriptions'), with
    NumPy's keywords for a ufunc."""
    if function.is_pack:
        return function.text_signature
    return function.text_signature.replace("/)", f"/, {NUMPY_KEYWORDS})")


def loops_section(catalogue: Catalogue, function) -> list[str]:
    lines = heading("Precisions and runtime functions", "-")
    rows = []
    for loop in function.loops:
        offered = {f.name for f in catalogue.by_base.get(function.base, ())
                   if f.letter == loop.letter}
        names = [name for name in (loop.mode_runtime_name, loop.runtime_name) if name]
        spelled = [n for name in names for n in (name, name.lower(), name.upper()) if n in offered]
        rows.append([literal(loop.input_dtype), literal(loop.output_dtype),
                     ", ".join(literal(name) for name in names),
                     ", ".join(literal(name) for name in spelled) or "not in lib"])
    lines += list_table(["inputs", "results", "runtime functions vm calls",
                         "in lib (as written, lower and upper case)"], rows, "12 12 30 46")
    if function.is_pack:
        lines += ["vm calls the plain form; gather and scatter have no mode.", ""]
    else:
        lines += ["vm's ufunc calls the ``m`` form with the calling thread's accuracy (or "
                  "the accuracy of its namespace); NumPy picks the first loop the inputs "
                  "cast to safely, in the order above.", ""]
    return lines


def bound_text(bound: float) -> str:
    if bound == 0:
        return "exact"
    exponent = math.log2(bound)
    return f"2\\ :sup:`{exponent:.0f}` ulp" if bound > 16 and exponent.is_integer() else \
        f"{bound:g} ulp"


def accuracy_section(catalogue: Catalogue, function) -> list[str]:
    bounds = catalogue.bounds
    lines = heading("Accuracy", "-")
    letters = [loop.letter for loop in function.loops]
    rows = []
    for accuracy in bounds.ACCURACIES:
        row = [f"{accuracy} (``vm.{accuracy.lower()}.{function.name}``)"]
        row += [bound_text(bounds.bound(function.base, letter, accuracy)) for letter in letters]
        rows.append(row)
    dtypes = [catalogue.precisions[letter].numpy_dtype for letter in letters]
    lines += list_table(["accuracy", *dtypes], rows)
    lines += ["The largest error the runtime documents for each accuracy, in units in the "
              "last place of the result's real type; the test suite holds every precision "
              "and accuracy to it against exact results.", ""]
    for letter in letters:
        caveat = bounds.caveat(function.base, letter)
        if caveat:
            lines += [f"In {catalogue.precisions[letter].numpy_dtype}: {escape(caveat)}.", ""]
    namespaces = catalogue.accuracy_namespaces(function)
    if namespaces:
        lines += [f"``vm.{function.name}`` computes in the calling thread's accuracy "
                  "(:doc:`/guide/accuracy`); "
                  + ", ".join(f"``vm.{n}.{function.name}``" for n in namespaces)
                  + " compute in one accuracy each, whatever the thread's mode.", ""]
    return lines


def conditions_section(catalogue: Catalogue, function) -> list[str]:
    operation = function.operation
    lines = heading("Conditions and reductions", "-")
    source = getattr(getattr(operation, "conditions", None), "name", None)
    if source == "runtime":
        lines += ["The conditions (invalid, divide by zero, overflow, underflow) are the "
                  "ones the runtime reports for each element, reported through "
                  "``numpy.errstate`` (:doc:`/guide/numpy`).", ""]
    elif source == "evaluated":
        lines += ["The runtime checks none of this operation's conditions, or only some: "
                  "for each result that is not a normal number vm evaluates the "
                  "operation's formula (NumPy's, or C's function of the name where NumPy "
                  "has none) and reports the flags it raises, through ``numpy.errstate`` "
                  "(:doc:`/guide/numpy`).", ""]
    target = catalogue.obj(function)
    identity = getattr(target, "identity", None)
    reduction = getattr(getattr(operation, "reduction", None), "name", None)
    if not function.is_pack and getattr(target, "nin", 0) == 2:
        how = {"pairwise_sum": "sums pairwise, term for term as ``numpy.add.reduce`` does",
               "product": "folds real values from the left as ``numpy.multiply.reduce`` "
                          "does"}.get(reduction, "folds from the left one element at a time "
                                                 "through the runtime")
        lines += [f"``vm.{function.name}.reduce`` {how}"
                  + (f"; its identity is {identity!r}." if identity is not None else
                     "; it has no identity, so an empty reduction raises ``ValueError``.")
                  , ""]
    order = getattr(operation, "output_order", None)
    if order:
        lines += ["The results come in the order of NumPy's same-named function, which is "
                  "not the order the runtime writes them.", ""]
    return lines


def fmt(value) -> str:
    if isinstance(value, complex):
        return f"{value!r}"
    value = float(value)
    return repr(value) if not math.isnan(value) else "nan"


def special_values_section(catalogue: Catalogue, function, partners) -> list[str]:
    import numpy as np

    operation = function.operation
    known = getattr(operation, "special_values", None)
    lines = heading("Special values", "-")
    if known:
        rows = [[literal(str(k)), literal(str(v))] for k, v in dict(known).items()]
        return lines + list_table(["input", "result"], rows)
    target = catalogue.obj(function)
    real = [loop for loop in function.loops if loop.input_dtype == "float64"]
    inputs = getattr(target, "nin", 0)
    if function.is_pack or inputs not in (1, 2) or not real or \
            (inputs == 2 and len(function.positional) != 2):
        return []
    if inputs == 1:
        operands = [np.array(SPECIAL_INPUTS)]
    else:
        operands = [np.array(column) for column in
                    zip(*[(a, b) for a in SPECIAL_PAIRS for b in SPECIAL_PAIRS])]
    with np.errstate(all="ignore"):
        results = target(*operands)
    results = results if isinstance(results, tuple) else (results,)
    partner = next(((name, obj) for name, obj, _ in partners if callable(obj)), None)
    theirs = None
    if partner is not None:
        try:
            with np.errstate(all="ignore"):
                theirs = partner[1](*operands)
            theirs = theirs if isinstance(theirs, tuple) else (theirs,)
            if len(theirs) != len(results):
                theirs = None
        except Exception:  # a counterpart that takes no such array: no column
            theirs = None
    header = [p.name for p in function.positional]
    header += [f"vm.{function.name}" + (f" [{i}]" if len(results) > 1 else "")
               for i in range(len(results))]
    if theirs is not None:
        header += [f"{partner[0]}" + (f" [{i}]" if len(theirs) > 1 else "")
                   for i in range(len(theirs))]
    rows = []
    for i in range(operands[0].size):
        row = [literal(fmt(o[i])) for o in operands] + [literal(fmt(r[i])) for r in results]
        if theirs is not None:
            row += [literal(fmt(t[i])) for t in theirs]
        rows.append(row)
    kernels = ", ".join(catalogue.config["runtime"]["kernels"]) or "unknown"
    lines += [f"float64 results of ``vm.{function.name}``"
              + (f" and of ``{partner[0]}``" if theirs is not None else "")
              + f", computed when this page was built (the runtime's code path "
              f"{literal(kernels)}). The test suite checks the runtime's special values on "
              "every code path, against C99's where C99 defines the function and against "
              "NumPy's or SciPy's elsewhere.", ""]
    return lines + list_table(header, rows)


def counterpart_section(catalogue: Catalogue, function, partners) -> list[str]:
    lines = heading("NumPy and SciPy", "-")
    if partners:
        for name, _, how in partners:
            lines.append(f"- ``{name}`` ({how})")
        lines.append("")
    else:
        lines += ["The catalogue names no NumPy or SciPy counterpart, and NumPy has no ufunc "
                  "of this name.", ""]
    difference = getattr(function.operation, "numpy_difference", None)
    if difference:
        lines += [f"Where it differs: {escape(str(difference))}", ""]
    return lines


def function_page(catalogue: Catalogue, function) -> str:
    target = catalogue.obj(function)
    partners = counterparts(catalogue, function)
    lines = [NOTE, ""]
    lines += heading(f"vm.{function.name}", "=")
    lines += [f".. py:function:: {signature(function)}", "   :module: vantrel.mkl.vm",
              "", f"   {escape(function.description)}", ""]
    if function.is_pack:
        kind = "A gather or scatter function (not elementwise, not a ufunc)."
    else:
        kind = (f"A ``numpy.ufunc`` of {target.nin} input{'s' * (target.nin != 1)} and "
                f"{target.nout} output{'s' * (target.nout != 1)}.")
    lines += [kind, ""]
    aliases = catalogue.aliases(function)
    if aliases:
        lines += ["Also named " + ", ".join(f"``vm.{a}``" for a in aliases)
                  + " (the same object).", ""]
    lines += loops_section(catalogue, function)
    if not function.is_pack:
        lines += accuracy_section(catalogue, function)
        lines += conditions_section(catalogue, function)
    lines += special_values_section(catalogue, function, partners)
    lines += counterpart_section(catalogue, function, partners)
    return "\n".join(lines).rstrip() + "\n"


def vm_index(catalogue: Catalogue) -> str:
    functions = catalogue.functions
    ufuncs = [f for f in functions if not f.is_pack]
    lines = [NOTE, ""]
    lines += heading("vm functions", "=")
    lines += [f"``vantrel.mkl.vm`` has {len(functions)} functions: {len(ufuncs)} ufuncs, one "
              f"per elementwise operation, and {len(functions) - len(ufuncs)} gather and "
              "scatter functions. Each page says what the function computes, its "
              "precisions and the runtime functions it calls, each accuracy's documented "
              "bound, its special values and its NumPy or SciPy counterpart.", ""]
    rows = []
    for function in functions:
        partners = counterparts(catalogue, function)
        dtypes = ", ".join(loop.input_dtype for loop in function.loops)
        rows.append([f":doc:`vm.{function.name} <vm/{function.name}>`",
                     escape(function.description), dtypes,
                     ", ".join(literal(name) for name, _, _ in partners)])
    lines += list_table(["function", "computes", "input dtypes", "NumPy, SciPy"], rows,
                        "14 46 20 20")
    lines += [".. toctree::", "   :hidden:", ""]
    lines += [f"   vm/{function.name}" for function in functions]
    return "\n".join(lines) + "\n"


def prototype(function) -> str:
    """The C declaration of an offered function, by the catalogue's renderer where it
    has one (it names the callback type by its typedef)."""
    try:
        from vantrel.mkl._catalogue.c_types import function_declaration
    except ImportError:
        params = ", ".join(f"{p.c_type.spelling} {p.name}" for p in function.params)
        return f"{function.result.spelling} {function.name}({params or 'void'})"
    return function_declaration(function.result, function.name,
                                [(p.c_type, p.name) for p in function.params])


def lib_page(catalogue: Catalogue) -> str:
    offered = catalogue.offered
    written = [f for f in offered if f.spelling == "value"]
    lines = [NOTE, ""]
    lines += heading("lib functions", "=")
    lines += [f"``vantrel.mkl.tessivec.lib`` offers {len(offered)} functions: each of the "
              f"runtime's {len(written)} functions below as written (counts, scalars and "
              "modes by value) and wholly in lower and upper case (every argument by "
              "pointer). :doc:`/guide/lib` says how to call them and what outlives a call.",
              ""]
    lines += heading("Services", "-")
    lines += [".. code-block:: c", ""]
    lines += [f"   {prototype(f)};" for f in written if f.base is None]
    lines.append("")
    by_base: dict[str, list] = {}
    for f in written:
        if f.base is not None:
            by_base.setdefault(f.base, []).append(f)
    vm_names = {function.base: function.name for function in catalogue.functions}
    lines += heading("Math, gather and scatter", "-")
    for base in sorted(by_base, key=str.lower):
        title = base + (f" (:doc:`vm.{vm_names[base]} <vm/{vm_names[base]}>`)"
                        if base in vm_names else "")
        lines += heading(title, "~")
        lines += [".. code-block:: c", ""]
        lines += [f"   {prototype(f)};" for f in sorted(by_base[base], key=lambda f: f.name)]
        lines.append("")
    return "\n".join(lines) + "\n"


def accuracy_fragment(catalogue: Catalogue) -> str:
    bounds = catalogue.bounds
    letters = list(catalogue.precisions)
    rows = [[accuracy, literal(f"vm.{accuracy}"), escape(bounds.DESCRIPTIONS[accuracy])]
            + [bound_text(bounds.documented_bound(accuracy, letter)) for letter in letters]
            for accuracy in bounds.ACCURACIES]
    header = ["accuracy", "mode value", "what it is"] + [
        catalogue.precisions[letter].numpy_dtype for letter in letters]
    lines = list_table(header, rows)
    exact = ", ".join(literal(name) for name in sorted(bounds.EXACT, key=str.lower))
    lines += [f"Exact in every accuracy: {exact}, and the absolute value of real numbers. "
              "Implemented in EP only, so every accuracy gives EP's results: "
              + ", ".join(literal(name) for name in sorted(bounds.EP_ONLY)) + ".", ""]
    return "\n".join(lines)


# --- NumPy's names ----------------------------------------------------------------------

README = REPOSITORY / "README.md"
README_START = ("<!-- The table of NumPy's names, written from the catalogue by "
                "docs/_ext/vm_reference.py: do not edit. -->")
README_END = "<!-- The end of the table of NumPy's names. -->"


def numpy_name_rows(functions) -> list[tuple[list[str], str | None, str | None]]:
    """For each ufunc: its vm names (its own, then NumPy's where vm binds it), the
    dotted name of its NumPy or SciPy counterpart, and where the two differ."""
    rows = []
    for function in functions:
        if function.is_pack:
            continue
        operation = function.operation
        theirs = (f"numpy.{operation.numpy_name}" if operation.numpy_name
                  else operation.scipy_name)
        rows.append(([f"vm.{name}" for name in (function.name, *function.aliases)], theirs,
                     operation.numpy_difference))
    return rows


NUMPY_NAMES_HEADER = ["vm", "NumPy or SciPy", "where they differ"]


def numpy_names_fragment(catalogue: Catalogue) -> str:
    rows = [[", ".join(literal(name) for name in names), literal(theirs) if theirs else "none",
             escape(difference or "")]
            for names, theirs, difference in numpy_name_rows(catalogue.functions)]
    return "\n".join(list_table(NUMPY_NAMES_HEADER, rows, "22 24 54"))


def markdown(text: str) -> str:
    """Plain text as a cell of a Markdown table shows it."""
    for char in "\\*_|<>[]`":
        text = text.replace(char, "\\" + char)
    return text


def numpy_names_markdown(functions) -> str:
    lines = [f"| {' | '.join(NUMPY_NAMES_HEADER)} |", "|---|---|---|"]
    for names, theirs, difference in numpy_name_rows(functions):
        cells = [", ".join(f"`{name}`" for name in names), f"`{theirs}`" if theirs else "none",
                 markdown(difference or "")]
        lines.append(f"| {' | '.join(cells)} |".replace("  |", " |"))
    return "\n".join(lines)


def with_numpy_names(readme: str, functions) -> str:
    """README.md's text with its table of NumPy's names written anew."""
    start, end = readme.index(README_START), readme.index(README_END)
    return (readme[:start] + README_START + "\n\n" + numpy_names_markdown(functions) + "\n\n"
            + readme[end:])


def main(arguments: list[str]) -> int:
    """Writes the table of NumPy's names into README.md; with --check, only says
    whether the README's table is the catalogue's (exit status 1 if not)."""
    from vantrel.mkl._catalogue.vm_interface import vm_functions

    readme = README.read_text()
    written = with_numpy_names(readme, vm_functions())
    if arguments == ["--check"]:
        if written != readme:
            print(f"{README}: the table of NumPy's names is out of date: run "
                  "python docs/_ext/vm_reference.py")
            return 1
        return 0
    if arguments:
        print("usage: python docs/_ext/vm_reference.py [--check]")
        return 2
    if written != readme:
        README.write_text(written)
    return 0


# --- the bench's table ------------------------------------------------------------------


def best(timings: dict, name: str) -> float:
    return timings[name]["best_s"]


def slower_fragment(results: dict) -> str:
    machine = results["machine"]
    rows = []
    for row in results["throughput"]:
        timings, count = row["timings"], row["count"]
        module, numpy_time = best(timings, "module"), best(timings, "NumPy/SciPy")
        if module > numpy_time:
            rows.append([literal(row["function"]), literal(row["reference"]), f"{count:.0e}",
                         f"{count / module / 1e6:,.0f}", f"{count / numpy_time / 1e6:,.0f}",
                         f"{module / numpy_time:,.2f}x"])
    lines = [f"Measured by ``bench/run.py`` on {escape(machine['cpu'])} "
             f"({machine['cores']} cores, {machine['date']}; {escape(machine['runtime'])}; "
             f"NumPy {machine['numpy']}, SciPy {machine['scipy']}), the runtime limited to "
             "one thread, through ``lib`` on arrays wrapped once. The rows where the runtime "
             "takes longer than NumPy or SciPy on the same array (million elements per "
             "second, best round):", ""]
    lines += list_table(["runtime function", "against", "elements", "runtime", "NumPy/SciPy",
                         "time over NumPy's"], rows)
    vm_rows = []
    for goal in results["goals"]:
        measured = goal["measured"].rstrip("x")
        if goal["goal"].startswith("vm.") and " / np." in goal["goal"] and \
                measured.replace(".", "", 1).isdigit() and float(measured) > 1:
            vm_rows.append([escape(goal["goal"]), goal["measured"]])
    if vm_rows:
        lines += ["And through vm:", ""]
        lines += list_table(["call", "time over NumPy's"], vm_rows)
    return "\n".join(lines)


# --- Sphinx -----------------------------------------------------------------------------


def write(path: Path, text: str, written: set[Path]) -> None:
    """Writes only what changed, so that Sphinx rereads only those pages."""
    written.add(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    if not path.exists() or path.read_text() != text:
        path.write_text(text)


def generate(app) -> None:
    root = Path(app.srcdir) / GENERATED
    catalogue = Catalogue()
    written: set[Path] = set()
    for function in catalogue.functions:
        write(root / "vm" / f"{function.name}.rst", function_page(catalogue, function), written)
    write(root / "vm.rst", vm_index(catalogue), written)
    write(root / "lib.rst", lib_page(catalogue), written)
    write(root / "accuracy_bounds.inc", accuracy_fragment(catalogue), written)
    write(root / "numpy_names.inc", numpy_names_fragment(catalogue), written)
    results = json.loads(BENCH_RESULTS.read_text())
    write(root / "slower_than_numpy.inc", slower_fragment(results), written)
    for stale in root.rglob("*"):
        if stale.is_file() and stale not in written:
            stale.unlink()


def setup(app):
    app.connect("builder-inited", generate)
    return {"version": "1", "parallel_read_safe": True, "parallel_write_safe": True}


if __name__ == "__main__":
    import sys

    sys.exit(main(sys.argv[1:]))
