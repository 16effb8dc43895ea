// A document loaded from bytes for a test and freed when the test ends.
#pragma once

#include <cstdint>
#include <string>

#include "reader/doc.h"

namespace plenvo_test {

// rc is doc_load_bytes' result; d is freed by the destructor either way.
struct loaded_doc {
    plenvo::doc d{};
    int rc;
    explicit loaded_doc(const std::string &bytes, const char *name = "test.pdf")
        : rc(plenvo::doc_load_bytes(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), name, &d)) {}
    ~loaded_doc() { plenvo::doc_free(&d); }
    loaded_doc(const loaded_doc &) = delete;
    loaded_doc &operator=(const loaded_doc &) = delete;
};

}  // namespace plenvo_test
