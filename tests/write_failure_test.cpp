// Failures of the output builder and of the file write: every message, and
// the promise that a failed call leaves an existing output (the input itself
// when both paths are the same) byte for byte as it was, with no temporary
// file left behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/error.h"
#include "output/atomic_write.h"
#include "output/scale.h"
#include "plenvo.h"
#include "reader/doc.h"
#include "support/pdf_builder.h"

using namespace plenvo_test;
namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
#define PLENVO_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLENVO_UNDER_ASAN 1
#endif
#endif

// Fault injection: this executable's own fsync and rename stand in for the C
// library's (the library is linked in statically), failing while asked to.
static bool g_fail_fsync = false;
static bool g_fail_rename = false;

extern "C" int fsync(int fd) {
    if (g_fail_fsync) {
        errno = EIO;
        return -1;
    }
    return static_cast<int>(syscall(SYS_fsync, fd));
}

extern "C" int rename(const char *from, const char *to) noexcept {
    if (g_fail_rename) {
        errno = EXDEV;
        return -1;
    }
#if defined(SYS_renameat)
    return static_cast<int>(syscall(SYS_renameat, AT_FDCWD, from, AT_FDCWD, to));
#else
    return static_cast<int>(syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 0));
#endif
}

namespace {

const std::string ORIGINAL = "%PDF-1.4 the file that was here before\n";

std::vector<std::string> names_in(const std::string &dir) {
    std::vector<std::string> v;
    for (const auto &e : fs::directory_iterator(dir)) v.push_back(e.path().filename().string());
    std::sort(v.begin(), v.end());
    return v;
}

// A loaded document, freed at the end of the test.
struct loaded {
    plenvo::doc d{};
    explicit loaded(const std::string &pdf) {
        int rc = plenvo::doc_load_bytes(reinterpret_cast<const uint8_t *>(pdf.data()), pdf.size(), "in.pdf", &d);
        EXPECT_EQ(rc, 0) << plenvo::g_err;
    }
    ~loaded() { plenvo::doc_free(&d); }
};

// Runs fn in a child process; returns its result and error text.
struct child_result {
    int rc = -1;
    std::string err;
};
child_result in_child(const std::function<int()> &fn) {
    int fds[2];
    child_result r;
    if (pipe(fds) != 0) return r;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        int rc = fn();
        const char *e = plenvo_last_error();
        char code = static_cast<char>('0' + rc);
        ssize_t ignored = write(fds[1], &code, 1);
        ignored = write(fds[1], e, std::strlen(e));
        (void)ignored;
        close(fds[1]);
        _exit(0);
    }
    close(fds[1]);
    std::string got;
    char tmp[1024];
    ssize_t n;
    while ((n = read(fds[0], tmp, sizeof tmp)) > 0) got.append(tmp, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!got.empty()) {
        r.rc = got[0] - '0';
        r.err = got.substr(1);
    }
    return r;
}

// A document whose output is some tens of kilobytes.
std::string sizeable_pdf() {
    std::string content;
    for (int i = 0; i < 2000; ++i) content += "0 0 m " + std::to_string(i % 600) + " 700 l S\n";
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>");
    b.add_stream(4, content);
    return b.build();
}

int limited_percent(const std::string &in, const std::string &out, rlim_t limit) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &rl) != 0) return 7;
    return plenvo_percent(in.c_str(), out.c_str(), 100.0f);
}

}  // namespace

// ---- start checks ----

TEST(WriterStartChecks, NoPages) {
    loaded l(simple_pdf(1));
    std::string dir = temp_dir();
    std::string out = dir + "/out.pdf";
    int32_t saved = l.d.pages.count;
    l.d.pages.count = 0;
    EXPECT_EQ(plenvo::scale_doc(&l.d, out.c_str(), plenvo::MODE_FIT, 612, 792, 1.0), 0);
    l.d.pages.count = saved;
    EXPECT_STREQ(plenvo_last_error(), "input has no pages");
    EXPECT_FALSE(file_exists(out));
}

