#include "support/encoders.h"

#include <cstdlib>
#include <map>
#include <utility>

namespace plenvo_test {

// A plain LZW encoder, written from the format's definition. The decoder
// widens its codes once its table size plus EarlyChange reaches 2^width; the
// encoder's table runs one entry ahead of the decoder's while data flows (the
// decoder adds an entry only on the code after), and level with it at the end.
std::vector<uint8_t> lzw_encode(const std::string &in, int early) {
    std::vector<uint8_t> out;
    uint32_t acc = 0;
    int nbits = 0;
    int width = 9;
    auto put = [&](unsigned code) {
        acc = (acc << width) | code;
        nbits += width;
        while (nbits >= 8) {
            out.push_back(static_cast<uint8_t>(acc >> (nbits - 8)));
            nbits -= 8;
        }
    };
    std::map<std::pair<int, uint8_t>, int> table;
    unsigned next = 258;
    put(256);
    int w = -1;
    for (unsigned char c : in) {
        if (w < 0) {
            w = c;
            continue;
        }
        auto it = table.find({w, c});
        if (it != table.end()) {
            w = it->second;
            continue;
        }
        put(static_cast<unsigned>(w));
        table[{w, c}] = static_cast<int>(next++);
        if (next + unsigned(early) > (1u << width) && width < 12) ++width;
        if (next == 4094) {  // restart before the table fills
            put(256);
            table.clear();
            next = 258;
            width = 9;
        }
        w = c;
    }
    if (w >= 0) put(static_cast<unsigned>(w));
    // the decoder has caught up with the encoder's table when it reads the end code
    if (w >= 0 && next + unsigned(early) >= (1u << width) && width < 12) ++width;
    put(257);
    if (nbits > 0) out.push_back(static_cast<uint8_t>(acc << (8 - nbits)));
    return out;
}

std::string ascii85_encode(const std::string &in) {
    std::string out;
    size_t i = 0;
    for (; i + 4 <= in.size(); i += 4) {
        uint32_t v = uint32_t(uint8_t(in[i])) << 24 | uint32_t(uint8_t(in[i + 1])) << 16 |
                     uint32_t(uint8_t(in[i + 2])) << 8 | uint8_t(in[i + 3]);
        if (v == 0) {
            out += 'z';
            continue;
        }
        char g[5];
        for (int k = 4; k >= 0; --k) {
            g[k] = static_cast<char>('!' + v % 85);
            v /= 85;
        }
        out.append(g, 5);
    }
    if (i < in.size()) {
        const size_t r = in.size() - i;
        uint32_t v = 0;
        for (size_t k = 0; k < 4; ++k) v = v << 8 | (k < r ? uint8_t(in[i + k]) : 0);
        char g[5];
        for (int k = 4; k >= 0; --k) {
            g[k] = static_cast<char>('!' + v % 85);
            v /= 85;
        }
        out.append(g, r + 1);
    }
    return out + "~>";
}

std::string hex_encode(const std::string &in) {
    static const char *digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : in) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out + ">";
}

// PNG row filters applied to raw rows, from the PNG definitions.
std::string png_encode(const std::string &raw, size_t row_bytes, size_t bpp, int type) {
    std::string out;
    for (size_t r = 0; r * row_bytes < raw.size(); ++r) {
        out += static_cast<char>(type);
        for (size_t i = 0; i < row_bytes; ++i) {
            const int x = uint8_t(raw[r * row_bytes + i]);
            const int a = i >= bpp ? uint8_t(raw[r * row_bytes + i - bpp]) : 0;
            const int b = r ? uint8_t(raw[(r - 1) * row_bytes + i]) : 0;
            const int c = r && i >= bpp ? uint8_t(raw[(r - 1) * row_bytes + i - bpp]) : 0;
            int pred = 0;
            if (type == 1) pred = a;
            if (type == 2) pred = b;
            if (type == 3) pred = (a + b) / 2;
            if (type == 4) {
                const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                pred = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            }
            out += static_cast<char>(x - pred);
        }
    }
    return out;
}

std::string run_length_encode(const std::string &in) {
    std::string out;
    size_t i = 0;
    while (i < in.size()) {
        size_t j = i;
        while (j + 1 < in.size() && in[j + 1] == in[i] && j - i < 127) ++j;
        if (j > i) {
            out += static_cast<char>(257 - (j - i + 1));
            out += in[i];
            i = j + 1;
            continue;
        }
        size_t k = i;
        while (k < in.size() && k - i < 128 && !(k + 1 < in.size() && in[k + 1] == in[k])) ++k;
        out += static_cast<char>(k - i - 1);
        out.append(in, i, k - i);
        i = k;
    }
    return out + '\x80';
}

}  // namespace plenvo_test
