"""What the catalogue's typed terms (roles, families, reach rules) have in common."""

from __future__ import annotations


class Term:
    """One of a fixed set of objects, each equal only to itself.

    A term is not its name: comparing one with a string is the mistake that the string
    names of earlier versions invite, so it fails loudly instead of being quietly
    unequal (also in a set or dict of strings, where the hash is the name's).
    """

    name: str

    def __eq__(self, other):
        if isinstance(other, str):
            raise TypeError(f"{self!r} compared with the string {other!r}: compare its "
                            f"properties, or with another {type(self).__name__}")
        return self is other

    def __hash__(self):
        return hash(self.name)

    def __repr__(self):
        return f"{type(self).__name__}({self.name})"
