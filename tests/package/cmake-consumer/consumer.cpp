// The C++ side of the consumer: the header's declarations link from C++.
#include <plenvo.h>

#include <cstdio>
#include <string>

int main() {
    if (plenvo_init() != 1) return 1;
    if (plenvo_custom("in.pdf", "out.pdf", 0.0f, 842.0f) != 0) return 1;
    std::string message = plenvo_last_error();
    if (message != "width_pt and height_pt must both be > 0 (got 0 x 842)") {
        std::fprintf(stderr, "unexpected message: %s\n", message.c_str());
        return 1;
    }
    std::puts("consumer ok");
    return 0;
}
