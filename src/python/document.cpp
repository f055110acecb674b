#include "python/document.hpp"

#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "facade/read_back.hpp"
#include "facade/records.hpp"
#include "facade/serialize_options_input.hpp"
#include "python/arg_values.hpp"
#include "python/config_overrides.hpp"
#include "python/errors.hpp"
#include "python/exceptions.hpp"
#include "python/extract.hpp"
#include "python/methods.hpp"
#include "python/node.hpp"
#include "python/records.hpp"
#include "python/syntax_dict.hpp"
#include "syntax/packed_tree.hpp"

namespace quorvel::python {

namespace {

using syntax::document::Document;
using syntax::document::EditError;
using Id = syntax::document::NodeId;

[[noreturn]] void raise_borrow_conflict(const char* reason) {
    raise_error(edit_error(), std::string("document borrow conflict: ") + reason);
}

}  // namespace

SharedBorrow::SharedBorrow(PyDocument& owner) : owner_(owner) {
    if (owner_.borrow < 0) raise_borrow_conflict("Already mutably borrowed");
    ++owner_.borrow;
}

ExclusiveBorrow::ExclusiveBorrow(PyDocument& owner) : owner_(owner) {
    if (owner_.borrow != 0) raise_borrow_conflict("Already borrowed");
    owner_.borrow = -1;
}

namespace {
// The class Document, set once when it is registered (later module objects
// share it), so that each new document skips the binding library's lookup
// of the class by its C++ type.
PyTypeObject* document_class = nullptr;
}  // namespace

nb::object new_document_object(Document&& document, std::shared_ptr<const parse::ParseContext> context) {
    nb::object object = nb::inst_alloc(nb::handle(reinterpret_cast<PyObject*>(document_class)));
    new (nb::inst_ptr<PyDocument>(object)) PyDocument{std::move(document), 0, std::move(context)};
    nb::inst_mark_ready(object);
    return object;
}

PyDocument& document_of(nb::handle object) { return *nb::inst_ptr<PyDocument>(object); }

syntax::SerializeOptions serialize_options_from_kwargs(PyObject* kwargs) {
    return facade::input::to_serialize_options(config::serialize_options_from_python(nb::handle(kwargs)));
}

namespace {

// The receiver of a method; the method descriptor has checked its type. An
// object that was never constructed is unreachable from Python while
// `__new__` constructs; the check keeps a method from ever reading one.
PyDocument& self_document(PyObject* self) {
    if (!nb::inst_ready(self)) raise_error(PyExc_TypeError, "Document object is not initialized");
    return document_of(self);
}

template <class... Objects>
void parse_arguments(PyObject* args, PyObject* kwargs, const char* format, const char* const* keywords,
                     Objects**... out) {
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), out...)) {
        throw nb::python_error();
    }
}

// Runs `op` on the document under a shared borrow; the result is converted
// to Python by the caller, after the release.
template <class Op>
auto read(PyObject* self, Op&& op) {
    SharedBorrow borrow(self_document(self));
    return op(borrow.document());
}

// Runs the edit `op` under the exclusive borrow, releases it, then raises
// the refusal or gives the edit's value (edit_to_none: gives None).
template <class Op>
auto edit(PyObject* self, Op&& op) {
    PyDocument& owner = self_document(self);
    auto result = [&] {
        ExclusiveBorrow borrow(owner);
        return op(borrow.document());
    }();
    if (!result) raise_edit_error(result.error());
    return std::move(result).value();
}

template <class Op>
nb::object edit_to_none(PyObject* self, Op&& op) {
    PyDocument& owner = self_document(self);
    auto result = [&] {
        ExclusiveBorrow borrow(owner);
        return op(borrow.document());
    }();
    if (!result) raise_edit_error(result.error());
    return nb::none();
}

std::vector<Id> handles(const std::vector<syntax::NodeRef>& nodes) {
    std::vector<Id> ids;
    ids.reserve(nodes.size());
    for (const syntax::NodeRef& node : nodes) ids.push_back(node.handle());
    return ids;
}

