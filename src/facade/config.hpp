// The input records read from Python turned into the settings the core works
// with: overrides laid over a base configuration, context items and the
// group-flattening guards. (Serializer options: serialize_options_input.hpp.)
#pragma once

#include <string>

#include "facade/input.hpp"
#include "knowledge/expected.hpp"
#include "parse/config.hpp"
#include "parse/context.hpp"
#include "transform/config.hpp"

namespace quorvel::facade {

// The settings of one normalising call.
struct NormalizeConfig {
    parse::ParseConfig parse;
    transform::TransformOptions transform;
    friend bool operator==(const NormalizeConfig&, const NormalizeConfig&) = default;
};

// Each present key replaces its namesake in the base; an absent key, or an
// absent phase object, keeps the base value. No value is checked beyond its
// type.
parse::ParseConfig apply_overrides(const input::ParseConfigInput& input, parse::ParseConfig base);
transform::TransformOptions apply_overrides(const input::TransformConfigInput& input,
                                            transform::TransformOptions base);
NormalizeConfig into_config(const input::NormalizeConfigInput& input, NormalizeConfig base);

// The item for the parse context, or the message of the first rule of its
// target that it breaks. Names and argument specifications are taken as
// given: a bad specification is refused when the parse context is built.
knowledge::Expected<parse::ContextItem, std::string> context_item_try_from(input::ContextItemInput&& input);

transform::FlattenGroupsGuardsOverlay to_guards_overlay(const input::FlattenGroupsGuardsInput& input);

}  // namespace quorvel::facade
