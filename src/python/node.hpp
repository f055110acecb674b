// The Python class Node: a handle naming one node of one Document object.
// It holds no tree logic; the Document object it references answers every
// question about the node.
#pragma once

#include <nanobind/nanobind.h>

#include <vector>

#include "syntax/document.hpp"

namespace quorvel::python {

namespace nb = nanobind;

struct PyNode {
    // The Document object; the handle keeps it alive.
    nb::object document;
    // Stable while the node exists, detached or not; refused by the
    // document once the node has been freed.
    syntax::document::NodeId id;
};

// A new Node object for `id`, a handle given out by the document of the
// Document object `document`.
nb::object new_node(nb::handle document, syntax::document::NodeId id);

// New Node objects for `ids`, in order.
nb::list py_nodes_list(nb::handle document, const std::vector<syntax::document::NodeId>& ids);

// A constructed Node object, or null for anything else.
const PyNode* as_node(nb::handle value);

// A Node argument, else TypeError
// "argument '{name}': '{type}' object cannot be cast as 'Node'".
const PyNode& node_arg(nb::handle value, const char* name);

// The node's id when its Document object is `document` itself (identity,
// not equality), else EditError "node belongs to a different document".
syntax::document::NodeId owned_node_id(const PyNode& node, nb::handle document);

// Adds the class Node to the module.
void register_node_class(nb::module_& m);

}  // namespace quorvel::python
