#include "python/config_classes.hpp"

#include <nanobind/stl/string.h>

#include <string>

#include "facade/transform_engine.hpp"
#include "python/extract.hpp"

namespace quorvel::python {
namespace {

const char* bool_text(bool value) { return value ? "True" : "False"; }

std::string repr(const PyParseConfig& c) {
    return std::string("ParseConfig(reject_unknown=") + bool_text(c.reject_unknown) +
           ", abort_on_error=" + bool_text(c.abort_on_error) +
           ", max_group_depth=" + std::to_string(c.max_group_depth) + ")";
}
std::string repr(const PyLowerAttributesConfig& c) {
    return std::string("LowerAttributesConfig(enabled=") + bool_text(c.enabled) + ")";
}
std::string repr(const PyRewriteConfig& c) {
    return std::string("RewriteConfig(enabled=") + bool_text(c.enabled) +
           ", max_iterations=" + std::to_string(c.max_iterations) + ")";
}
std::string repr(const PyFinalizeAstConfig& c) {
    return std::string("FinalizeAstConfig(enabled=") + bool_text(c.enabled) + ")";
}
std::string repr(const PyFlattenGroupsConfig& c) {
    return std::string("FlattenGroupsConfig(enabled=") + bool_text(c.enabled) +
           ", preserve_rendered_spacing=" + bool_text(c.preserve_rendered_spacing) + ")";
}
std::string repr(const PyTransformConfig& c) {
    return "TransformConfig(lower_attributes=" + repr(c.lower_attributes_value()) +
           ", rewrite=" + repr(c.rewrite_value()) + ", finalize_ast=" + repr(c.finalize_ast_value()) +
           ", flatten_groups=" + repr(c.flatten_groups_value()) + ")";
}

// A property with a deleter that refuses, so `del` gives the message the
// plain property of the interpreter would not.
void add_property(nb::handle cls, const char* name, nb::object getter, nb::object setter) {
    nb::object deleter = nb::cpp_function(
        [](nb::handle) { throw nb::attribute_error("can't delete attribute"); });
    nb::object property = nb::borrow(reinterpret_cast<PyObject*>(&PyProperty_Type))(
        getter, setter, deleter, nb::none());
    property.attr("__doc__") = nb::none();
    nb::setattr(cls, name, property);
}

template <class T, bool T::*Field>
void bool_property(nb::handle cls, const char* name) {
    add_property(cls, name, nb::cpp_function([](const T& self) { return self.*Field; }),
                 nb::cpp_function(
                     [name](T& self, nb::handle value) { self.*Field = arg_bool(value, name); },
                     nb::arg("self"), nb::arg("value").none()));
}

template <class T, std::uint64_t T::*Field>
void u64_property(nb::handle cls, const char* name) {
    add_property(cls, name, nb::cpp_function([](const T& self) { return self.*Field; }),
                 nb::cpp_function(
                     [name](T& self, nb::handle value) { self.*Field = arg_u64(value, name); },
                     nb::arg("self"), nb::arg("value").none()));
}

// Shared traits of every config class: shown as a builtin, unhashable,
// equal by value to an instance of the same class and NotImplemented
// otherwise (so ordering comparisons raise TypeError).
template <class T>
void finish_value_class(nb::class_<T>& cls) {
    cls.def("__repr__", [](const T& self) { return repr(self); });
    cls.def(
        "__eq__",
        [](const T& self, nb::handle other) -> nb::object {
            if (!nb::isinstance<T>(other)) return nb::borrow(Py_NotImplemented);
            return nb::bool_(self == nb::cast<const T&>(other));
        },
        nb::arg("other").none());
    cls.attr("__hash__") = nb::none();
    cls.attr("__module__") = "builtins";
}

template <class Phase>
nb::object phase_argument(nb::handle value, const char* name, const char* class_name) {
    arg_instance<Phase>(value, name, class_name);
    return nb::borrow(value);
}

template <class Phase, nb::object PyTransformConfig::*Field>
void phase_property(nb::handle cls, const char* name, const char* class_name) {
    add_property(cls, name,
                 nb::cpp_function([](const PyTransformConfig& self) { return self.*Field; }),
                 nb::cpp_function(
                     [name, class_name](PyTransformConfig& self, nb::handle value) {
                         self.*Field = phase_argument<Phase>(value, name, class_name);
                     },
                     nb::arg("self"), nb::arg("value").none()));
}

void register_parse_config(nb::module_& m) {
    using T = PyParseConfig;
    nb::class_<T> cls(
        m, "ParseConfig",
        "ParseConfig(reject_unknown=False, abort_on_error=False, max_group_depth=128)\n--\n\n",
        nb::is_final());
    cls.def(
        "__init__",
        [](T* self, nb::handle reject_unknown, nb::handle abort_on_error,
           nb::handle max_group_depth) {
            T value;
            value.reject_unknown = arg_bool(reject_unknown, "reject_unknown");
            value.abort_on_error = arg_bool(abort_on_error, "abort_on_error");
            value.max_group_depth = arg_u64(max_group_depth, "max_group_depth");
            new (self) T(value);
        },
        nb::arg("reject_unknown").none() = false, nb::arg("abort_on_error").none() = false,
        nb::arg("max_group_depth").none() = 128);
    bool_property<T, &T::reject_unknown>(cls, "reject_unknown");
    bool_property<T, &T::abort_on_error>(cls, "abort_on_error");
    u64_property<T, &T::max_group_depth>(cls, "max_group_depth");
    finish_value_class(cls);
}

// LowerAttributesConfig and FinalizeAstConfig: one `enabled` switch.
template <class T>
void register_switch_config(nb::module_& m, const char* name, const char* doc) {
    nb::class_<T> cls(m, name, doc, nb::is_final());
    cls.def(
        "__init__",
        [](T* self, nb::handle enabled) {
            T value;
            value.enabled = arg_bool(enabled, "enabled");
            new (self) T(value);
        },
        nb::arg("enabled").none() = true);
    bool_property<T, &T::enabled>(cls, "enabled");
    finish_value_class(cls);
}

void register_rewrite_config(nb::module_& m) {
    using T = PyRewriteConfig;
    nb::class_<T> cls(m, "RewriteConfig", "RewriteConfig(enabled=True, max_iterations=100)\n--\n\n",
                      nb::is_final());
    cls.def(
        "__init__",
        [](T* self, nb::handle enabled, nb::handle max_iterations) {
            T value;
            value.enabled = arg_bool(enabled, "enabled");
            value.max_iterations = arg_u64(max_iterations, "max_iterations");
            new (self) T(value);
        },
        nb::arg("enabled").none() = true, nb::arg("max_iterations").none() = 100);
    bool_property<T, &T::enabled>(cls, "enabled");
    u64_property<T, &T::max_iterations>(cls, "max_iterations");
    finish_value_class(cls);
}

void register_flatten_groups_config(nb::module_& m) {
    using T = PyFlattenGroupsConfig;
    nb::class_<T> cls(m, "FlattenGroupsConfig",
                      "FlattenGroupsConfig(enabled=True, preserve_rendered_spacing=True)\n--\n\n",
                      nb::is_final());
    cls.def(
        "__init__",
        [](T* self, nb::handle enabled, nb::handle preserve_rendered_spacing) {
            T value;
            value.enabled = arg_bool(enabled, "enabled");
            value.preserve_rendered_spacing =
                arg_bool(preserve_rendered_spacing, "preserve_rendered_spacing");
            new (self) T(value);
        },
        nb::arg("enabled").none() = true, nb::arg("preserve_rendered_spacing").none() = true);
    bool_property<T, &T::enabled>(cls, "enabled");
    bool_property<T, &T::preserve_rendered_spacing>(cls, "preserve_rendered_spacing");
    finish_value_class(cls);
}

// Each preset is the default transform configuration of an engine of the
// same profile.
nb::object preset(facade::EngineProfile profile) {
    return PyTransformConfig::from_core(facade::profile_defaults(profile).options);
}

void register_transform_config(nb::module_& m) {
    using T = PyTransformConfig;
    nb::class_<T> cls(m, "TransformConfig",
                      "TransformConfig(*, lower_attributes, rewrite, finalize_ast, flatten_groups)\n"
                      "--\n\n"
                      "Holds shared references to the four phase configs so "
                      "`cfg.rewrite.enabled = False` sticks.",
                      nb::is_final());
    cls.def(
        "__init__",
        [](T* self, nb::handle lower_attributes, nb::handle rewrite, nb::handle finalize_ast,
           nb::handle flatten_groups) {
            T value{
                phase_argument<PyLowerAttributesConfig>(lower_attributes, "lower_attributes",
                                                        "LowerAttributesConfig"),
                phase_argument<PyRewriteConfig>(rewrite, "rewrite", "RewriteConfig"),
                phase_argument<PyFinalizeAstConfig>(finalize_ast, "finalize_ast",
                                                    "FinalizeAstConfig"),
                phase_argument<PyFlattenGroupsConfig>(flatten_groups, "flatten_groups",
                                                      "FlattenGroupsConfig"),
            };
            new (self) T(std::move(value));
        },
        nb::kw_only(), nb::arg("lower_attributes").none(), nb::arg("rewrite").none(),
        nb::arg("finalize_ast").none(), nb::arg("flatten_groups").none());
    phase_property<PyLowerAttributesConfig, &T::lower_attributes>(cls, "lower_attributes",
                                                                  "LowerAttributesConfig");
    phase_property<PyRewriteConfig, &T::rewrite>(cls, "rewrite", "RewriteConfig");
    phase_property<PyFinalizeAstConfig, &T::finalize_ast>(cls, "finalize_ast", "FinalizeAstConfig");
    phase_property<PyFlattenGroupsConfig, &T::flatten_groups>(cls, "flatten_groups",
                                                              "FlattenGroupsConfig");
    cls.def("__repr__", [](const T& self) { return repr(self); });
    // Unlike the phase classes, a foreign operand is unequal rather than
    // NotImplemented.
    cls.def(
        "__eq__",
        [](const T& self, nb::handle other) {
            if (!nb::isinstance<T>(other)) return false;
            const T& that = nb::cast<const T&>(other);
            return self.lower_attributes_value() == that.lower_attributes_value() &&
                   self.rewrite_value() == that.rewrite_value() &&
                   self.finalize_ast_value() == that.finalize_ast_value() &&
                   self.flatten_groups_value() == that.flatten_groups_value();
        },
        nb::arg("other").none());
    cls.def_static("authoring", [] { return preset(facade::EngineProfile::Authoring); });
    cls.def_static("faithful", [] { return preset(facade::EngineProfile::Faithful); });
    cls.def_static("corpus", [] { return preset(facade::EngineProfile::Corpus); });
    cls.def_static("equiv", [] { return preset(facade::EngineProfile::Equiv); });
    cls.attr("__hash__") = nb::none();
    cls.attr("__module__") = "builtins";
}

}  // namespace

const PyLowerAttributesConfig& PyTransformConfig::lower_attributes_value() const {
    return nb::cast<const PyLowerAttributesConfig&>(lower_attributes);
}
const PyRewriteConfig& PyTransformConfig::rewrite_value() const {
    return nb::cast<const PyRewriteConfig&>(rewrite);
}
const PyFinalizeAstConfig& PyTransformConfig::finalize_ast_value() const {
    return nb::cast<const PyFinalizeAstConfig&>(finalize_ast);
}
const PyFlattenGroupsConfig& PyTransformConfig::flatten_groups_value() const {
    return nb::cast<const PyFlattenGroupsConfig&>(flatten_groups);
}

nb::object PyTransformConfig::from_core(const transform::TransformOptions& options) {
    return new_transform_config(
        PyLowerAttributesConfig{options.lower_attributes.enabled},
        PyRewriteConfig{options.rewrite.enabled, options.rewrite.max_iterations},
        PyFinalizeAstConfig{options.finalize_ast.enabled},
        PyFlattenGroupsConfig{options.flatten_groups.enabled, options.flatten_groups.preserve_rendered_spacing});
}

nb::object new_transform_config(const PyLowerAttributesConfig& lower_attributes,
                                const PyRewriteConfig& rewrite,
                                const PyFinalizeAstConfig& finalize_ast,
                                const PyFlattenGroupsConfig& flatten_groups) {
    PyTransformConfig config{nb::cast(lower_attributes), nb::cast(rewrite), nb::cast(finalize_ast),
                             nb::cast(flatten_groups)};
    return nb::cast(std::move(config));
}

void register_config_classes(nb::module_& m) {
    register_parse_config(m);
    register_switch_config<PyLowerAttributesConfig>(m, "LowerAttributesConfig",
                                                    "LowerAttributesConfig(enabled=True)\n--\n\n");
    register_rewrite_config(m);
    register_switch_config<PyFinalizeAstConfig>(m, "FinalizeAstConfig",
                                                "FinalizeAstConfig(enabled=True)\n--\n\n");
    register_flatten_groups_config(m);
    register_transform_config(m);
}

}  // namespace quorvel::python
