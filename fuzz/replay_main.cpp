// Runs a fuzz target over files and directories given on the command line, so
// that the ordinary test run replays every seed and every past finding.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

static void run_one(const fs::path &p, int *count) {
    std::ifstream f(p, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++*count;
}

int main(int argc, char **argv) {
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        fs::path p(argv[i]);
        std::error_code ec;
        if (fs::is_directory(p, ec)) {
            std::vector<fs::path> files;
            for (const auto &e : fs::recursive_directory_iterator(p))
                if (e.is_regular_file()) files.push_back(e.path());
            std::sort(files.begin(), files.end());
            for (const auto &f : files) run_one(f, &count);
        } else if (fs::is_regular_file(p, ec)) {
            run_one(p, &count);
        }
    }
    std::printf("replayed %d inputs\n", count);
    return 0;
}
