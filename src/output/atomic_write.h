// The safe write of the output file: a temporary file beside the target,
// renamed over it only once it is complete.
#pragma once

#include <cstdint>
#include <string>

namespace plenvo {

// An output file being written: a temporary file beside the target, renamed
// over it by out_file_commit. A failure to open or write is recorded and
// reported only by out_file_commit; later writes are then ignored. The
// destructor removes a temporary file that was not committed.
struct out_file {
    enum failure { NONE, CANNOT_WRITE, SHORT_WRITE, CLOSE_ERROR };
    std::string path;    // as given, for messages
    std::string target;  // path with symbolic links followed
    std::string tmp;
    int fd = -1;
    bool replacing = false;  // a file exists at target: flush before the rename
    failure fail = NONE;

    out_file() = default;
    out_file(const out_file &) = delete;
    out_file &operator=(const out_file &) = delete;
    ~out_file();
};

// Creates the temporary file for path. Never sets the error text.
void out_file_open(out_file *f, const char *path);
// Appends len bytes. Never sets the error text; a failure removes the
// temporary file and is kept for out_file_commit.
void out_file_write(out_file *f, const uint8_t *data, uint64_t len);
// Closes the file and renames it over its target, flushing its data to disk
// first when it replaces an existing file.
// Returns 1, or 0 with the message set ("cannot write %s", "short write to
// %s", "close error on %s"); on failure nothing at the path changes and no
// temporary file remains.
int out_file_commit(out_file *f);
// Closes and removes an uncommitted temporary file; no message.
void out_file_discard(out_file *f);

}  // namespace plenvo
