// Parallel jobs on Windows: no fork, so each file gets a fresh run of this
// program that does that one job quietly (see job_words_fn). Its standard
// error goes into a pipe; once it has ended, the parent takes the message
// from its "plenvo: <input>: <message>" line and reports it like any other.
#ifdef _WIN32

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "jobs.h"

namespace plenvo::cli {

namespace {

// Big enough for any message the child prints, so it never blocks on a
// full pipe while the parent waits for it to end.
constexpr DWORD PIPE_BYTES = 1 << 20;

// One argument quoted for the C runtime's command-line parser.
std::string quote_arg(const std::string &a) {
    if (!a.empty() && a.find_first_of(" \t\n\v\"") == std::string::npos) return a;
    std::string q = "\"";
    for (size_t i = 0;; ++i) {
        size_t slashes = 0;
        while (i < a.size() && a[i] == '\\') {
            ++i;
            ++slashes;
        }
        if (i == a.size()) {
            q.append(slashes * 2, '\\');
            break;
        }
        if (a[i] == '"') {
            q.append(slashes * 2 + 1, '\\');
            q += '"';
        } else {
            q.append(slashes, '\\');
            q += a[i];
        }
    }
    return q + "\"";
}

std::string self_path() {
    std::vector<char> buf(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return "";
        if (n < buf.size()) return std::string(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
}

struct child {
    size_t index;
    HANDLE process;
    HANDLE out;  // read end of the child's standard error
};

// Whatever the ended child left in its pipe.
std::string drain(HANDLE h) {
    std::string text;
    for (;;) {
        DWORD avail = 0;
        if (!PeekNamedPipe(h, nullptr, 0, nullptr, &avail, nullptr) || avail == 0) break;
        std::string chunk(avail, '\0');
        DWORD got = 0;
        if (!ReadFile(h, chunk.data(), avail, &got, nullptr) || got == 0) break;
        text.append(chunk.data(), got);
    }
    return text;
}

// The message of a failed child: its "plenvo: <input>: " prefix removed.
std::string child_message(const job &j, std::string text, DWORD code) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::string prefix = "plenvo: " + j.input + ": ";
    if (text.compare(0, prefix.size(), prefix) == 0) return text.substr(prefix.size());
    if (!text.empty()) return text;
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    return std::string("crashed or failed while processing this file (exit code ") + hex + ")";
}

// Starts one child. Returns false when it cannot be started.
bool start(const std::string &exe, const job &j, const job_words_fn &words, child *c) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE rd = nullptr, wr = nullptr;
    if (!CreatePipe(&rd, &wr, &sa, PIPE_BYTES)) return false;
    SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);

    std::string line = quote_arg(exe);
    for (const std::string &w : words(j)) {
        line += ' ';
        line += quote_arg(w);
    }
    std::vector<char> cmd(line.begin(), line.end());
    cmd.push_back('\0');

    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = INVALID_HANDLE_VALUE;
    si.hStdOutput = wr;
    si.hStdError = wr;
    PROCESS_INFORMATION pi{};
    BOOL ok = CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             nullptr, &si, &pi);
    CloseHandle(wr);
    if (!ok) {
        CloseHandle(rd);
        return false;
    }
    CloseHandle(pi.hThread);
    c->process = pi.hProcess;
    c->out = rd;
    return true;
}

}  // namespace

int run_parallel(const std::vector<job> &jobs, int parallel, const job_fn &fn,
                 const job_words_fn &words, progress *pr) {
    if (parallel > MAXIMUM_WAIT_OBJECTS) parallel = MAXIMUM_WAIT_OBJECTS;
    std::string exe = self_path();
    std::vector<child> running;
    size_t next = 0;
    int failed = 0;
    std::fflush(stdout);
    std::fflush(stderr);
    while (next < jobs.size() || !running.empty()) {
        while (next < jobs.size() && static_cast<int>(running.size()) < parallel) {
            child c{next, nullptr, nullptr};
            if (exe.empty() || !start(exe, jobs[next], words, &c)) {
                // No process to spare: run this one here, once nothing else
                // runs (the children are other processes, so nothing overlaps).
                if (running.empty()) {
                    std::string message;
                    bool ok = fn(jobs[next], &message);
                    if (!ok) ++failed;
                    report_job(pr, jobs[next], ok, message);
                    ++next;
                }
                break;
            }
            running.push_back(c);
            ++next;
        }
        if (running.empty()) continue;
        std::vector<HANDLE> handles;
        for (const child &c : running) handles.push_back(c.process);
        DWORD w = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                         INFINITE);
        size_t k = w - WAIT_OBJECT_0;
        if (w == WAIT_FAILED || k >= running.size()) {
            for (const child &c : running) {
                WaitForSingleObject(c.process, INFINITE);
                CloseHandle(c.process);
                CloseHandle(c.out);
                ++failed;
                report_job(pr, jobs[c.index], false, "lost track of the process for this file");
            }
            running.clear();
            continue;
        }
        child c = running[k];
        running.erase(running.begin() + static_cast<std::ptrdiff_t>(k));
        DWORD code = 1;
        GetExitCodeProcess(c.process, &code);
        std::string text = drain(c.out);
        CloseHandle(c.process);
        CloseHandle(c.out);
        bool ok = code == 0;
        if (!ok) ++failed;
        report_job(pr, jobs[c.index], ok, ok ? "" : child_message(jobs[c.index], text, code));
    }
    return failed;
}

}  // namespace plenvo::cli

#endif  // _WIN32
