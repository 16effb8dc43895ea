// The load sequence, the document record and its growable arrays.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "base/error.h"
#include "reader/doc.h"
#include "support/pdf_builder.h"

using namespace plenvo;
using namespace plenvo_test;

TEST(Growth, ObjvecStartsAt128ThenDoubles) {
    objvec v{};
    objent e{};
    for (int i = 1; i <= 128; ++i) {
        e.num = i;
        objvec_push(&v, &e);
    }
    EXPECT_EQ(v.cap, 128);
    e.num = 129;
    objvec_push(&v, &e);
    EXPECT_EQ(v.cap, 256);
    EXPECT_EQ(v.count, 129);
    EXPECT_EQ(v.items[128].num, 129);
    EXPECT_EQ(v.items[0].num, 1);
    std::free(v.items);
}

TEST(Growth, PagevecStartsAt64ThenDoubles) {
    pagevec v{};
    pageinfo p{};
    for (int i = 1; i <= 64; ++i) {
        p.objnum = i;
        pagevec_push(&v, &p);
    }
    EXPECT_EQ(v.cap, 64);
    pagevec_push(&v, &p);
    EXPECT_EQ(v.cap, 128);
    EXPECT_EQ(v.count, 65);
    std::free(v.items);
}

TEST(Growth, ArenaListStartsAt4ThenDoubles) {
    arena a{};
    for (int i = 0; i < 4; ++i) ASSERT_NE(arena_alloc(&a, 16), nullptr);
    EXPECT_EQ(a.cap, 4);
    void *fifth = arena_alloc(&a, 16);
    ASSERT_NE(fifth, nullptr);
    EXPECT_EQ(a.cap, 8);
    EXPECT_EQ(a.count, 5);
    arena_release_last(&a, a.blocks[0]);  // not the last block: ignored
    EXPECT_EQ(a.count, 5);
    arena_release_last(&a, fifth);
    EXPECT_EQ(a.count, 4);
    EXPECT_EQ(arena_alloc(&a, 0), nullptr);
    EXPECT_EQ(a.count, 4);
    doc d{};
    d.arena = a;
    doc_free(&d);
}

TEST(DocFree, IdempotentAndZeroes) {
    doc d;
    std::memset(&d, 0x55, sizeof d);
    d.data = static_cast<uint8_t *>(std::malloc(10));
    d.objs = {};
    d.pages = {};
    d.arena = {};
    d.index = nullptr;
    doc_free(&d);
    doc zero{};
    EXPECT_EQ(std::memcmp(&d, &zero, sizeof d), 0);
    doc_free(&d);
    EXPECT_EQ(std::memcmp(&d, &zero, sizeof d), 0);
}

TEST(DocLoad, FailuresLeaveNothingOwned) {
    doc d;
    EXPECT_EQ(doc_load(nullptr, &d), -1);
    EXPECT_STREQ(g_err, "NULL path argument");
    EXPECT_EQ(d.root, -1);
    EXPECT_EQ(d.catalog, -1);
    EXPECT_EQ(d.data, nullptr);
    std::string dir = temp_dir();
    std::string only = write_file(dir, "only.pdf", "%PDF-1.4");
    EXPECT_EQ(doc_load(only.c_str(), &d), -1);
    EXPECT_EQ(std::string(g_err), "no PDF objects found \xE2\x80\x94 not a PDF: " + only);
    EXPECT_EQ(d.data, nullptr);
    EXPECT_EQ(d.objs.items, nullptr);
    std::string empty = write_file(dir, "e.pdf", "");
    EXPECT_EQ(doc_load(empty.c_str(), &d), -1);
    EXPECT_EQ(std::string(g_err), "empty input file: " + empty);
    EXPECT_EQ(d.len, 0);
}

TEST(DocLoad, RefusesFilesOf2GiBOrMore) {
    std::string dir = temp_dir();
    std::string path = dir + "/big.pdf";
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    // A sparse file: no disk space is used.
    if (::ftruncate(fd, 0x80000000LL) != 0) {
        ::close(fd);
        GTEST_SKIP() << "file system refuses a 2 GiB sparse file";
    }
    ::close(fd);
    doc d;
    EXPECT_EQ(doc_load(path.c_str(), &d), -1);
    EXPECT_EQ(std::string(g_err), "input file too large (2 GiB or more): " + path);
    EXPECT_EQ(d.data, nullptr);
}

TEST(DocLoad, LoadsFromMemoryAndFreesOnFailure) {
    doc d;
    std::string junk = "no objects here";
    EXPECT_EQ(doc_load_bytes(reinterpret_cast<const uint8_t *>(junk.data()), junk.size(), "mem", &d), -1);
    EXPECT_STREQ(g_err, "no PDF objects found \xE2\x80\x94 not a PDF: mem");
    EXPECT_EQ(d.data, nullptr);
}
