/*
 * A host program that loads the plenvo library at run time and calls every
 * export through plain function pointers, the way a foreign host does.
 *
 * Built for Windows (LoadLibrary/GetProcAddress) and for Linux (dlopen/dlsym)
 * from this one file, it runs the same calls on both and writes a transcript
 * of every call (arguments, result, error text) to transcript.txt plus the
 * output PDFs to out/. Comparing the two transcripts and the two out/
 * directories byte for byte shows whether both builds behave identically.
 *
 *   cd WORKDIR && host LIBRARY
 *   cd WORKDIR && host LIBRARY FILE...    (every call on each of the files)
 *
 * WORKDIR holds in/ (written by make_inputs.py) and an empty out/. Paths
 * handed to the library are relative, so messages that quote them read the
 * same on both systems. Prints one line per check and "N passed, M failed";
 * exits 1 when any check failed, 2 when the library cannot be loaded.
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
typedef HMODULE lib_handle;
static lib_handle lib_open(const char *path) { return LoadLibraryA(path); }
static void *lib_sym(lib_handle h, const char *name) { return (void *)GetProcAddress(h, name); }
static int lib_close(lib_handle h) { return FreeLibrary(h) != 0; }
#else
#include <dlfcn.h>
typedef void *lib_handle;
static lib_handle lib_open(const char *path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static void *lib_sym(lib_handle h, const char *name) { return dlsym(h, name); }
static int lib_close(lib_handle h) { return dlclose(h) == 0; }
#endif

/* The seven exports, declared as a host without the header would declare them. */
typedef int (*init_fn)(void);
typedef void (*cleanup_fn)(void);
typedef const char *(*last_error_fn)(void);
typedef int (*to_size_fn)(const char *, const char *, int);
typedef int (*percent_fn)(const char *, const char *, float);
typedef int (*custom_fn)(const char *, const char *, float, float);
typedef const char *(*page_size_fn)(const char *, int);

static struct {
    init_fn init;
    cleanup_fn cleanup;
    last_error_fn last_error;
    to_size_fn to_size;
    percent_fn percent;
    custom_fn custom;
    page_size_fn page_size;
} api;

static int passed, failed;
static FILE *transcript;

/* ---- small helpers ---- */

static void check(int ok, const char *what, const char *detail) {
    if (ok) {
        ++passed;
        printf("ok   %s\n", what);
    } else {
        ++failed;
        printf("FAIL %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
    }
}

/* Checks that text equals want; NULL text never does. */
static void check_text(const char *what, const char *text, const char *want) {
    char detail[2048];
    int ok = text && strcmp(text, want) == 0;
    snprintf(detail, sizeof detail, "got \"%s\", want \"%s\"", text ? text : "(null)", want);
    check(ok, what, ok ? NULL : detail);
}

/* Writes s to the transcript with bytes outside printable ASCII as \xHH. */
static void put_escaped(const char *s) {
    if (!s) {
        fputs("NULL", transcript);
        return;
    }
    fputc('"', transcript);
    for (const unsigned char *p = (const unsigned char *)s; *p; ++p) {
        if (*p < 0x20 || *p > 0x7e || *p == '\\' || *p == '"')
            fprintf(transcript, "\\x%02X", *p);
        else
            fputc(*p, transcript);
    }
    fputc('"', transcript);
}

/* fopen with the library's rule for paths: on Windows a path that is valid
 * UTF-8 and not plain ASCII is opened by its UTF-16 name (_wfopen); any other
 * path is an ANSI path. */
static FILE *open_file(const char *path, const char *mode) {
#ifdef _WIN32
    wchar_t wpath[1024], wmode[8];
    int ascii = 1;
    for (const unsigned char *p = (const unsigned char *)path; *p; ++p) ascii = ascii && *p < 0x80;
    if (!ascii && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wpath, 1024) > 0 &&
        MultiByteToWideChar(CP_UTF8, 0, mode, -1, wmode, 8) > 0)
        return _wfopen(wpath, wmode);
#endif
    return fopen(path, mode);
}

/* Removes a file named by the same rule. */
static int remove_file(const char *path) {
#ifdef _WIN32
    wchar_t wpath[1024];
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wpath, 1024) > 0)
        return _wremove(wpath) == 0 || remove(path) == 0;
#endif
    return remove(path) == 0;
}

/* Reads a whole file; returns a malloc'd block (NUL added) and its length, or NULL. */
static char *read_all(const char *path, long *len) {
    FILE *f = open_file(path, "rb");
    if (!f) return NULL;
    char *data = NULL;
    long n = 0, cap = 0;
    for (;;) {
        if (n + 4096 + 1 > cap) {
            cap = cap ? cap * 2 : 8192;
            char *grown = realloc(data, (size_t)cap);
            if (!grown) {
                free(data);
                fclose(f);
                return NULL;
            }
            data = grown;
        }
        size_t got = fread(data + n, 1, 4096, f);
        n += (long)got;
        if (got < 4096) break;
    }
    fclose(f);
    data[n] = '\0';
    if (len) *len = n;
    return data;
}

