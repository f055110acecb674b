#include "facade/serialize_options_input.hpp"

#include <cstdint>
#include <optional>

namespace quorvel::facade::input {
namespace {

// The reader only yields positions of the option's value list.
template <class E>
void apply(const std::optional<std::uint8_t>& position, E& option) {
    if (position) option = static_cast<E>(*position);
}

}  // namespace

syntax::SerializeOptions to_serialize_options(const SerializeOptionsInput& input) {
    syntax::SerializeOptions options;
    apply(input.command_spacing, options.command_spacing);
    apply(input.group_inner_spacing, options.group_inner_spacing);
    apply(input.adjacent_char_spacing, options.adjacent_char_spacing);
    apply(input.script_spacing, options.script_spacing);
    apply(input.script_order, options.script_order);
    apply(input.infix_operand_grouping, options.infix_grouping);
    apply(input.environment_name_spacing, options.environment_name_spacing);
    return options;
}

}  // namespace quorvel::facade::input
