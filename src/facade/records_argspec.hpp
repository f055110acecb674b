// The argument-spec description records: how a spec string was understood,
// slot by slot, as `validate_argspec` and the lookup records show it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "knowledge/argspec.hpp"
#include "syntax/content_mode.hpp"

namespace quorvel::facade {

// Written as {"type": "char" | "control-seq", "value": ...}.
struct DelimiterTokenInfo {
    enum class Type : std::uint8_t { Char, ControlSeq };
    Type type = Type::Char;
    std::string value;  // the character as UTF-8, or the name without its backslash

    friend bool operator==(const DelimiterTokenInfo&, const DelimiterTokenInfo&) = default;
};

struct DelimiterTokenPairInfo {
    DelimiterTokenInfo open;
    DelimiterTokenInfo close;

    friend bool operator==(const DelimiterTokenPairInfo&, const DelimiterTokenPairInfo&) = default;
};

// The value kind of a slot; math and text content share `Content` and differ
// in `mode` alone.
struct ArgSpecKindInfo {
    enum class Type : std::uint8_t {
        Content,
        OperatorName,
        Delimiter,
        CsName,
        Dimension,
        Integer,
        KeyVal,
        Column,
        Star,
    };
    Type type = Type::Content;
    syntax::ContentMode mode = syntax::ContentMode::Math;  // Content only

    friend bool operator==(const ArgSpecKindInfo&, const ArgSpecKindInfo&) = default;
};

// "content", "operatorname", "delimiter", "csname", "dimension", "integer",
// "keyval", "column", "star".
std::string_view type_name(ArgSpecKindInfo::Type type) noexcept;

struct ArgSpecFormInfo {
    enum class Type : std::uint8_t { Standard, Star, Group, Delimited, Paired };
    Type type = Type::Standard;
    DelimiterTokenInfo open;                    // Delimited only
    DelimiterTokenInfo close;                   // Delimited only
    std::vector<DelimiterTokenPairInfo> pairs;  // Paired only

    friend bool operator==(const ArgSpecFormInfo&, const ArgSpecFormInfo&) = default;
};

// "standard", "star", "group", "delimited", "paired".
std::string_view type_name(ArgSpecFormInfo::Type type) noexcept;

// "char", "control-seq".
std::string_view type_name(DelimiterTokenInfo::Type type) noexcept;

struct ParsedArgSpecSlot {
    bool required = false;
    bool no_leading_space = false;
    bool nullable = false;
    ArgSpecKindInfo kind;
    ArgSpecFormInfo form;

    friend bool operator==(const ParsedArgSpecSlot&, const ParsedArgSpecSlot&) = default;
};

// Either valid with `arg_count` and `parsed`, or invalid with `error`; the
// other fields are absent.
struct ValidateArgspecResult {
    bool valid = false;
    std::optional<std::string> error;
    std::optional<std::size_t> arg_count;
    std::optional<std::vector<ParsedArgSpecSlot>> parsed;
};

ParsedArgSpecSlot parsed_arg_spec_slot(const knowledge::ArgSpec& spec);

std::vector<ParsedArgSpecSlot> parsed_arg_spec_slots(std::span<const knowledge::ArgSpec> specs);

// Parses with the context "validate_argspec"; a refused spec is a result, not
// a failure.
ValidateArgspecResult validate_argspec(std::string_view spec);

}  // namespace quorvel::facade