static int write_all(const char *path, const char *data, long len) {
    FILE *f = open_file(path, "wb");
    if (!f) return 0;
    int ok = fwrite(data, 1, (size_t)len, f) == (size_t)len;
    return fclose(f) == 0 && ok;
}

static int file_exists(const char *path) {
    FILE *f = open_file(path, "rb");
    if (f) fclose(f);
    return f != NULL;
}

/* 1 when the file holds exactly `want`. */
static int file_is(const char *path, const char *want) {
    long n = 0;
    char *data = read_all(path, &n);
    int same = data && n == (long)strlen(want) && memcmp(data, want, (size_t)n) == 0;
    free(data);
    return same;
}

/* 1 when both files exist with the same bytes. */
static int files_equal(const char *a, const char *b) {
    long na = 0, nb = 0;
    char *da = read_all(a, &na), *db = read_all(b, &nb);
    int same = da && db && na == nb && memcmp(da, db, (size_t)na) == 0;
    free(da);
    free(db);
    return same;
}

/* Locale-free text of a float argument for the transcript: its bit pattern. */
static void put_float(float x) {
    unsigned int bits;
    memcpy(&bits, &x, sizeof bits);
    fprintf(transcript, "0x%08X", bits);
}

/* ---- recorded calls: each writes one transcript line ---- */

static void record_result(int rc) {
    fprintf(transcript, " = %d ", rc);
    put_escaped(api.last_error());
    fputc('\n', transcript);
}

static int call_to_size(const char *in, const char *out, int size) {
    int rc = api.to_size(in, out, size);
    fputs("to_size(", transcript);
    put_escaped(in);
    fputs(", ", transcript);
    put_escaped(out);
    fprintf(transcript, ", %d)", size);
    record_result(rc);
    return rc;
}

static int call_percent(const char *in, const char *out, float pct) {
    int rc = api.percent(in, out, pct);
    fputs("percent(", transcript);
    put_escaped(in);
    fputs(", ", transcript);
    put_escaped(out);
    fputs(", ", transcript);
    put_float(pct);
    fputs(")", transcript);
    record_result(rc);
    return rc;
}

static int call_custom(const char *in, const char *out, float w, float h) {
    int rc = api.custom(in, out, w, h);
    fputs("custom(", transcript);
    put_escaped(in);
    fputs(", ", transcript);
    put_escaped(out);
    fputs(", ", transcript);
    put_float(w);
    fputs(", ", transcript);
    put_float(h);
    fputs(")", transcript);
    record_result(rc);
    return rc;
}

static const char *call_page_size(const char *in, int page) {
    const char *answer = api.page_size(in, page);
    fputs("page_size(", transcript);
    put_escaped(in);
    fprintf(transcript, ", %d) = ", page);
    put_escaped(answer);
    fputc(' ', transcript);
    put_escaped(api.last_error());
    fputc('\n', transcript);
    return answer;
}

/* ---- loading ---- */

static int load_exports(lib_handle h) {
    static const char *const names[7] = {"plenvo_init",    "plenvo_cleanup", "plenvo_last_error",
                                         "plenvo_to_size", "plenvo_percent", "plenvo_custom",
                                         "plenvo_page_size"};
    void *fns[7];
    int all = 1;
    for (int i = 0; i < 7; ++i) {
        char what[80];
        fns[i] = lib_sym(h, names[i]);
        snprintf(what, sizeof what, "export %s found by its plain name", names[i]);
        check(fns[i] != NULL, what, NULL);
        all = all && fns[i];
    }
    if (!all) return 0;
    /* Object pointers to function pointers: what GetProcAddress/dlsym hand out. */
    memcpy(&api.init, &fns[0], sizeof api.init);
    memcpy(&api.cleanup, &fns[1], sizeof api.cleanup);
    memcpy(&api.last_error, &fns[2], sizeof api.last_error);
    memcpy(&api.to_size, &fns[3], sizeof api.to_size);
    memcpy(&api.percent, &fns[4], sizeof api.percent);
    memcpy(&api.custom, &fns[5], sizeof api.custom);
    memcpy(&api.page_size, &fns[6], sizeof api.page_size);
    return 1;
}

/* ---- the checks ---- */

