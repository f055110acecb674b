// Every method borrows the node's Document shared, resolves the id (a freed
// node raises EditError "node not found"), asks the read-only view one
// question and converts the answer after the release; only `arg` and
// `arg_slots` build their Python values under the borrow, since those read
// the tree. A question of another kind answers None, False, 0 or [].
#include "python/node_read.hpp"

#include <optional>
#include <string_view>
#include <vector>

#include "python/arg_values.hpp"
#include "python/document.hpp"
#include "python/errors.hpp"
#include "python/extract.hpp"
#include "python/methods.hpp"
#include "python/node.hpp"
#include "python/records.hpp"
#include "syntax/document.hpp"
#include "syntax/node_ref.hpp"

namespace quorvel::python {
namespace {

using syntax::NodeRef;
using Id = syntax::document::NodeId;

const PyNode& self_node(PyObject* self) {
    const PyNode* node = as_node(self);
    if (node == nullptr) raise_error(PyExc_TypeError, "Node object is not initialized");
    return *node;
}

// Runs `question` on the node's view under a shared borrow of its document.
template <class Question>
auto ask(const PyNode& node, Question&& question) {
    SharedBorrow borrow(document_of(node.document));
    auto view = borrow.document().node(node.id);
    if (!view) raise_edit_error(view.error());
    return question(*view);
}

std::optional<Id> handle_of(const std::optional<NodeRef>& view) {
    if (!view) return std::nullopt;
    return view->handle();
}

std::vector<Id> handles_of(const std::vector<NodeRef>& views) {
    std::vector<Id> ids;
    ids.reserve(views.size());
    for (const NodeRef& view : views) ids.push_back(view.handle());
    return ids;
}

nb::object str_object(std::string_view text) {
    nb::object object = nb::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!object.is_valid()) throw nb::python_error();
    return object;
}

nb::object optional_node(const PyNode& node, const std::optional<Id>& id) {
    return id ? new_node(node.document, *id) : nb::none();
}

template <class... Objects>
void parse_arguments(PyObject* args, PyObject* kwargs, const char* format, const char* const* keywords,
                     Objects**... out) {
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), out...)) {
        throw nb::python_error();
    }
}

// ---- Kind tests ----------------------------------------------------------------

PyObject* kind(PyObject* self, PyObject*) {
    return guarded([&] {
        const syntax::NodeKind answer = ask(self_node(self), [](const NodeRef& v) { return v.kind(); });
        return str_object(syntax::node_kind_name(answer));
    });
}

PyObject* is_command(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const keywords[] = {"name", nullptr};
        PyObject* name = Py_None;
        parse_arguments(args, kwargs, "|O:is_command", keywords, &name);
        std::optional<std::string_view> text;
        if (name != Py_None) text = arg_str(name, "name");
        const bool answer = ask(self_node(self), [&](const NodeRef& v) {
            return text ? v.is_command(*text) : v.kind() == syntax::NodeKind::Command;
        });
        return nb::object(nb::bool_(answer));
    });
}

PyObject* is_char(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const keywords[] = {"value", nullptr};
        PyObject* value = Py_None;
        parse_arguments(args, kwargs, "|O:is_char", keywords, &value);
        std::optional<std::string_view> text;
        if (value != Py_None) text = arg_str(value, "value");
        // The character is checked after the node resolves, so a freed node
        // reports "node not found" first.
        const bool answer = ask(self_node(self), [&](const NodeRef& v) {
            return text ? v.is_char(parse_char(*text)) : v.kind() == syntax::NodeKind::Char;
        });
        return nb::object(nb::bool_(answer));
    });
}

PyObject* is_error(PyObject* self, PyObject*) {
    return guarded([&] {
        return nb::object(nb::bool_(ask(self_node(self), [](const NodeRef& v) { return v.is_error(); })));
    });
}

// ---- Navigation ------------------------------------------------------------------

// The methods answering one node or None.
template <std::optional<NodeRef> (NodeRef::*Step)() const>
PyObject* step(PyObject* self, PyObject*) {
    return guarded([&] {
        const PyNode& node = self_node(self);
        return optional_node(node, ask(node, [](const NodeRef& v) { return handle_of((v.*Step)()); }));
    });
}

// The methods answering a list of nodes.
template <std::vector<NodeRef> (NodeRef::*Many)() const>
PyObject* many(PyObject* self, PyObject*) {
    return guarded([&] {
        const PyNode& node = self_node(self);
        return nb::object(py_nodes_list(node.document, ask(node, [](const NodeRef& v) { return handles_of((v.*Many)()); })));
    });
}

