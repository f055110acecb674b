// Methods of the bound classes as plain CPython method descriptors, so that
// each one's docstring can be its bare text signature ("root($self)\n--\n\n")
// and `inspect.signature` reads it. Bodies run through `guarded`.
#pragma once

#include <nanobind/nanobind.h>

#include <cstddef>

namespace quorvel::python {

namespace nb = nanobind;

template <class F>
PyCFunction c_function(F* function) {
    // Through void(*)() so that the cast of a keywords function to the
    // generic PyCFunction type draws no warning.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// Adds each entry of `defs` to the class `cls`: instance methods as method
// descriptors, entries flagged METH_STATIC as static methods and entries
// flagged METH_CLASS as class methods. The table must outlive the class (a
// static array).
void add_methods(nb::handle cls, PyMethodDef* defs, std::size_t count);

template <std::size_t N>
void add_methods(nb::handle cls, PyMethodDef (&defs)[N]) {
    add_methods(cls, defs, N);
}

// A constructor body for the slot tp_new: binds and converts the arguments
// and returns the new instance (null with the Python error set on failure).
using NewFunction = PyObject* (*)(PyTypeObject*, PyObject*, PyObject*);

// Accepts any arguments and does nothing: construction happens in `__new__`
// alone, so calling `__init__` again on a built object changes nothing.
int init_does_nothing(PyObject*, PyObject*, PyObject*);

// Type slots (for nb::type_slots) of a class built through `__new__`. The
// class keeps the interpreter's own `__new__` and `__init__` wrappers, so
// `inspect.signature` and `help` read the text signature of its docstring.
template <NewFunction New>
inline const PyType_Slot constructor_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(New)},
    {Py_tp_init, reinterpret_cast<void*>(&init_does_nothing)},
    {0, nullptr},
};

// Refuses positional arguments of a keyword-only method:
// "{name}() takes 0 positional arguments but {n} were given".
void reject_positional(PyObject* args, const char* name);

}  // namespace quorvel::python
