#pragma once
// UTF-8 decoding and encoding shared by the lexer, the serializer and the
// records: one definition of well-formed text.

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel::util::utf8 {

// Decodes one well-formed UTF-8 sequence at p (avail > 0 bytes readable). Returns its
// length and stores the scalar value, or returns 0 for an ill-formed sequence
// (stray continuation, overlong form, surrogate, value above U+10FFFF, truncation).
inline std::size_t decode(const unsigned char* p, std::size_t avail, char32_t& out) {
    const unsigned char b0 = p[0];
    if (b0 < 0x80) {
        out = b0;
        return 1;
    }
    auto cont = [&](std::size_t i) { return i < avail && (p[i] & 0xC0) == 0x80; };
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        if (!cont(1)) return 0;
        out = (char32_t(b0 & 0x1F) << 6) | (p[1] & 0x3F);
        return 2;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (!cont(1) || !cont(2)) return 0;
        if (b0 == 0xE0 && p[1] < 0xA0) return 0;  // overlong
        if (b0 == 0xED && p[1] >= 0xA0) return 0;  // surrogate
        out = (char32_t(b0 & 0x0F) << 12) | (char32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) return 0;
        if (b0 == 0xF0 && p[1] < 0x90) return 0;   // overlong
        if (b0 == 0xF4 && p[1] >= 0x90) return 0;  // above U+10FFFF
        out = (char32_t(b0 & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) | (char32_t(p[2] & 0x3F) << 6) |
              (p[3] & 0x3F);
        return 4;
    }
    return 0;
}

// Appends the UTF-8 form of a scalar value; anything that is not one becomes U+FFFD.
inline void append(std::string& out, char32_t c) {
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c <= 0x10FFFF) {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        append(out, 0xFFFD);
    }
}

// Decodes the code point at `i` and advances past it; an ill-formed byte
// decodes as U+FFFD and is skipped alone. For texts that are quoted, not lexed.
inline char32_t decode_lossy(std::string_view s, std::size_t& i) {
    char32_t c = 0;
    const std::size_t n = decode(reinterpret_cast<const unsigned char*>(s.data()) + i, s.size() - i, c);
    i += n == 0 ? 1 : n;
    return n == 0 ? 0xFFFD : c;
}

}  // namespace quorvel::util::utf8
