// The five exception classes of the module, each created once per process.
#pragma once

#include <Python.h>

namespace quorvel::python {

PyObject* quorvel_error();
PyObject* parse_error();
PyObject* edit_error();
PyObject* config_error();
PyObject* transform_error();

}  // namespace quorvel::python
