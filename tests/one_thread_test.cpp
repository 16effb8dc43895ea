// Every call runs on the caller's thread: a call on a large document (tens of
// thousands of pages, several MiB, each page with its own content) adds no
// thread to the process, however long it runs.
//
// Each call runs in a forked child, watched from this process in two ways:
// - this process lists /proc/<child>/task over and over while the call runs
//   and keeps the largest count seen, which must stay 1;
// - the child makes the call under a seccomp filter that ends it with SIGSYS
//   at the first clone or clone3, so that even a thread too short-lived for
//   the listing to meet is caught.
#include <gtest/gtest.h>

#if defined(__linux__)

#include <dirent.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>

#include "plenvo.h"
#include "support/pdf_builder.h"

using namespace plenvo_test;

namespace {

constexpr int PAGES = 30000;

// PAGES pages, each drawing its own content stream, with one shared
// resources dictionary: about 5 MiB.
const std::string &large_pdf_path() {
    static const std::string path = [] {
        pdf_builder b;
        b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
        std::string kids;
        for (int i = 0; i < PAGES; ++i) kids += (i ? " " : "") + std::to_string(4 + 2 * i) + " 0 R";
        b.add(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(PAGES) + " >>");
        b.add(3, "<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>");
        for (int i = 0; i < PAGES; ++i) {
            b.add(4 + 2 * i, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources 3 0 R /Contents " +
                                 std::to_string(5 + 2 * i) + " 0 R >>");
            b.add_stream(5 + 2 * i, "BT /F1 12 Tf 72 720 Td (Page " + std::to_string(i + 1) + ") Tj ET");
        }
        return write_file(temp_dir(), "large.pdf", b.build());
    }();
    return path;
}

// Entries of /proc/<pid>/task: the process's threads; -1 when it is gone.
int task_count(pid_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR *d = opendir(dir.c_str());
    if (!d) return -1;
    int n = 0;
    while (const dirent *e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n;
}

// Makes clone and clone3 end this process with SIGSYS from now on. False
// when the system refuses the filter.
bool forbid_clone() {
#if defined(__x86_64__)
    constexpr unsigned ARCH = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr unsigned ARCH = AUDIT_ARCH_AARCH64;
#else
    return false;
#endif
#if defined(__x86_64__) || defined(__aarch64__)
#if defined(__NR_clone3)
    constexpr unsigned CLONE3 = __NR_clone3;
#else
    constexpr unsigned CLONE3 = 435;
#endif
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ARCH, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, CLONE3, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
    };
    sock_fprog prog{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) == 0;
#endif
}

// How a call in a child went.
struct watched {
    int status = 0;       // from waitpid
    int most_tasks = 0;   // the largest task count seen while the call ran
    long samples = 0;     // listings made while it ran
};

// Exit codes of the child.
constexpr int CALL_SUCCEEDED = 0, CALL_FAILED = 1, NO_FILTER = 2;

// Runs call() in a child (under the clone filter when `filtered`) and lists
// its tasks from here until it has ended.
watched watch_call(const std::function<bool()> &call, bool filtered) {
    watched w;
    int ready[2];
    if (pipe(ready) != 0) return w;
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        if (filtered && !forbid_clone()) _exit(NO_FILTER);
        const char go = 'g';
        if (write(ready[1], &go, 1) != 1) _exit(CALL_FAILED);
        _exit(call() ? CALL_SUCCEEDED : CALL_FAILED);
    }
    close(ready[1]);
    char go;
    const bool started = read(ready[0], &go, 1) == 1;
    close(ready[0]);
    for (;;) {
        if (started) {
            const int n = task_count(pid);
            if (n > w.most_tasks) w.most_tasks = n;
            ++w.samples;
        }
        const pid_t r = waitpid(pid, &w.status, WNOHANG);
        if (r == pid || r < 0) break;
    }
    return w;
}

struct call_case {
    const char *name;
    std::function<bool(const std::string &in, const std::string &out)> call;
};

const call_case CALLS[] = {
    {"fit to A4", [](const std::string &in, const std::string &out) {
         return plenvo_to_size(in.c_str(), out.c_str(), 0) == 1;
     }},
    {"percent", [](const std::string &in, const std::string &out) {
         return plenvo_percent(in.c_str(), out.c_str(), 50.0f) == 1;
     }},
    {"custom size", [](const std::string &in, const std::string &out) {
         return plenvo_custom(in.c_str(), out.c_str(), 500.0f, 700.0f) == 1;
     }},
    {"page size", [](const std::string &in, const std::string &) {
         const char *answer = plenvo_page_size(in.c_str(), PAGES);
         return answer && std::string(answer).find("\"page\":" + std::to_string(PAGES)) != std::string::npos;
     }},
};

}  // namespace

TEST(OneThread, TaskListStaysAtOneWhileACallRuns) {
    const std::string &in = large_pdf_path();
    const std::string out = temp_dir() + "/out.pdf";
    for (const call_case &c : CALLS) {
        const watched w = watch_call([&] { return c.call(in, out); }, false);
        ASSERT_TRUE(WIFEXITED(w.status)) << c.name << ": the child did not end normally";
        EXPECT_EQ(WEXITSTATUS(w.status), CALL_SUCCEEDED) << c.name << ": the call failed";
        EXPECT_GT(w.samples, 0) << c.name;
        EXPECT_EQ(w.most_tasks, 1) << c.name << ": " << w.most_tasks << " threads seen in " << w.samples
                                   << " listings";
    }
}

TEST(OneThread, NoCallStartsAThread) {
    const std::string &in = large_pdf_path();
    const std::string out = temp_dir() + "/out.pdf";
    for (const call_case &c : CALLS) {
        const watched w = watch_call([&] { return c.call(in, out); }, true);
        if (WIFEXITED(w.status) && WEXITSTATUS(w.status) == NO_FILTER)
            GTEST_SKIP() << "the system refuses a seccomp filter";
        ASSERT_FALSE(WIFSIGNALED(w.status) && WTERMSIG(w.status) == SIGSYS) << c.name << ": the call started a thread";
        ASSERT_TRUE(WIFEXITED(w.status)) << c.name << ": the child did not end normally";
        EXPECT_EQ(WEXITSTATUS(w.status), CALL_SUCCEEDED) << c.name << ": the call failed";
    }
}

#endif  // __linux__
