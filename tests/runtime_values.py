"""The runtime's mode values and error status codes, by the names vm offers them under,
from the installed catalogue: a test spells a mode ``HA | ERRMODE_CALLBACK`` and a
status ``STATUS_ERRDOM``, never as a number of its own."""

from vantrel.mkl._catalogue.mode_values import MODE_VALUES, STATUS_CODES

globals().update(MODE_VALUES)
globals().update(STATUS_CODES)
# The accuracy fields a mode may have: 0 keeps the accuracy as it is.
DEFINED_ACCURACIES = (0, MODE_VALUES["LA"], MODE_VALUES["HA"], MODE_VALUES["EP"])
__all__ = [*MODE_VALUES, *STATUS_CODES, "DEFINED_ACCURACIES"]
