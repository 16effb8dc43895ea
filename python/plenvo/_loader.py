"""Finding and loading the plenvo shared library, and declaring its functions."""

import ctypes
import ctypes.util
import os
import sys
from typing import Any, List, Mapping, Optional, Tuple

ENV_VAR = "PLENVO_LIBRARY"
# Written beside the package by an install that knows where the library went:
# the installed library's full path.
RECORD_FILE = "library_location.txt"


def library_names() -> List[str]:
    """File names the shared library may have on this platform, best first."""
    if os.name == "nt":
        return ["plenvo.dll", "libplenvo.dll"]
    if sys.platform == "darwin":
        return ["libplenvo.dylib", "libplenvo.1.dylib"]
    return ["libplenvo.so", "libplenvo.so.1"]


def declare(lib: Any) -> Any:
    """Sets the exact C signature of each of the seven exports on `lib`."""
    c_char_p, c_int, c_float = ctypes.c_char_p, ctypes.c_int, ctypes.c_float
    lib.plenvo_init.argtypes = []
    lib.plenvo_init.restype = c_int
    lib.plenvo_cleanup.argtypes = []
    lib.plenvo_cleanup.restype = None
    lib.plenvo_last_error.argtypes = []
    lib.plenvo_last_error.restype = c_char_p
    lib.plenvo_to_size.argtypes = [c_char_p, c_char_p, c_int]
    lib.plenvo_to_size.restype = c_int
    lib.plenvo_percent.argtypes = [c_char_p, c_char_p, c_float]
    lib.plenvo_percent.restype = c_int
    lib.plenvo_custom.argtypes = [c_char_p, c_char_p, c_float, c_float]
    lib.plenvo_custom.restype = c_int
    lib.plenvo_page_size.argtypes = [c_char_p, c_int]
    lib.plenvo_page_size.restype = c_char_p
    return lib


def _open(path: str) -> Any:
    lib = ctypes.CDLL(path)
    # A library of another name that happens to load is no use.
    getattr(lib, "plenvo_page_size")
    return declare(lib)


def recorded_path(package_dir: str) -> Optional[str]:
    """The library path recorded beside the package at install, or None."""
    try:
        with open(os.path.join(package_dir, RECORD_FILE), encoding="utf-8") as f:
            path = f.read().strip()
    except OSError:
        return None
    return path or None


def load(environ: Optional[Mapping[str, str]] = None,
         package_dir: Optional[str] = None) -> Tuple[Any, str]:
    """Loads the library and returns (handle, where it was found).

    Looks, in this order, at the full path in $PLENVO_LIBRARY (when set, it
    must load: a mistake there is reported rather than passed over), next to
    this package, at the path recorded beside it at install, and on
    the system's library path. Raises OSError naming every place tried when
    none loads.
    """
    if environ is None:
        environ = os.environ
    if package_dir is None:
        package_dir = os.path.dirname(os.path.abspath(__file__))

    explicit = environ.get(ENV_VAR)
    if explicit:
        try:
            return _open(explicit), explicit
        except (OSError, AttributeError) as exc:
            raise OSError("cannot load the plenvo library from %s=%s: %s"
                          % (ENV_VAR, explicit, exc)) from exc

    tried = []
    for name in library_names():
        path = os.path.join(package_dir, name)
        if os.path.exists(path):
            try:
                return _open(path), path
            except (OSError, AttributeError) as exc:
                tried.append("%s (%s)" % (path, exc))
        else:
            tried.append(path)

    recorded = recorded_path(package_dir)
    if recorded:
        try:
            return _open(recorded), recorded
        except (OSError, AttributeError) as exc:
            tried.append("%s (recorded at install: %s)" % (recorded, exc))

    system_names = list(library_names())
    found = ctypes.util.find_library("plenvo")
    if found and found not in system_names:
        system_names.append(found)
    for name in system_names:
        try:
            return _open(name), name
        except (OSError, AttributeError):
            tried.append(name + " (system path)")

    raise OSError("cannot find the plenvo shared library; set %s to its full path. Tried: %s"
                  % (ENV_VAR, ", ".join(tried)))
