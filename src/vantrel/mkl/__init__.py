"""Intel MKL's vector math functions for Python.

``vantrel.mkl.tessivec`` offers the runtime's functions as ``lib``, with ``ffi`` for
the types they take.
"""