nb::object str_object(std::string_view text) {
    nb::object object = nb::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!object.is_valid()) throw nb::python_error();
    return object;
}

// `args` of the create methods: absent or None, else a sequence.
std::optional<std::vector<nb::object>> optional_list(PyObject* value, const char* name) {
    if (value == nullptr || value == Py_None) return std::nullopt;
    return arg_object_list(value, name);
}

const std::vector<nb::object>* ptr(const std::optional<std::vector<nb::object>>& list) {
    return list ? &*list : nullptr;
}

// ---- Construction ------------------------------------------------------------

// Document(): no arguments.
PyObject* new_document(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        bind_arguments("Document.__new__", args, kwargs, nullptr, 0, nullptr, false);
        return nb::cast(PyDocument{}, nb::rv_policy::move);
    });
}

}  // namespace

PyObject* from_syntax(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const keywords[] = {"node", nullptr};
        PyObject* node = nullptr;
        parse_arguments(args, kwargs, "O:from_syntax", keywords, &node);
        auto tree = syntax_from_python(node);
        if (!tree) raise_error_parts("parse", "invalid syntax node: " + tree.error());
        auto document = Document::from_syntax(*tree);
        if (!document) raise_error_parts("parse", syntax::message(document.error()));
        return new_document_object(std::move(*document));
    });
}

PyObject* from_packed(PyObject*, PyObject* args) {
    return guarded([&] {
        PyObject* data = nullptr;
        if (!PyArg_ParseTuple(args, "O!:_document_from_packed", &PyBytes_Type, &data)) throw nb::python_error();
        char* bytes = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(data, &bytes, &size) != 0) throw nb::python_error();
        auto tree = syntax::unpack_tree(std::string_view(bytes, static_cast<std::size_t>(size)));
        if (!tree) raise_error_parts("parse", "invalid syntax node: " + tree.error());
        // A copy of a document that was: whatever its edits made of it, and
        // however it writes, it comes back as it was.
        auto document = Document::from_syntax_unchecked(*tree);
        if (!document) raise_error_parts("parse", syntax::message(document.error()));
        return new_document_object(std::move(*document));
    });
}

namespace {

// Pickled as its exchange tree in packed form (flat bytes, so the pickle's
// depth does not grow with the tree's), rebuilt by a private module function
// (the class itself cannot be found by name: its module is "builtins"). A
// rebuilt document has no parse context and no spans, like any document made
// by `from_syntax`. Pickles made as nested dicts still load through
// `_document_from_syntax`.
PyObject* reduce(PyObject* self, PyObject*) {
    return guarded([&] {
        const std::string packed = read(self, [](const Document& d) { return syntax::pack_tree(d.to_syntax()); });
        nb::object data = nb::steal(PyBytes_FromStringAndSize(packed.data(), static_cast<Py_ssize_t>(packed.size())));
        if (!data.is_valid()) throw nb::python_error();
        nb::object rebuild = nb::module_::import_("quorvel._native").attr("_document_from_packed");
        return nb::object(nb::make_tuple(rebuild, nb::make_tuple(data)));
    });
}

// ---- Reading -------------------------------------------------------------------

PyObject* root(PyObject* self, PyObject*) {
    return guarded([&] { return new_node(self, read(self, [](const Document& d) { return d.root(); })); });
}

PyObject* has_errors(PyObject* self, PyObject*) {
    return guarded([&] {
        return nb::object(nb::bool_(read(self, [](const Document& d) { return d.read_only(); })));
    });
}

PyObject* errors(PyObject* self, PyObject*) {
    return guarded([&] {
        return py_nodes_list(self, read(self, [](const Document& d) { return handles(d.errors()); }));
    });
}

template <bool Environments>
PyObject* find(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const keywords[] = {"name", nullptr};
        PyObject* name = nullptr;
        parse_arguments(args, kwargs, Environments ? "O:find_environments" : "O:find_commands", keywords, &name);
        const std::string_view text = arg_str(name, "name");
        return py_nodes_list(self, read(self, [&](const Document& d) {
                                 return handles(Environments ? d.find_environments(text) : d.find_commands(text));
                             }));
    });
}