static void lifecycle(void) {
    const char *e = api.last_error();
    check(e != NULL && e[0] == '\0', "error text empty after loading", NULL);
    check(api.init() == 1, "plenvo_init returns 1", NULL);
    check(api.init() == 1, "plenvo_init returns 1 again", NULL);
    check(api.last_error() == e, "error text stays in one buffer", NULL);
    api.to_size(NULL, "out/never.pdf", 0);
    check_text("error text after a failed call", api.last_error(), "NULL path argument");
    check(api.init() == 1 && api.last_error()[0] == '\0', "plenvo_init empties the error text", NULL);
    api.to_size(NULL, "out/never.pdf", 0);
    api.cleanup();
    check(api.last_error()[0] == '\0', "plenvo_cleanup empties the error text", NULL);
    api.cleanup();
    check(api.last_error() != NULL && api.last_error()[0] == '\0', "plenvo_cleanup twice", NULL);
}

static void argument_errors(void) {
    static const char keep[] = "KEEP: an existing file that failed calls leave alone\n";
    const char *in = "in/letter.pdf";
    check(write_all("out/keep.pdf", keep, (long)strlen(keep)), "write out/keep.pdf", NULL);

    call_to_size(NULL, "out/keep.pdf", 0);
    check_text("to_size null input", api.last_error(), "NULL path argument");
    call_to_size(in, NULL, 0);
    check_text("to_size null output", api.last_error(), "NULL path argument");
    call_to_size(NULL, NULL, 9);
    check_text("null path wins over a bad size", api.last_error(), "NULL path argument");
    check(call_to_size(in, "out/keep.pdf", -1) == 0, "to_size -1 fails", NULL);
    check_text("to_size -1 message", api.last_error(),
               "target_size must be 0 (A4), 1 (Letter), 2 (A3), 3 (A5) or 4 (Legal) (got -1)");
    call_to_size(in, "out/keep.pdf", 5);
    check_text("to_size 5 message", api.last_error(),
               "target_size must be 0 (A4), 1 (Letter), 2 (A3), 3 (A5) or 4 (Legal) (got 5)");
    call_to_size(in, "out/keep.pdf", -2147483647 - 1);
    check_text("to_size INT_MIN message", api.last_error(),
               "target_size must be 0 (A4), 1 (Letter), 2 (A3), 3 (A5) or 4 (Legal) (got -2147483648)");

    /* Single-precision arguments: the value printed back proves it arrived intact. */
    check(call_percent(in, "out/keep.pdf", 0.0f) == 0, "percent 0 fails", NULL);
    check_text("percent 0 message", api.last_error(), "percent must be > 0 (got 0)");
    call_percent(in, "out/keep.pdf", -12.5f);
    check_text("percent -12.5 message", api.last_error(), "percent must be > 0 (got -12.5)");
    call_percent(in, "out/keep.pdf", -0.0f);
    check_text("percent -0 message", api.last_error(), "percent must be > 0 (got -0)");
    call_percent(in, "out/keep.pdf", -1e20f);
    check_text("percent -1e20 message", api.last_error(), "percent must be > 0 (got -1e+20)");
    call_percent(in, "out/keep.pdf", -0.000123f);
    check_text("percent -0.000123 message", api.last_error(), "percent must be > 0 (got -0.000123)");
    call_percent(in, "out/keep.pdf", (float)-HUGE_VAL);
    check_text("percent -inf message", api.last_error(), "percent must be > 0 (got -inf)");
    check(call_percent(in, "out/keep.pdf", (float)NAN) == 0, "percent NaN fails", NULL);
    check(strncmp(api.last_error(), "percent must be > 0 (got ", 25) == 0, "percent NaN message", NULL);
    call_percent(NULL, "out/keep.pdf", -1.0f);
    check_text("null path wins over a bad percent", api.last_error(), "NULL path argument");
    call_percent(in, NULL, 50.0f);
    check_text("percent null output", api.last_error(), "NULL path argument");

    check(call_custom(in, "out/keep.pdf", 0.0f, 842.0f) == 0, "custom 0 x 842 fails", NULL);
    check_text("custom 0 x 842 message", api.last_error(),
               "width_pt and height_pt must both be > 0 (got 0 x 842)");
    call_custom(in, "out/keep.pdf", -1.5f, 2.25f);
    check_text("custom -1.5 x 2.25 message (argument order)", api.last_error(),
               "width_pt and height_pt must both be > 0 (got -1.5 x 2.25)");
    call_custom(in, "out/keep.pdf", 595.28f, -1.0f);
    check_text("custom 595.28 x -1 message", api.last_error(),
               "width_pt and height_pt must both be > 0 (got 595.28 x -1)");
    call_custom(in, "out/keep.pdf", 100.0f, 0.0f);
    check_text("custom 100 x 0 message", api.last_error(),
               "width_pt and height_pt must both be > 0 (got 100 x 0)");
    call_custom(NULL, "out/keep.pdf", 0.0f, 0.0f);
    check_text("null path wins over a bad size (custom)", api.last_error(), "NULL path argument");

    check(call_page_size(NULL, 1) == NULL, "page_size null path gives NULL", NULL);
    check_text("page_size null path message", api.last_error(), "NULL path argument");
    call_page_size(NULL, 0);
    check_text("null path wins over page 0", api.last_error(), "NULL path argument");
    check(call_page_size(in, 0) == NULL, "page 0 gives NULL", NULL);
    check_text("page 0 message", api.last_error(), "page must be >= 1 (got 0)");
    call_page_size(in, -1);
    check_text("page -1 message", api.last_error(), "page must be >= 1 (got -1)");
    /* No argument check touches a file, even one that does not exist. */
    call_page_size("in/missing.pdf", 0);
    check_text("page 0 of a missing file", api.last_error(), "page must be >= 1 (got 0)");

    check(file_is("out/keep.pdf", keep), "argument errors leave the output file untouched", NULL);
    check(!file_exists("out/never.pdf"), "argument errors create no file", NULL);
}

