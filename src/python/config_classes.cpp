#include "python/config_classes.hpp"

#include <nanobind/stl/string.h>

#include <iterator>
#include <string>

#include "facade/transform_engine.hpp"
#include "python/errors.hpp"
#include "python/extract.hpp"
#include "python/methods.hpp"
#include "util/thread_storage.hpp"

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
        [](nb::handle) {
            util::prepare_thread();
            throw nb::attribute_error("can't delete attribute");
        });
    nb::object property = nb::borrow(reinterpret_cast<PyObject*>(&PyProperty_Type))(
        getter, setter, deleter, nb::none());
    property.attr("__doc__") = nb::none();
    nb::setattr(cls, name, property);
}

// One field of a value class: a bool or an unsigned 64-bit integer, read
// and written with the same conversion in `__new__` and in its property.
template <class T>
struct Field {
    const char* name;
    bool T::*flag = nullptr;
    std::uint64_t T::*number = nullptr;

    void set(T& target, nb::handle value) const {
        if (flag != nullptr) {
            target.*flag = arg_bool(value, name);
        } else {
            target.*number = arg_u64(value, name);
        }
    }
    nb::object get(const T& source) const {
        return flag != nullptr ? nb::object(nb::bool_(source.*flag)) : nb::cast(source.*number);
    }
};

// The name, text signature and fields (in declaration order) of each value
// class.
template <class T>
struct ValueClass;

template <>
struct ValueClass<PyParseConfig> {
    using T = PyParseConfig;
    static constexpr const char* name = "ParseConfig";
    static constexpr const char* new_name = "ParseConfig.__new__";
    static constexpr const char* doc =
        "ParseConfig(reject_unknown=False, abort_on_error=False, max_group_depth=128)\n--\n\n";
    static constexpr Field<T> fields[] = {{"reject_unknown", &T::reject_unknown},
                                          {"abort_on_error", &T::abort_on_error},
                                          {"max_group_depth", nullptr, &T::max_group_depth}};
};

template <>
struct ValueClass<PyLowerAttributesConfig> {
    using T = PyLowerAttributesConfig;
    static constexpr const char* name = "LowerAttributesConfig";
    static constexpr const char* new_name = "LowerAttributesConfig.__new__";
    static constexpr const char* doc = "LowerAttributesConfig(enabled=True)\n--\n\n";
    static constexpr Field<T> fields[] = {{"enabled", &T::enabled}};
};

template <>
struct ValueClass<PyRewriteConfig> {
    using T = PyRewriteConfig;
    static constexpr const char* name = "RewriteConfig";
    static constexpr const char* new_name = "RewriteConfig.__new__";
    static constexpr const char* doc = "RewriteConfig(enabled=True, max_iterations=100)\n--\n\n";
    static constexpr Field<T> fields[] = {{"enabled", &T::enabled}, {"max_iterations", nullptr, &T::max_iterations}};
};

template <>
struct ValueClass<PyFinalizeAstConfig> {
    using T = PyFinalizeAstConfig;
    static constexpr const char* name = "FinalizeAstConfig";
    static constexpr const char* new_name = "FinalizeAstConfig.__new__";
    static constexpr const char* doc = "FinalizeAstConfig(enabled=True)\n--\n\n";
    static constexpr Field<T> fields[] = {{"enabled", &T::enabled}};
};

template <>
struct ValueClass<PyFlattenGroupsConfig> {
    using T = PyFlattenGroupsConfig;
    static constexpr const char* name = "FlattenGroupsConfig";
    static constexpr const char* new_name = "FlattenGroupsConfig.__new__";
    static constexpr const char* doc = "FlattenGroupsConfig(enabled=True, preserve_rendered_spacing=True)\n--\n\n";
    static constexpr Field<T> fields[] = {{"enabled", &T::enabled},
                                          {"preserve_rendered_spacing", &T::preserve_rendered_spacing}};
};

// `__new__` of a value class: every parameter optional and
// positional-or-keyword; the given ones are converted in declaration order.
template <class T>
PyObject* new_value(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        constexpr std::size_t count = std::size(ValueClass<T>::fields);
        Parameter parameters[count];
        for (std::size_t i = 0; i < count; ++i) parameters[i] = {ValueClass<T>::fields[i].name};
        PyObject* bound[count];
        bind_arguments(ValueClass<T>::new_name, args, kwargs, parameters, bound, false);
        T value;
        for (std::size_t i = 0; i < count; ++i) {
            if (bound[i] != nullptr) ValueClass<T>::fields[i].set(value, bound[i]);
        }
        return nb::cast(std::move(value), nb::rv_policy::move);
    });
}

