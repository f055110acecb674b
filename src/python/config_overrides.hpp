// Configuration given as plain Python data (keyword overrides, serializer
// options, context items, guards): converted to a JSON value first, then
// read strictly into an input record. Every failure raises ConfigError
// "invalid {context}: {path}: {message}" (without the path when empty).
#pragma once

#include <nanobind/nanobind.h>

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "facade/config.hpp"
#include "facade/input.hpp"
#include "facade/json_value.hpp"
#include "facade/read.hpp"
#include "parse/config.hpp"
#include "parse/context.hpp"
#include "transform/config.hpp"

namespace quorvel::python::config {

namespace nb = nanobind;

// One segment per level being converted: a dict key as it is, a list or
// tuple position as "[i]".
using PathStack = std::vector<std::string>;

// Converts depth first, dict entries in the dict's own order, stopping at
// the first failure. Values nested deeper than facade::kMaxJsonDepth are
// refused.
facade::JsonValue py_to_json(nb::handle value, std::string_view context, PathStack& path);

// Segments joined by ".", except before a segment that begins with "[".
std::string format_json_path(const PathStack& path);

[[noreturn]] void raise_config_error(std::string_view text);
[[noreturn]] void raise_invalid_at(std::string_view context, const PathStack& path,
                                   std::string_view message);

// Converts `value` and reads it as Record (a record of facade/input.hpp).
template <class Record>
Record from_python(nb::handle value, std::string_view context) {
    PathStack path;
    const facade::JsonValue json = py_to_json(value, context, path);
    auto result = facade::input::read_input<Record>(json);
    if (auto* error = std::get_if<facade::read::ReadError>(&result)) {
        raise_config_error(facade::read::format_read_error(context, *error));
    }
    return std::move(std::get<Record>(result));
}

// The `items` of a constructor (absent or None: none), read and converted
// in order; the first item that breaks its target's rules raises
// "invalid items: [{i}]: {message}".
std::vector<parse::ContextItem> context_items_from_python(nb::handle items);

// The settings of a parse: a `config` (None: not given) must be a
// ParseConfig and replaces the whole base; then each override given in the
// `overrides` dict (absent or empty: none) replaces its namesake.
parse::ParseConfig parse_config_from_python(nb::handle config, nb::handle overrides, parse::ParseConfig base);

// The current values of a TransformConfig's four phase objects; anything
// else raises "config must be a TransformConfig; ...".
transform::TransformOptions complete_transform_config(nb::handle config);

// A `config` (a TransformConfig) replaces the base's transform options and
// keeps its parse settings; then the "normalize overrides" are laid over.
facade::NormalizeConfig normalize_config_from_python(nb::handle config, nb::handle overrides,
                                                     facade::NormalizeConfig base);

// As normalize_config_from_python, for the transform options alone and the
// "transform overrides".
transform::TransformOptions transform_config_from_python(nb::handle config, nb::handle overrides,
                                                         transform::TransformOptions base);

// The `guards` of one run, read in the context "guards". The caller refuses
// a value that is not a dict beforehand.
transform::FlattenGroupsGuardsOverlay guards_from_python(nb::handle guards);

// Serializer keyword options (absent or empty: every option absent).
facade::input::SerializeOptionsInput serialize_options_from_python(nb::handle options);

}  // namespace quorvel::python::config
