#include "python/exceptions.hpp"

#include <cstdio>
#include <cstdlib>

namespace quorvel::python {
namespace {

// Called with the interpreter lock held; creating a class never releases it,
// so a plain cell is filled at most once.
PyObject* make_class(PyObject*& cell, const char* qualified_name, PyObject* base) {
    if (cell == nullptr) {
        PyObject* cls = PyErr_NewException(qualified_name, base, nullptr);
        if (cls == nullptr) {
            PyErr_Print();
            std::fputs("Failed to initialize new exception type.\n", stderr);
            std::abort();
        }
        cell = cls;  // never released
    }
    return cell;
}

}  // namespace

PyObject* quorvel_error() {
    static PyObject* cell = nullptr;
    return make_class(cell, "quorvel.QuorvelError", PyExc_Exception);
}
PyObject* parse_error() {
    static PyObject* cell = nullptr;
    return make_class(cell, "quorvel.ParseError", quorvel_error());
}
PyObject* edit_error() {
    static PyObject* cell = nullptr;
    return make_class(cell, "quorvel.EditError", quorvel_error());
}
PyObject* config_error() {
    static PyObject* cell = nullptr;
    return make_class(cell, "quorvel.ConfigError", quorvel_error());
}
PyObject* transform_error() {
    static PyObject* cell = nullptr;
    return make_class(cell, "quorvel.TransformError", quorvel_error());
}

}  // namespace quorvel::python