// What a pickled config names to rebuild itself by (the classes cannot be
// found by name: their module is "builtins"), with its class name and the
// arguments of its constructor.
nb::object reduced(const char* name, nb::object values) {
    nb::object rebuild = nb::module_::import_("quorvel._native").attr("_config_from_values");
    return nb::make_tuple(rebuild, nb::make_tuple(nb::str(name), values));
}

// Shared traits of every config class: shown as a builtin, unhashable,
// equal by value to an instance of the same class and NotImplemented
// otherwise (so ordering comparisons raise TypeError).
template <class T>
void register_value_class(nb::module_& m) {
    nb::class_<T> cls(m, ValueClass<T>::name, ValueClass<T>::doc, nb::is_final(),
                      nb::type_slots(constructor_slots<new_value<T>>));
    for (const Field<T>& field : ValueClass<T>::fields) {
        add_property(cls, field.name,
                     nb::cpp_function([field](const T& self) {
                         util::prepare_thread();
                         return field.get(self);
                     }),
                     nb::cpp_function(
                         [field](T& self, nb::handle value) {
                             util::prepare_thread();
                             field.set(self, value);
                         },
                         nb::arg("self"), nb::arg("value").none()));
    }
    cls.def("__repr__", [](const T& self) {
        util::prepare_thread();
        return repr(self);
    });
    // Pickled as its values, in the constructor's order.
    cls.def("__reduce__", [](const T& self) {
        util::prepare_thread();
        constexpr std::size_t count = std::size(ValueClass<T>::fields);
        nb::object values = nb::steal(PyTuple_New(count));
        if (!values.is_valid()) throw nb::python_error();
        for (std::size_t i = 0; i < count; ++i) {
            // Steals the reference; it cannot fail on a fresh tuple.
            PyTuple_SetItem(values.ptr(), static_cast<Py_ssize_t>(i), ValueClass<T>::fields[i].get(self).release().ptr());
        }
        return reduced(ValueClass<T>::name, values);
    });
    cls.def(
        "__eq__",
        [](const T& self, nb::handle other) -> nb::object {
            util::prepare_thread();
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

template <class Phase, nb::object PyTransformConfig::*Member>
void phase_property(nb::handle cls, const char* name, const char* class_name) {
    add_property(cls, name,
                 nb::cpp_function([](const PyTransformConfig& self) {
                     util::prepare_thread();
                     return self.*Member;
                 }),
                 nb::cpp_function(
                     [name, class_name](PyTransformConfig& self, nb::handle value) {
                         util::prepare_thread();
                         self.*Member = phase_argument<Phase>(value, name, class_name);
                     },
                     nb::arg("self"), nb::arg("value").none()));
}

// TransformConfig(*, lower_attributes, rewrite, finalize_ast, flatten_groups):
// all four required, checked in that order, stored as given (shared).
PyObject* new_transform_config_object(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const Parameter parameters[] = {{"lower_attributes", true, true},
                                               {"rewrite", true, true},
                                               {"finalize_ast", true, true},
                                               {"flatten_groups", true, true}};
        PyObject* bound[4];
        bind_arguments("TransformConfig.__new__", args, kwargs, parameters, bound, false);
        PyTransformConfig value{
            phase_argument<PyLowerAttributesConfig>(bound[0], "lower_attributes", "LowerAttributesConfig"),
            phase_argument<PyRewriteConfig>(bound[1], "rewrite", "RewriteConfig"),
            phase_argument<PyFinalizeAstConfig>(bound[2], "finalize_ast", "FinalizeAstConfig"),
            phase_argument<PyFlattenGroupsConfig>(bound[3], "flatten_groups", "FlattenGroupsConfig"),
        };
        return nb::cast(std::move(value), nb::rv_policy::move);
    });
}

// The presets are class methods of the plain CPython kind, so that each has
// the text signature "name($cls)"; the class argument is not used.
template <facade::EngineProfile Profile>
PyObject* preset(PyObject*, PyObject*) {
    return guarded([] { return PyTransformConfig::from_core(facade::profile_defaults(Profile).options); });
}

constexpr int kPreset = METH_CLASS | METH_NOARGS;

// Static: the interpreter keeps pointers to these for the life of the class.
PyMethodDef PRESETS[] = {
    {"authoring", c_function(preset<facade::EngineProfile::Authoring>), kPreset, "authoring($cls)\n--\n\n"},
    {"faithful", c_function(preset<facade::EngineProfile::Faithful>), kPreset, "faithful($cls)\n--\n\n"},
    {"corpus", c_function(preset<facade::EngineProfile::Corpus>), kPreset, "corpus($cls)\n--\n\n"},
    {"equiv", c_function(preset<facade::EngineProfile::Equiv>), kPreset, "equiv($cls)\n--\n\n"},
};

void register_transform_config(nb::module_& m) {
    using T = PyTransformConfig;
    nb::class_<T> cls(m, "TransformConfig",
                      "TransformConfig(*, lower_attributes, rewrite, finalize_ast, flatten_groups)\n"
                      "--\n\n"
                      "Holds shared references to the four phase configs so "
                      "`cfg.rewrite.enabled = False` sticks.",
                      nb::is_final(), nb::type_slots(constructor_slots<new_transform_config_object>));
    phase_property<PyLowerAttributesConfig, &T::lower_attributes>(cls, "lower_attributes",
                                                                  "LowerAttributesConfig");
    phase_property<PyRewriteConfig, &T::rewrite>(cls, "rewrite", "RewriteConfig");
    phase_property<PyFinalizeAstConfig, &T::finalize_ast>(cls, "finalize_ast", "FinalizeAstConfig");
    phase_property<PyFlattenGroupsConfig, &T::flatten_groups>(cls, "flatten_groups",
                                                              "FlattenGroupsConfig");
    cls.def("__repr__", [](const T& self) {
        util::prepare_thread();
        return repr(self);
    });
    // Unlike the phase classes, a foreign operand is unequal rather than
    // NotImplemented.
    cls.def(
        "__eq__",
        [](const T& self, nb::handle other) {
            util::prepare_thread();
            if (!nb::isinstance<T>(other)) return false;
            const T& that = nb::cast<const T&>(other);
            return self.lower_attributes_value() == that.lower_attributes_value() &&
                   self.rewrite_value() == that.rewrite_value() &&
                   self.finalize_ast_value() == that.finalize_ast_value() &&
                   self.flatten_groups_value() == that.flatten_groups_value();
        },
        nb::arg("other").none());
    // Pickled with its four phase objects, which pickle themselves; a phase
    // object shared by several configs stays shared within one pickle.
    cls.def("__reduce__", [](const T& self) {
        util::prepare_thread();
        return reduced("TransformConfig", nb::make_tuple(self.lower_attributes, self.rewrite, self.finalize_ast,
                                                         self.flatten_groups));
    });
    add_methods(cls, PRESETS);
    cls.attr("__hash__") = nb::none();
    cls.attr("__module__") = "builtins";
}

}  // namespace

