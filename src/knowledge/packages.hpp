// The seven built-in packages: record types, package identifiers and the
// package lists. The records themselves are compile-time constants, one named
// constant per entry, in src/knowledge/packages/<package>.hpp.
//
// Record names: builtin::<package>::{cmd,env,chr,del}_<entry name>; a name that
// is no identifier is spelled out: `sym_<word>` for punctuation (\, is
// cmd_sym_comma, \| is del_sym_bar), `del_char_<word>` for a bare delimiter
// (`(` is del_char_lparen), and a trailing `*` as `_star` (env_align_star).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "knowledge/argspec.hpp"
#include "syntax/content_mode.hpp"

namespace quorvel::knowledge {

// The managed packages, in import order.
enum class PackageName : std::uint8_t {
    Base = 0,
    Ams = 1,
    Braket = 2,
    Physics = 3,
    Textmacros = 4,
    Bboldx = 5,
    Boldsymbol = 6,
};

// "base", "ams", "braket", "physics", "textmacros", "bboldx", "boldsymbol".
std::string_view to_string(PackageName name) noexcept;

// Exact, case-sensitive inverse of to_string; nothing for any other text.
std::optional<PackageName> package_name_from_str(std::string_view text) noexcept;

enum class CommandKind : std::uint8_t {
    Prefix = 0,       // arguments follow, as \frac
    Infix = 1,        // between a left and a right operand, as \over
    Declarative = 2,  // switch for the rest of the group, as \bf
};

// "prefix", "infix", "declarative".
std::string_view to_string(CommandKind kind) noexcept;

enum class AllowedMode : std::uint8_t { Math = 0, Text = 1, Both = 2 };

// "math", "text", "both".
std::string_view to_string(AllowedMode mode) noexcept;

struct BuiltinCommandSpec {
    std::span<const ArgSpec> args;  // parsed form of `argspec`
    std::string_view argspec;
    std::string_view name;  // without the backslash
    std::span<const std::string_view> tags;
    CommandKind kind = CommandKind::Prefix;
    AllowedMode allowed_mode = AllowedMode::Math;
};

struct BuiltinEnvironmentSpec {
    std::span<const ArgSpec> args;
    std::string_view argspec;
    std::string_view name;
    std::span<const std::string_view> tags;
    AllowedMode allowed_mode = AllowedMode::Math;
    syntax::ContentMode body_mode = syntax::ContentMode::Math;
};

struct BuiltinCharacterAttributes {
    std::optional<std::string_view> mathvariant;

    friend constexpr bool operator==(const BuiltinCharacterAttributes&,
                                     const BuiltinCharacterAttributes&) = default;
};

// Owned counterpart of BuiltinCharacterAttributes, kept by knowledge-base records.
struct CharacterAttributes {
    std::optional<std::string> mathvariant;

    static CharacterAttributes from(const BuiltinCharacterAttributes& builtin);

    friend bool operator==(const CharacterAttributes&, const CharacterAttributes&) = default;
};

struct BuiltinCharacterSpec {
    std::string_view name;  // the command name: "alpha" for \alpha
    std::string_view text;  // the Unicode text, UTF-8
    BuiltinCharacterAttributes attributes;
    AllowedMode allowed_mode = AllowedMode::Math;  // Math or Text only
};

// (name, control) identifies a delimiter: `|` and `\|` are two records.
struct BuiltinDelimiterSpec {
    std::string_view name;
    std::string_view text;
    BuiltinCharacterAttributes attributes;
    AllowedMode allowed_mode = AllowedMode::Math;
    bool control = false;  // written as a control sequence (\langle), not a bare character
};

struct BuiltinPackage {
    std::string_view name;
    std::span<const BuiltinCommandSpec* const> commands;
    std::span<const BuiltinEnvironmentSpec* const> environments;
    std::span<const BuiltinCharacterSpec* const> characters;
    std::span<const BuiltinDelimiterSpec* const> delimiters;
};

namespace builtin {
extern const BuiltinPackage BASE_PACKAGE;
extern const BuiltinPackage AMS_PACKAGE;
extern const BuiltinPackage BRAKET_PACKAGE;
extern const BuiltinPackage PHYSICS_PACKAGE;
extern const BuiltinPackage TEXTMACROS_PACKAGE;
extern const BuiltinPackage BBOLDX_PACKAGE;
extern const BuiltinPackage BOLDSYMBOL_PACKAGE;
}  // namespace builtin

// In name order: the order list_packages reports.
inline constexpr std::array<const BuiltinPackage*, 7> ALL_PACKAGES{
    &builtin::AMS_PACKAGE,     &builtin::BASE_PACKAGE,    &builtin::BBOLDX_PACKAGE,
    &builtin::BOLDSYMBOL_PACKAGE, &builtin::BRAKET_PACKAGE, &builtin::PHYSICS_PACKAGE,
    &builtin::TEXTMACROS_PACKAGE,
};

// In the order the knowledge base imports packages.
inline constexpr std::array<PackageName, 7> MANAGED_PACKAGE_IMPORT_ORDER{
    PackageName::Base,       PackageName::Ams,    PackageName::Braket,     PackageName::Physics,
    PackageName::Textmacros, PackageName::Bboldx, PackageName::Boldsymbol,
};

// The package table of that name (exact match), or nullptr.
const BuiltinPackage* lookup_package(std::string_view name) noexcept;

// The package table of a managed package.
const BuiltinPackage& builtin_package(PackageName name) noexcept;

}  // namespace quorvel::knowledge
