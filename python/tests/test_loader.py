"""Finding the shared library: $PLENVO_LIBRARY, next to the package, system."""

import os
import shutil
import unittest

from support import TempDirCase, plenvo
from plenvo import _loader


class Loader(TempDirCase):
    def built_library(self):
        path = os.environ.get("PLENVO_LIBRARY") or plenvo.library_path()
        if not os.path.isfile(path):
            self.skipTest("the library is not at a known path")
        return path

    def test_environment_variable_names_the_file(self):
        lib = self.built_library()
        handle, where = _loader.load(environ={"PLENVO_LIBRARY": lib}, package_dir=self.dir)
        self.assertEqual(where, lib)
        self.assertEqual(handle.plenvo_init(), 1)

    def test_a_wrong_environment_variable_is_reported_not_skipped(self):
        bad = self.path("no-such-lib.so")
        with self.assertRaises(OSError) as ctx:
            _loader.load(environ={"PLENVO_LIBRARY": bad}, package_dir=self.dir)
        self.assertIn(bad, str(ctx.exception))

    def test_library_next_to_the_package(self):
        lib = self.built_library()
        name = _loader.library_names()[0]
        shutil.copyfile(lib, self.path(name))
        handle, where = _loader.load(environ={}, package_dir=self.dir)
        self.assertEqual(where, self.path(name))
        self.assertEqual(handle.plenvo_last_error.restype.__name__, "c_char_p")

    def test_path_recorded_at_install(self):
        lib = self.built_library()
        with open(self.path(_loader.RECORD_FILE), "w", encoding="utf-8") as f:
            f.write(lib + "\n")
        handle, where = _loader.load(environ={}, package_dir=self.dir)
        self.assertEqual(where, lib)
        self.assertEqual(handle.plenvo_init(), 1)

    def test_a_copy_beside_the_package_comes_before_the_recorded_path(self):
        lib = self.built_library()
        name = _loader.library_names()[0]
        shutil.copyfile(lib, self.path(name))
        with open(self.path(_loader.RECORD_FILE), "w", encoding="utf-8") as f:
            f.write(lib)
        self.assertEqual(_loader.load(environ={}, package_dir=self.dir)[1], self.path(name))

    def test_a_stale_recorded_path_is_named_when_nothing_loads(self):
        if os.name == "nt":
            self.skipTest("system search differs on Windows")
        stale = self.path("removed/libplenvo.so.1")
        with open(self.path(_loader.RECORD_FILE), "w", encoding="utf-8") as f:
            f.write(stale)
        try:
            _, where = _loader.load(environ={}, package_dir=self.dir)
        except OSError as exc:
            self.assertIn(stale, str(exc))
        else:
            self.assertNotEqual(where, stale)  # found on the system instead

    def test_nothing_found_says_where_it_looked(self):
        if os.name == "nt":
            self.skipTest("system search differs on Windows")
        saved = os.environ.pop("LD_LIBRARY_PATH", None)
        try:
            try:
                _loader.load(environ={}, package_dir=self.dir)
            except OSError as exc:
                self.assertIn("PLENVO_LIBRARY", str(exc))
                self.assertIn(self.dir, str(exc))
            # else: installed on the system; nothing to check
        finally:
            if saved is not None:
                os.environ["LD_LIBRARY_PATH"] = saved

    def test_signatures_are_declared(self):
        handle, _ = _loader.load(environ={"PLENVO_LIBRARY": self.built_library()},
                                 package_dir=self.dir)
        self.assertEqual([t.__name__ for t in handle.plenvo_custom.argtypes],
                         ["c_char_p", "c_char_p", "c_float", "c_float"])
        self.assertEqual([t.__name__ for t in handle.plenvo_percent.argtypes],
                         ["c_char_p", "c_char_p", "c_float"])
        self.assertEqual([t.__name__ for t in handle.plenvo_to_size.argtypes],
                         ["c_char_p", "c_char_p", "c_int"])
        self.assertEqual([t.__name__ for t in handle.plenvo_page_size.argtypes],
                         ["c_char_p", "c_int"])
        self.assertIsNone(handle.plenvo_cleanup.restype)


if __name__ == "__main__":
    unittest.main()
