"""Argument handling: what the binding refuses itself, and the library's own
messages arriving intact as plenvo.Error."""

import os
import pathlib
import threading
import unittest

from support import TempDirCase, plenvo
from pdfgen import write_pdf


class LibraryMessages(TempDirCase):
    def assert_error(self, text, fn, *args):
        with self.assertRaises(plenvo.Error) as ctx:
            fn(*args)
        self.assertEqual(ctx.exception.message, text)
        self.assertEqual(str(ctx.exception), text)

    def test_target_size_outside_the_table(self):
        for bad in (5, -1, 2 ** 31 - 1):
            self.assert_error(
                "target_size must be 0 (A4), 1 (Letter), 2 (A3), 3 (A5) or 4 (Legal) (got %d)" % bad,
                plenvo.to_size, "in.pdf", "out.pdf", bad)

    def test_percent_not_above_zero(self):
        self.assert_error("percent must be > 0 (got 0)", plenvo.percent, "a.pdf", "b.pdf", 0)
        self.assert_error("percent must be > 0 (got -12.5)", plenvo.percent, "a.pdf", "b.pdf", -12.5)
        self.assert_error("percent must be > 0 (got nan)", plenvo.percent, "a.pdf", "b.pdf",
                          float("nan"))

    def test_custom_size_not_above_zero(self):
        self.assert_error("width_pt and height_pt must both be > 0 (got 0 x 842)",
                          plenvo.custom, "a.pdf", "b.pdf", 0, 842)
        self.assert_error("width_pt and height_pt must both be > 0 (got 595.5 x -1)",
                          plenvo.custom, "a.pdf", "b.pdf", 595.5, -1)

    def test_page_below_one(self):
        self.assert_error("page must be >= 1 (got 0)", plenvo.page_size, "a.pdf", 0)
        self.assert_error("page must be >= 1 (got -3)", plenvo.page_size, "a.pdf", -3)

    def test_argument_errors_touch_no_file(self):
        out = self.path("out.pdf")
        with self.assertRaises(plenvo.Error):
            plenvo.to_size(self.path("missing.pdf"), out, 9)
        self.assertFalse(os.path.exists(out))

    def test_missing_input_names_the_path(self):
        missing = self.path("missing.pdf")
        self.assert_error("cannot open " + missing, plenvo.page_size, missing, 1)
        self.assert_error("cannot open " + missing, plenvo.percent, missing, self.path("o.pdf"), 50)

    def test_not_a_pdf(self):
        junk = self.path("junk.pdf")
        with open(junk, "wb") as f:
            f.write(b"%PDF-1.4\nno objects in here\n")
        self.assert_error("no PDF objects found \u2014 not a PDF: " + junk,
                          plenvo.to_size, junk, self.path("o.pdf"), "A4")
        empty = self.path("empty.pdf")
        open(empty, "wb").close()
        self.assert_error("empty input file: " + empty, plenvo.page_size, empty)

    def test_error_is_an_exception(self):
        self.assertTrue(issubclass(plenvo.Error, Exception))


class Paths(TempDirCase):
    def test_path_objects_and_bytes_are_accepted(self):
        missing = self.path("nothing.pdf")
        for p in (pathlib.Path(missing), os.fsencode(missing), missing):
            with self.assertRaises(plenvo.Error) as ctx:
                plenvo.page_size(p)
            self.assertEqual(ctx.exception.message, "cannot open " + missing)

    def test_nul_in_a_path_is_refused_before_the_library(self):
        # Cut at the NUL, the path would silently name another file.
        real = write_pdf(self.path("real.pdf"), ["0 0 612 792"])
        with self.assertRaises(ValueError):
            plenvo.page_size(real + "\0ignored")
        with self.assertRaises(ValueError):
            plenvo.percent(real, self.path("out.pdf") + "\0x", 50)

    def test_other_types_are_refused(self):
        for bad in (42, None, 3.5, ["a.pdf"]):
            with self.assertRaises(TypeError):
                plenvo.page_size(bad)
            with self.assertRaises(TypeError):
                plenvo.to_size("a.pdf", bad, "A4")


class Numbers(TempDirCase):
    def test_paper_names_any_case_and_indexes(self):
        missing = self.path("none.pdf")
        for paper in ("a4", "LETTER", "Legal", "a3", "A5", 0, 4):
            with self.assertRaises(plenvo.Error) as ctx:
                plenvo.to_size(missing, self.path("o.pdf"), paper)
            self.assertEqual(ctx.exception.message, "cannot open " + missing)

    def test_unknown_paper_name(self):
        with self.assertRaises(ValueError):
            plenvo.to_size("a.pdf", "b.pdf", "B5")
        with self.assertRaises(TypeError):
            plenvo.to_size("a.pdf", "b.pdf", 1.0)

    def test_non_numbers_are_type_errors(self):
        for bad in ("50", None, True, b"5"):
            with self.assertRaises(TypeError):
                plenvo.percent("a.pdf", "b.pdf", bad)
            with self.assertRaises(TypeError):
                plenvo.custom("a.pdf", "b.pdf", 100, bad)
        with self.assertRaises(TypeError):
            plenvo.page_size("a.pdf", 1.0)
        with self.assertRaises(TypeError):
            plenvo.page_size("a.pdf", True)

    def test_values_beyond_c_types_are_refused(self):
        with self.assertRaises(OverflowError):
            plenvo.page_size("a.pdf", 2 ** 31)
        with self.assertRaises(OverflowError):
            plenvo.to_size("a.pdf", "b.pdf", -2 ** 31 - 1)
        with self.assertRaises(OverflowError):
            plenvo.percent("a.pdf", "b.pdf", 1e39)
        with self.assertRaises(OverflowError):
            plenvo.custom("a.pdf", "b.pdf", 100, -1e300)

    def test_fractions_arrive_as_given(self):
        # -0.5 and 1e-3 survive the trip through a C float and back to the
        # library's message.
        with self.assertRaises(plenvo.Error) as ctx:
            plenvo.custom("a.pdf", "b.pdf", 0.001, -0.5)
        self.assertEqual(ctx.exception.message,
                         "width_pt and height_pt must both be > 0 (got 0.001 x -0.5)")


class Threads(TempDirCase):
    def test_concurrent_failures_keep_their_own_messages(self):
        # The library's error text is one buffer; the binding's lock keeps
        # each thread's call and message read together.
        errors = []

        def worker(k):
            for i in range(200):
                missing = self.path("t%d-%d.pdf" % (k, i))
                try:
                    plenvo.page_size(missing)
                except plenvo.Error as exc:
                    if exc.message != "cannot open " + missing:
                        errors.append(exc.message)
                else:
                    errors.append("no error for " + missing)

        threads = [threading.Thread(target=worker, args=(k,)) for k in range(6)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(errors, [])


if __name__ == "__main__":
    unittest.main()