static void missing_input(void) {
    static const char keep[] = "KEEP: an existing file that failed calls leave alone\n";
    check(call_to_size("in/missing.pdf", "out/missing_a.pdf", 0) == 0, "to_size on a missing file fails", NULL);
    check(api.last_error()[0] != '\0', "missing file: message set", NULL);
    check(call_percent("in/missing.pdf", "out/missing_b.pdf", 50.0f) == 0, "percent on a missing file fails", NULL);
    check(call_custom("in/missing.pdf", "out/missing_c.pdf", 300.0f, 400.0f) == 0,
          "custom on a missing file fails", NULL);
    check(call_page_size("in/missing.pdf", 1) == NULL, "page_size on a missing file gives NULL", NULL);
    check(api.last_error()[0] != '\0', "page_size missing file: message set", NULL);
    check(!file_exists("out/missing_a.pdf") && !file_exists("out/missing_b.pdf") &&
              !file_exists("out/missing_c.pdf"),
          "a failed load creates no output", NULL);
    call_to_size("in/missing.pdf", "out/keep.pdf", 1);
    check(file_is("out/keep.pdf", keep), "a failed load leaves an existing output untouched", NULL);
    /* Unreadable inputs: failure, never a crash. */
    check(call_to_size("in/not_a_pdf.pdf", "out/not_a_pdf_out.pdf", 0) == 0, "text file refused", NULL);
    check(call_page_size("in/not_a_pdf.pdf", 1) == NULL, "text file: no page size", NULL);
    check(call_to_size("in/empty.pdf", "out/empty_out.pdf", 0) == 0, "empty file refused", NULL);
    check(call_page_size("in/empty.pdf", 1) == NULL, "empty file: no page size", NULL);
    /* Directories fail differently per system (open or read), so only the outcome is compared. */
    check(api.to_size("in", "out/dir_out.pdf", 0) == 0 && api.last_error()[0] != '\0',
          "a directory as input refused", NULL);
    check(!file_exists("out/not_a_pdf_out.pdf") && !file_exists("out/empty_out.pdf") &&
              !file_exists("out/dir_out.pdf"),
          "refused inputs create no output", NULL);
}

struct size_case {
    const char *file;
    int page;
    const char *want;
};