TEST(WriterStartChecks, InvalidAndNonFiniteTargets) {
    loaded l(simple_pdf(1, "/MediaBox [0 0 612 792]"));
    std::string dir = temp_dir();
    std::string out = write_file(dir, "out.pdf", ORIGINAL);
    const double inf = INFINITY, nan = NAN;
    struct { int mode; double w, h, f; } cases[] = {
        {plenvo::MODE_FIT, 0, 792, 1},     {plenvo::MODE_FIT, 612, -1, 1},  {plenvo::MODE_FIT, inf, 792, 1},
        {plenvo::MODE_FIT, 612, inf, 1},   {plenvo::MODE_FIT, nan, 792, 1}, {plenvo::MODE_PERCENT, 0, 0, 0},
        {plenvo::MODE_PERCENT, 0, 0, nan}, {plenvo::MODE_PERCENT, 0, 0, inf}, {plenvo::MODE_PERCENT, 0, 0, -0.5},
    };
    for (const auto &c : cases) {
        plenvo::set_error("left over");
        EXPECT_EQ(plenvo::scale_doc(&l.d, out.c_str(), c.mode, c.w, c.h, c.f), 0);
        EXPECT_STREQ(plenvo_last_error(), "invalid target dimensions") << c.mode << " " << c.w << " " << c.h << " " << c.f;
    }
    EXPECT_EQ(read_file(out), ORIGINAL);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"out.pdf"}));
}

TEST(WriterStartChecks, InfiniteSizesThroughTheExports) {
    std::string dir = temp_dir();
    std::string in = write_file(dir, "in.pdf", simple_pdf(1));
    std::string out = dir + "/out.pdf";
    EXPECT_EQ(plenvo_custom(in.c_str(), out.c_str(), INFINITY, 792.0f), 0);
    EXPECT_STREQ(plenvo_last_error(), "invalid target dimensions");
    EXPECT_EQ(plenvo_percent(in.c_str(), out.c_str(), INFINITY), 0);
    EXPECT_STREQ(plenvo_last_error(), "invalid target dimensions");
    EXPECT_FALSE(file_exists(out));
}

// ---- pages that cannot be written ----

TEST(WriterPageFailures, MissingPageObjectOrDegenerateBox) {
    loaded l(simple_pdf(2, "/MediaBox [0 0 612 792]"));
    ASSERT_EQ(l.d.pages.count, 2);
    std::string dir = temp_dir();
    std::string out = write_file(dir, "out.pdf", ORIGINAL);

    plenvo::pageinfo saved = l.d.pages.items[1];
    l.d.pages.items[1].objnum = 999;
    plenvo::set_error("cannot open earlier.pdf");
    EXPECT_EQ(plenvo::scale_doc(&l.d, out.c_str(), plenvo::MODE_FIT, 612, 792, 1.0), 0);
    EXPECT_STREQ(plenvo_last_error(), "failed to build output (damaged page tree or content)");
    l.d.pages.items[1] = saved;

    l.d.pages.items[0].llx = 700;  // upper-right corner left of the lower-left one
    EXPECT_EQ(plenvo::scale_doc(&l.d, out.c_str(), plenvo::MODE_FIT, 612, 792, 1.0), 0);
    EXPECT_STREQ(plenvo_last_error(), "failed to build output (damaged page tree or content)");

    EXPECT_EQ(read_file(out), ORIGINAL);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"out.pdf"}));
}

