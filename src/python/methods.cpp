#include "python/methods.hpp"

namespace quorvel::python {

void add_methods(nb::handle cls, PyMethodDef* defs, std::size_t count) {
    auto* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
    for (std::size_t i = 0; i < count; ++i) {
        PyMethodDef* def = &defs[i];
        nb::object method;
        if (def->ml_flags & METH_STATIC) {
            nb::object function = nb::steal(PyCFunction_NewEx(def, nullptr, nullptr));
            if (!function.is_valid()) throw nb::python_error();
            method = nb::steal(PyObject_CallFunctionObjArgs(
                reinterpret_cast<PyObject*>(&PyStaticMethod_Type), function.ptr(), nullptr));
        } else if (def->ml_flags & METH_CLASS) {
            method = nb::steal(PyDescr_NewClassMethod(type, def));
        } else {
            method = nb::steal(PyDescr_NewMethod(type, def));
        }
        if (!method.is_valid()) throw nb::python_error();
        if (PyObject_SetAttrString(cls.ptr(), def->ml_name, method.ptr()) != 0) throw nb::python_error();
    }
}

int init_does_nothing(PyObject*, PyObject*, PyObject*) { return 0; }

void reject_positional(PyObject* args, const char* name) {
    const Py_ssize_t given = args == nullptr ? 0 : PyTuple_Size(args);
    if (given > 0) {
        PyErr_Format(PyExc_TypeError, "%s() takes 0 positional arguments but %zd %s given", name, given,
                     given == 1 ? "was" : "were");
        throw nb::python_error();
    }
}

}  // namespace quorvel::python
