"""Intel MKL's vector math functions for Python.

``vantrel.mkl.vm`` offers every operation to NumPy arrays, with NumPy's dtype rules
and floating-point error handling; ``vantrel.mkl.tessivec`` offers the runtime's
functions themselves as ``lib``, with ``ffi`` for the types they take.
"""
