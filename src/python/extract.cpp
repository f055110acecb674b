#include "python/extract.hpp"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "python/errors.hpp"

namespace quorvel::python {
namespace {

std::string str_or(PyObject* text, std::string_view fallback) {
    if (text != nullptr && PyUnicode_Check(text)) {
        Py_ssize_t size = 0;
        if (const char* data = PyUnicode_AsUTF8AndSize(text, &size)) {
            return std::string(data, static_cast<std::size_t>(size));
        }
    }
    PyErr_Clear();
    return std::string(fallback);
}

// "lone surrogate U+D800 at index 0" for '\ud800': the first code point of the str that
// UTF-8 cannot encode.
std::string lone_surrogate(PyObject* text) {
    const Py_ssize_t length = PyUnicode_GetLength(text);
    for (Py_ssize_t i = 0; i < length; ++i) {
        const Py_UCS4 c = PyUnicode_ReadChar(text, i);
        if (c < 0xD800 || c > 0xDFFF) continue;
        char code[8];
        std::snprintf(code, sizeof code, "%04X", static_cast<unsigned>(c));
        return "lone surrogate U+" + std::string(code) + " at index " + std::to_string(i);
    }
    return "it cannot be encoded as UTF-8";
}

std::string type_attr(nb::handle value, const char* attr) {
    nb::object text = nb::steal(PyObject_GetAttrString((PyObject*)Py_TYPE(value.ptr()), attr));
    return str_or(text.ptr(), "");
}

// NumPy is optional: its boolean scalar is recognised by name.
bool is_numpy_bool(nb::handle value) {
    if (type_attr(value, "__module__") != "numpy") return false;
    const std::string name = type_attr(value, "__name__");
    return name == "bool_" || name == "bool";
}

// `cell` caches the class of collections.abc named `name`; the class lives
// as long as the interpreter.
bool is_instance_of_abc(nb::handle value, PyObject*& cell, const char* name) {
    if (cell == nullptr) cell = nb::object(nb::module_::import_("collections.abc").attr(name)).release().ptr();
    const int result = PyObject_IsInstance(value.ptr(), cell);
    if (result < 0) throw nb::python_error();
    return result != 0;
}

[[noreturn]] void raise_type_error(const std::string& message) {
    nb::object text = nb::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (!text.is_valid()) throw nb::python_error();
    PyErr_SetObject(PyExc_TypeError, text.ptr());
    throw nb::python_error();
}

}  // namespace

void raise_argument_error(const char* name, const std::string& message) {
    nb::object text = nb::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (!text.is_valid()) throw nb::python_error();
    PyErr_SetObject(PyExc_TypeError, text.ptr());
    raise_conversion_error(name);
}

void raise_conversion_error(const char* name) {
    nb::python_error error;
    if (!error.type().is(PyExc_TypeError)) throw error;
    nb::object message = nb::steal(PyObject_Str(error.value().ptr()));
    if (!message.is_valid()) throw nb::python_error();
    nb::raise_from(error, PyExc_TypeError, "argument '%s': %U", name, message.ptr());
}

std::string type_qualname(nb::handle value) { return type_attr(value, "__qualname__"); }

bool to_bool(nb::handle value) {
    if (value.ptr() == Py_True) return true;
    if (value.ptr() == Py_False) return false;
    if (is_numpy_bool(value)) {
        const int truth = PyObject_IsTrue(value.ptr());
        if (truth < 0) throw nb::python_error();
        return truth != 0;
    }
    raise_type_error("'" + type_qualname(value) + "' object cannot be cast as 'PyBool'");
}

std::string_view to_str(nb::handle value) {
    if (!PyUnicode_Check(value.ptr())) {
        raise_type_error("'" + type_qualname(value) + "' object cannot be cast as 'PyString'");
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(value.ptr(), &size);
    if (data == nullptr) throw nb::python_error();
    return std::string_view(data, static_cast<std::size_t>(size));
}

bool is_sequence(nb::handle value) {
    if (PyList_Check(value.ptr()) || PyTuple_Check(value.ptr())) return true;
    if (PyDict_Check(value.ptr())) return false;
    static PyObject* sequence = nullptr;
    return is_instance_of_abc(value, sequence, "Sequence");
}

bool is_mapping(nb::handle value) {
    if (PyDict_Check(value.ptr())) return true;
    if (PyList_Check(value.ptr()) || PyTuple_Check(value.ptr()) || PyUnicode_Check(value.ptr())) return false;
    static PyObject* mapping = nullptr;
    return is_instance_of_abc(value, mapping, "Mapping");
}

std::vector<nb::object> arg_object_list(nb::handle value, const char* name) {
    if (PyUnicode_Check(value.ptr())) raise_argument_error(name, "Can't extract `str` to `Vec`");
    if (!is_sequence(value)) {
        raise_argument_error(name, "'" + type_qualname(value) + "' object cannot be converted to 'Sequence'");
    }
    // Through a tuple: a snapshot that Python code run while reading the
    // items cannot resize.
    nb::object items = nb::steal(PySequence_Tuple(value.ptr()));
    if (!items.is_valid()) raise_conversion_error(name);
    const Py_ssize_t size = PyTuple_Size(items.ptr());
    std::vector<nb::object> result;
    result.reserve(static_cast<std::size_t>(size));
    for (Py_ssize_t i = 0; i < size; ++i) result.push_back(nb::borrow(PyTuple_GetItem(items.ptr(), i)));
    return result;
}

std::vector<std::string> arg_str_list(nb::handle value, const char* name, std::string_view category) {
    std::vector<nb::object> items = arg_object_list(value, name);
    std::vector<std::string> result;
    result.reserve(items.size());
    for (const nb::object& item : items) result.emplace_back(arg_str(item, name, category));
    return result;
}

namespace {

// The binding of both calling conventions: `positional(i)` gives the i-th
// of `given` positional arguments and `keyword(i, key, value)` the i-th of
// `keywords` keyword arguments, in call order.
template <class Positional, class Keyword>
nb::object bind(const char* function, Py_ssize_t given, Positional&& positional, Py_ssize_t keywords,
                Keyword&& keyword, const Parameter* parameters, std::size_t count, PyObject** out,
                bool collect_rest) {
    for (std::size_t i = 0; i < count; ++i) out[i] = nullptr;
    std::size_t accepted = 0;
    std::size_t required = 0;
    for (; accepted < count && !parameters[accepted].keyword_only; ++accepted) {
        if (parameters[accepted].required) ++required;
    }
    if (given > static_cast<Py_ssize_t>(accepted)) {
        if (required == accepted) {
            PyErr_Format(PyExc_TypeError, "%s() takes %zu positional argument%s but %zd %s given", function,
                         accepted, accepted == 1 ? "" : "s", given, given == 1 ? "was" : "were");
        } else {
            PyErr_Format(PyExc_TypeError, "%s() takes from %zu to %zu positional arguments but %zd %s given",
                         function, required, accepted, given, given == 1 ? "was" : "were");
        }
        throw nb::python_error();
    }
    for (Py_ssize_t i = 0; i < given; ++i) out[i] = positional(i);

    nb::object rest;
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        keyword(k, key, value);
        std::size_t match = count;
        for (std::size_t i = 0; i < count && match == count; ++i) {
            if (PyUnicode_CompareWithASCIIString(key, parameters[i].name) == 0) match = i;
        }
        if (match < count) {
            if (out[match] != nullptr) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function,
                             parameters[match].name);
                throw nb::python_error();
            }
            out[match] = value;
            continue;
        }
        if (!collect_rest) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", function, key);
            throw nb::python_error();
        }
        if (!rest.is_valid()) {
            rest = nb::steal(PyDict_New());
            if (!rest.is_valid()) throw nb::python_error();
        }
        if (PyDict_SetItem(rest.ptr(), key, value) != 0) throw nb::python_error();
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (out[i] == nullptr && parameters[i].required) {
            PyErr_Format(PyExc_TypeError, "%s() missing 1 required %s argument: '%s'", function,
                         parameters[i].keyword_only ? "keyword-only" : "positional", parameters[i].name);
            throw nb::python_error();
        }
    }
    return rest;
}

}  // namespace

