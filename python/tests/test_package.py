"""The package as installed: the exceptions callers catch, the type hints
it ships, and (with PLENVO_TEST_INSTALLED=1) that the copy under test is the
installed one."""

import errno
import os
import pickle
import typing
import unittest

from support import INSTALLED, SOURCE, TempDirCase, plenvo
from pdfgen import write_pdf


class MissingInput(TempDirCase):
    def calls(self, src):
        """Every call of the package on input `src`, writing into the scratch folder."""
        out = self.path("out.pdf")
        return [("to_size", lambda: plenvo.to_size(src, out, "A4")),
                ("percent", lambda: plenvo.percent(src, out, 50)),
                ("custom", lambda: plenvo.custom(src, out, 100, 200)),
                ("page_size", lambda: plenvo.page_size(src, 1)),
                ("page_sizes", lambda: plenvo.page_sizes(src))]

    def test_every_call_raises_both_kinds(self):
        missing = self.path("missing.pdf")
        for name, call in self.calls(missing):
            with self.subTest(call=name):
                with self.assertRaises(FileNotFoundError) as ctx:
                    call()
                exc = ctx.exception
                self.assertIsInstance(exc, plenvo.Error)
                self.assertIsInstance(exc, plenvo.MissingInputError)
                self.assertEqual(exc.errno, errno.ENOENT)
                self.assertEqual(exc.filename, missing)
                self.assertEqual(exc.message, "cannot open " + missing)
                self.assertEqual(str(exc), "cannot open " + missing)
                self.assertFalse(os.path.exists(self.path("out.pdf")))

    def test_filename_is_the_path_as_given(self):
        missing = os.fsencode(self.path("gone.pdf"))
        with self.assertRaises(plenvo.MissingInputError) as ctx:
            plenvo.page_size(missing)
        self.assertEqual(ctx.exception.filename, missing)

    def test_survives_pickling(self):
        # Worker processes hand exceptions back pickled.
        with self.assertRaises(plenvo.MissingInputError) as ctx:
            plenvo.page_size(self.path("gone.pdf"))
        copy = pickle.loads(pickle.dumps(ctx.exception))
        self.assertIsInstance(copy, plenvo.MissingInputError)
        self.assertEqual((copy.message, copy.filename, copy.errno),
                         (ctx.exception.message, ctx.exception.filename, errno.ENOENT))

    def test_other_failures_are_not_file_not_found(self):
        junk = self.path("junk.pdf")
        with open(junk, "wb") as f:
            f.write(b"%PDF-1.4\nno objects in here\n")
        good = write_pdf(self.path("good.pdf"), ["0 0 612 792"])
        cases = [
            ("not a PDF", lambda: plenvo.page_size(junk)),
            ("a folder as input", lambda: plenvo.percent(self.dir, self.path("o.pdf"), 50)),
            ("page past the end", lambda: plenvo.page_size(good, 2)),
            ("output folder missing",
             lambda: plenvo.to_size(good, self.path("no-such-dir/o.pdf"), "A4")),
            ("argument refused", lambda: plenvo.percent(self.path("gone.pdf"), "o.pdf", 0)),
        ]
        for name, call in cases:
            with self.subTest(case=name):
                with self.assertRaises(plenvo.Error) as ctx:
                    call()
                self.assertNotIsInstance(ctx.exception, OSError)


class Hints(unittest.TestCase):
    def test_annotations_resolve(self):
        # A misspelt name in an annotation only shows when it is evaluated.
        for fn in (plenvo.to_size, plenvo.percent, plenvo.custom, plenvo.page_size,
                   plenvo.page_sizes, plenvo.library_path):
            with self.subTest(fn=fn.__name__):
                hints = typing.get_type_hints(fn)
                self.assertIn("return", hints)
        self.assertEqual(set(typing.get_type_hints(plenvo.PageSize)),
                         {"width_pt", "height_pt", "page", "size"})

    def test_marker_file_ships(self):
        self.assertTrue(os.path.isfile(os.path.join(os.path.dirname(plenvo.__file__),
                                                    "py.typed")))


@unittest.skipUnless(INSTALLED, "runs against an installed copy (PLENVO_TEST_INSTALLED=1)")
class Installed(unittest.TestCase):
    def test_the_copy_under_test_is_not_the_source(self):
        here = os.path.realpath(os.path.dirname(plenvo.__file__))
        self.assertNotEqual(here, os.path.realpath(os.path.join(SOURCE, "plenvo")))

    def test_metadata_names_the_version(self):
        from importlib import metadata
        self.assertEqual(metadata.version("plenvo"), plenvo.__version__)

    def test_library_loads_without_the_environment_variable(self):
        if os.environ.get("PLENVO_LIBRARY"):
            self.skipTest("PLENVO_LIBRARY is set")
        self.assertTrue(os.path.isfile(plenvo.library_path()))


if __name__ == "__main__":
    unittest.main()
