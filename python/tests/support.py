"""Shared set-up of the binding's tests: import path and scratch folders."""

import os
import shutil
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, HERE)

import plenvo  # noqa: E402  (after the path is set)


class TempDirCase(unittest.TestCase):
    """A test case with a fresh folder `self.dir`, removed afterwards."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="plenvo-py-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, name):
        return os.path.join(self.dir, name)
