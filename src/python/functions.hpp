// The module-level functions of quorvel._native.
#pragma once

#include <nanobind/nanobind.h>

namespace quorvel::python {

namespace nb = nanobind;

// Adds the functions to the module in their fixed order, before any class.
// Each is a plain builtin function whose docstring is only its text
// signature, so it has a `__text_signature__` and no `__doc__` of its own.
void register_functions(nb::module_& m);

}  // namespace quorvel::python
