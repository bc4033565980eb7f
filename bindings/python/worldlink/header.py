"""The constants of worldlink.h, read from the header itself at import.

LIBRARY_BUILD, the WL_VERSION_ numbers, every ATTR_, EVENT_ and REASON_
constant, and the words of each reason code in WL_REASONS: the header is the
one place they are written.
"""

import os
import re
import sys

HEADER_NAME = "worldlink.h"

_NUMBER = re.compile(r"^#define\s+(LIBRARY_BUILD|WL_VERSION_MAJOR|WL_VERSION_MINOR|WL_VERSION_PATCH)\s+(\d+)",
                     re.MULTILINE)
# One entry of WL_REASONS: X(code, NAME, "words").
_REASON = re.compile(r'\bX\(\s*(\d+)\s*,\s*(\w+)\s*,\s*"((?:[^"\\]|\\.)*)"\s*\)')
# One enumerator with its number; the macro line "REASON_##name = code" has
# no number and stays out.
_ENUMERATOR = re.compile(r"\b((?:ATTR|EVENT|REASON)_\w+)\s*=\s*(-?\d+)")


def candidates():
    """Where the header may be, in the order it is looked for."""
    named = os.environ.get("WORLDLINK_HEADER")
    if named:
        yield named
    package = os.path.dirname(os.path.abspath(__file__))
    yield os.path.join(package, HEADER_NAME)
    # The source tree: bindings/python/worldlink beside worldlink/.
    yield os.path.join(package, "..", "..", "..", "worldlink", HEADER_NAME)
    for prefix in dict.fromkeys((sys.prefix, "/usr/local", "/usr")):
        yield os.path.join(prefix, "include", "worldlink", HEADER_NAME)


def find():
    for path in candidates():
        if os.path.isfile(path):
            return os.path.normpath(path)
    raise ImportError("worldlink: cannot find worldlink.h; set WORLDLINK_HEADER to its path")


def parse(text):
    """(constants, words): name to number, and reason code to its words."""
    constants = {name: int(number) for name, number in _NUMBER.findall(text)}
    if "LIBRARY_BUILD" not in constants:
        raise ImportError("worldlink: the header defines no LIBRARY_BUILD")
    words = {}
    for code, name, said in _REASON.findall(text):
        constants["REASON_" + name] = int(code)
        words[int(code)] = said.encode().decode("unicode_escape")
    for name, number in _ENUMERATOR.findall(text):
        constants[name] = int(number)
    return constants, words


def load(path=None):
    with open(path or find(), encoding="utf-8") as header:
        return parse(header.read())
