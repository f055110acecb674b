// Output choices of the serializer and the token records of its tokenized form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "syntax/content_mode.hpp"

namespace quorvel::syntax {

// Each option is one byte; a value's number is its position in the list of
// external names below.
enum class CommandSpacing : std::uint8_t { Spaced, Minimal };
enum class MathGroupInnerSpacing : std::uint8_t { Padded, Compact };
enum class AdjacentCharSpacing : std::uint8_t { Spaced, Compact };
enum class ScriptSpacing : std::uint8_t { Spaced, Compact };
enum class ScriptOrder : std::uint8_t { SubFirst, SupFirst };
enum class InfixGrouping : std::uint8_t { AlwaysExplicit, WhenRequired };
enum class EnvironmentNameSpacing : std::uint8_t { Spaced, Compact };

struct SerializeOptions {
    CommandSpacing command_spacing = CommandSpacing::Spaced;
    MathGroupInnerSpacing group_inner_spacing = MathGroupInnerSpacing::Padded;
    AdjacentCharSpacing adjacent_char_spacing = AdjacentCharSpacing::Spaced;
    ScriptSpacing script_spacing = ScriptSpacing::Spaced;
    ScriptOrder script_order = ScriptOrder::SubFirst;
    // The one option whose default is not its first value.
    InfixGrouping infix_grouping = InfixGrouping::WhenRequired;
    EnvironmentNameSpacing environment_name_spacing = EnvironmentNameSpacing::Spaced;

    bool operator==(const SerializeOptions&) const = default;
};

namespace serialize_detail {

template <class E>
struct OptionNames;
template <>
struct OptionNames<CommandSpacing> {
    static constexpr std::string_view names[2] = {"spaced", "minimal"};
};
template <>
struct OptionNames<MathGroupInnerSpacing> {
    static constexpr std::string_view names[2] = {"padded", "compact"};
};
template <>
struct OptionNames<AdjacentCharSpacing> {
    static constexpr std::string_view names[2] = {"spaced", "compact"};
};
template <>
struct OptionNames<ScriptSpacing> {
    static constexpr std::string_view names[2] = {"spaced", "compact"};
};
template <>
struct OptionNames<ScriptOrder> {
    static constexpr std::string_view names[2] = {"sub_first", "sup_first"};
};
template <>
struct OptionNames<InfixGrouping> {
    static constexpr std::string_view names[2] = {"always_explicit", "when_required"};
};
template <>
struct OptionNames<EnvironmentNameSpacing> {
    static constexpr std::string_view names[2] = {"spaced", "compact"};
};

}  // namespace serialize_detail

// The external spelling of an option value ("spaced", "sub_first", ...).
template <class E>
constexpr std::string_view option_value_name(E value) {
    return serialize_detail::OptionNames<E>::names[static_cast<std::size_t>(value)];
}

// The option value spelled `name`, byte for byte; none for any other text.
template <class E>
constexpr std::optional<E> option_value_from_name(std::string_view name) {
    const auto& names = serialize_detail::OptionNames<E>::names;
    for (std::size_t i = 0; i < 2; ++i) {
        if (names[i] == name) return static_cast<E>(i);
    }
    return std::nullopt;
}

enum class SerializationTokenKind : std::uint8_t {
    ControlSequence,
    Character,
    Delimiter,
    Text,
    Raw,
    Error,
};

constexpr std::string_view token_kind_name(SerializationTokenKind kind) {
    constexpr std::string_view names[] = {"control_sequence", "character", "delimiter",
                                          "text",             "raw",       "error"};
    return names[static_cast<std::size_t>(kind)];
}

// One written token: `text` is the output between `start` and `end` (bytes).
struct SerializationToken {
    std::string text;
    std::size_t start = 0;
    std::size_t end = 0;
    SerializationTokenKind kind = SerializationTokenKind::Character;
    ContentMode mode = ContentMode::Math;

    bool operator==(const SerializationToken&) const = default;
};

}  // namespace quorvel::syntax