// ---- Values ----------------------------------------------------------------------

template <std::optional<std::string_view> (NodeRef::*Name)() const>
PyObject* name(PyObject* self, PyObject*) {
    return guarded([&] {
        // Copied out under the borrow: the view's text lives in the tree.
        const auto answer = ask(self_node(self), [](const NodeRef& v) -> std::optional<std::string> {
            if (auto text = (v.*Name)()) return std::string(*text);
            return std::nullopt;
        });
        return answer ? str_object(*answer) : nb::none();
    });
}

PyObject* character(PyObject* self, PyObject*) {
    return guarded([&]() -> nb::object {
        const auto answer = ask(self_node(self), [](const NodeRef& v) { return v.character(); });
        if (!answer) return nb::none();
        nb::object text = nb::steal(PyUnicode_FromOrdinal(static_cast<int>(*answer)));
        if (!text.is_valid()) throw nb::python_error();
        return text;
    });
}

PyObject* content_mode(PyObject* self, PyObject*) {
    return guarded([&] {
        const auto answer = ask(self_node(self), [](const NodeRef& v) { return v.content_mode(); });
        return answer ? str_object(syntax::content_mode_name(*answer)) : nb::none();
    });
}

PyObject* prime_count(PyObject* self, PyObject*) {
    return guarded([&]() -> nb::object {
        const auto answer = ask(self_node(self), [](const NodeRef& v) { return v.prime_count(); });
        if (!answer) return nb::none();
        nb::object count = nb::steal(PyLong_FromUnsignedLongLong(*answer));
        if (!count.is_valid()) throw nb::python_error();
        return count;
    });
}

PyObject* arg_count(PyObject* self, PyObject*) {
    return guarded([&] {
        const std::size_t answer = ask(self_node(self), [](const NodeRef& v) { return v.arg_count(); });
        nb::object count = nb::steal(PyLong_FromSize_t(answer));
        if (!count.is_valid()) throw nb::python_error();
        return count;
    });
}

PyObject* arg(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const keywords[] = {"index", nullptr};
        PyObject* index = nullptr;
        parse_arguments(args, kwargs, "O:arg", keywords, &index);
        const std::uint64_t position = arg_u64(index, "index");
        const PyNode& node = self_node(self);
        return ask(node, [&](const NodeRef& v) -> nb::object {
            if (position >= v.arg_count()) return nb::none();
            const auto value = v.arg(static_cast<std::size_t>(position));
            return value ? nb::object(py_arg_ref(node.document, *value)) : nb::none();
        });
    });
}

PyObject* arg_slots(PyObject* self, PyObject*) {
    return guarded([&] {
        const PyNode& node = self_node(self);
        return ask(node, [&](const NodeRef& v) {
            const auto slots = v.arg_slots();
            nb::list list;
            for (const auto& slot : slots) {
                nb::object item = slot ? nb::object(py_arg_ref(node.document, *slot)) : nb::none();
                if (PyList_Append(list.ptr(), item.ptr()) != 0) throw nb::python_error();
            }
            return nb::object(std::move(list));
        });
    });
}

PyObject* group_kind(PyObject* self, PyObject*) {
    return guarded([&] {
        // Copied out under the borrow: delimiters are read from the tree.
        const auto answer = ask(self_node(self), [](const NodeRef& v) -> std::optional<syntax::ast::GroupKind> {
            if (const auto* kind = v.group_kind()) return *kind;
            return std::nullopt;
        });
        if (!answer) return nb::object(nb::none());
        nb::dict dict;
        const auto set = [&](const char* key, nb::handle value) {
            if (PyDict_SetItemString(dict.ptr(), key, value.ptr()) != 0) throw nb::python_error();
        };
        if (const auto* delimited = answer->as_delimited()) {
            set("kind", str_object("Delimited"));
            set("left", py_delimiter_ref(delimited->left));
            set("right", py_delimiter_ref(delimited->right));
        } else {
            set("kind", str_object(answer->is_explicit()   ? "Explicit"
                                   : answer->is_implicit() ? "Implicit"
                                                           : "InlineMath"));
        }
        return nb::object(std::move(dict));
    });
}