PyObject* to_syntax(PyObject* self, PyObject*) {
    return guarded([&] { return syntax_to_python(read(self, [](const Document& d) { return d.to_syntax(); })); });
}

PyObject* node_spans(PyObject* self, PyObject*) {
    return guarded([&] {
        return nb::object(
            to_python(read(self, [](const Document& d) { return facade::node_spans_to_dto(d); })));
    });
}

PyObject* to_latex(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        reject_positional(args, "to_latex");
        const syntax::SerializeOptions options = serialize_options_from_kwargs(kwargs);
        auto latex = read(self, [&](const Document& d) { return d.to_latex_with(options); });
        if (!latex) raise_error(quorvel_error(), latex.error().message());
        return str_object(*latex);
    });
}

PyObject* to_tokenized_latex(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        reject_positional(args, "to_tokenized_latex");
        const syntax::SerializeOptions options = serialize_options_from_kwargs(kwargs);
        auto written = read(self, [&](const Document& d) { return d.to_tokenized_latex_with(options); });
        if (!written) raise_error(quorvel_error(), written.error().message());
        return nb::object(to_python(
            facade::tokenized_latex_to_dto(std::move(written->text), std::move(written->tokens))));
    });
}

// ---- Creating nodes --------------------------------------------------------------

// What reads the document's edits back: its parser's context, or the
// default packages'.
facade::ContextReader reader_of(PyObject* self) {
    const PyDocument& owner = self_document(self);
    return facade::ContextReader(owner.context != nullptr ? owner.context : facade::default_parse_context());
}


PyObject* create_char(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const keywords[] = {"value", nullptr};
        PyObject* value = nullptr;
        parse_arguments(args, kwargs, "O:create_char", keywords, &value);
        const std::string_view text = arg_str(value, "value", "edit");
        const char32_t c = parse_char(text);
        return new_node(self, edit(self, [&](Document& d) { return d.create_char(c); }));
    });
}

PyObject* create_text(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const keywords[] = {"value", nullptr};
        PyObject* value = nullptr;
        parse_arguments(args, kwargs, "O:create_text", keywords, &value);
        std::string text(arg_str(value, "value", "edit"));
        return new_node(self, edit(self, [&](Document& d) {
                            return d.create_node(syntax::ast::Node::Text{std::move(text)});
                        }));
    });
}

PyObject* create_active_space(PyObject* self, PyObject*) {
    return guarded([&] { return new_node(self, edit(self, [](Document& d) { return d.create_active_space(); })); });
}

PyObject* create_group(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const keywords[] = {"mode", nullptr};
        PyObject* mode = nullptr;
        parse_arguments(args, kwargs, "O:create_group", keywords, &mode);
        const std::string_view text = arg_str(mode, "mode", "config");
        const syntax::ContentMode content_mode = py_content_mode(text);
        return new_node(self, edit(self, [&](Document& d) { return d.create_group(content_mode); }));
    });
}

template <bool Declarative>
PyObject* create_command_like(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const keywords[] = {"name", "args", nullptr};
        PyObject* name = nullptr;
        PyObject* values = nullptr;
        parse_arguments(args, kwargs, Declarative ? "O|O:create_declarative" : "O|O:create_command", keywords,
                        &name, &values);
        std::string text(arg_str(name, "name", "edit"));
        const auto list = optional_list(values, "args");
        std::vector<syntax::ArgValue> converted = py_arg_values(self, ptr(list));
        const facade::ContextReader reader = reader_of(self);
        return new_node(self, edit(self, [&](Document& d) {
                            return Declarative ? d.create_declarative(std::move(text), std::move(converted), &reader)
                                               : d.create_command(std::move(text), std::move(converted), &reader);
                        }));
    });
}

