// Fuzz target for the Flate decoder. Input: one flags byte, two capacity
// bytes, then the zlib stream (flags bit 0 puts the header 78 9C in front of
// it, so the fuzzer need not find one). Checks that the decoder stays inside
// its buffers (AddressSanitizer), never reports more bytes than the capacity,
// agrees exactly with the bit-at-a-time reference decoder, and, when zlib
// accepts the whole stream, gives zlib's bytes (or lack of room when they do
// not fit).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../tests/inflate_reference.h"
#include "inflate/inflate.h"

#if defined(PLENVO_HAVE_ZLIB)
#include <zlib.h>
#endif

namespace {

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "fuzz_inflate: %s\n", what);
    std::abort();
}

#if defined(PLENVO_HAVE_ZLIB)
// zlib's whole output when it decodes the stream to its end (trailer
// included) within `limit` bytes.
bool zlib_decode(const std::string &src, size_t limit, std::vector<uint8_t> *out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    out->assign(4096, 0);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(src.data()));
    z.avail_in = uInt(src.size());
    int r;
    for (;;) {
        z.next_out = out->data() + z.total_out;
        z.avail_out = uInt(out->size() - z.total_out);
        r = inflate(&z, Z_NO_FLUSH);
        if (r != Z_OK || z.avail_out != 0 || out->size() >= limit) break;
        out->resize(out->size() * 2);
    }
    out->resize(z.total_out);
    inflateEnd(&z);
    return r == Z_STREAM_END;
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3) return 0;
    const uint8_t flags = data[0];
    size_t cap = size_t(data[1]) | (size_t(data[2]) << 8);
    if (flags & 2) cap *= 16;  // up to about 1 MiB
    std::string src;
    if (flags & 1) src = "\x78\x9C";
    src.append(reinterpret_cast<const char *>(data + 3), size - 3);

    // Exactly cap bytes, so that any write past them is caught.
    std::unique_ptr<uint8_t[]> dst(new uint8_t[cap]);
    size_t produced = 777;
    plenvo::inflate_why why = plenvo::INFLATE_DONE;
    const int ret = plenvo::inflate_decompress_ex(reinterpret_cast<const uint8_t *>(src.data()),
                                                  src.size(), dst.get(), cap, &produced, &why);
    if (ret != 0 && ret != -1) fail("result other than 0 or -1");
    if (produced > cap) fail("produced count above the capacity");
    if (ret == -1 && produced != 0) fail("failure with a non-zero produced count");
    if (ret == 0 && why != plenvo::INFLATE_DONE) fail("success with a failure reason");

    size_t plain = 999;
    if (plenvo::inflate_decompress(reinterpret_cast<const uint8_t *>(src.data()), src.size(),
                                   dst.get(), cap, &plain) != ret ||
        plain != produced)
        fail("inflate_decompress and inflate_decompress_ex disagree");

    const plenvo_test::inflate_result want = plenvo_test::reference_inflate(src, cap);
    if (want.ret != ret || want.produced != produced ||
        (ret == -1 && want.no_room != (why == plenvo::INFLATE_NO_ROOM)))
        fail("result differs from the reference decoder");
    if (ret == 0 && produced > 0 && std::memcmp(want.out.data(), dst.get(), produced) != 0)
        fail("bytes differ from the reference decoder");

#if defined(PLENVO_HAVE_ZLIB)
    std::vector<uint8_t> z;
    if (zlib_decode(src, size_t(8) << 20, &z)) {
        if (z.size() <= cap) {
            if (ret != 0 || produced != z.size() ||
                (produced > 0 && std::memcmp(z.data(), dst.get(), produced) != 0))
                fail("zlib decodes the stream but the output differs");
        } else if (ret != -1 || why != plenvo::INFLATE_NO_ROOM) {
            fail("zlib's output does not fit but the decoder did not say so");
        }
    }
#endif
    return 0;
}
