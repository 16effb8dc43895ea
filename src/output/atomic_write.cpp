// Safe replacement of the output file: the text goes to a temporary file in
// the output's directory, written piece by piece while the document is built,
// and renamed over the output only once it has been written and closed. When
// it replaces an existing file (the input itself, perhaps) its data is first
// flushed to disk, so that a power failure cannot leave a short file where
// the old one was; a new file has nothing to lose and is not flushed. Any failure removes the temporary file and leaves whatever was at
// the output path exactly as it was. A failure to open or write is only
// reported when the file is committed, so that a failure of the build itself
// keeps precedence over it.
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "base/error.h"
#include "output/atomic_write.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace plenvo {

namespace {

// Directory part of path including its final separator ("" when none), and
// the last component.
void split_path(const std::string &path, std::string *dir, std::string *base) {
    size_t cut = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i) {
#if defined(_WIN32)
        if (path[i] == '/' || path[i] == '\\' || (path[i] == ':' && i == 1)) cut = i;
#else
        if (path[i] == '/') cut = i;
#endif
    }
    if (cut == std::string::npos) {
        dir->clear();
        *base = path;
    } else {
        *dir = path.substr(0, cut + 1);
        *base = path.substr(cut + 1);
    }
}

// A name for the temporary file beside `base`, different on every call.
std::string temp_name(const std::string &dir, const std::string &base, unsigned attempt) {
    static unsigned counter = 0;
    uint64_t seed = static_cast<uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count());
#if defined(_WIN32)
    seed ^= static_cast<uint64_t>(GetCurrentProcessId()) << 32;
#else
    seed ^= static_cast<uint64_t>(getpid()) << 32;
#endif
    seed ^= (static_cast<uint64_t>(++counter) << 16) ^ attempt;
    seed *= 0x9E3779B97F4A7C15ull;
    char tag[32];
    std::snprintf(tag, sizeof tag, "%012llx", static_cast<unsigned long long>(seed >> 16));
    // Keep the name short enough for any file system, however long base is.
    std::string stem = base.size() > 64 ? base.substr(0, 64) : base;
    return dir + "." + stem + "." + tag + ".tmp";
}

#if !defined(_WIN32)

