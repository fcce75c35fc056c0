"""The catalogue of offered functions: the one place each function is described.

``functions`` holds the base-name groups, families and services and derives the
offered functions; ``type_table`` derives the type table from them; ``generate``
writes the C++ sources of the build. The package ships, without the generator, as
``vantrel.mkl._catalogue``.
"""