/* Displayed sizes of the generated inputs, from their boxes and rotations. */
static const struct size_case INPUT_SIZES[] = {
    {"in/letter.pdf", 1, "{\"width_pt\":612,\"height_pt\":792,\"page\":1,\"size\":\"Letter\"}"},
    {"in/a4.pdf", 1, "{\"width_pt\":595.2800,\"height_pt\":841.8900,\"page\":1,\"size\":\"A4\"}"},
    {"in/a4_whole.pdf", 1, "{\"width_pt\":595,\"height_pt\":842,\"page\":1,\"size\":\"A4\"}"},
    {"in/no_box.pdf", 1, "{\"width_pt\":595,\"height_pt\":842,\"page\":1,\"size\":\"A4\"}"},
    {"in/rotate90.pdf", 1, "{\"width_pt\":792,\"height_pt\":612,\"page\":1,\"size\":\"Letter\"}"},
    {"in/rotate270_inherited.pdf", 1, "{\"width_pt\":792,\"height_pt\":612,\"page\":1,\"size\":\"Letter\"}"},
    {"in/rotate450.pdf", 1, "{\"width_pt\":792,\"height_pt\":612,\"page\":1,\"size\":\"Letter\"}"},
    {"in/landscape.pdf", 1, "{\"width_pt\":842,\"height_pt\":595,\"page\":1,\"size\":\"A4\"}"},
    {"in/w613.pdf", 1, "{\"width_pt\":613,\"height_pt\":792,\"page\":1,\"size\":\"Letter\"}"},
    {"in/w614.pdf", 1, "{\"width_pt\":614,\"height_pt\":792,\"page\":1,\"size\":\"Custom\"}"},
    {"in/custom600.pdf", 1, "{\"width_pt\":600,\"height_pt\":800,\"page\":1,\"size\":\"Custom\"}"},
    {"in/offset.pdf", 1, "{\"width_pt\":540,\"height_pt\":720,\"page\":1,\"size\":\"Executive\"}"},
    {"in/a2.pdf", 1, "{\"width_pt\":1190,\"height_pt\":1684,\"page\":1,\"size\":\"A2\"}"},
    {"in/two_pages.pdf", 1, "{\"width_pt\":612,\"height_pt\":792,\"page\":1,\"size\":\"Letter\"}"},
    {"in/two_pages.pdf", 2, "{\"width_pt\":595,\"height_pt\":842,\"page\":2,\"size\":\"A4\"}"},
    {"in/crlf.pdf", 1, "{\"width_pt\":612,\"height_pt\":792,\"page\":1,\"size\":\"Letter\"}"},
    {"in/binary.pdf", 1, "{\"width_pt\":612,\"height_pt\":792,\"page\":1,\"size\":\"Letter\"}"},
    {"in/flate.pdf", 1, "{\"width_pt\":612,\"height_pt\":792,\"page\":1,\"size\":\"Letter\"}"},
    {"in/object_stream.pdf", 1, "{\"width_pt\":612,\"height_pt\":792,\"page\":1,\"size\":\"Letter\"}"},
};

/* 1 when the query answers at all; until then every query reports a failure. */
static int query_works;

/* A query on a file whose answer is known: NULL with a message is accepted
 * only while the query does not work at all. */
static void expect_size(const char *file, int page, const char *want) {
    char what[200];
    snprintf(what, sizeof what, "page size of %s page %d", file, page);
    if (!file_exists(file)) {
        printf("skip %s (no such input)\n", what);
        return;
    }
    const char *answer = call_page_size(file, page);
    if (query_works) {
        check_text(what, answer, want);
        if (answer) {
            strcat(what, ": error text empty");
            check(api.last_error()[0] == '\0', what, api.last_error());
        }
    } else {
        check(answer == NULL && api.last_error()[0] != '\0', what, "an answer without a working query");
    }
}

static void page_sizes(void) {
    query_works = api.page_size("in/letter.pdf", 1) != NULL;
    printf("note page-size query %s\n", query_works ? "answers" : "does not answer yet");
    for (size_t i = 0; i < sizeof INPUT_SIZES / sizeof INPUT_SIZES[0]; ++i)
        expect_size(INPUT_SIZES[i].file, INPUT_SIZES[i].page, INPUT_SIZES[i].want);

    const char *answer = call_page_size("in/two_pages.pdf", 3);
    check(answer == NULL, "page 3 of two gives NULL", NULL);
    if (query_works)
        check_text("page 3 of two message", api.last_error(), "page 3 out of range (document has 2 pages)");
    answer = call_page_size("in/letter.pdf", 2);
    check(answer == NULL, "page 2 of one gives NULL", NULL);
    if (query_works)
        check_text("page 2 of one message", api.last_error(), "page 2 out of range (document has 1 page)");

    if (query_works) {
        /* One static answer buffer: a second query overwrites the first. */
        const char *first = api.page_size("in/letter.pdf", 1);
        const char *second = api.page_size("in/a2.pdf", 1);
        check(first == second, "answers share one buffer", NULL);
        check_text("first pointer shows the second answer", first,
                   "{\"width_pt\":1190,\"height_pt\":1684,\"page\":1,\"size\":\"A2\"}");
        /* A failed query leaves the last answer as it was. */
        api.page_size("in/missing.pdf", 1);
        check_text("a failed query keeps the answer", second,
                   "{\"width_pt\":1190,\"height_pt\":1684,\"page\":1,\"size\":\"A2\"}");
        api.page_size("in/letter.pdf", 1);
        check(api.last_error()[0] == '\0', "a successful query after a failed one empties the error", NULL);
    }
}

enum call_kind { TO_SIZE, PERCENT, CUSTOM };

struct scale_case {
    enum call_kind kind;
    const char *in, *out;
    int size;           /* TO_SIZE */
    float a, b;         /* PERCENT: a; CUSTOM: a x b */
    const char *page1;  /* the output's first page as the query reports it */
};

#define SZ(w, h, name) "{\"width_pt\":" w ",\"height_pt\":" h ",\"page\":1,\"size\":\"" name "\"}"

/* Output page sizes follow from the target (fit) or the displayed input size
 * times the factor (percent); the new pages carry no /Rotate. */
