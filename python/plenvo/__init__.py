"""plenvo: rescale the pages of PDF files.

A binding of the plenvo shared library through ctypes (standard library
only). Every input page becomes a page of a new PDF on which the original
is drawn scaled; its rotation is kept.

    import plenvo
    plenvo.to_size("in.pdf", "out.pdf", "A4")
    plenvo.percent("in.pdf", "half.pdf", 50)
    plenvo.custom("in.pdf", "out.pdf", 595.5, 842)
    plenvo.page_size("in.pdf", 1)
    # {'width_pt': 612, 'height_pt': 792, 'page': 1, 'size': 'Letter'}

Failures raise plenvo.Error with the library's message; a missing input
raises plenvo.MissingInputError, which is also a FileNotFoundError. Paths
may be str, bytes or os.PathLike. The library's calls never overlap: a lock serialises
them across threads (use processes to work on several files at once).

The library is looked for at $PLENVO_LIBRARY (a full path), next to this
package (libplenvo.so, plenvo.dll), at the path recorded beside it at install
(library_location.txt), then on the system's library path.
"""

import errno
import json
import math
import numbers
import operator
import os
import threading
from typing import Any, List, Optional, TypedDict, Union

from . import _loader

__version__ = "1.0.0"
__all__ = ["Error", "MissingInputError", "PAPERS", "to_size", "percent", "custom", "page_size", "page_sizes",
           "library_path", "PageSize", "PathArg"]

# The paper sizes of to_size, in the library's order (index = target_size).
PAPERS = ("A4", "Letter", "A3", "A5", "Legal")

# A path as the calls take it.
PathArg = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]



class PageSize(TypedDict):
    """One page's displayed size in points (int when whole) and paper name."""

    width_pt: float
    height_pt: float
    page: int
    size: str


_INT_MIN, _INT_MAX = -2 ** 31, 2 ** 31 - 1
_FLOAT_MAX = 3.4028234663852886e38

_lock = threading.RLock()
_lib: Any = None
_lib_path: Optional[str] = None


class Error(Exception):
    """A failure reported by the library. `message` is the library's text."""

    message: str

    def __init__(self, message: str) -> None:
        super().__init__(message)
        self.message = message


class MissingInputError(Error, FileNotFoundError):
    """The input file does not exist: a plenvo.Error that is also a
    FileNotFoundError (errno ENOENT, `filename` the path as given).
    `message` and str() are the library's text, as for every Error."""

    def __init__(self, message: str, filename: Any = None) -> None:
        FileNotFoundError.__init__(self, errno.ENOENT, message, filename)
        self.message = message

    def __str__(self) -> str:
        return self.message

    def __reduce__(self) -> Any:
        return (type(self), (self.message, self.filename))


def _library() -> Any:
    global _lib, _lib_path
    with _lock:
        if _lib is None:
            _lib, _lib_path = _loader.load()
        return _lib


def library_path() -> str:
    """Where the shared library was loaded from (loading it when needed)."""
    _library()
    assert _lib_path is not None
    return _lib_path


def _path(p: PathArg, what: str) -> bytes:
    """The bytes handed to the library's fopen for path `p`."""
    try:
        p = os.fspath(p)
    except TypeError:
        raise TypeError("%s must be str, bytes or os.PathLike, not %s"
                        % (what, type(p).__name__)) from None
    if isinstance(p, str):
        if os.name == "nt":
            # fopen takes paths in the ANSI code page on Windows.
            try:
                p = p.encode("mbcs", "strict")
            except UnicodeEncodeError:
                raise ValueError("%s cannot be written in the system code page: %r"
                                 % (what, p)) from None
        else:
            p = os.fsencode(p)
    if b"\0" in p:
        raise ValueError("%s contains a NUL character" % what)
    return p


def _real(x: float, what: str) -> float:
    """x as a float for a C float argument; the library checks its sign."""
    if isinstance(x, bool) or not isinstance(x, numbers.Real):
        raise TypeError("%s must be a number, not %s" % (what, type(x).__name__))
    x = float(x)
    if math.isfinite(x) and abs(x) > _FLOAT_MAX:
        raise OverflowError("%s is too large for a 32-bit float: %r" % (what, x))
    return x


def _int(x: int, what: str) -> int:
    if isinstance(x, bool):
        raise TypeError("%s must be an int, not bool" % what)
    x = operator.index(x)
    if not _INT_MIN <= x <= _INT_MAX:
        raise OverflowError("%s is out of the range of a C int: %d" % (what, x))
    return x


def _failure(lib: Any, src: PathArg) -> Error:
    """The exception for the call that just failed on input `src`:
    MissingInputError when the library could not open `src` and it does not
    exist, else Error; both carry the library's message."""
    text = (lib.plenvo_last_error() or b"").decode("utf-8", "backslashreplace")
    if text.startswith("cannot open ") and not os.path.lexists(os.fspath(src)):
        return MissingInputError(text, src)
    return Error(text)


def _call_scale(fn_name: str, src: PathArg, *args: Any) -> None:
    """Calls a scaling function (arguments already converted); raises on failure."""
    lib = _library()
    with _lock:
        if not getattr(lib, fn_name)(*args):
            raise _failure(lib, src)


def to_size(src: PathArg, dst: PathArg, paper: Union[str, int]) -> None:
    """Fits every page of src into a paper size, centred, and writes dst.

    paper is a name of PAPERS (any letter case) or its index 0..4. dst may
    be src itself. Raises Error on failure (an existing dst is left as it was).
    """
    if isinstance(paper, str):
        index = next((i for i, name in enumerate(PAPERS) if name.lower() == paper.lower()), None)
        if index is None:
            raise ValueError("unknown paper %r (use one of %s)" % (paper, ", ".join(PAPERS)))
    else:
        index = _int(paper, "paper")
    _call_scale("plenvo_to_size", src, _path(src, "src"), _path(dst, "dst"), index)


def percent(src: PathArg, dst: PathArg, pct: float) -> None:
    """Scales every page of src by pct percent (> 0; 50 halves each side)."""
    _call_scale("plenvo_percent", src, _path(src, "src"), _path(dst, "dst"), _real(pct, "pct"))


def custom(src: PathArg, dst: PathArg, width: float, height: float) -> None:
    """Fits every page of src into width x height points (both > 0), centred."""
    _call_scale("plenvo_custom", src, _path(src, "src"), _path(dst, "dst"),
                _real(width, "width"), _real(height, "height"))


def page_size(src: PathArg, page: int = 1) -> PageSize:
    """The displayed size of page `page` (1 = first) and its nearest paper name.

    Returns {'width_pt': ..., 'height_pt': ..., 'page': ..., 'size': ...};
    the sizes are int when whole, else float.
    """
    path = _path(src, "src")
    page = _int(page, "page")
    lib = _library()
    with _lock:
        answer = lib.plenvo_page_size(path, page)
        if answer is None:
            raise _failure(lib, src)
    result: PageSize = json.loads(answer.decode("ascii"))
    return result


def page_sizes(src: PathArg) -> List[PageSize]:
    """page_size for every page of src, in order (one load of src per page)."""
    path = _path(src, "src")
    lib = _library()
    sizes: List[PageSize] = []
    with _lock:
        page = 1
        while True:
            answer = lib.plenvo_page_size(path, page)
            if answer is None:
                error = _failure(lib, src)
                if sizes and error.message.startswith("page %d out of range" % page):
                    return sizes
                raise error
            sizes.append(json.loads(answer.decode("ascii")))
            page += 1
