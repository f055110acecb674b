#include "python/node.hpp"

#include <string>

#include "python/errors.hpp"
#include "python/extract.hpp"

namespace quorvel::python {

nb::object new_node(nb::handle document, syntax::document::NodeId id) {
    return nb::cast(PyNode{nb::borrow(document), id}, nb::rv_policy::move);
}

nb::list py_nodes_list(nb::handle document, const std::vector<syntax::document::NodeId>& ids) {
    nb::object list = nb::steal(PyList_New(static_cast<Py_ssize_t>(ids.size())));
    if (!list.is_valid()) throw nb::python_error();
    // A fresh list holds null items until each is set; nothing else sees it
    // before it is complete.
    for (std::size_t i = 0; i < ids.size(); ++i) {
        PyList_SetItem(list.ptr(), static_cast<Py_ssize_t>(i), new_node(document, ids[i]).release().ptr());
    }
    return nb::borrow<nb::list>(list);
}

const PyNode* as_node(nb::handle value) {
    // `Node.__new__(Node)` makes an object whose fields were never set.
    if (!nb::isinstance<PyNode>(value) || !nb::inst_ready(value)) return nullptr;
    return nb::inst_ptr<PyNode>(value);
}

const PyNode& node_arg(nb::handle value, const char* name) {
    const PyNode* node = as_node(value);
    if (node == nullptr) {
        raise_argument_error(name, "'" + type_qualname(value) + "' object cannot be cast as 'Node'");
    }
    return *node;
}

syntax::document::NodeId owned_node_id(const PyNode& node, nb::handle document) {
    if (!node.document.is(document)) {
        raise_edit_error(syntax::document::EditError::Kind::ForeignNode);
    }
    return node.id;
}

void register_node_class(nb::module_& m) {
    // No constructor: nodes are handed out by Document methods. No equality
    // or hashing of its own: two handles of one node are distinct objects.
    nb::class_<PyNode> cls(m, "Node", nb::is_final());
    cls.attr("__module__") = "builtins";
}

}  // namespace quorvel::python