static const struct scale_case SCALES[] = {
    {TO_SIZE, "in/letter.pdf", "out/letter_a4.pdf", 0, 0, 0, SZ("595.2800", "841.8900", "A4")},
    {TO_SIZE, "in/letter.pdf", "out/letter_letter.pdf", 1, 0, 0, SZ("612", "792", "Letter")},
    {TO_SIZE, "in/letter.pdf", "out/letter_a3.pdf", 2, 0, 0, SZ("841.8900", "1190.5500", "A3")},
    {TO_SIZE, "in/letter.pdf", "out/letter_a5.pdf", 3, 0, 0, SZ("419.5300", "595.2800", "A5")},
    {TO_SIZE, "in/letter.pdf", "out/letter_legal.pdf", 4, 0, 0, SZ("612", "1008", "Legal")},
    {TO_SIZE, "in/rotate90.pdf", "out/rotate90_a4.pdf", 0, 0, 0, SZ("595.2800", "841.8900", "A4")},
    {TO_SIZE, "in/landscape.pdf", "out/landscape_a4.pdf", 0, 0, 0, SZ("595.2800", "841.8900", "A4")},
    {TO_SIZE, "in/offset.pdf", "out/offset_letter.pdf", 1, 0, 0, SZ("612", "792", "Letter")},
    {TO_SIZE, "in/no_box.pdf", "out/no_box_legal.pdf", 4, 0, 0, SZ("612", "1008", "Legal")},
    {TO_SIZE, "in/two_pages.pdf", "out/two_pages_a3.pdf", 2, 0, 0, SZ("841.8900", "1190.5500", "A3")},
    {TO_SIZE, "in/crlf.pdf", "out/crlf_a4.pdf", 0, 0, 0, SZ("595.2800", "841.8900", "A4")},
    {TO_SIZE, "in/binary.pdf", "out/binary_letter.pdf", 1, 0, 0, SZ("612", "792", "Letter")},
    {TO_SIZE, "in/flate.pdf", "out/flate_a4.pdf", 0, 0, 0, SZ("595.2800", "841.8900", "A4")},
    {TO_SIZE, "in/object_stream.pdf", "out/object_stream_a5.pdf", 3, 0, 0, SZ("419.5300", "595.2800", "A5")},
    {PERCENT, "in/letter.pdf", "out/letter_p50.pdf", 0, 50.0f, 0, SZ("306", "396", "Custom")},
    {PERCENT, "in/letter.pdf", "out/letter_p12_5.pdf", 0, 12.5f, 0, SZ("76.5000", "99", "Custom")},
    {PERCENT, "in/rotate90.pdf", "out/rotate90_p50.pdf", 0, 50.0f, 0, SZ("396", "306", "Custom")},
    {PERCENT, "in/rotate270_inherited.pdf", "out/rotate270_p75.pdf", 0, 75.0f, 0, SZ("594", "459", "Custom")},
    {PERCENT, "in/offset.pdf", "out/offset_p50.pdf", 0, 50.0f, 0, SZ("270", "360", "Custom")},
    {PERCENT, "in/two_pages.pdf", "out/two_pages_p150.pdf", 0, 150.0f, 0, SZ("918", "1188", "Custom")},
    {PERCENT, "in/flate.pdf", "out/flate_p100.pdf", 0, 100.0f, 0, SZ("612", "792", "Letter")},
    {CUSTOM, "in/letter.pdf", "out/letter_300x400.pdf", 0, 300.0f, 400.0f, SZ("300", "400", "Custom")},
    {CUSTOM, "in/rotate450.pdf", "out/rotate450_400x300.pdf", 0, 400.0f, 300.0f, SZ("400", "300", "Custom")},
    {CUSTOM, "in/flate.pdf", "out/flate_a4_custom.pdf", 0, 595.28f, 841.89f, SZ("595.2800", "841.8900", "A4")},
    {CUSTOM, "in/object_stream.pdf", "out/object_stream_tabloid.pdf", 0, 792.0f, 1224.0f,
     SZ("792", "1224", "Tabloid")},
};

/* 1 when scaling produces output at all; until then every scaling call fails. */
static int writer_works;

static int run_case(const struct scale_case *c) {
    switch (c->kind) {
    case TO_SIZE: return call_to_size(c->in, c->out, c->size);
    case PERCENT: return call_percent(c->in, c->out, c->a);
    default: return call_custom(c->in, c->out, c->a, c->b);
    }
}

/* A scaling call's outcome: success means an empty error text and a PDF at
 * the output path; failure means a message and no file. */
