"""Whole calls on generated PDFs: page sizes, the three scalings, files."""

import os
import pathlib
import sys
import unittest

from support import TempDirCase, plenvo
from pdfgen import write_pdf


def answer(w, h, page, size):
    return {"width_pt": w, "height_pt": h, "page": page, "size": size}


class PageSize(TempDirCase):
    def test_sizes_and_paper_names(self):
        src = write_pdf(self.path("p.pdf"), [
            "0 0 612 792", ("0 0 612 792", 90), "0 0 842 595", "36 36 576 756", "0 0 614 792",
            "0 0 595.28 841.89"])
        self.assertEqual(plenvo.page_size(src), answer(612, 792, 1, "Letter"))
        self.assertEqual(plenvo.page_size(src, 2), answer(792, 612, 2, "Letter"))
        self.assertEqual(plenvo.page_size(src, 3), answer(842, 595, 3, "A4"))
        self.assertEqual(plenvo.page_size(src, 4), answer(540, 720, 4, "Executive"))
        self.assertEqual(plenvo.page_size(src, 5), answer(614, 792, 5, "Custom"))
        self.assertEqual(plenvo.page_size(src, 6), answer(595.28, 841.89, 6, "A4"))

    def test_inherited_rotation(self):
        src = write_pdf(self.path("r.pdf"), ["0 0 612 792"], inherited_rotate=270)
        self.assertEqual(plenvo.page_size(pathlib.Path(src)), answer(792, 612, 1, "Letter"))

    def test_page_past_the_end(self):
        two = write_pdf(self.path("two.pdf"), ["0 0 612 792"] * 2)
        with self.assertRaises(plenvo.Error) as ctx:
            plenvo.page_size(two, 3)
        self.assertEqual(ctx.exception.message, "page 3 out of range (document has 2 pages)")
        one = write_pdf(self.path("one.pdf"), ["0 0 612 792"])
        with self.assertRaises(plenvo.Error) as ctx:
            plenvo.page_size(one, 2)
        self.assertEqual(ctx.exception.message, "page 2 out of range (document has 1 page)")

    def test_every_page(self):
        src = write_pdf(self.path("all.pdf"), ["0 0 612 792", "0 0 612 1008", "0 0 419.53 595.28"])
        self.assertEqual(plenvo.page_sizes(src), [
            answer(612, 792, 1, "Letter"), answer(612, 1008, 2, "Legal"),
            answer(419.53, 595.28, 3, "A5")])
        with self.assertRaises(plenvo.Error):
            plenvo.page_sizes(self.path("missing.pdf"))


class Scaling(TempDirCase):
    def setUp(self):
        super().setUp()
        self.src = write_pdf(self.path("in.pdf"), ["0 0 612 792", ("0 0 612 792", 90)])

    def test_to_size_each_paper(self):
        sizes = {"A4": (595.28, 841.89), "Letter": (612, 792), "A3": (841.89, 1190.55),
                 "A5": (419.53, 595.28), "Legal": (612, 1008)}
        for index, name in enumerate(plenvo.PAPERS):
            for paper in (name, name.upper(), index):
                out = self.path("out-%s.pdf" % paper)
                self.assertIsNone(plenvo.to_size(self.src, out, paper))
                w, h = sizes[name]
                # Every page of the output is the paper, portrait.
                self.assertEqual(plenvo.page_sizes(out),
                                 [answer(w, h, 1, name), answer(w, h, 2, name)])

    def test_percent(self):
        out = self.path("half.pdf")
        plenvo.percent(self.src, out, 50)
        # The new page is the scaled page as displayed: the rotated one too.
        self.assertEqual(plenvo.page_sizes(out),
                         [answer(306, 396, 1, "Custom"), answer(396, 306, 2, "Custom")])
        plenvo.percent(self.src, out, 12.5)
        self.assertEqual(plenvo.page_size(out), answer(76.5, 99, 1, "Custom"))

    def test_custom(self):
        out = pathlib.Path(self.path("custom.pdf"))
        plenvo.custom(self.src, out, 500, 700.5)
        self.assertEqual(plenvo.page_sizes(out),
                         [answer(500, 700.5, 1, "Custom"), answer(500, 700.5, 2, "Custom")])

    def test_output_may_be_the_input(self):
        plenvo.to_size(self.src, self.src, "A5")
        self.assertEqual(plenvo.page_size(self.src), answer(419.53, 595.28, 1, "A5"))

    def test_failure_leaves_an_existing_output(self):
        out = self.path("keep.pdf")
        with open(out, "wb") as f:
            f.write(b"keep me")
        with self.assertRaises(plenvo.Error):
            plenvo.to_size(self.path("missing.pdf"), out, "A4")
        with open(out, "rb") as f:
            self.assertEqual(f.read(), b"keep me")

    def test_success_after_failure(self):
        with self.assertRaises(plenvo.Error):
            plenvo.percent(self.path("missing.pdf"), self.path("x.pdf"), 50)
        plenvo.percent(self.src, self.path("x.pdf"), 50)
        self.assertTrue(os.path.getsize(self.path("x.pdf")) > 0)

    @unittest.skipIf(os.name == "nt" or sys.getfilesystemencoding().lower() != "utf-8",
                     "needs a UTF-8 file system encoding")
    def test_non_ascii_file_names(self):
        src = write_pdf(self.path("\u00e9t\u00e9 \u6587.pdf"), ["0 0 612 792"])
        out = self.path("r\u00e9sultat.pdf")
        plenvo.to_size(src, out, "letter")
        self.assertEqual(plenvo.page_size(out), answer(612, 792, 1, "Letter"))


if __name__ == "__main__":
    unittest.main()