PyObject* create_environment(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const keywords[] = {"name", "args", "body", nullptr};
        PyObject* name = nullptr;
        PyObject* values = nullptr;
        PyObject* body = nullptr;
        parse_arguments(args, kwargs, "OOO:create_environment", keywords, &name, &values, &body);
        std::string text(arg_str(name, "name", "edit"));
        const auto list = optional_list(values, "args");
        const PyNode& body_node = node_arg(body, "body");
        const Id body_id = owned_node_id(body_node, self);
        std::vector<syntax::ArgValue> converted = py_arg_values(self, ptr(list));
        const facade::ContextReader reader = reader_of(self);
        return new_node(self, edit(self, [&](Document& d) {
                            return d.create_environment(std::move(text), std::move(converted), body_id, &reader);
                        }));
    });
}

// ---- Editing -----------------------------------------------------------------------

// The methods taking two nodes and returning nothing.
enum class Pair { AppendChild, InsertBefore, InsertAfter, ReplaceWith };

template <Pair Op>
PyObject* edit_pair(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const* const keywords = [] {
            static const char* const append[] = {"parent", "child", nullptr};
            static const char* const insert[] = {"anchor", "new", nullptr};
            static const char* const replace[] = {"target", "replacement", nullptr};
            if constexpr (Op == Pair::AppendChild) return append;
            if constexpr (Op == Pair::ReplaceWith) return replace;
            return insert;
        }();
        static const char* const format = Op == Pair::AppendChild   ? "OO:append_child"
                                          : Op == Pair::InsertBefore ? "OO:insert_before"
                                          : Op == Pair::InsertAfter  ? "OO:insert_after"
                                                                     : "OO:replace_with";
        PyObject* first = nullptr;
        PyObject* second = nullptr;
        parse_arguments(args, kwargs, format, keywords, &first, &second);
        const PyNode& a = node_arg(first, keywords[0]);
        const PyNode& b = node_arg(second, keywords[1]);
        const Id a_id = owned_node_id(a, self);
        const Id b_id = owned_node_id(b, self);
        const facade::ContextReader reader = reader_of(self);
        return edit_to_none(self, [&](Document& d) {
            if constexpr (Op == Pair::AppendChild) return d.append_child(a_id, b_id, &reader);
            if constexpr (Op == Pair::InsertBefore) return d.insert_before(a_id, b_id, &reader);
            if constexpr (Op == Pair::InsertAfter) return d.insert_after(a_id, b_id, &reader);
            if constexpr (Op == Pair::ReplaceWith) return d.replace_with(a_id, b_id, &reader);
        });
    });
}

PyObject* insert_child(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const keywords[] = {"parent", "index", "child", nullptr};
        PyObject* parent = nullptr;
        PyObject* index = nullptr;
        PyObject* child = nullptr;
        parse_arguments(args, kwargs, "OOO:insert_child", keywords, &parent, &index, &child);
        const PyNode& p = node_arg(parent, "parent");
        const std::uint64_t position = arg_u64(index, "index");
        const PyNode& c = node_arg(child, "child");
        const Id p_id = owned_node_id(p, self);
        const Id c_id = owned_node_id(c, self);
        const facade::ContextReader reader = reader_of(self);
        return edit_to_none(self, [&](Document& d) { return d.insert_child(p_id, position, c_id, &reader); });
    });
}

PyObject* wrap(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const keywords[] = {"target", "wrapper", nullptr};
        PyObject* target = nullptr;
        PyObject* wrapper = nullptr;
        parse_arguments(args, kwargs, "OO:wrap", keywords, &target, &wrapper);
        const PyNode& t = node_arg(target, "target");
        const PyNode& w = node_arg(wrapper, "wrapper");
        const Id t_id = owned_node_id(t, self);
        const Id w_id = owned_node_id(w, self);
        const facade::ContextReader reader = reader_of(self);
        return new_node(self, edit(self, [&](Document& d) { return d.wrap(t_id, w_id, &reader); }));
    });
}

// The methods taking one node: unwrap, extract, remove, clear.
enum class Single { Unwrap, Extract, Remove, Clear };

