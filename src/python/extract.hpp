// Conversion of Python arguments with the interpreter's own error classes:
// a TypeError becomes "argument '{name}': {message}" (the original kept as
// its cause), any other error (OverflowError, UnicodeEncodeError) passes
// unchanged. Parameters are taken as plain objects and converted here, so
// that the binding library's dispatcher never answers a bad value itself.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>
#include <string>
#include <string_view>

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
// encoding, valid while `value` lives; a str that cannot be encoded (a lone
// surrogate) raises the interpreter's UnicodeEncodeError unchanged.
std::string_view arg_str(nb::handle value, const char* name);

// An instance of the bound class T, else TypeError
// "argument '{name}': '{type}' object cannot be cast as '{class_name}'".
template <class T>
T& arg_instance(nb::handle value, const char* name, const char* class_name) {
    if (!nb::isinstance<T>(value)) {
        raise_argument_error(name, "'" + type_qualname(value) + "' object cannot be cast as '" +
                                       class_name + "'");
    }
    return nb::cast<T&>(value);
}

}  // namespace quorvel::python
