// The reading and navigation methods of the Python class Node.
#pragma once

#include <nanobind/nanobind.h>

namespace quorvel::python {

namespace nb = nanobind;

// Adds the 28 reading methods to the class Node.
void add_node_reading_methods(nb::handle node_class);

}  // namespace quorvel::python