// A page that cannot be written is reported as such even when the output
// path cannot be written either, and whether the page comes before or after
// the first megabyte has been passed on to the file.
TEST(WriterPageFailures, BuildFailureTakesPrecedenceOverTheWrite) {
    // 400 pages of 8 KiB content each: the output passes 1 MiB early on.
    const int pages = 400;
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int k = 0; k < pages; ++k) kids += std::to_string(3 + 2 * k) + " 0 R ";
    b.add(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    std::string content;
    while (content.size() < 8 * 1024) content += "0 0 m 612 792 l S\n";
    for (int k = 0; k < pages; ++k) {
        b.add(3 + 2 * k, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
                             std::to_string(4 + 2 * k) + " 0 R >>");
        b.add_stream(4 + 2 * k, content);
    }
    loaded l(b.build());
    ASSERT_EQ(l.d.pages.count, pages);
    std::string dir = temp_dir();
    for (int bad : {0, pages - 1}) {
        plenvo::pageinfo saved = l.d.pages.items[bad];
        l.d.pages.items[bad].objnum = 999999;
        for (const std::string &out : {dir + "/missing/out.pdf", dir + "/out.pdf"}) {
            EXPECT_EQ(plenvo::scale_doc(&l.d, out.c_str(), plenvo::MODE_FIT, 612, 792, 1.0), 0);
            EXPECT_STREQ(plenvo_last_error(), "failed to build output (damaged page tree or content)") << out;
            EXPECT_EQ(names_in(dir), std::vector<std::string>{}) << out;
        }
        l.d.pages.items[bad] = saved;
    }
    // Without the damage the unwritable path is what is reported.
    std::string out = dir + "/missing/out.pdf";
    EXPECT_EQ(plenvo::scale_doc(&l.d, out.c_str(), plenvo::MODE_FIT, 612, 792, 1.0), 0);
    EXPECT_EQ(std::string(plenvo_last_error()), "cannot write " + out);
}

// ---- the file write ----

TEST(WriteFile, MissingDirectory) {
    std::string dir = temp_dir();
    std::string in = write_file(dir, "in.pdf", simple_pdf(1));
    std::string out = dir + "/no/such/dir/out.pdf";
    EXPECT_EQ(plenvo_to_size(in.c_str(), out.c_str(), 0), 0);
    EXPECT_EQ(std::string(plenvo_last_error()), "cannot write " + out);
    EXPECT_FALSE(file_exists(dir + "/no"));
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"in.pdf"}));
}

TEST(WriteFile, OutputIsADirectory) {
    std::string dir = temp_dir();
    std::string in = write_file(dir, "in.pdf", simple_pdf(1));
    fs::create_directory(dir + "/out.pdf");
    std::string out = dir + "/out.pdf";
    EXPECT_EQ(plenvo_to_size(in.c_str(), out.c_str(), 0), 0);
    EXPECT_EQ(std::string(plenvo_last_error()), "cannot write " + out);
    EXPECT_TRUE(fs::is_directory(out));
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"in.pdf", "out.pdf"}));
}

TEST(WriteFile, ReadOnlyOutputIsNotReplaced) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    std::string dir = temp_dir();
    std::string in = write_file(dir, "in.pdf", simple_pdf(1));
    std::string out = write_file(dir, "out.pdf", ORIGINAL);
    chmod(out.c_str(), 0444);
    EXPECT_EQ(plenvo_to_size(in.c_str(), out.c_str(), 0), 0);
    EXPECT_EQ(std::string(plenvo_last_error()), "cannot write " + out);
    EXPECT_EQ(read_file(out), ORIGINAL);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"in.pdf", "out.pdf"}));
}

TEST(WriteFile, SuccessEmptiesTheErrorTextAndReplacesTheOutput) {
    std::string dir = temp_dir();
    std::string in = write_file(dir, "in.pdf", simple_pdf(1));
    std::string out = write_file(dir, "out.pdf", ORIGINAL);
    EXPECT_EQ(plenvo_to_size(in.c_str(), (dir + "/missing/x.pdf").c_str(), 0), 0);
    EXPECT_STRNE(plenvo_last_error(), "");
    EXPECT_EQ(plenvo_to_size(in.c_str(), out.c_str(), 0), 1);
    EXPECT_STREQ(plenvo_last_error(), "");
    EXPECT_EQ(read_file(out).rfind("%PDF-1.4\n%", 0), 0u);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"in.pdf", "out.pdf"}));
}

