"""Shared set-up of the binding's tests: import path and scratch folders.

The tests import the package from the source tree, or, with
PLENVO_TEST_INSTALLED=1 in the environment, the copy installed where the
running Python finds it (the source tree is then kept off the path)."""

import os
import shutil
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
INSTALLED = os.environ.get("PLENVO_TEST_INSTALLED", "") not in ("", "0")
if INSTALLED:
    sys.path[:] = [p for p in sys.path
                   if os.path.abspath(p or os.curdir) != SOURCE]
else:
    sys.path.insert(0, SOURCE)
sys.path.insert(0, HERE)

import plenvo  # noqa: E402  (after the path is set)


class TempDirCase(unittest.TestCase):
    """A test case with a fresh folder `self.dir`, removed afterwards."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="plenvo-py-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, name):
        return os.path.join(self.dir, name)
