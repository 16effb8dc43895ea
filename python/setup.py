"""Build hook of the Python package: with PLENVO_LIB set to the shared
library's path, a copy of the library goes into the package (where the
loader looks first after $PLENVO_LIBRARY) and the wheel is marked as
platform-specific. Everything else is in pyproject.toml."""

import os
import shutil
import sys

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "plenvo"))
import _loader  # noqa: E402  (the loader's own list of file names)

BUNDLE = os.environ.get("PLENVO_LIB", "")


def bundled_name():
    """The name the bundled library gets: the loader's first choice here."""
    return _loader.library_names()[0]


class BuildWithLibrary(build_py):
    """build_py that also copies $PLENVO_LIB into the built package."""

    def run(self):
        super().run()
        if not BUNDLE:
            return
        if not os.path.isfile(BUNDLE):
            raise SystemExit("PLENVO_LIB=%s is not a file" % BUNDLE)
        target = os.path.join(self.build_lib, "plenvo", bundled_name())
        shutil.copyfile(BUNDLE, target)  # follows a soname link to the file itself
        shutil.copymode(BUNDLE, target)


class PlatformDistribution(Distribution):
    """A distribution that carries a native library when one is bundled."""

    def has_ext_modules(self):
        return bool(BUNDLE) or super().has_ext_modules()


setup(cmdclass={"build_py": BuildWithLibrary}, distclass=PlatformDistribution)