static void check_outcome(const char *what, int rc, const char *out) {
    char name[256];
    long n = 0;
    char *data = read_all(out, &n);
    if (rc == 1) {
        snprintf(name, sizeof name, "%s: error text empty", what);
        check(api.last_error()[0] == '\0', name, api.last_error());
        snprintf(name, sizeof name, "%s: output starts with %%PDF-1.4", what);
        check(data && n > 9 && memcmp(data, "%PDF-1.4\n", 9) == 0, name, NULL);
    } else {
        snprintf(name, sizeof name, "%s: failure has a message", what);
        check(rc == 0 && api.last_error()[0] != '\0', name, NULL);
        snprintf(name, sizeof name, "%s: failure writes no file", what);
        check(data == NULL, name, NULL);
    }
    free(data);
}

static void scaling(void) {
    writer_works = call_to_size("in/letter.pdf", "out/probe.pdf", 1) == 1;
    printf("note scaling calls %s\n", writer_works ? "write output" : "do not write output yet");
    check_outcome("probe", writer_works, "out/probe.pdf");

    for (size_t i = 0; i < sizeof SCALES / sizeof SCALES[0]; ++i) {
        const struct scale_case *c = &SCALES[i];
        if (!file_exists(c->in)) {
            printf("skip %s (no such input)\n", c->out);
            continue;
        }
        int rc = run_case(c);
        check_outcome(c->out, rc, c->out);
        if (writer_works) check(rc == 1, c->out, "scaling failed while the probe succeeded");
        if (rc == 1 && query_works) {
            char what[256];
            snprintf(what, sizeof what, "%s: size of the new first page", c->out);
            check_text(what, api.page_size(c->out, 1), c->page1);
        }
    }

    /* Replacing an existing file, and writing over the input itself. */
    static const char old[] = "OLD CONTENT\n";
    long n = 0;
    char *letter = read_all("in/letter.pdf", &n);
    check(letter && write_all("out/same.pdf", letter, n), "copy in/letter.pdf to out/same.pdf", NULL);
    free(letter);
    check(write_all("out/over.pdf", old, (long)strlen(old)), "write out/over.pdf", NULL);

    int rc = call_to_size("out/same.pdf", "out/same.pdf", 0);
    if (rc == 1) {
        check_outcome("output path equal to input path", rc, "out/same.pdf");
        if (query_works)
            check_text("output over its input: size", api.page_size("out/same.pdf", 1),
                       SZ("595.2800", "841.8900", "A4"));
    } else {
        check(!writer_works, "output path equal to input path", api.last_error());
        check(files_equal("out/same.pdf", "in/letter.pdf"), "failed call keeps its input", NULL);
    }
    rc = call_percent("in/letter.pdf", "out/over.pdf", 200.0f);
    if (rc == 1) {
        check_outcome("replacing an existing file", rc, "out/over.pdf");
        if (query_works)
            check_text("replaced file: size", api.page_size("out/over.pdf", 1), SZ("1224", "1584", "Custom"));
    } else {
        check(!writer_works, "replacing an existing file", api.last_error());
        check(file_is("out/over.pdf", old), "failed call leaves an existing file as it was", NULL);
    }

    /* Output paths that cannot be written. */
    check(call_to_size("in/letter.pdf", "out/no_such_dir/x.pdf", 0) == 0, "output in a missing directory fails",
          NULL);
    check(api.last_error()[0] != '\0', "missing directory: message set", NULL);
    check(api.to_size("in/letter.pdf", "out", 0) == 0 && api.last_error()[0] != '\0',
          "a directory as output fails", NULL);

    /* A failure after a success reports its own message; a success after a failure empties it. */
    call_to_size("in/missing.pdf", "out/after.pdf", 0);
    char first[1024];
    snprintf(first, sizeof first, "%s", api.last_error());
    call_to_size("in/not_a_pdf.pdf", "out/after.pdf", 0);
    check(strcmp(first, api.last_error()) != 0, "each failure reports its own message", NULL);
    if (writer_works) {
        check(call_custom("in/letter.pdf", "out/after.pdf", 612.0f, 792.0f) == 1 &&
                  api.last_error()[0] == '\0',
              "success after failures empties the error text", NULL);
    }
}

/* File names beyond ASCII, passed as UTF-8: in Greek, Chinese and with an
 * emoji. They are written, read, replaced and written over themselves under
 * exactly those names (the Linux and Windows out/ folders are compared name
 * by name). A name that is not UTF-8 is an ANSI path, as before. */
#define GREEK "out/\xce\xb4\xce\xbf\xce\xba\xce\xb9\xce\xbc\xce\xae.pdf"
#define CHINESE "out/\xe6\x96\x87\xe4\xbb\xb6 \xf0\x9f\x93\x84.pdf"
#define MISSING "in/\xce\xbb\xce\xb5\xce\xaf\xcf\x80\xce\xb5\xce\xb9.pdf"
#define ANSI_NAME "out/caf\xe9.pdf"

