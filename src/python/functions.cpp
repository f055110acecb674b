#include "python/functions.hpp"

#include <exception>
#include <new>

#include "facade/records.hpp"
#include "facade/records_argspec.hpp"
#include "python/extract.hpp"
#include "python/records.hpp"

namespace quorvel::python {
namespace {

PyObject* builtin_exception_type(nb::exception_type type) {
    switch (type) {
        case nb::exception_type::stop_iteration: return PyExc_StopIteration;
        case nb::exception_type::index_error: return PyExc_IndexError;
        case nb::exception_type::key_error: return PyExc_KeyError;
        case nb::exception_type::value_error: return PyExc_ValueError;
        case nb::exception_type::type_error: return PyExc_TypeError;
        case nb::exception_type::buffer_error: return PyExc_BufferError;
        case nb::exception_type::import_error: return PyExc_ImportError;
        case nb::exception_type::attribute_error: return PyExc_AttributeError;
        default: return PyExc_RuntimeError;
    }
}

// The functions are plain CPython builtins rather than binding-library
// functions so that their docstring can be the bare text signature. Their
// bodies therefore turn C++ exceptions into the pending Python error
// themselves.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body().release().ptr();
    } catch (nb::python_error& error) {
        error.restore();
    } catch (const nb::builtin_exception& error) {
        PyErr_SetString(builtin_exception_type(error.type()), error.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_SystemError, error.what());
    }
    return nullptr;
}

PyObject* validate_argspec(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const keywords[] = {"spec", nullptr};
        PyObject* spec = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:validate_argspec", const_cast<char**>(keywords),
                                         &spec)) {
            throw nb::python_error();
        }
        return nb::object(to_python(facade::validate_argspec(arg_str(spec, "spec"))));
    });
}

PyObject* list_packages(PyObject*, PyObject*) {
    return guarded([] { return nb::object(to_python(facade::list_packages_to_dto())); });
}

template <class F>
PyCFunction c_function(F* function) {
    // Through void(*)() so that the cast of a keywords function to the
    // generic PyCFunction type draws no warning.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// Static: the interpreter keeps pointers to these for the life of the
// functions.
PyMethodDef FUNCTIONS[] = {
    {"validate_argspec", c_function(validate_argspec), METH_VARARGS | METH_KEYWORDS,
     "validate_argspec(spec)\n--\n\n"},
    {"list_packages", c_function(list_packages), METH_NOARGS, "list_packages()\n--\n\n"},
};

}  // namespace

void register_functions(nb::module_& m) {
    nb::object module_name = nb::steal(PyModule_GetNameObject(m.ptr()));
    if (!module_name.is_valid()) throw nb::python_error();
    for (PyMethodDef& def : FUNCTIONS) {
        nb::object function = nb::steal(PyCFunction_NewEx(&def, m.ptr(), module_name.ptr()));
        if (!function.is_valid()) throw nb::python_error();
        m.attr(def.ml_name) = function;
    }
}

}  // namespace quorvel::python
