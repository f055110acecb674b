// The records into which configuration from Python is read: keyword
// overrides, serializer options, context items and the group-flattening
// guards. Every field is optional unless noted; null counts as absent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "facade/json_value.hpp"
#include "facade/read.hpp"

namespace quorvel::facade::input {

struct ParseConfigInput {
    std::optional<bool> reject_unknown;
    std::optional<bool> abort_on_error;
    std::optional<std::size_t> max_group_depth;
};

struct LowerAttributesConfigInput {
    std::optional<bool> enabled;
};

struct RewriteConfigInput {
    std::optional<bool> enabled;
    std::optional<std::size_t> max_iterations;
};

struct FinalizeAstConfigInput {
    std::optional<bool> enabled;
};

struct FlattenGroupsConfigInput {
    std::optional<bool> enabled;
    std::optional<bool> preserve_rendered_spacing;
};

struct TransformConfigInput {
    std::optional<LowerAttributesConfigInput> lower_attributes;
    std::optional<RewriteConfigInput> rewrite;
    std::optional<FinalizeAstConfigInput> finalize_ast;
    std::optional<FlattenGroupsConfigInput> flatten_groups;
};

struct NormalizeConfigInput {
    std::optional<bool> reject_unknown;
    std::optional<bool> abort_on_error;
    std::optional<std::size_t> max_group_depth;
    std::optional<LowerAttributesConfigInput> lower_attributes;
    std::optional<RewriteConfigInput> rewrite;
    std::optional<FinalizeAstConfigInput> finalize_ast;
    std::optional<FlattenGroupsConfigInput> flatten_groups;
};

// Each option holds the position of the chosen value in its serializer
// enumeration: command_spacing "spaced" 0, "minimal" 1; group_inner_spacing
// "padded" 0, "compact" 1; adjacent_char_spacing, script_spacing and
// environment_name_spacing "spaced" 0, "compact" 1; script_order
// "sub_first" 0, "sup_first" 1; infix_operand_grouping "always_explicit" 0,
// "when_required" 1.
struct SerializeOptionsInput {
    std::optional<std::uint8_t> command_spacing;
    std::optional<std::uint8_t> group_inner_spacing;
    std::optional<std::uint8_t> adjacent_char_spacing;
    std::optional<std::uint8_t> script_spacing;
    std::optional<std::uint8_t> script_order;
    std::optional<std::uint8_t> infix_operand_grouping;
    std::optional<std::uint8_t> environment_name_spacing;
};

enum class ContextTarget : std::uint8_t { Command, Environment, Delimiter };
enum class ContextCommandKind : std::uint8_t { Prefix, Infix, Declarative };
enum class ContextAllowedMode : std::uint8_t { Math, Text, Both };
enum class ContextContentMode : std::uint8_t { Math, Text };

// "command", "environment", "delimiter".
std::string_view target_name(ContextTarget target);

struct ContextItemInput {
    ContextTarget target = ContextTarget::Command;  // required
    std::string name;                               // required
    std::optional<ContextCommandKind> kind;
    std::optional<ContextAllowedMode> allowed_mode;
    std::optional<ContextContentMode> body_mode;
    std::optional<std::string> argspec;
    std::optional<std::vector<std::string>> tags;
};

// Unlike every other record, a guard that is given must be a boolean: null
// is refused, only a missing key is absent.
struct FlattenGroupsGuardsInput {
    std::optional<bool> declarative_scope;
    std::optional<bool> script_base;
    std::optional<bool> env_body;
    std::optional<bool> infix_scope;
    std::optional<bool> command_contact;
    std::optional<bool> command_like_includes_scripted_base;
    std::optional<bool> command_argument;
    std::optional<bool> empty_group;
    std::optional<bool> lone_atom_spacing_char;
    std::optional<bool> leading_atom_spacing_char;
    std::optional<bool> delimited_pair;
};

// Reads `value` strictly into one of the records above, or into
// std::vector<ContextItemInput> for the `items` list (or ContextItemInput
// for one item).
template <class Record>
read::ReadResult<Record> read_input(const JsonValue& value);

// "`{field}` is not allowed for target `{target}`" when `value` is present.
template <class T>
std::optional<std::string> reject_field(std::string_view field, std::string_view target,
                                        const std::optional<T>& value) {
    if (!value.has_value()) return std::nullopt;
    std::string message = "`";
    message += field;
    message += "` is not allowed for target `";
    message += target;
    message += "`";
    return message;
}

// The rules a context item must meet for its target, checked in a fixed
// order; the message of the first broken rule, or nothing.
std::optional<std::string> check_context_item(const ContextItemInput& item);

}  // namespace quorvel::facade::input