TEST(WriteFile, InputMayBeTheOutput) {
    std::string dir = temp_dir();
    const std::string src = simple_pdf(3, "/MediaBox [0 0 400 400]");
    std::string path = write_file(dir, "doc.pdf", src);
    ASSERT_EQ(plenvo_percent(path.c_str(), path.c_str(), 50.0f), 1) << plenvo_last_error();
    std::string now = read_file(path);
    EXPECT_NE(now, src);
    EXPECT_NE(now.find("/MediaBox [0 0 200 200]"), std::string::npos);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"doc.pdf"}));
}

TEST(WriteFile, ExistingPermissionsKeptAndSymlinkWrittenThrough) {
    std::string dir = temp_dir();
    std::string in = write_file(dir, "in.pdf", simple_pdf(1));
    std::string target = write_file(dir, "target.pdf", ORIGINAL);
    chmod(target.c_str(), 0640);
    std::string link = dir + "/link.pdf";
    ASSERT_EQ(symlink("target.pdf", link.c_str()), 0);
    ASSERT_EQ(plenvo_to_size(in.c_str(), link.c_str(), 1), 1) << plenvo_last_error();
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(read_file(target).rfind("%PDF-1.4\n%", 0), 0u);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"in.pdf", "link.pdf", "target.pdf"}));
}

TEST(WriteFile, ShortWriteLeavesTheExistingOutputUntouched) {
    std::string dir = temp_dir();
    const std::string src = sizeable_pdf();
    std::string in = write_file(dir, "in.pdf", src);
    std::string out = write_file(dir, "out.pdf", ORIGINAL);
    child_result r = in_child([&] { return limited_percent(in, out, 4096); });
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.err, "short write to " + out);
    EXPECT_EQ(read_file(out), ORIGINAL);
    EXPECT_EQ(read_file(in), src);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"in.pdf", "out.pdf"}));
}

TEST(WriteFile, ShortWriteOverTheInputLeavesItUntouched) {
    std::string dir = temp_dir();
    const std::string src = sizeable_pdf();
    std::string path = write_file(dir, "doc.pdf", src);
    child_result r = in_child([&] { return limited_percent(path, path, 4096); });
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.err, "short write to " + path);
    EXPECT_EQ(read_file(path), src);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"doc.pdf"}));
    // The same call without the limit succeeds.
    EXPECT_EQ(plenvo_percent(path.c_str(), path.c_str(), 100.0f), 1) << plenvo_last_error();
}

TEST(WriteFile, ShortWriteToANewPathCreatesNothing) {
    std::string dir = temp_dir();
    std::string in = write_file(dir, "in.pdf", sizeable_pdf());
    std::string out = dir + "/new.pdf";
    child_result r = in_child([&] { return limited_percent(in, out, 1); });
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.err, "short write to " + out);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"in.pdf"}));
}

TEST(WriteFile, FailedFlushIsACloseError) {
    std::string dir = temp_dir();
    std::string in = write_file(dir, "in.pdf", simple_pdf(1));
    std::string out = write_file(dir, "out.pdf", ORIGINAL);
    g_fail_fsync = true;
    int rc = plenvo_to_size(in.c_str(), out.c_str(), 1);
    g_fail_fsync = false;
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(std::string(plenvo_last_error()), "close error on " + out);
    EXPECT_EQ(read_file(out), ORIGINAL);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"in.pdf", "out.pdf"}));
}

// Only a file that replaces another is flushed: a new one has nothing to lose.
TEST(WriteFile, NewOutputIsNotFlushed) {
    std::string dir = temp_dir();
    std::string in = write_file(dir, "in.pdf", simple_pdf(1));
    std::string out = dir + "/new.pdf";
    g_fail_fsync = true;
    int rc = plenvo_to_size(in.c_str(), out.c_str(), 1);
    g_fail_fsync = false;
    EXPECT_EQ(rc, 1) << plenvo_last_error();
    EXPECT_EQ(read_file(out).rfind("%PDF-1.4\n", 0), 0u);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"in.pdf", "new.pdf"}));
}

