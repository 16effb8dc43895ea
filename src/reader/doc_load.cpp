// The load sequence: read the file whole, then run the reading phases in order.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/error.h"
#include "base/utf8_path.h"
#include "reader/doc.h"
#include "reader/scan_phases.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace plenvo {
namespace {

constexpr int64_t INPUT_LIMIT = 0x7FFFFFFF;  // positions are 32-bit signed

int64_t file_tell(FILE *f) {
#if defined(_WIN32)
    return _ftelli64(f);
#else
    return static_cast<int64_t>(ftello(f));
#endif
}

int file_seek_end(FILE *f) {
#if defined(_WIN32)
    return _fseeki64(f, 0, SEEK_END);
#else
    return fseeko(f, 0, SEEK_END);
#endif
}

// Runs the phases over d->data. Returns 0, or -1 with the message set and d freed.
int run_phases(doc *d, const char *name) {
    try {
        xref_walk(d);
        {
            // Object streams are told apart once for both phases that need
            // it, with the places of "/ObjStm" the scan met on its way.
            std::vector<int32_t> objstm_names;
            scan_objects(d, &objstm_names);
            mark_encryption(d);
            const std::vector<uint8_t> objstm = objstm_flags(d, d->objs.count, objstm_names);
            std::vector<member_origin> origins;
            read_object_streams(d, objstm, &origins);
            resolve_duplicates(d, objstm, &origins);
        }
        limit_object_spans(d);
        if (d->objs.count == 0) {
            set_error("no PDF objects found \xE2\x80\x94 not a PDF: %s", name);
            doc_free(d);
            return -1;
        }
        if (d->encrypted) {
            set_error("encrypted PDFs are not supported: %s", name);
            doc_free(d);
            return -1;
        }
        doc_build_index(d);
        if (load_page_tree(d) != 0) {
            doc_free(d);
            return -1;
        }
    } catch (const std::bad_alloc &) {
        set_error("out of memory");
        doc_free(d);
        return -1;
    }
    return 0;
}

void reset(doc *d) {
    std::memset(d, 0, sizeof *d);
    d->root = -1;
    d->info = -1;
    d->catalog = -1;
}

}  // namespace

int doc_load(const char *path, doc *d) {
    reset(d);
    if (!path) {
        set_error("NULL path argument");
        return -1;
    }
    FILE *f = open_path(path, "rb");
    if (!f) {
        set_error("cannot open %s", path);
        return -1;
    }
#if !defined(_WIN32)
    // A directory opens for reading here (not on Windows), and its "length"
    // is meaningless: it cannot be opened as a file.
    struct stat st;
    if (::fstat(::fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(f);
        set_error("cannot open %s", path);
        return -1;
    }
#endif
    int64_t n = -1;
    if (file_seek_end(f) == 0) n = file_tell(f);
    if (n > INPUT_LIMIT) {
        std::fclose(f);
        set_error("input file too large (2 GiB or more): %s", path);
        return -1;
    }
    d->len = static_cast<int32_t>(n < 0 ? 0 : n);
    if (n < 1) {
        std::fclose(f);
        set_error("empty input file: %s", path);
        return -1;
    }
    std::rewind(f);
    d->data = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(n)));
    if (!d->data) {
        std::fclose(f);
        doc_free(d);
        set_error("read error on %s", path);
        return -1;
    }
    const bool whole = std::fread(d->data, 1, static_cast<size_t>(n), f) == static_cast<size_t>(n);
    std::fclose(f);
    if (!whole) {
        doc_free(d);
        set_error("read error on %s", path);
        return -1;
    }
    return run_phases(d, path);
}

int doc_load_bytes(const uint8_t *bytes, size_t n, const char *name, doc *d) {
    reset(d);
    if (n > static_cast<size_t>(INPUT_LIMIT)) {
        set_error("input file too large (2 GiB or more): %s", name);
        return -1;
    }
    d->len = static_cast<int32_t>(n);
    if (n < 1) {
        set_error("empty input file: %s", name);
        return -1;
    }
    d->data = static_cast<uint8_t *>(std::malloc(n));
    if (!d->data) {
        doc_free(d);
        set_error("read error on %s", name);
        return -1;
    }
    std::memcpy(d->data, bytes, n);
    return run_phases(d, name);
}

int doc_free(doc *d) {
    std::free(d->data);
    std::free(d->objs.items);
    std::free(d->pages.items);
    for (int32_t i = 0; i < d->arena.count; ++i) std::free(d->arena.blocks[i]);
    std::free(d->arena.blocks);
    std::free(d->index);
    std::memset(d, 0, sizeof *d);
    return 0;
}

}  // namespace plenvo
