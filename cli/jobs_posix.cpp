// Parallel jobs on POSIX: one forked child per file. Each child makes
// exactly one library call, writes the failure message (at most ~1 KiB, far
// below a pipe's capacity, so the child never blocks) into its pipe and
// exits with 0 or 1; the parent reaps children in any order and reads each
// pipe after its child has ended.
#ifndef _WIN32

#include <cerrno>
#include <cstdio>
#include <map>

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "jobs.h"

namespace plenvo::cli {

namespace {

struct child {
    size_t index;  // into jobs
    int fd;        // read end of the child's message pipe
};

// Everything the child wrote before it ended.
std::string drain(int fd) {
    std::string text;
    char chunk[1024];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n > 0) {
            text.append(chunk, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    return text;
}

// The child's side: one call, its message into the pipe, exit status 0/1.
[[noreturn]] void child_main(const job &j, const job_fn &fn, int fd) {
    std::string message;
    bool ok = false;
    try {
        ok = fn(j, &message);
    } catch (...) {
        message = "out of memory";
    }
    size_t off = 0;
    while (!ok && off < message.size()) {
        ssize_t n = write(fd, message.data() + off, message.size() - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        off += static_cast<size_t>(n);
    }
    close(fd);
    _exit(ok ? 0 : 1);  // no atexit handlers, no flushing of the parent's stdio copies
}

// Why a child failed, from its wait status and message.
std::string child_failure(int status, const std::string &message) {
    if (WIFSIGNALED(status))
        return "crashed while processing this file (signal " + std::to_string(WTERMSIG(status)) + ")";
    if (!message.empty()) return message;
    return "failed (exit status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
}

}  // namespace

int run_parallel(const std::vector<job> &jobs, int parallel, const job_fn &fn,
                 const job_words_fn &, progress *pr) {
    std::map<pid_t, child> running;
    size_t next = 0;
    int failed = 0;
    std::fflush(stdout);
    std::fflush(stderr);
    while (next < jobs.size() || !running.empty()) {
        while (next < jobs.size() && static_cast<int>(running.size()) < parallel) {
            const job &j = jobs[next];
            int fds[2];
            pid_t pid = -1;
            if (pipe(fds) == 0) {
                pid = fork();
                if (pid == 0) {
                    close(fds[0]);
                    child_main(j, fn, fds[1]);
                }
                close(fds[1]);
                if (pid < 0) close(fds[0]);
            }
            if (pid < 0) {
                // No process to spare: run this one here. No library call is
                // under way in this process, so nothing overlaps.
                if (running.empty()) {
                    std::string message;
                    bool ok = fn(j, &message);
                    if (!ok) ++failed;
                    report_job(pr, j, ok, message);
                    ++next;
                }
                break;  // wait for a running child before trying again
            }
            running[pid] = child{next, fds[0]};
            ++next;
        }
        if (running.empty()) continue;
        int status = 0;
        pid_t pid = waitpid(-1, &status, 0);
        if (pid < 0) {
            if (errno == EINTR) continue;
            // No child left to wait for (should not happen): count the rest as failed.
            for (auto &[p, c] : running) {
                close(c.fd);
                ++failed;
                report_job(pr, jobs[c.index], false, "lost track of the process for this file");
            }
            running.clear();
            continue;
        }
        auto it = running.find(pid);
        if (it == running.end()) continue;
        child c = it->second;
        running.erase(it);
        std::string message = drain(c.fd);
        close(c.fd);
        bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (!ok) ++failed;
        report_job(pr, jobs[c.index], ok, ok ? "" : child_failure(status, message));
    }
    return failed;
}

}  // namespace plenvo::cli

#endif  // _WIN32