namespace {
nb::object called(PyObject* result) {
    if (result == nullptr) throw nb::python_error();
    return nb::steal(result);
}
}  // namespace

PyObject* config_from_values(PyObject*, PyObject* args) {
    return guarded([&] {
        const char* name = nullptr;
        PyObject* values = nullptr;
        if (!PyArg_ParseTuple(args, "sO!:_config_from_values", &name, &PyTuple_Type, &values)) {
            throw nb::python_error();
        }
        const std::string_view wanted(name);
        if (wanted == "TransformConfig") {
            static const char* const keywords[] = {"lower_attributes", "rewrite", "finalize_ast", "flatten_groups"};
            if (PyTuple_Size(values) != static_cast<Py_ssize_t>(std::size(keywords))) {
                throw nb::type_error("_config_from_values: TransformConfig takes 4 values");
            }
            nb::dict kwargs;
            for (std::size_t i = 0; i < std::size(keywords); ++i) {
                kwargs[keywords[i]] = nb::borrow(PyTuple_GetItem(values, static_cast<Py_ssize_t>(i)));
            }
            return called(PyObject_Call(nb::type<PyTransformConfig>().ptr(), nb::tuple().ptr(), kwargs.ptr()));
        }
        nb::handle cls;
        if (wanted == ValueClass<PyParseConfig>::name) cls = nb::type<PyParseConfig>();
        if (wanted == ValueClass<PyLowerAttributesConfig>::name) cls = nb::type<PyLowerAttributesConfig>();
        if (wanted == ValueClass<PyRewriteConfig>::name) cls = nb::type<PyRewriteConfig>();
        if (wanted == ValueClass<PyFinalizeAstConfig>::name) cls = nb::type<PyFinalizeAstConfig>();
        if (wanted == ValueClass<PyFlattenGroupsConfig>::name) cls = nb::type<PyFlattenGroupsConfig>();
        if (!cls.is_valid()) throw nb::type_error("_config_from_values: not a config class");
        return called(PyObject_Call(cls.ptr(), values, nullptr));
    });
}

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
    register_value_class<PyParseConfig>(m);
    register_value_class<PyLowerAttributesConfig>(m);
    register_value_class<PyRewriteConfig>(m);
    register_value_class<PyFinalizeAstConfig>(m);
    register_value_class<PyFlattenGroupsConfig>(m);
    register_transform_config(m);
}

}  // namespace quorvel::python