PyObject* error_parts(PyObject* self, PyObject*) {
    return guarded([&] {
        const auto answer = ask(self_node(self), [](const NodeRef& v) -> std::optional<std::pair<std::string, std::string>> {
            if (auto parts = v.error_parts()) return std::pair{std::string(parts->first), std::string(parts->second)};
            return std::nullopt;
        });
        if (!answer) return nb::object(nb::none());
        nb::dict dict;
        if (PyDict_SetItemString(dict.ptr(), "message", str_object(answer->first).ptr()) != 0 ||
            PyDict_SetItemString(dict.ptr(), "snippet", str_object(answer->second).ptr()) != 0) {
            throw nb::python_error();
        }
        return nb::object(std::move(dict));
    });
}

PyObject* span(PyObject* self, PyObject*) {
    return guarded([&] {
        const auto answer = ask(self_node(self), [](const NodeRef& v) { return v.span(); });
        return answer ? nb::object(to_python(*answer)) : nb::none();
    });
}

constexpr int kArgs = METH_VARARGS | METH_KEYWORDS;

// Static: the interpreter keeps pointers to these for the life of the class.
PyMethodDef METHODS[] = {
    {"kind", c_function(kind), METH_NOARGS, "kind($self)\n--\n\n"},
    {"is_command", c_function(is_command), kArgs, "is_command($self, name=None)\n--\n\n"},
    {"is_char", c_function(is_char), kArgs, "is_char($self, value=None)\n--\n\n"},
    {"is_error", c_function(is_error), METH_NOARGS, "is_error($self)\n--\n\n"},
    {"parent", c_function(step<&NodeRef::parent>), METH_NOARGS, "parent($self)\n--\n\n"},
    {"next_sibling", c_function(step<&NodeRef::next_sibling>), METH_NOARGS, "next_sibling($self)\n--\n\n"},
    {"prev_sibling", c_function(step<&NodeRef::prev_sibling>), METH_NOARGS, "prev_sibling($self)\n--\n\n"},
    {"env_body", c_function(step<&NodeRef::env_body>), METH_NOARGS, "env_body($self)\n--\n\n"},
    {"script_base", c_function(step<&NodeRef::script_base>), METH_NOARGS, "script_base($self)\n--\n\n"},
    {"subscript", c_function(step<&NodeRef::subscript>), METH_NOARGS, "subscript($self)\n--\n\n"},
    {"superscript", c_function(step<&NodeRef::superscript>), METH_NOARGS, "superscript($self)\n--\n\n"},
    {"infix_left", c_function(step<&NodeRef::infix_left>), METH_NOARGS, "infix_left($self)\n--\n\n"},
    {"infix_right", c_function(step<&NodeRef::infix_right>), METH_NOARGS, "infix_right($self)\n--\n\n"},
    {"children", c_function(many<&NodeRef::children>), METH_NOARGS, "children($self)\n--\n\n"},
    {"ancestors", c_function(many<&NodeRef::ancestors>), METH_NOARGS, "ancestors($self)\n--\n\n"},
    {"descendants", c_function(many<&NodeRef::descendants>), METH_NOARGS, "descendants($self)\n--\n\n"},
    {"command_name", c_function(name<&NodeRef::command_name>), METH_NOARGS, "command_name($self)\n--\n\n"},
    {"env_name", c_function(name<&NodeRef::env_name>), METH_NOARGS, "env_name($self)\n--\n\n"},
    {"text", c_function(name<&NodeRef::text>), METH_NOARGS, "text($self)\n--\n\n"},
    {"char", c_function(character), METH_NOARGS, "char($self)\n--\n\n"},
    {"content_mode", c_function(content_mode), METH_NOARGS, "content_mode($self)\n--\n\n"},
    {"prime_count", c_function(prime_count), METH_NOARGS, "prime_count($self)\n--\n\n"},
    {"arg_count", c_function(arg_count), METH_NOARGS, "arg_count($self)\n--\n\n"},
    {"arg", c_function(arg), kArgs, "arg($self, index)\n--\n\n"},
    {"arg_slots", c_function(arg_slots), METH_NOARGS, "arg_slots($self)\n--\n\n"},
    {"group_kind", c_function(group_kind), METH_NOARGS, "group_kind($self)\n--\n\n"},
    {"error_parts", c_function(error_parts), METH_NOARGS, "error_parts($self)\n--\n\n"},
    {"span", c_function(span), METH_NOARGS, "span($self)\n--\n\n"},
};

}  // namespace

void add_node_reading_methods(nb::handle node_class) { add_methods(node_class, METHODS); }

}  // namespace quorvel::python