static void non_ascii_paths(void) {
    if (!writer_works || !query_works) {
        printf("skip non-ASCII names (no output yet)\n");
        return;
    }
    check_outcome("Greek output name", call_to_size("in/letter.pdf", GREEK, 0), GREEK);
    check_text("Greek input name: size", call_page_size(GREEK, 1), SZ("595.2800", "841.8900", "A4"));
    check_outcome("Chinese and emoji output from a Greek input", call_percent(GREEK, CHINESE, 50.0f), CHINESE);
    check_text("Chinese and emoji input name: size", call_page_size(CHINESE, 1), SZ("297.6400", "420.9450", "A6"));
    /* Replacing an existing file and writing over the input itself. */
    check_outcome("replacing a file with a Chinese name", call_custom("in/letter.pdf", CHINESE, 300.0f, 400.0f),
                  CHINESE);
    check_text("replaced Chinese name: size", call_page_size(CHINESE, 1), SZ("300", "400", "Custom"));
    check_outcome("Greek name written over itself", call_to_size(GREEK, GREEK, 3), GREEK);
    check_text("Greek name over itself: size", call_page_size(GREEK, 1), SZ("419.5300", "595.2800", "A5"));
    /* The message quotes the path as given. */
    check(call_page_size(MISSING, 1) == NULL, "missing Greek input gives NULL", NULL);
    check_text("missing Greek input: message", api.last_error(), "cannot open " MISSING);
    /* Bytes that are not UTF-8 name an ANSI path; removed again, as the two
     * systems spell such a name differently on disk. */
    check_outcome("ANSI output name", call_to_size("in/letter.pdf", ANSI_NAME, 1), ANSI_NAME);
    check_text("ANSI input name: size", call_page_size(ANSI_NAME, 1), SZ("612", "792", "Letter"));
    check(remove_file(ANSI_NAME), "ANSI name removed", NULL);
}

/* Every call on each given file (real-world PDFs): page sizes of all pages,
 * then the three scaling calls. Only the outcome's consistency is checked
 * here; the transcript and outputs are compared across systems. */
static void each_file(int n, char **files) {
    for (int i = 0; i < n; ++i) {
        const char *in = files[i];
        const char *base = strrchr(in, '/');
        base = base ? base + 1 : in;
        char out[3][512], what[600];
        snprintf(out[0], sizeof out[0], "out/%s.a4.pdf", base);
        snprintf(out[1], sizeof out[1], "out/%s.p37_5.pdf", base);
        snprintf(out[2], sizeof out[2], "out/%s.500x700.pdf", base);
        for (int page = 1; page <= 10000; ++page) {
            const char *answer = call_page_size(in, page);
            if (!answer) {
                snprintf(what, sizeof what, "%s: a failed query leaves a message", in);
                check(api.last_error()[0] != '\0', what, NULL);
                break;
            }
        }
        snprintf(what, sizeof what, "%s to A4", in);
        check_outcome(what, call_to_size(in, out[0], 0), out[0]);
        snprintf(what, sizeof what, "%s at 37.5%%", in);
        check_outcome(what, call_percent(in, out[1], 37.5f), out[1]);
        snprintf(what, sizeof what, "%s into 500 x 700", in);
        check_outcome(what, call_custom(in, out[2], 500.0f, 700.0f), out[2]);
    }
}

/* Unloading releases the library: loaded again, it starts with empty texts. */
static void reload(const char *path, lib_handle *h) {
    api.to_size(NULL, NULL, 0);
    check(lib_close(*h), "library unloads", NULL);
    *h = lib_open(path);
    check(*h != NULL, "library loads again", NULL);
    if (!*h || !load_exports(*h)) return;
    check(api.last_error()[0] == '\0', "error text empty after loading again", NULL);
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: host LIBRARY [FILE...] (run in a directory holding in/ and out/)\n");
        return 2;
    }
    lib_handle h = lib_open(argv[1]);
    if (!h) {
        fprintf(stderr, "cannot load %s\n", argv[1]);
        return 2;
    }
    transcript = fopen("transcript.txt", "wb");
    if (!transcript) {
        fprintf(stderr, "cannot write transcript.txt\n");
        return 2;
    }
    if (argc > 2) {
        if (load_exports(h)) each_file(argc - 2, argv + 2);
    } else if (load_exports(h)) {
        lifecycle();
        argument_errors();
        missing_input();
        page_sizes();
        scaling();
        non_ascii_paths();
        reload(argv[1], &h);
    }
    if (h) check(lib_close(h), "library unloads at the end", NULL);
    if (fclose(transcript) != 0) check(0, "transcript written", NULL);
    printf("host: %d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
