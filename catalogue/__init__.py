"""The catalogue of offered functions: the one place each function is described.

``operations`` holds one record per operation (its base name, description, families,
``m`` forms and vm name); ``families`` and ``roles`` the typed families and parameter
roles the records use; ``functions`` derives the offered functions from them and holds
the service functions; ``type_table`` derives the type table; ``validation`` checks the
records; ``generate`` writes the C++ sources of the build. The package ships, without
the generator, as ``vantrel.mkl._catalogue``.
"""