template <Single Op>
PyObject* edit_single(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> nb::object {
        static const char* const keyword = Op == Single::Unwrap ? "group" : Op == Single::Clear ? "container" : "node";
        static const char* const keywords[] = {keyword, nullptr};
        static const char* const format = Op == Single::Unwrap    ? "O:unwrap"
                                          : Op == Single::Extract ? "O:extract"
                                          : Op == Single::Remove  ? "O:remove"
                                                                  : "O:clear";
        PyObject* node = nullptr;
        parse_arguments(args, kwargs, format, keywords, &node);
        const Id id = owned_node_id(node_arg(node, keyword), self);
        if constexpr (Op == Single::Unwrap) {
            return py_nodes_list(self, edit(self, [&](Document& d) { return d.unwrap(id); }));
        } else if constexpr (Op == Single::Extract) {
            return new_node(self, edit(self, [&](Document& d) { return d.extract(id); }));
        } else if constexpr (Op == Single::Remove) {
            return edit_to_none(self, [&](Document& d) { return d.remove(id); });
        } else {
            return edit_to_none(self, [&](Document& d) { return d.clear(id); });
        }
    });
}

// set_command_name and set_text: a node and a string.
template <bool Text>
PyObject* set_string(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const keywords[] = {"node", Text ? "value" : "name", nullptr};
        PyObject* node = nullptr;
        PyObject* value = nullptr;
        parse_arguments(args, kwargs, Text ? "OO:set_text" : "OO:set_command_name", keywords, &node, &value);
        const PyNode& n = node_arg(node, "node");
        std::string text(arg_str(value, keywords[1], "edit"));
        const Id id = owned_node_id(n, self);
        const facade::ContextReader reader = reader_of(self);
        return edit_to_none(self, [&](Document& d) {
            return Text ? d.set_text(id, std::move(text)) : d.set_command_name(id, std::move(text), &reader);
        });
    });
}

PyObject* set_char(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const keywords[] = {"node", "value", nullptr};
        PyObject* node = nullptr;
        PyObject* value = nullptr;
        parse_arguments(args, kwargs, "OO:set_char", keywords, &node, &value);
        const PyNode& n = node_arg(node, "node");
        const std::string_view text = arg_str(value, "value", "edit");
        const Id id = owned_node_id(n, self);
        const char32_t c = parse_char(text);
        return edit_to_none(self, [&](Document& d) { return d.set_char(id, c); });
    });
}

PyObject* set_arg(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        static const char* const keywords[] = {"node", "index", "value", nullptr};
        PyObject* node = nullptr;
        PyObject* index = nullptr;
        PyObject* value = nullptr;
        parse_arguments(args, kwargs, "OOO:set_arg", keywords, &node, &index, &value);
        const PyNode& n = node_arg(node, "node");
        const std::uint64_t position = arg_u64(index, "index");
        const Id id = owned_node_id(n, self);
        syntax::ArgValue converted = py_arg_value(self, value);
        const facade::ContextReader reader = reader_of(self);
        return edit_to_none(self, [&](Document& d) {
            return d.set_arg(id, position, std::move(converted), &reader);
        });
    });
}

constexpr int kArgs = METH_VARARGS | METH_KEYWORDS;