nb::object bind_arguments(const char* function, PyObject* args, PyObject* kwargs, const Parameter* parameters,
                          std::size_t count, PyObject** out, bool collect_rest) {
    const Py_ssize_t given = args == nullptr ? 0 : PyTuple_Size(args);
    const Py_ssize_t keywords = kwargs == nullptr ? 0 : PyDict_Size(kwargs);
    Py_ssize_t position = 0;
    return bind(
        function, given, [&](Py_ssize_t i) { return PyTuple_GetItem(args, i); }, keywords,
        [&](Py_ssize_t, PyObject*& key, PyObject*& value) { PyDict_Next(kwargs, &position, &key, &value); },
        parameters, count, out, collect_rest);
}

nb::object bind_fast_arguments(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                               const Parameter* parameters, std::size_t count, PyObject** out, bool collect_rest) {
    const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_Size(kwnames);
    return bind(
        function, nargs, [&](Py_ssize_t i) { return args[i]; }, keywords,
        [&](Py_ssize_t k, PyObject*& key, PyObject*& value) {
            key = PyTuple_GetItem(kwnames, k);
            value = args[nargs + k];
        },
        parameters, count, out, collect_rest);
}

bool arg_bool(nb::handle value, const char* name) {
    if (value.ptr() == Py_True) return true;
    if (value.ptr() == Py_False) return false;
    if (is_numpy_bool(value)) {
        const int truth = PyObject_IsTrue(value.ptr());
        if (truth < 0) raise_conversion_error(name);
        return truth != 0;
    }
    raise_argument_error(name, "'" + type_qualname(value) + "' object cannot be cast as 'PyBool'");
}

std::uint64_t arg_u64(nb::handle value, const char* name) {
    nb::object index;
    PyObject* number = value.ptr();
    if (!PyLong_Check(number)) {
        index = nb::steal(PyNumber_Index(number));
        if (!index.is_valid()) raise_conversion_error(name);
        number = index.ptr();
    }
    const unsigned long long result = PyLong_AsUnsignedLongLong(number);
    if (result == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        raise_conversion_error(name);
    }
    return result;
}

std::string_view arg_str(nb::handle value, const char* name, std::string_view category) {
    if (!PyUnicode_Check(value.ptr())) {
        raise_argument_error(name, "'" + type_qualname(value) + "' object cannot be cast as 'PyString'");
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(value.ptr(), &size);
    if (data == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) raise_conversion_error(name);
        PyErr_Clear();
        raise_error_parts(category, "argument '" + std::string(name) + "' is not valid Unicode: " +
                                        lone_surrogate(value.ptr()));
    }
    return std::string_view(data, static_cast<std::size_t>(size));
}

}  // namespace quorvel::python
