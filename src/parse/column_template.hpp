#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace quorvel::parse {

enum class ColumnParseErrorKind : std::uint8_t {
    TooManyItems,
    IllegalSpecifier,
    MissingDimension,
    MissingArgument,
    MissingCloseBrace,
    StarCountNotNumber,
};

// Why a column template was refused; `specifier` is the specifier character the
// message names (unused by the kinds whose message names none).
struct ColumnParseError {
    ColumnParseErrorKind kind;
    char32_t specifier = 0;

    friend bool operator==(const ColumnParseError&, const ColumnParseError&) = default;

    std::string display() const;
};

// What an accepted template declares. Callers only test for acceptance, so the run
// keeps no per-column material, widths or alignments: they cannot change the outcome
// and would grow with items times argument length.
struct ColumnSpec {
    std::uint64_t columns = 0;
};

// Runs a column template (the argument of an array-like environment) through the
// column state machine of the LaTeX array package and its extensions: l c r p m b w W
// P M B * | : > < @ ! and spaces, at most 10001 items. Repetitions (`*`) and macro
// columns (P, M, B) are expanded lazily as (text, count) frames over the original
// text, so every template is decided in time about linear in its length whatever its
// repetition counts.
std::variant<ColumnSpec, ColumnParseError> parse_column_template(std::string_view tmpl);

// True exactly for the two-letter lower-case units em ex pt pc px in cm mm mu.
bool is_valid_dimension_unit(std::string_view unit);

}  // namespace quorvel::parse
