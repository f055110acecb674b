// Read-only views of one node of a document and of its argument slots.
//
// Every accessor answers in the form that fits the node's kind; a question
// that belongs to another kind answers none, false, 0 or an empty list and
// never fails. Only a stale id (impossible while the view exists, since a
// view borrows the document and edits need it exclusively) is an internal
// error. Views must not outlive their document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "syntax/ast.hpp"
#include "syntax/content_mode.hpp"
#include "syntax/node_kind.hpp"
#include "syntax/span_tree.hpp"

namespace quorvel::syntax {

namespace document {
class Document;
struct NodeId;
}  // namespace document

class ArgRef;

class NodeRef {
public:
    NodeRef(const document::Document& doc, ast::NodeId id) : doc_(&doc), id_(id) {}

    const document::Document& document() const { return *doc_; }
    ast::NodeId id() const { return id_; }
    // The handle of this node, stamped with its document's number.
    document::NodeId handle() const;

    NodeKind kind() const;
    bool is_command(std::string_view name) const;
    bool is_char(char32_t ch) const;
    bool is_error() const;

    // Command, Infix and Declarative; none for Environment.
    std::optional<std::string_view> command_name() const;
    std::optional<std::string_view> env_name() const;
    std::optional<NodeRef> env_body() const;
    // Null for every kind but Group.
    const ast::GroupKind* group_kind() const;
    std::optional<ContentMode> content_mode() const;
    std::optional<NodeRef> infix_left() const;
    std::optional<NodeRef> infix_right() const;
    std::optional<NodeRef> script_base() const;
    std::optional<NodeRef> subscript() const;
    std::optional<NodeRef> superscript() const;
    std::optional<std::uint64_t> prime_count() const;
    std::optional<char32_t> character() const;
    std::optional<std::string_view> text() const;
    // (message, snippet)
    std::optional<std::pair<std::string_view, std::string_view>> error_parts() const;

    // A filled slot; none past the end, for an empty slot or another kind.
    std::optional<ArgRef> arg(std::size_t position) const;
    // Slots of a command-like node, empty ones included; 0 for other kinds.
    std::size_t arg_count() const;
    std::vector<std::optional<ArgRef>> arg_slots() const;

    std::vector<NodeRef> children() const;
    // Every node below this one in pre-order, this one excluded.
    std::vector<NodeRef> descendants() const;
    std::optional<NodeRef> parent() const;
    // The parent, its parent, ... up to the root or the detached root.
    std::vector<NodeRef> ancestors() const;
    std::optional<NodeRef> next_sibling() const;
    std::optional<NodeRef> prev_sibling() const;
    std::optional<Span> span() const;

    friend bool operator==(const NodeRef& a, const NodeRef& b) {
        return a.doc_ == b.doc_ && a.id_ == b.id_;
    }

private:
    const ast::Node& node() const;
    std::optional<NodeRef> at(std::optional<ast::NodeId> id) const;

    const document::Document* doc_;
    ast::NodeId id_;
};

// The view of one filled argument slot, one alternative per kind of value
// in the order of `ArgValue`. Operator-name content is shown as Math; the
// slot's written form and no-leading-space flag are not part of the view.
class ArgRef {
public:
    struct Math {
        NodeRef node;
    };
    struct Text {
        NodeRef node;
    };
    struct Delimiter {
        const ast::Delimiter* value;
    };
    struct CSName {
        std::string_view value;
    };
    struct Dimension {
        std::string_view value;
    };
    struct Integer {
        std::string_view value;
    };
    struct KeyVal {
        std::string_view value;
    };
    struct Column {
        std::string_view value;
    };
    struct Boolean {
        bool value;
    };
    using Value =
        std::variant<Math, Text, Delimiter, CSName, Dimension, Integer, KeyVal, Column, Boolean>;

    explicit ArgRef(Value v) : value(std::move(v)) {}

    template <class T>
    bool is() const {
        return std::holds_alternative<T>(value);
    }
    template <class T>
    const T* get_if() const {
        return std::get_if<T>(&value);
    }

    Value value;
};

}  // namespace quorvel::syntax
