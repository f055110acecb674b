#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvel::syntax {

// The two content modes of LaTeX math source.
enum class ContentMode : std::uint8_t { Math, Text };

constexpr ContentMode other_mode(ContentMode mode) {
    return mode == ContentMode::Math ? ContentMode::Text : ContentMode::Math;
}

constexpr std::string_view content_mode_name(ContentMode mode) {
    return mode == ContentMode::Math ? "math" : "text";
}

constexpr std::optional<ContentMode> content_mode_from_name(std::string_view name) {
    if (name == "math") return ContentMode::Math;
    if (name == "text") return ContentMode::Text;
    return std::nullopt;
}

}  // namespace quorvel::syntax
