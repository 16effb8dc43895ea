/* A program built against an installed plenvo, as a user would build one.
 *
 *   consumer                 checks the calls that need no PDF
 *   consumer IN.pdf OUT.pdf  also fits IN to A4 into OUT and queries both
 *
 * Prints "consumer ok" and exits 0 when every check holds. */
#include <plenvo.h>

#include <stdio.h>
#include <string.h>

static int failures = 0;

static void expect_text(const char *what, const char *got, const char *want) {
    if (got == NULL || strcmp(got, want) != 0) {
        fprintf(stderr, "%s: got \"%s\", want \"%s\"\n", what, got ? got : "(null)", want);
        ++failures;
    }
}

static void expect(const char *what, int ok) {
    if (!ok) {
        fprintf(stderr, "%s: failed (%s)\n", what, plenvo_last_error());
        ++failures;
    }
}

int main(int argc, char **argv) {
    const char *answer;

    expect("plenvo_init", plenvo_init() == 1);
    expect_text("error text after init", plenvo_last_error(), "");

    expect("to_size refuses 9", plenvo_to_size("in.pdf", "out.pdf", 9) == 0);
    expect_text("to_size message", plenvo_last_error(),
                "target_size must be 0 (A4), 1 (Letter), 2 (A3), 3 (A5) or 4 (Legal) (got 9)");
    expect("percent refuses 0", plenvo_percent("in.pdf", "out.pdf", 0.0f) == 0);
    expect_text("percent message", plenvo_last_error(), "percent must be > 0 (got 0)");
    expect("custom refuses a null path", plenvo_custom(NULL, "out.pdf", 100.0f, 100.0f) == 0);
    expect_text("custom message", plenvo_last_error(), "NULL path argument");
    expect("page_size of a missing file",
           plenvo_page_size("/nonexistent-dir/missing.pdf", 1) == NULL);
    expect_text("page_size message", plenvo_last_error(),
                "cannot open /nonexistent-dir/missing.pdf");

    if (argc == 3) {
        answer = plenvo_page_size(argv[1], 1);
        expect("page_size of the input", answer != NULL);
        if (answer) printf("input:  %s\n", answer);
        expect("to_size A4", plenvo_to_size(argv[1], argv[2], 0) == 1);
        expect_text("error text after success", plenvo_last_error(), "");
        answer = plenvo_page_size(argv[2], 1);
        if (answer) printf("output: %s\n", answer);
        expect_text("output page", answer,
                    "{\"width_pt\":595.2800,\"height_pt\":841.8900,\"page\":1,\"size\":\"A4\"}");
    }
    plenvo_cleanup();
    expect_text("error text after cleanup", plenvo_last_error(), "");

    if (failures) return 1;
    puts("consumer ok");
    return 0;
}
