// Building blocks of the package tables: slot constructors for the parsed
// argument specs and record constructors that keep each table entry on one line.
#pragma once

#include <span>
#include <string_view>

#include "knowledge/argspec.hpp"
#include "knowledge/packages.hpp"

namespace quorvel::knowledge::builtin {

// A spec text together with its parsed slots; records copy both halves.
struct BuiltinArgs {
    std::span<const ArgSpec> slots;
    std::string_view text;
};

using Kind = ArgValueKind;
using Tags = std::span<const std::string_view>;

inline constexpr Tags NO_TAGS{};

// Slot constructors, named after the argspec letters they stand for.
constexpr ArgSpec mandatory(Kind kind = Kind::MathContent, bool nullable = false) {
    return {ArgForm{ArgFormKind::Standard}, true, false, nullable, kind};
}
constexpr ArgSpec optional(Kind kind = Kind::MathContent) {
    return {ArgForm{ArgFormKind::Standard}, false, false, false, kind};
}
constexpr ArgSpec braced(Kind kind = Kind::MathContent, bool nullable = false) {
    return {ArgForm{ArgFormKind::Group}, true, false, nullable, kind};
}
constexpr ArgSpec optional_braced() { return {ArgForm{ArgFormKind::Group}, false, false, false, Kind::MathContent}; }
constexpr ArgSpec star() { return {ArgForm{ArgFormKind::Star}, false, false, false, Kind::Star}; }
constexpr ArgSpec optional_paired(std::span<const DelimiterPair> pairs) {
    return {ArgForm{ArgFormKind::Paired, {}, {}, pairs}, false, false, false, Kind::MathContent};
}
// The `!` prefix.
constexpr ArgSpec no_space(ArgSpec slot) {
    slot.no_leading_space = true;
    return slot;
}

constexpr DelimiterPair pair(char32_t open, char32_t close) {
    return {DelimiterToken::character(open), DelimiterToken::character(close)};
}

constexpr BuiltinCommandSpec prefix(const BuiltinArgs& args, std::string_view name, Tags tags = NO_TAGS,
                                    AllowedMode mode = AllowedMode::Math) {
    return {args.slots, args.text, name, tags, CommandKind::Prefix, mode};
}
constexpr BuiltinCommandSpec infix(const BuiltinArgs& args, std::string_view name, Tags tags = NO_TAGS) {
    return {args.slots, args.text, name, tags, CommandKind::Infix, AllowedMode::Math};
}
constexpr BuiltinCommandSpec declarative(const BuiltinArgs& args, std::string_view name, Tags tags = NO_TAGS,
                                         AllowedMode mode = AllowedMode::Math) {
    return {args.slots, args.text, name, tags, CommandKind::Declarative, mode};
}
// Every built-in environment is math-only with a math body.
constexpr BuiltinEnvironmentSpec environment(const BuiltinArgs& args, std::string_view name, Tags tags = NO_TAGS) {
    return {args.slots, args.text, name, tags, AllowedMode::Math, syntax::ContentMode::Math};
}

inline constexpr BuiltinCharacterAttributes NO_VARIANT{};
inline constexpr BuiltinCharacterAttributes MV_NORMAL{"normal"};
inline constexpr BuiltinCharacterAttributes MV_ITALIC{"italic"};
inline constexpr BuiltinCharacterAttributes MV_BOLD{"bold"};
inline constexpr BuiltinCharacterAttributes MV_DOUBLE_STRUCK{"double-struck"};
inline constexpr BuiltinCharacterAttributes MV_BBOLDX{"-bboldx"};
inline constexpr BuiltinCharacterAttributes MV_BBOLDX_BOLD{"-bboldx-bold"};

constexpr BuiltinCharacterSpec math_char(std::string_view name, std::string_view text,
                                         BuiltinCharacterAttributes attributes = NO_VARIANT) {
    return {name, text, attributes, AllowedMode::Math};
}
constexpr BuiltinCharacterSpec text_char(std::string_view name, std::string_view text,
                                         BuiltinCharacterAttributes attributes = NO_VARIANT) {
    return {name, text, attributes, AllowedMode::Text};
}

// Every built-in delimiter is math-only and sets no attributes.
constexpr BuiltinDelimiterSpec bare_delimiter(std::string_view name, std::string_view text) {
    return {name, text, NO_VARIANT, AllowedMode::Math, false};
}
constexpr BuiltinDelimiterSpec control_delimiter(std::string_view name, std::string_view text) {
    return {name, text, NO_VARIANT, AllowedMode::Math, true};
}

}  // namespace quorvel::knowledge::builtin
