"""The four precisions, by the letter that names them in a function's name."""

from __future__ import annotations

from dataclasses import dataclass

from .c_types import DOUBLE, FLOAT, Record
from .records import MKL_COMPLEX8, MKL_COMPLEX16


@dataclass(frozen=True)
class Precision:
    letter: str
    element: object  # element type of the arrays
    real: object  # real type of the same precision
    numpy_dtype: str

    @property
    def is_complex(self) -> bool:
        return isinstance(self.element, Record)


PRECISIONS = {
    "s": Precision("s", FLOAT, FLOAT, "float32"),
    "d": Precision("d", DOUBLE, DOUBLE, "float64"),
    "c": Precision("c", MKL_COMPLEX8, FLOAT, "complex64"),
    "z": Precision("z", MKL_COMPLEX16, DOUBLE, "complex128"),
}

# The NumPy dtype of each element type.
NUMPY_DTYPES = {p.element: p.numpy_dtype for p in PRECISIONS.values()}