TEST(WriteFile, FailedRenameIsAWriteError) {
    std::string dir = temp_dir();
    std::string in = write_file(dir, "in.pdf", simple_pdf(1));
    std::string out = write_file(dir, "out.pdf", ORIGINAL);
    g_fail_rename = true;
    int rc = plenvo_to_size(in.c_str(), out.c_str(), 1);
    g_fail_rename = false;
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(std::string(plenvo_last_error()), "cannot write " + out);
    EXPECT_EQ(read_file(out), ORIGINAL);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"in.pdf", "out.pdf"}));
    EXPECT_EQ(plenvo_to_size(in.c_str(), out.c_str(), 1), 1) << plenvo_last_error();
    EXPECT_NE(read_file(out), ORIGINAL);
}

TEST(WriteFile, DirectCallsReportThePathGiven) {
    // Open, one write, commit: the steps of a build that writes len bytes.
    auto write_whole = [](const std::string &path, const uint8_t *data, uint64_t len) {
        plenvo::out_file f;
        plenvo::out_file_open(&f, path.c_str());
        plenvo::out_file_write(&f, data, len);
        return plenvo::out_file_commit(&f);
    };
    std::string dir = temp_dir();
    const uint8_t text[] = "abc";
    std::string path = dir + "/x/y.bin";
    EXPECT_EQ(write_whole(path, text, 3), 0);
    EXPECT_EQ(std::string(plenvo::g_err), "cannot write " + path);
    path = dir + "/y.bin";
    EXPECT_EQ(write_whole(path, text, 3), 1);
    EXPECT_EQ(read_file(path), "abc");
    EXPECT_EQ(write_whole(path, text, 0), 1);
    EXPECT_EQ(read_file(path), "");
    EXPECT_TRUE(file_exists(path));
}

// ---- memory ----

#if !defined(PLENVO_UNDER_ASAN)
namespace {
// Address space in use now, in bytes.
rlim_t address_space_now() {
    std::string statm = read_file("/proc/self/statm");
    return static_cast<rlim_t>(std::stoull(statm)) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
}

// In a child: gives the heap's free top back, then limits the address space
// to what is mapped now plus `extra` bytes. False when the limit cannot be set.
bool limit_address_space(rlim_t extra) {
    malloc_trim(0);
    const rlim_t lim = address_space_now() + extra;
    struct rlimit rl = {lim, lim};
    return setrlimit(RLIMIT_AS, &rl) == 0;
}
}  // namespace

