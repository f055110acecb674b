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
// descriptors, entries flagged METH_STATIC as static methods. The table must
// outlive the class (a static array).
void add_methods(nb::handle cls, PyMethodDef* defs, std::size_t count);

template <std::size_t N>
void add_methods(nb::handle cls, PyMethodDef (&defs)[N]) {
    add_methods(cls, defs, N);
}

// Refuses positional arguments of a keyword-only method:
// "{name}() takes 0 positional arguments but {n} were given".
void reject_positional(PyObject* args, const char* name);

}  // namespace quorvel::python
