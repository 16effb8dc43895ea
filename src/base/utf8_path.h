// Paths as the library's callers pass them: byte strings. On Windows a path
// that is valid UTF-8 and holds a character beyond ASCII names its file in
// Unicode and is opened with the wide-character API, so that any file name
// can be reached whatever the system's ANSI code page; every other path
// (plain ASCII, or bytes that are not UTF-8) is an ANSI path, as the C
// runtime takes it. Elsewhere a path is used as it is.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace plenvo {

// True when s[0..n) is valid UTF-8 (no overlong forms, surrogates or code
// points past U+10FFFF) and holds at least one byte above 127. Never allocates.
bool utf8_beyond_ascii(const char *s, size_t n);

// The UTF-16 text of s[0..n), which utf8_beyond_ascii accepts (or plain
// ASCII). Throws std::bad_alloc.
std::u16string utf16_of_utf8(const char *s, size_t n);

// The UTF-8 text of UTF-16 s[0..n); an unpaired surrogate becomes U+FFFD.
// Throws std::bad_alloc.
std::string utf8_of_utf16(const char16_t *s, size_t n);

// fopen for path in the given mode ("rb", "wb"): on Windows through _wfopen
// when utf8_beyond_ascii(path). Returns the stream, or nullptr when it cannot
// be opened (also for want of memory). Never throws, never sets the error text.
FILE *open_path(const char *path, const char *mode);

}  // namespace plenvo
