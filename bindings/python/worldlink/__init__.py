"""worldlink for Python: the world-client library through ctypes.

The entry points keep their C names and arguments (docs/api.md describes
them), with Python values: texts are str (UTF-8), instances are opaque
handles, event handlers are any callable without arguments. A call whose
reason code is not 0 raises WorldlinkError with the code and its words.
The ATTR_, EVENT_ and REASON_ constants, LIBRARY_BUILD and the
WL_VERSION_ numbers come from the public header (worldlink.header).

The shared library is the one WORLDLINK_LIBRARY names, else the one beside
this package, else the system loader's libworldlink.so.1.
"""

import ctypes
import os

from . import header

LIBRARY_NAME = "libworldlink.so.1"

globals().update(header.load()[0])


class WorldlinkError(Exception):
    """A call answered with a reason code other than 0."""

    def __init__(self, code, call=None):
        self.code = code
        self.words = wl_reason_words(code)
        self.call = call
        where = call + ": " if call else ""
        super().__init__(f"{where}{self.words} ({code})")


def _load_library():
    named = os.environ.get("WORLDLINK_LIBRARY")
    if named:
        return ctypes.CDLL(named)
    beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), LIBRARY_NAME)
    return ctypes.CDLL(beside if os.path.isfile(beside) else LIBRARY_NAME)


_library = _load_library()

_HANDLER = ctypes.CFUNCTYPE(None)
_int, _text, _handle = ctypes.c_int, ctypes.c_char_p, ctypes.c_void_p

# Name: result type, argument types. A result of _int is a reason code,
# except for wl_int, whose result is the attribute's value.
_PROTOTYPES = {
    "wl_init": (_int, [_int]),
    "wl_term": (_int, []),
    "wl_create": (_int, [_text, _int, ctypes.POINTER(_handle)]),
    "wl_destroy": (_int, []),
    "wl_instance": (_handle, []),
    "wl_instance_set": (_int, [_handle]),
    "wl_wait": (_int, [_int]),
    "wl_random": (ctypes.c_uint32, []),
    "wl_cancel": (_int, []),
    "wl_int": (_int, [_int]),
    "wl_string": (_text, [_int]),
    "wl_int_set": (_int, [_int, _int]),
    "wl_bool_set": (_int, [_int, _int]),
    "wl_float_set": (_int, [_int, ctypes.c_float]),
    "wl_string_set": (_int, [_int, _text]),
    "wl_login": (_int, []),
    "wl_enter": (_int, [_text]),
    "wl_exit": (_int, []),
    "wl_state_change": (_int, []),
    "wl_whisper": (_int, [_int, _text]),
    "wl_event_set": (_int, [_int, _HANDLER]),
    "wl_reason_words": (_text, [_int]),
    "wl_version": (_int, []),
    "wl_build_string": (_text, []),
}
for _name, (_result, _arguments) in _PROTOTYPES.items():
    _function = getattr(_library, _name)
    _function.restype = _result
    _function.argtypes = _arguments


def wl_reason_words(reason):
    """The words of a reason code, or "reason NUMBER" for a code without."""
    return _library.wl_reason_words(reason).decode("utf-8", "replace")



def wl_version():
    """WL_VERSION of the library that runs: major * 10000 + minor * 100 + patch."""
    return _library.wl_version()


def wl_build_string():
    return _library.wl_build_string().decode("utf-8", "replace")


def _encode(text):
    if text is None or isinstance(text, bytes):
        return text
    return str(text).encode("utf-8")


# Handlers by slot: ctypes calls through these objects, which must live as
# long as they are installed.
_installed = {}
# What handlers raised during the call that ran them, raised again when that
# call returns: an exception cannot travel through the C library.
_raised = []


def _checked(call, code):
    if _raised:
        error = _raised[0]
        _raised.clear()
        raise error
    if code != 0:
        raise WorldlinkError(code, call)
    return code


def wl_init(build=LIBRARY_BUILD):
    return _checked("wl_init", _library.wl_init(build))


def wl_term():
    return _checked("wl_term", _library.wl_term())


def wl_create(host=None, port=0):
    """Connects a new instance, which becomes current; returns its handle."""
    made = _handle()
    _checked("wl_create", _library.wl_create(_encode(host), port, ctypes.byref(made)))
    return made.value


def wl_destroy():
    return _checked("wl_destroy", _library.wl_destroy())


def wl_instance():
    """The current instance's handle, or None."""
    return _library.wl_instance()


def wl_instance_set(instance):
    return _checked("wl_instance_set", _library.wl_instance_set(instance))


def wl_wait(milliseconds):
    return _checked("wl_wait", _library.wl_wait(milliseconds))


def wl_random():
    return _library.wl_random()


def wl_cancel():
    """Safe from any thread and from a signal handler."""
    return _library.wl_cancel()


def wl_int(attribute):
    return _library.wl_int(attribute)


def wl_string(attribute):
    """The text (copied out of the library), or None for an attribute that is not a string."""
    text = _library.wl_string(attribute)
    return None if text is None else text.decode("utf-8", "replace")


def wl_int_set(attribute, value):
    return _checked("wl_int_set", _library.wl_int_set(attribute, value))


def wl_bool_set(attribute, value):
    return _checked("wl_bool_set", _library.wl_bool_set(attribute, 1 if value else 0))


def wl_float_set(attribute, value):
    return _checked("wl_float_set", _library.wl_float_set(attribute, value))


def wl_string_set(attribute, text):
    return _checked("wl_string_set", _library.wl_string_set(attribute, _encode(text)))


def wl_login():
    return _checked("wl_login", _library.wl_login())


def wl_enter(world):
    return _checked("wl_enter", _library.wl_enter(_encode(world)))


def wl_exit():
    return _checked("wl_exit", _library.wl_exit())


def wl_state_change():
    return _checked("wl_state_change", _library.wl_state_change())


def wl_whisper(session, text):
    return _checked("wl_whisper", _library.wl_whisper(session, _encode(text)))


def wl_event_set(slot, handler):
    """Installs a callable without arguments for the slot; None uninstalls."""
    if handler is None:
        trampoline = _HANDLER()
    else:
        def run():
            try:
                handler()
            except BaseException as error:
                _raised.append(error)

        trampoline = _HANDLER(run)
    _checked("wl_event_set", _library.wl_event_set(slot, trampoline))
    _installed[slot] = trampoline
    return 0
