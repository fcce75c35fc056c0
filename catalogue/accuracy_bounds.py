"""The accuracy the runtime documents for its modes, in ulp: the one source of the
bounds that the documentation states and the accuracy tests hold every function to.

The runtime documents its accuracies as errors in units in the last place (ulp) of the
result's real type: about 1 ulp in HA (high accuracy), about 4 ulp in LA (low
accuracy), and in EP (enhanced performance) only about half of the significand's bits.
A few operations keep to tighter or looser bounds of their own (``bound``).
"""

from __future__ import annotations

# The runtime's accuracies, in the order the documentation lists them.
ACCURACIES = ("HA", "LA", "EP")
DESCRIPTIONS = {
    "HA": "high accuracy, the runtime's default: about 1 ulp",
    "LA": "low accuracy: about 4 ulp, in less time",
    "EP": "enhanced performance: about half of the significand's bits correct, in the "
          "least time",
}

# The bits of each precision's significand, the hidden one included (float32: 24,
# float64: 53); a complex precision's parts are of its real type.
SIGNIFICAND_BITS = {"s": 24, "d": 53, "c": 24, "z": 53}

# Results that are exact in every mode: no accuracy changes them.
EXACT = frozenset({"Ceil", "Conj", "Floor", "Frac", "Modf", "NearbyInt", "Rint", "Round",
                   "Trunc",
                   # and of the operations vm alone offers
                   "CopySign", "Fmax", "Fmin", "Fmod", "Logb", "MaxMag", "MinMag",
                   "NextAfter", "Remainder"})
# Real absolute values are exact too; the complex modulus is rounded.
EXACT_IN = {"Abs": ("s", "d")}
# Implemented in EP accuracy only: every mode gives EP's results.
EP_ONLY = frozenset({"LinearFrac"})
# Where the error grows with the inputs past the mode's bound.
CAVEATS = {
    ("Pow", "z"): "computed as exp(b * ln a) in double precision: the error grows with "
                  "|b * ln a|, about one ulp per unit",
    ("Powx", "z"): "computed as exp(b * ln a) in double precision: the error grows with "
                   "|b * ln a|, about one ulp per unit",
    **{(name, "d"): "beyond |a| of about 35 the error grows to some thousands of ulp, in "
                    "every mode"
       for name in ("J0", "J1", "Jn", "Y0", "Y1", "Yn")},
    ("Yn", "s"): "near the zeros of the function the error grows to some hundreds of ulp "
                 "of the result (about one ulp of the function's scale)",
    ("Jn", "s"): "of orders b above |a| the results lose most of their digits, in every "
                 "mode (of order 12 at 7 it gives 4.0e-4 for 2.67e-3): compute such orders "
                 "in float64",
}


def documented_bound(accuracy: str, letter: str) -> float:
    """The largest error the runtime documents for a mode, in ulp of precision
    ``letter`` (s, d, c, z): 1 in HA, 4 in LA; in EP only the upper half of the
    significand is promised, 2**13 ulp in float32 and 2**27 ulp in float64."""
    if accuracy == "EP":
        return 2.0 ** (SIGNIFICAND_BITS[letter] // 2 + 1)
    return {"HA": 1.0, "LA": 4.0}[accuracy]


def bound(operation: str, letter: str, accuracy: str) -> float:
    """The documented bound of one operation (a base name, ``Exp``) in one precision
    and accuracy, with the runtime's own exceptions: 0 where results are exact, EP's
    bound in every mode where only EP is implemented. ``caveat`` says where the error
    may grow past it."""
    if operation in EXACT or letter in EXACT_IN.get(operation, ()):
        return 0.0
    if operation in EP_ONLY:
        return documented_bound("EP", letter)
    return documented_bound(accuracy, letter)


def caveat(operation: str, letter: str) -> str | None:
    """Where the error of an operation in a precision can exceed ``bound``, and why."""
    return CAVEATS.get((operation, letter))
