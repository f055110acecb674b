#include "python/extract.hpp"

#include <string_view>

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

std::string_view arg_str(nb::handle value, const char* name) {
    if (!PyUnicode_Check(value.ptr())) {
        raise_argument_error(name, "'" + type_qualname(value) + "' object cannot be cast as 'PyString'");
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(value.ptr(), &size);
    if (data == nullptr) raise_conversion_error(name);
    return std::string_view(data, static_cast<std::size_t>(size));
}

}  // namespace quorvel::python
