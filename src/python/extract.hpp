// Conversion of Python arguments with the interpreter's own error classes:
// a TypeError becomes "argument '{name}': {message}" (the original kept as
// its cause), any other error (OverflowError) passes unchanged; a str that
// is not valid Unicode is a QuorvelError (see arg_str). Parameters are taken
// as plain objects and converted here, so that the binding library's
// dispatcher never answers a bad value itself.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::python {

namespace nb = nanobind;

// Raises TypeError "argument '{name}': {message}" whose cause is a
// TypeError carrying `message`.
[[noreturn]] void raise_argument_error(const char* name, const std::string& message);

// Re-raises the pending Python error of a failed conversion, wrapping an
// exact TypeError as raise_argument_error does.
[[noreturn]] void raise_conversion_error(const char* name);

// The qualified name of the object's type, as conversion messages show it.
std::string type_qualname(nb::handle value);

// Exactly a Python bool, or NumPy's boolean scalar.
bool arg_bool(nb::handle value, const char* name);

// An int, or any object with __index__, in 0..2^64-1.
std::uint64_t arg_u64(nb::handle value, const char* name);

// A str (or subclass) as UTF-8. The view is the object's own cached
// encoding, valid while `value` lives. A str that UTF-8 cannot encode (one
// holding a lone surrogate) raises the QuorvelError of `category`, as
// raise_error_parts picks it ("parse", "edit", "config"; exactly
// QuorvelError by default): "argument '{name}' is not valid Unicode: lone
// surrogate U+D800 at index 1". A ParseError has no diagnostics and no
// document then.
std::string_view arg_str(nb::handle value, const char* name, std::string_view category = "");

// The same conversions outside argument extraction: a wrong type raises a
// plain TypeError "'{type}' object cannot be cast as 'PyBool'" (or
// 'PyString'), without an argument name.
bool to_bool(nb::handle value);
std::string_view to_str(nb::handle value);

// isinstance of collections.abc.Sequence / Mapping; lists, tuples and dicts
// answer without asking the abstract classes.
bool is_sequence(nb::handle value);
bool is_mapping(nb::handle value);

// A sequence read into a list of its items: a list, a tuple or any other
// collections.abc.Sequence except str, which is refused as one value where
// many are expected. Wrong types raise TypeError "argument '{name}': ...".
std::vector<nb::object> arg_object_list(nb::handle value, const char* name);

// A sequence of str read into owned strings (arg_object_list, then arg_str
// on each item under the same argument name and category).
std::vector<std::string> arg_str_list(nb::handle value, const char* name, std::string_view category = "");

// One parameter of a method that binds its own arguments.
struct Parameter {
    const char* name;
    bool required = false;
    bool keyword_only = false;
};

// Binds a call's arguments to `parameters` as a Python function does:
// positional arguments fill the parameters that are not keyword-only, in
// order, and a keyword fills its namesake. out[i] is the object bound to
// parameters[i] (borrowed from the call), or null when none was given.
// Keywords that name no parameter are returned as a new dict (null when
// there are none) if `collect_rest`, else refused. Binding failures raise
// TypeError in the interpreter's wording, naming `function`.
nb::object bind_arguments(const char* function, PyObject* args, PyObject* kwargs, const Parameter* parameters,
                          std::size_t count, PyObject** out, bool collect_rest);

template <std::size_t N>
nb::object bind_arguments(const char* function, PyObject* args, PyObject* kwargs, const Parameter (&parameters)[N],
                          PyObject* (&out)[N], bool collect_rest) {
    return bind_arguments(function, args, kwargs, parameters, N, out, collect_rest);
}

// The same for a METH_FASTCALL | METH_KEYWORDS method, whose call brings
// no argument tuple or keyword dict: `nargs` positional arguments in
// `args`, followed by the values of the keywords named in `kwnames` (null
// when there are none).
nb::object bind_fast_arguments(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                               const Parameter* parameters, std::size_t count, PyObject** out, bool collect_rest);

template <std::size_t N>
nb::object bind_fast_arguments(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                               const Parameter (&parameters)[N], PyObject* (&out)[N], bool collect_rest) {
    return bind_fast_arguments(function, args, nargs, kwnames, parameters, N, out, collect_rest);
}

// An instance of the bound class T, else TypeError
// "argument '{name}': '{type}' object cannot be cast as '{class_name}'"; an
// instance that was never constructed gives "argument '{name}':
// {class_name} object is not initialized".
template <class T>
T& arg_instance(nb::handle value, const char* name, const char* class_name) {
    if (!nb::isinstance<T>(value)) {
        raise_argument_error(name, "'" + type_qualname(value) + "' object cannot be cast as '" +
                                       class_name + "'");
    }
    if (!nb::inst_ready(value)) raise_argument_error(name, std::string(class_name) + " object is not initialized");
    return *nb::inst_ptr<T>(value);
}

}  // namespace quorvel::python