// Under any limit on memory a call either succeeds or fails cleanly with
// one of the memory messages, never touching the existing output. Limits
// are swept in small steps so that both the first allocation of the output
// buffer and its growth are hit: a copied object is appended whole, so an
// object larger than the buffer makes it grow.
TEST(WriterMemory, EveryLimitGivesSuccessOrACleanFailure) {
    // Large blocks (the test's own included) come from mappings of their own
    // and go back when freed, and each child gives the heap's free top back:
    // whether the writer's blocks fit then depends on the limit, not on what
    // the process happens to hold free.
    mallopt(M_MMAP_THRESHOLD, 64 * 1024);
    // A copied image whose stored data alone fills more than the first 1 MiB.
    std::string image(1200 * 1024, ' ');
    for (size_t i = 0; i < image.size(); i += 64) image[i] = '\n';
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 5 0 R"
             " /Resources << /XObject << /Im0 4 0 R >> >> >>");
    b.add_stream(4, image, "/Type /XObject /Subtype /Image /Width 1 /Height 1 /BitsPerComponent 8"
                           " /ColorSpace /DeviceGray");
    b.add_stream(5, "q /Im0 Do Q\n");
    std::string dir = temp_dir();
    std::string out = write_file(dir, "out.pdf", ORIGINAL);
    loaded l(b.build());
    int no_memory = 0, no_growth = 0, success = 0;
    for (rlim_t extra = 0; extra <= 8u * 1024 * 1024; extra += 128 * 1024) {
        child_result r = in_child([&] {
            if (!limit_address_space(extra)) return 7;
            return plenvo::scale_doc(&l.d, out.c_str(), plenvo::MODE_FIT, 612, 792, 1.0);
        });
        if (r.rc == 1) {
            EXPECT_EQ(r.err, "");
            ++success;
            break;  // the output has been replaced: larger limits add nothing
        }
        EXPECT_EQ(r.rc, 0) << extra;
        if (r.err == "out of memory") {
            ++no_memory;
        } else if (r.err == "failed to build output") {
            ++no_growth;
        } else {
            ADD_FAILURE() << "limit +" << extra << ": " << r.err;
        }
        EXPECT_EQ(read_file(out), ORIGINAL) << extra;
        EXPECT_EQ(names_in(dir), (std::vector<std::string>{"out.pdf"})) << extra;
    }
    (void)no_memory;  // depends on how much free heap the process already holds
    EXPECT_GT(no_growth, 0);
    EXPECT_EQ(success, 1);
}

// The number map has one slot per object number up to the largest one: a
// document using number 8,388,607 needs tens of megabytes for it.
TEST(WriterMemory, NumberMapThatDoesNotFit) {
    pdf_builder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 8388607 0 R >> >> >>");
    b.add(8388607, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    b.write_xref = false;
    std::string dir = temp_dir();
    std::string out = write_file(dir, "out.pdf", ORIGINAL);
    loaded l(b.build());
    child_result r = in_child([&] {
        rlim_t lim = address_space_now() + 4u * 1024 * 1024;
        struct rlimit rl = {lim, lim};
        if (setrlimit(RLIMIT_AS, &rl) != 0) return 7;
        return plenvo::scale_doc(&l.d, out.c_str(), plenvo::MODE_FIT, 612, 792, 1.0);
    });
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.err, "out of memory");
    EXPECT_EQ(read_file(out), ORIGINAL);
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"out.pdf"}));
    // Without the limit the same document is written, its font renumbered to 6.
    ASSERT_EQ(plenvo::scale_doc(&l.d, out.c_str(), plenvo::MODE_FIT, 612, 792, 1.0), 1) << plenvo::g_err;
    EXPECT_NE(read_file(out).find("/F1 6 0 R"), std::string::npos);
}

// A load under any limit on memory either lists every page or fails with
// "out of memory": a page list that cannot grow never drops pages quietly.
TEST(LoadMemory, EveryLimitGivesAllPagesOrOutOfMemory) {
    mallopt(M_MMAP_THRESHOLD, 64 * 1024);
    const std::string pdf = plenvo_test::simple_pdf(30000);
    int complete = 0, no_memory = 0;
    for (rlim_t extra = 0; extra <= 24u * 1024 * 1024; extra += 256 * 1024) {
        child_result r = in_child([&] {
            if (!limit_address_space(extra)) return 7;
            plenvo::doc d{};
            const int rc = plenvo::doc_load_bytes(reinterpret_cast<const uint8_t *>(pdf.data()), pdf.size(),
                                                  "in.pdf", &d);
            const int pages = d.pages.count;
            plenvo::doc_free(&d);
            if (rc == 0) return pages == 30000 ? 1 : 2;
            return 0;
        });
        if (r.rc == 1) {
            ++complete;
            continue;
        }
        ASSERT_EQ(r.rc, 0) << "limit +" << extra << ": a load without every page";
        EXPECT_TRUE(r.err == "out of memory" || r.err == "read error on in.pdf") << extra << ": " << r.err;
        ++no_memory;
    }
    EXPECT_GT(complete, 0);
    EXPECT_GT(no_memory, 0);
}
#endif
