// The manual printed by --help, laid out like a manual page.
#include "help.h"

#ifndef PLENVO_VERSION_TEXT
#define PLENVO_VERSION_TEXT "unknown"
#endif

namespace plenvo::cli {

const char *version_text() { return "plenvo " PLENVO_VERSION_TEXT; }

const char *help_text() {
    return R"(NAME
    plenvo - rescale the pages of PDF files

SYNOPSIS
    plenvo size FILE [PAGE]
    plenvo size FILE --all
    plenvo fit (--paper NAME | --size W H) [OPTIONS] IN OUT
    plenvo fit (--paper NAME | --size W H) [OPTIONS] (-o DIR | --suffix TEXT) FILE...
    plenvo percent [OPTIONS] IN OUT PERCENT
    plenvo percent [OPTIONS] (-o DIR | --suffix TEXT) FILE... PERCENT
    plenvo percent --percent PERCENT [OPTIONS] (-o DIR | --suffix TEXT) FILE...
    plenvo --help | --version

DESCRIPTION
    Every page of the input becomes a new page of the output PDF on which
    the original page is drawn scaled; a page's rotation is kept, so it
    shows the way it did before. Sizes are in points (1/72 inch).

COMMANDS
    size FILE [PAGE]
        Prints the displayed size of page PAGE (default 1) and the nearest
        paper name as one line of JSON on standard output, for example
        {"width_pt":612,"height_pt":792,"page":1,"size":"Letter"}
        With --all, prints one such line for every page.

    fit IN OUT
        Fits every page into a paper size, centred, keeping its aspect
        ratio. --paper takes A4, Letter, A3, A5 or Legal (any letter case);
        --size takes a width and a height in points.

    percent IN OUT PERCENT
        Scales every page by PERCENT (50 halves each side; 150 enlarges).

OPTIONS
    --paper NAME       fit: the paper size (A4, Letter, A3, A5, Legal).
    --size W H         fit: the page size in points, both > 0.
    --percent P        percent: the scale; then every other word is a file.
    -o, --output-dir DIR
                       Writes each result into DIR (created when missing),
                       named like its input plus the suffix.
    --suffix TEXT      Inserted before the extension of each output name
                       ("a.pdf" -> "a_A4.pdf" with --suffix _A4). Without
                       -o the results are written next to their inputs.
    -j, --jobs N       Processes N files at the same time, each in its own
                       process; 0 means one per processor. Default 1.
    -q, --quiet        No progress line, no summary and no page-size
                       warning.
    --all              size: every page.
    -h, --help         Prints this text.
    -V, --version      Prints "plenvo" and the version.
    --                 Every later word is a file name.

    Numbers are read with a decimal point whatever the locale ("595.5").
    An output may be the input itself; the input is replaced only when the
    new file is complete. In one run, two inputs may not be written to the
    same output, and no result may overwrite another input.

OUTPUT
    A progress line "[done/total] file" is drawn on standard error when more
    than one file is processed and standard error is a terminal, followed
    by "plenvo: N of M files failed" when some failed.

    fit --size warns on standard error when a side is larger than 14400
    points (200 inches), the largest page most PDF viewers accept:
        plenvo: warning: target size W x H pt exceeds 14400 pt on a side, ...
    The files are written all the same and the exit status is not changed.

    Each failure is one line on standard error:
        plenvo: FILE: MESSAGE
    where FILE is the input as given and MESSAGE the library's own text
    (which may name the file again). Usage errors are printed as
        plenvo: MESSAGE
    followed by a hint to run plenvo --help.

EXIT STATUS
    0   every file was processed.
    1   at least one file failed; the others were still processed.
    2   the command line was wrong; no file was touched.

EXAMPLES
    plenvo size scan.pdf
    plenvo size report.pdf --all
    plenvo fit --paper a4 letter.pdf a4.pdf
    plenvo fit --size 595.5 842 in.pdf out.pdf
    plenvo fit --paper A4 -o out -j 4 *.pdf
    plenvo percent --suffix _half big.pdf 50
)";
}

}  // namespace plenvo::cli
