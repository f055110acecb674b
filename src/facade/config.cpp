#include "facade/config.hpp"

#include <cstddef>
#include <cstdint>
#include <utility>

#include "knowledge/packages.hpp"

namespace quorvel::facade {

namespace {

template <class T>
void overlay(const std::optional<T>& given, T& setting) {
    if (given) setting = *given;
}

template <class Input>
void overlay_phases(const Input& input, transform::TransformOptions& options) {
    if (const auto& phase = input.lower_attributes) overlay(phase->enabled, options.lower_attributes.enabled);
    if (const auto& phase = input.rewrite) {
        overlay(phase->enabled, options.rewrite.enabled);
        overlay(phase->max_iterations, options.rewrite.max_iterations);
    }
    if (const auto& phase = input.finalize_ast) overlay(phase->enabled, options.finalize_ast.enabled);
    if (const auto& phase = input.flatten_groups) {
        overlay(phase->enabled, options.flatten_groups.enabled);
        overlay(phase->preserve_rendered_spacing, options.flatten_groups.preserve_rendered_spacing);
    }
}

template <class Input>
void overlay_parse(const Input& input, parse::ParseConfig& config) {
    overlay(input.reject_unknown, config.reject_unknown);
    overlay(input.abort_on_error, config.abort_on_error);
    overlay(input.max_group_depth, config.max_group_depth);
}

parse::CommandItem command_item(input::ContextItemInput&& input, std::uint8_t kind_or_body) {
    parse::CommandItem item;
    item.name = std::move(input.name);
    item.argspec = std::move(*input.argspec);
    if (input.tags) item.tags = std::move(*input.tags);
    item.kind_or_body = kind_or_body;
    item.allowed_mode = static_cast<knowledge::AllowedMode>(*input.allowed_mode);
    return item;
}

}  // namespace

parse::ParseConfig apply_overrides(const input::ParseConfigInput& input, parse::ParseConfig base) {
    overlay_parse(input, base);
    return base;
}

transform::TransformOptions apply_overrides(const input::TransformConfigInput& input,
                                            transform::TransformOptions base) {
    overlay_phases(input, base);
    return base;
}

NormalizeConfig into_config(const input::NormalizeConfigInput& input, NormalizeConfig base) {
    overlay_parse(input, base.parse);
    overlay_phases(input, base.transform);
    return base;
}

knowledge::Expected<parse::ContextItem, std::string> context_item_try_from(input::ContextItemInput&& input) {
    if (auto failure = input::check_context_item(input)) return std::move(*failure);
    switch (input.target) {
        case input::ContextTarget::Command: {
            const auto kind = static_cast<std::uint8_t>(*input.kind);
            return parse::ContextItem::command(command_item(std::move(input), kind));
        }
        case input::ContextTarget::Environment: {
            const auto body = static_cast<std::uint8_t>(*input.body_mode);
            return parse::ContextItem::environment(command_item(std::move(input), body));
        }
        case input::ContextTarget::Delimiter:
            break;
    }
    return parse::ContextItem::delimiter_control(std::move(input.name));
}

transform::FlattenGroupsGuardsOverlay to_guards_overlay(const input::FlattenGroupsGuardsInput& input) {
    // In guard order, which is the record's key order.
    const std::optional<bool>* given[transform::FLATTEN_GUARD_COUNT] = {
        &input.declarative_scope,
        &input.script_base,
        &input.env_body,
        &input.infix_scope,
        &input.command_contact,
        &input.command_like_includes_scripted_base,
        &input.command_argument,
        &input.empty_group,
        &input.lone_atom_spacing_char,
        &input.leading_atom_spacing_char,
        &input.delimited_pair,
    };
    transform::FlattenGroupsGuardsOverlay overlay;
    for (std::size_t i = 0; i < transform::FLATTEN_GUARD_COUNT; ++i) overlay.guards[i] = *given[i];
    return overlay;
}

}  // namespace quorvel::facade
