// The Python class TransformEngine: a parser together with a transform whose
// rule plan was chosen once, at construction.
#pragma once

#include <nanobind/nanobind.h>

#include "facade/transform_engine.hpp"

namespace quorvel::python {

namespace nb = nanobind;

struct PyTransformEngine {
    facade::TransformEngine engine;
};

// Adds the class TransformEngine to the module.
void register_transform_engine_class(nb::module_& m);

}  // namespace quorvel::python
