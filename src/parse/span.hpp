#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace quorvel::parse {

// A byte range [start, end) in a UTF-8 source. A span may be inverted (end < start):
// a span taken between two tokens that a comment separates starts after the comment
// and ends before it. Nothing here reorders or clamps it.
struct Span {
    std::size_t start = 0;
    std::size_t end = 0;

    friend constexpr bool operator==(const Span&, const Span&) = default;

    constexpr bool is_inverted() const { return end < start; }
    // Number of bytes covered; 0 for an empty or inverted span.
    constexpr std::size_t length() const { return end > start ? end - start : 0; }
    constexpr Span shifted(std::size_t delta) const { return {start + delta, end + delta}; }
};

// True when `offset` is the source length or does not point into the middle of a
// UTF-8 sequence (the byte there is not a continuation byte).
constexpr bool is_char_boundary(std::string_view source, std::size_t offset) {
    if (offset == source.size()) return true;
    if (offset > source.size()) return false;
    return (static_cast<unsigned char>(source[offset]) & 0xC0) != 0x80;
}

// The one checked way to cut a span out of a source: nothing when the span is
// inverted or reaches past the end of the source.
constexpr std::optional<std::string_view> slice(std::string_view source, Span span) {
    if (span.is_inverted() || span.end > source.size()) return std::nullopt;
    return source.substr(span.start, span.end - span.start);
}

// As `slice`, and both ends must fall on character boundaries.
constexpr std::optional<std::string_view> slice_chars(std::string_view source, Span span) {
    if (!is_char_boundary(source, span.start) || !is_char_boundary(source, span.end)) return std::nullopt;
    return slice(source, span);
}

}  // namespace quorvel::parse
