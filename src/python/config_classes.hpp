// The Python config classes: ParseConfig, the four phase classes and
// TransformConfig, which shares its phase objects with whoever else holds
// them.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>

#include "transform/config.hpp"

namespace quorvel::python {

namespace nb = nanobind;

struct PyParseConfig {
    bool reject_unknown = false;
    bool abort_on_error = false;
    std::uint64_t max_group_depth = 128;
    bool operator==(const PyParseConfig&) const = default;
};

struct PyLowerAttributesConfig {
    bool enabled = true;
    bool operator==(const PyLowerAttributesConfig&) const = default;
};

struct PyRewriteConfig {
    bool enabled = true;
    std::uint64_t max_iterations = 100;
    bool operator==(const PyRewriteConfig&) const = default;
};

struct PyFinalizeAstConfig {
    bool enabled = true;
    bool operator==(const PyFinalizeAstConfig&) const = default;
};

struct PyFlattenGroupsConfig {
    bool enabled = true;
    bool preserve_rendered_spacing = true;
    bool operator==(const PyFlattenGroupsConfig&) const = default;
};

// Each field references a Python object of exactly its phase class.
struct PyTransformConfig {
    nb::object lower_attributes;
    nb::object rewrite;
    nb::object finalize_ast;
    nb::object flatten_groups;

    // Current values of the phase objects (they may change between reads).
    const PyLowerAttributesConfig& lower_attributes_value() const;
    const PyRewriteConfig& rewrite_value() const;
    const PyFinalizeAstConfig& finalize_ast_value() const;
    const PyFlattenGroupsConfig& flatten_groups_value() const;

    // A new TransformConfig object holding four new phase objects with the
    // values of `options`; never shared with an earlier result.
    static nb::object from_core(const transform::TransformOptions& options);
};

// A new TransformConfig object holding four new phase objects with these
// values.
nb::object new_transform_config(const PyLowerAttributesConfig& lower_attributes,
                                const PyRewriteConfig& rewrite,
                                const PyFinalizeAstConfig& finalize_ast,
                                const PyFlattenGroupsConfig& flatten_groups);

// The module's private `_config_from_values(name, values)`: a new config of
// the class named `name` (one of the six) from its constructor's arguments,
// converted and checked as the constructor does; what pickled configs call.
PyObject* config_from_values(PyObject* module, PyObject* args);

// Adds the six classes to the module, in the order ParseConfig,
// LowerAttributesConfig, RewriteConfig, FinalizeAstConfig,
// FlattenGroupsConfig, TransformConfig.
void register_config_classes(nb::module_& m);

}  // namespace quorvel::python