// The path that writing through `path` reaches: symbolic links are followed
// (relative targets taken from the link's directory), at most 40 of them.
std::string resolve_links(const std::string &path) {
    std::string cur = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st;
        if (::lstat(cur.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return cur;
        std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        ssize_t n = ::readlink(cur.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size()) return cur;
        target.resize(static_cast<size_t>(n));
        if (target[0] == '/') {
            cur = target;
        } else {
            std::string dir, base;
            split_path(cur, &dir, &base);
            cur = dir + target;
        }
    }
    return cur;
}

// Opens the temporary file for path; a failure is recorded in f.
void open_posix(out_file *f, const char *path) {
    f->target = resolve_links(path);
    struct stat st;
    const bool exists = ::stat(f->target.c_str(), &st) == 0;
    // An existing output that could not be opened for writing is not
    // replaced, and neither is anything but a regular file: renaming over a
    // device (/dev/null, say, when run by root), a pipe or a socket would
    // replace that node itself.
    if (exists && (!S_ISREG(st.st_mode) || ::access(f->target.c_str(), W_OK) != 0)) {
        f->fail = out_file::CANNOT_WRITE;
        return;
    }
    std::string dir, base;
    split_path(f->target, &dir, &base);
    if (base.empty()) {
        f->fail = out_file::CANNOT_WRITE;
        return;
    }
    int fd = -1;
    for (unsigned attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        f->tmp = temp_name(dir, base, attempt);
        fd = ::open(f->tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        f->fail = out_file::CANNOT_WRITE;
        return;
    }
    f->fd = fd;
    f->replacing = exists;
    if (exists) {
        // The replacement keeps the owner and permissions of the file it replaces.
        if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
            int ignored = ::fchown(fd, st.st_uid, st.st_gid);
            (void)ignored;
        }
        ::fchmod(fd, st.st_mode & 07777);
    }
}

// Writes all of data; false on a failed or empty write.
bool write_all_posix(int fd, const uint8_t *p, uint64_t left) {
    while (left > 0) {
        size_t chunk = left > (1u << 30) ? (1u << 30) : static_cast<size_t>(left);
        ssize_t n = ::write(fd, p, chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= static_cast<uint64_t>(n);
    }
    return true;
}

void discard_posix(out_file *f) {
    if (f->fd >= 0) {
        ::close(f->fd);
        f->fd = -1;
        ::unlink(f->tmp.c_str());
    }
}

// Flushes, closes and renames; false with the failure recorded.
bool commit_posix(out_file *f) {
    if (f->replacing && ::fsync(f->fd) != 0) {
        f->fail = out_file::CLOSE_ERROR;
        discard_posix(f);
        return false;
    }
    const int fd = f->fd;
    f->fd = -1;
    if (::close(fd) != 0) {
        ::unlink(f->tmp.c_str());
        f->fail = out_file::CLOSE_ERROR;
        return false;
    }
    if (::rename(f->tmp.c_str(), f->target.c_str()) != 0) {
        ::unlink(f->tmp.c_str());
        f->fail = out_file::CANNOT_WRITE;
        return false;
    }
    return true;
}

#else  // _WIN32

// The final path behind a symbolic link (or other reparse point); the path
// itself otherwise.
std::string resolve_links(const std::string &path) {
    DWORD attrs = GetFileAttributesA(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_REPARSE_POINT)) return path;
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return path;
    char out[MAX_PATH * 4];
    DWORD n = GetFinalPathNameByHandleA(h, out, sizeof out, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(h);
    if (n == 0 || n >= sizeof out) return path;
    std::string r(out, n);
    // Drop the "\\?\" prefix the query adds: "\\?\C:\x" -> "C:\x", "\\?\UNC\s\x" -> "\\s\x".
    if (r.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + r.substr(8);
    if (r.rfind("\\\\?\\", 0) == 0 && r.size() > 5 && r[5] == ':') return r.substr(4);
    return r;
}

void open_windows(out_file *f, const char *path) {
    f->target = resolve_links(path);
    DWORD attrs = GetFileAttributesA(f->target.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES &&
        (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
        f->fail = out_file::CANNOT_WRITE;
        return;
    }
    std::string dir, base;
    split_path(f->target, &dir, &base);
    if (base.empty()) {
        f->fail = out_file::CANNOT_WRITE;
        return;
    }
    int fd = -1;
    for (unsigned attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        f->tmp = temp_name(dir, base, attempt);
        fd = _open(f->tmp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                   _S_IREAD | _S_IWRITE);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        f->fail = out_file::CANNOT_WRITE;
        return;
    }
    f->fd = fd;
    f->replacing = attrs != INVALID_FILE_ATTRIBUTES;
}

bool write_all_windows(int fd, const uint8_t *p, uint64_t left) {
    while (left > 0) {
        unsigned chunk = left > (1u << 30) ? (1u << 30) : static_cast<unsigned>(left);
        int n = _write(fd, p, chunk);
        if (n <= 0) return false;
        p += n;
        left -= static_cast<uint64_t>(n);
    }
    return true;
}

void discard_windows(out_file *f) {
    if (f->fd >= 0) {
        _close(f->fd);
        f->fd = -1;
        DeleteFileA(f->tmp.c_str());
    }
}

bool commit_windows(out_file *f) {
    if (f->replacing && _commit(f->fd) != 0) {
        f->fail = out_file::CLOSE_ERROR;
        discard_windows(f);
        return false;
    }
    const int fd = f->fd;
    f->fd = -1;
    if (_close(fd) != 0) {
        DeleteFileA(f->tmp.c_str());
        f->fail = out_file::CLOSE_ERROR;
        return false;
    }
    if (!MoveFileExA(f->tmp.c_str(), f->target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(f->tmp.c_str());
        f->fail = out_file::CANNOT_WRITE;
        return false;
    }
    return true;
}

#endif

}  // namespace

out_file::~out_file() { out_file_discard(this); }

void out_file_open(out_file *f, const char *path) {
    f->path = path ? path : "";
    if (!path || !*path) {
        f->fail = out_file::CANNOT_WRITE;
        return;
    }
#if defined(_WIN32)
    open_windows(f, path);
#else
    open_posix(f, path);
#endif
}

void out_file_write(out_file *f, const uint8_t *data, uint64_t len) {
    if (f->fail != out_file::NONE || f->fd < 0 || len == 0) return;
#if defined(_WIN32)
    const bool ok = write_all_windows(f->fd, data, len);
#else
    const bool ok = write_all_posix(f->fd, data, len);
#endif
    if (!ok) {
        f->fail = out_file::SHORT_WRITE;
        out_file_discard(f);
    }
}

int out_file_commit(out_file *f) {
    if (f->fail == out_file::NONE && f->fd >= 0) {
#if defined(_WIN32)
        if (commit_windows(f)) return 1;
#else
        if (commit_posix(f)) return 1;
#endif
    }
    out_file_discard(f);
    const char *p = f->path.c_str();
    switch (f->fail) {
        case out_file::SHORT_WRITE: set_error("short write to %s", p); break;
        case out_file::CLOSE_ERROR: set_error("close error on %s", p); break;
        default: set_error("cannot write %s", p); break;
    }
    return 0;
}

void out_file_discard(out_file *f) {
#if defined(_WIN32)
    discard_windows(f);
#else
    discard_posix(f);
#endif
}

}  // namespace plenvo
