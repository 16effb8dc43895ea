/*
 * A C program linked against plenvo's import library through the public
 * header (the __declspec(dllimport) path), run beside plenvo.dll. It proves
 * that the header, the import library and the DLL agree on every name and
 * signature. Exits 0 when every check holds; prints one line per failure.
 */
#include <stdio.h>
#include <string.h>

#include "plenvo.h"

static int failures;

static void expect(int ok, const char *what) {
    if (!ok) {
        ++failures;
        printf("FAIL %s\n", what);
    }
}

int main(void) {
    expect(plenvo_last_error() != NULL && plenvo_last_error()[0] == '\0', "empty error text at start");
    expect(plenvo_init() == 1, "plenvo_init returns 1");
    expect(plenvo_to_size(NULL, "x.pdf", 0) == 0, "to_size with a null path fails");
    expect(strcmp(plenvo_last_error(), "NULL path argument") == 0, "null path message");
    expect(plenvo_percent("in.pdf", "out.pdf", -12.5f) == 0, "percent -12.5 fails");
    expect(strcmp(plenvo_last_error(), "percent must be > 0 (got -12.5)") == 0, "percent message");
    expect(plenvo_custom("in.pdf", "out.pdf", 3.5f, -2.0f) == 0, "custom 3.5 x -2 fails");
    expect(strcmp(plenvo_last_error(), "width_pt and height_pt must both be > 0 (got 3.5 x -2)") == 0,
           "custom message");
    expect(plenvo_page_size("in.pdf", 0) == NULL, "page 0 gives NULL");
    expect(strcmp(plenvo_last_error(), "page must be >= 1 (got 0)") == 0, "page message");
    plenvo_cleanup();
    expect(plenvo_last_error()[0] == '\0', "cleanup empties the error text");
    printf("linked: %s\n", failures ? "failed" : "ok");
    return failures ? 1 : 0;
}
