// The exchange tree as nested Python objects. Every enumeration is
// externally tagged: a variant without fields is its bare name
// ("ActiveSpace"), one with a payload or with named fields a one-key dict
// ({"Text": "x"}, {"Prime": {"count": 2}}); an argument is a plain dict of
// its fields.
//
// Both directions walk with explicit stacks, so a tree of any depth is
// read and written without growing the call stack.
#pragma once

#include <nanobind/nanobind.h>

#include <string>

#include "syntax/syntax_node.hpp"
#include "util/expected.hpp"

namespace quorvel::python {

namespace nb = nanobind;

// Reads the Python form, stopping at the first malformed value. Its message
// is returned for the caller to raise inside "invalid syntax node: {}".
// Unknown record keys are skipped unexamined and booleans are read by
// truth value. Failures of the interpreter that are not about the value
// (no memory, KeyboardInterrupt) propagate as nb::python_error.
util::Expected<syntax::SyntaxNode, std::string> syntax_from_python(nb::handle value);

// The Python form of `node`; field dicts keep the declaration order.
nb::object syntax_to_python(const syntax::SyntaxNode& node);

}  // namespace quorvel::python
