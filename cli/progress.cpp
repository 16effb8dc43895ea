// Progress line: "[done/total] name" rewritten in place with a carriage
// return, padded with spaces over the previous text (no terminal escapes, so
// it works on every console).
#include "progress.h"

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace plenvo::cli {

namespace {

int terminal_width() {
#if defined(_WIN32)
    return 80;
#else
    struct winsize ws {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 10) return ws.ws_col;
    return 80;
#endif
}

// Rewrites the line: carriage return, text, spaces over what was longer.
void draw(progress *p, const std::string &text) {
    std::string line = "\r" + text;
    if (text.size() < p->shown) line.append(p->shown - text.size(), ' ');
    if (text.size() < p->shown) line += "\r" + text;
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    p->shown = text.size();
}

void erase(progress *p) {
    if (p->shown == 0) return;
    std::string line(p->shown + 2, ' ');
    line.front() = '\r';
    line.back() = '\r';
    std::fputs(line.c_str(), stderr);
    p->shown = 0;
}

}  // namespace

bool stderr_is_terminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

progress progress_start(int total, bool enabled) {
    progress p;
    p.total = total;
    p.enabled = enabled;
    if (enabled) p.width = terminal_width();
    return p;
}

void progress_step(progress *p, const std::string &name, bool ok) {
    ++p->done;
    if (!ok) ++p->failed;
    if (!p->enabled) return;
    // Appended piece by piece: GCC 12 warns (-Wrestrict, wrongly) when a
    // literal is prepended to a temporary string here.
    std::string text = "[";
    text += std::to_string(p->done);
    text += '/';
    text += std::to_string(p->total);
    text += ']';
    if (p->failed) {
        text += ' ';
        text += std::to_string(p->failed);
        text += " failed";
    }
    text += ' ';
    text += name;
    // Keep within one row: a wrapped line cannot be rewritten in place.
    size_t room = static_cast<size_t>(p->width - 1);
    if (text.size() > room) text = text.substr(0, room > 3 ? room - 3 : 0) + "...";
    draw(p, text);
}

void progress_message(progress *p, const std::string &line) {
    if (p->enabled) erase(p);
    std::string text = line + "\n";
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

void progress_finish(progress *p) {
    if (p->enabled) erase(p);
    std::fflush(stderr);
}

}  // namespace plenvo::cli
