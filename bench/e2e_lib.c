/*
 * One library call for the end-to-end benchmark (bench/e2e): fits every page
 * of IN to A4 into OUT through plenvo_to_size, linked against the shared
 * library. Prints the library's message and exits 1 on failure.
 *
 *   e2e_lib IN OUT
 */
#include <stdio.h>

#include "plenvo.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: e2e_lib IN OUT\n");
        return 2;
    }
    if (!plenvo_to_size(argv[1], argv[2], 0)) {
        fprintf(stderr, "e2e_lib: %s\n", plenvo_last_error());
        return 1;
    }
    return 0;
}