// Static: the interpreter keeps pointers to these for the life of the class.
PyMethodDef METHODS[] = {
    {"from_syntax", c_function(from_syntax), kArgs | METH_STATIC, "from_syntax(node)\n--\n\n"},
    {"root", c_function(root), METH_NOARGS, "root($self)\n--\n\n"},
    {"has_errors", c_function(has_errors), METH_NOARGS, "has_errors($self)\n--\n\n"},
    {"is_read_only", c_function(has_errors), METH_NOARGS, "is_read_only($self)\n--\n\n"},
    {"errors", c_function(errors), METH_NOARGS, "errors($self)\n--\n\n"},
    {"find_commands", c_function(find<false>), kArgs, "find_commands($self, name)\n--\n\n"},
    {"find_environments", c_function(find<true>), kArgs, "find_environments($self, name)\n--\n\n"},
    {"to_syntax", c_function(to_syntax), METH_NOARGS, "to_syntax($self)\n--\n\n"},
    {"node_spans", c_function(node_spans), METH_NOARGS, "node_spans($self)\n--\n\n"},
    {"to_latex", c_function(to_latex), kArgs, "to_latex($self, **options)\n--\n\n"},
    {"to_tokenized_latex", c_function(to_tokenized_latex), kArgs, "to_tokenized_latex($self, **options)\n--\n\n"},
    {"create_char", c_function(create_char), kArgs, "create_char($self, value)\n--\n\n"},
    {"create_text", c_function(create_text), kArgs, "create_text($self, value)\n--\n\n"},
    {"create_active_space", c_function(create_active_space), METH_NOARGS, "create_active_space($self)\n--\n\n"},
    {"create_group", c_function(create_group), kArgs, "create_group($self, mode)\n--\n\n"},
    {"create_command", c_function(create_command_like<false>), kArgs,
     "create_command($self, name, args=None)\n--\n\n"},
    {"create_declarative", c_function(create_command_like<true>), kArgs,
     "create_declarative($self, name, args=None)\n--\n\n"},
    {"create_environment", c_function(create_environment), kArgs,
     "create_environment($self, name, args, body)\n--\n\n"},
    {"append_child", c_function(edit_pair<Pair::AppendChild>), kArgs, "append_child($self, parent, child)\n--\n\n"},
    {"insert_before", c_function(edit_pair<Pair::InsertBefore>), kArgs, "insert_before($self, anchor, new)\n--\n\n"},
    {"insert_after", c_function(edit_pair<Pair::InsertAfter>), kArgs, "insert_after($self, anchor, new)\n--\n\n"},
    {"insert_child", c_function(insert_child), kArgs, "insert_child($self, parent, index, child)\n--\n\n"},
    {"replace_with", c_function(edit_pair<Pair::ReplaceWith>), kArgs,
     "replace_with($self, target, replacement)\n--\n\n"},
    {"wrap", c_function(wrap), kArgs, "wrap($self, target, wrapper)\n--\n\n"},
    {"unwrap", c_function(edit_single<Single::Unwrap>), kArgs, "unwrap($self, group)\n--\n\n"},
    {"extract", c_function(edit_single<Single::Extract>), kArgs, "extract($self, node)\n--\n\n"},
    {"remove", c_function(edit_single<Single::Remove>), kArgs, "remove($self, node)\n--\n\n"},
    {"clear", c_function(edit_single<Single::Clear>), kArgs, "clear($self, container)\n--\n\n"},
    {"set_command_name", c_function(set_string<false>), kArgs, "set_command_name($self, node, name)\n--\n\n"},
    {"set_text", c_function(set_string<true>), kArgs, "set_text($self, node, value)\n--\n\n"},
    {"set_char", c_function(set_char), kArgs, "set_char($self, node, value)\n--\n\n"},
    {"set_arg", c_function(set_arg), kArgs, "set_arg($self, node, index, value)\n--\n\n"},
    {"__reduce__", c_function(reduce), METH_NOARGS, nullptr},
};

}  // namespace

void register_document_class(nb::module_& m) {
    // A parse makes and drops one Document per call; the binding library
    // (from 3.1) can keep a few dropped instances' memory for the next ones.
#if NB_VERSION_MAJOR > 3 || (NB_VERSION_MAJOR == 3 && NB_VERSION_MINOR >= 1)
    nb::class_<PyDocument> cls(m, "Document", "Document()\n--\n\n", nb::is_final(),
                               nb::type_slots(constructor_slots<new_document>), nb::pooled());
#else
    nb::class_<PyDocument> cls(m, "Document", "Document()\n--\n\n", nb::is_final(),
                               nb::type_slots(constructor_slots<new_document>));
#endif
    add_methods(cls, METHODS);
    cls.attr("__module__") = "builtins";
    document_class = reinterpret_cast<PyTypeObject*>(cls.ptr());
}

}  // namespace quorvel::python
