/*
 * The least work a rescaler that writes decoded page content must do: read
 * the input file whole, inflate every Flate stream in it with zlib, and write
 * the input followed by every inflated byte to the output path. It builds no
 * object table, parses no page tree and formats nothing, so its time is the
 * floor against which the end-to-end benchmark (bench/e2e) measures.
 *
 *   e2e_limit IN OUT      prints "<streams> <inflated bytes>" on stdout
 *
 * Streams are found by a plain scan for the keyword "stream": the dictionary
 * is the text between the previous "obj" keyword and the keyword, the data
 * starts after the keyword's end of line and runs for a direct /Length when
 * "endstream" follows it, else up to the next "endstream". Build:
 *   cc -O2 -o e2e_limit bench/e2e_limit.c -lz
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#define CHUNK (1u << 20)

static int is_alnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

/* First occurrence of the n bytes of s in t[from, len), or -1. */
static long find(const unsigned char *t, long len, long from, const char *s, size_t n) {
    while (from + (long)n <= len) {
        const unsigned char *p = memchr(t + from, s[0], (size_t)(len - from));
        if (!p) return -1;
        long at = (long)(p - t);
        if (at + (long)n > len) return -1;
        if (memcmp(p, s, n) == 0) return at;
        from = at + 1;
    }
    return -1;
}

/* Last occurrence of "obj" (not "endobj") strictly before pos, or 0. */
static long dict_start(const unsigned char *t, long pos, long floor) {
    for (long i = pos - 3; i >= floor; --i)
        if (t[i] == 'o' && t[i + 1] == 'b' && t[i + 2] == 'j') return i + 3;
    return floor;
}

/* Inflates src[0, n) and writes the output to f in chunks; returns bytes written. */
static unsigned long long inflate_to(const unsigned char *src, long n, FILE *f, unsigned char *out) {
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK) return 0;
    z.next_in = (unsigned char *)src;
    z.avail_in = (uInt)n;
    unsigned long long total = 0;
    for (;;) {
        z.next_out = out;
        z.avail_out = CHUNK;
        int rc = inflate(&z, Z_NO_FLUSH);
        size_t got = CHUNK - z.avail_out;
        if (got) {
            fwrite(out, 1, got, f);
            total += got;
        }
        if (rc != Z_OK || (z.avail_in == 0 && got < CHUNK)) break;
    }
    inflateEnd(&z);
    return total;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: e2e_limit IN OUT\n");
        return 2;
    }
    FILE *in = fopen(argv[1], "rb");
    if (!in) {
        fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    fseek(in, 0, SEEK_END);
    long len = ftell(in);
    rewind(in);
    unsigned char *t = malloc(len > 0 ? (size_t)len : 1);
    if (!t || fread(t, 1, (size_t)len, in) != (size_t)len) {
        fprintf(stderr, "read error on %s\n", argv[1]);
        return 1;
    }
    fclose(in);
    FILE *out = fopen(argv[2], "wb");
    if (!out) {
        fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    fwrite(t, 1, (size_t)len, out);
    unsigned char *chunk = malloc(CHUNK);
    if (!chunk) return 1;

    long streams = 0, last_end = 0;
    unsigned long long inflated = 0;
    long p = 0;
    while ((p = find(t, len, p, "stream", 6)) >= 0) {
        /* "endstream" or a longer word is no stream keyword. */
        if ((p > 0 && is_alnum(t[p - 1])) || (p + 6 < len && is_alnum(t[p + 6]))) {
            p += 6;
            continue;
        }
        long data = p + 6;
        if (data < len && t[data] == '\r') ++data;
        if (data < len && t[data] == '\n') ++data;
        long d0 = dict_start(t, p, last_end);
        long flate = find(t, p, d0, "/FlateDecode", 12);
        long length = -1;
        long lk = find(t, p, d0, "/Length", 7);
        if (lk >= 0) {
            long i = lk + 7;
            while (i < p && (t[i] == ' ' || t[i] == '\n' || t[i] == '\r')) ++i;
            long v = 0, digits = 0;
            while (i < p && t[i] >= '0' && t[i] <= '9') v = v * 10 + (t[i++] - '0'), ++digits;
            while (i < p && t[i] == ' ') ++i;
            if (digits && !(i < p && t[i] >= '0' && t[i] <= '9')) length = v;
        }
        long end = -1;
        if (length >= 0 && data + length <= len) {
            long e = data + length;
            while (e < len && (t[e] == '\r' || t[e] == '\n' || t[e] == ' ')) ++e;
            if (e + 9 <= len && memcmp(t + e, "endstream", 9) == 0) end = data + length;
        }
        if (end < 0) {
            long e = find(t, len, data, "endstream", 9);
            end = e < 0 ? len : e;
        }
        if (flate >= 0 && end > data) {
            inflated += inflate_to(t + data, end - data, out, chunk);
            ++streams;
        }
        last_end = end;
        p = end;
    }
    if (fclose(out) != 0) {
        fprintf(stderr, "close error on %s\n", argv[2]);
        return 1;
    }
    printf("%ld %llu\n", streams, inflated);
    free(chunk);
    free(t);
    return 0;
}
